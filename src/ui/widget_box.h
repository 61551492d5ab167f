// Widgets at fixed pixel positions: a box in the parent's coordinates, and
// placing or moving a child of a GtkFixed or GtkLayout there.
#pragma once

#include <gtk/gtk.h>

namespace corvanta {

struct WidgetBox {
    int x;
    int y;
    int width;
    int height;
};

// The largest size a window of the program may be given.
constexpr int kMaxWindowSize = 16000;

// Puts child into parent (a GtkFixed or a GtkLayout) at box.x, box.y and
// asks for box's size.
inline void PlaceWidget(GtkWidget* parent, GtkWidget* child, const WidgetBox& box) {
    gtk_widget_set_size_request(child, box.width, box.height);
    if (GTK_IS_LAYOUT(parent)) {
        gtk_layout_put(GTK_LAYOUT(parent), child, box.x, box.y);
    } else {
        gtk_fixed_put(GTK_FIXED(parent), child, box.x, box.y);
    }
}

inline void MoveWidget(GtkWidget* parent, GtkWidget* child, int x, int y) {
    if (GTK_IS_LAYOUT(parent)) {
        gtk_layout_move(GTK_LAYOUT(parent), child, x, y);
    } else {
        gtk_fixed_move(GTK_FIXED(parent), child, x, y);
    }
}

}  // namespace corvanta
