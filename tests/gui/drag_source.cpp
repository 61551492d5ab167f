// A tiny drag source for the drag and drop tests, run as its own process:
//   corvanta_drag_source X Y URI...
// shows a 120 x 60 window at (X, Y) on the screen that offers the URIs as a
// text/uri-list when a drag starts on it. It prints "drag-end" and exits 0
// when the drag is over, so a test knows the drop has been answered.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gtk/gtk.h>

namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 60;
constexpr guint kUriListInfo = 1;

std::vector<gchar*> uris;

void OnDragDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
    gtk_selection_data_set_uris(data, uris.data());
}

void OnDragEnd(GtkWidget*, GdkDragContext*, gpointer) {
    std::printf("drag-end\n");
    std::fflush(stdout);
    gtk_main_quit();
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: corvanta_drag_source X Y URI...\n");
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        uris.push_back(argv[i]);
    }
    uris.push_back(nullptr);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "corvanta-drag-source");
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
    gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
    GtkWidget* area = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window), area);
    static GtkTargetEntry target{const_cast<gchar*>("text/uri-list"), 0, kUriListInfo};
    gtk_drag_source_set(area, GDK_BUTTON1_MASK, &target, 1, GDK_ACTION_COPY);
    g_signal_connect(area, "drag-data-get", G_CALLBACK(OnDragDataGet), nullptr);
    g_signal_connect(area, "drag-end", G_CALLBACK(OnDragEnd), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
