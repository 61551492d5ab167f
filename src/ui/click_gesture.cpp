#include "ui/click_gesture.h"

namespace corvanta {
namespace {

bool ReleasedInside(GtkWidget* widget, const GdkEventButton* event) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    return event->x >= 0 && event->y >= 0 && event->x < a.width && event->y < a.height;
}

gboolean OnPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto& binding = *static_cast<ClickBinding*>(data);
    if (event->type == GDK_BUTTON_PRESS) {
        binding.pressedButton = event->button;
    }
    if (binding.onPress) {
        binding.onPress(event->x, event->y);
    }
    return TRUE;
}

gboolean OnRelease(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    auto& binding = *static_cast<ClickBinding*>(data);
    guint button = binding.pressedButton == event->button ? event->button : 0;
    binding.pressedButton = 0;
    if (binding.whenInside && !ReleasedInside(widget, event)) {
        button = 0;
    }
    if (button != 0 || binding.everyRelease) {
        binding.onRelease(button, event->x, event->y);
    }
    return TRUE;
}

}  // namespace

void BindClicks(GtkWidget* widget, ClickBinding& binding) {
    gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(widget, "button-press-event", G_CALLBACK(OnPress), &binding);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(OnRelease), &binding);
}

}  // namespace corvanta
