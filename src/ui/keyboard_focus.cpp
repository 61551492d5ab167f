#include "ui/keyboard_focus.h"

#include <algorithm>
#include <memory>

namespace corvanta {
namespace {

struct TabOrder {
    std::vector<GtkWidget*> children;
};

void FreeTabOrder(gpointer data) {
    const std::unique_ptr<TabOrder> order(static_cast<TabOrder*>(data));
}

// Tries the children from the focused one on, in the direction of travel;
// stopping the emission keeps the toolkit's sort by position out of it.
gboolean OnContainerFocus(GtkWidget* container, GtkDirectionType direction, gpointer data) {
    if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD) {
        return FALSE;
    }
    const std::vector<GtkWidget*>& children = static_cast<TabOrder*>(data)->children;
    const int count = static_cast<int>(children.size());
    const int step = direction == GTK_DIR_TAB_FORWARD ? 1 : -1;
    GtkWidget* current = gtk_container_get_focus_child(GTK_CONTAINER(container));
    const auto found = std::find(children.begin(), children.end(), current);
    int index = step > 0 ? 0 : count - 1;
    if (current != nullptr && found != children.end()) {
        index = static_cast<int>(found - children.begin());
    }
    g_signal_stop_emission_by_name(container, "focus");
    for (; index >= 0 && index < count; index += step) {
        GtkWidget* child = children[static_cast<std::size_t>(index)];
        if (gtk_widget_is_drawable(child) && gtk_widget_child_focus(child, direction)) {
            return TRUE;
        }
    }
    return FALSE;
}

gboolean DrawFocusMark(GtkWidget* widget, cairo_t* cr, gpointer) {
    if (gtk_widget_has_visible_focus(widget)) {
        gtk_render_focus(gtk_widget_get_style_context(widget), cr, 0, 0,
                         gtk_widget_get_allocated_width(widget),
                         gtk_widget_get_allocated_height(widget));
    }
    return FALSE;
}

gboolean RedrawOnFocusChange(GtkWidget* widget, GdkEvent*, gpointer) {
    gtk_widget_queue_draw(widget);
    return FALSE;
}

}  // namespace

void SetTabOrder(GtkWidget* container, std::vector<GtkWidget*> order) {
    auto owned = std::make_unique<TabOrder>();
    owned->children = std::move(order);
    TabOrder* raw = owned.get();
    g_object_set_data_full(G_OBJECT(container), "corvanta-tab-order", owned.release(),
                           FreeTabOrder);
    g_signal_connect(container, "focus", G_CALLBACK(OnContainerFocus), raw);
}

void MakeFocusableWithMark(GtkWidget* widget) {
    gtk_widget_set_can_focus(widget, TRUE);
    gtk_widget_add_events(widget, GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect_after(widget, "draw", G_CALLBACK(DrawFocusMark), nullptr);
    g_signal_connect(widget, "focus-in-event", G_CALLBACK(RedrawOnFocusChange), nullptr);
    g_signal_connect(widget, "focus-out-event", G_CALLBACK(RedrawOnFocusChange), nullptr);
}

bool IsActivateKey(const GdkEventKey* event) {
    return event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter ||
           event->keyval == GDK_KEY_ISO_Enter || event->keyval == GDK_KEY_space ||
           event->keyval == GDK_KEY_KP_Space;
}

}  // namespace corvanta
