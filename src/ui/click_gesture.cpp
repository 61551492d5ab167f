#include "ui/click_gesture.h"

#include "ui/keyboard_focus.h"

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

// Enter or Space on a focused icon or the preview is its left click, and
// the Menu key (Shift+F10) its right click.
gboolean OnClickableKey(GtkWidget*, GdkEventKey* event, gpointer user) {
    auto* binding = static_cast<ClickBinding*>(user);
    const bool menu = event->keyval == GDK_KEY_Menu ||
                      (event->keyval == GDK_KEY_F10 && (event->state & GDK_SHIFT_MASK) != 0);
    if (!IsActivateKey(event) && !menu) {
        return FALSE;
    }
    binding->onRelease(menu ? kRightButton : kLeftButton, 0, 0);
    return TRUE;
}

// A screen reader's "click".
void OnActivate(GtkWidget*, gpointer user) {
    static_cast<ClickBinding*>(user)->onRelease(kLeftButton, 0, 0);
}

}  // namespace

void BindClicks(GtkWidget* widget, ClickBinding& binding) {
    gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(widget, "button-press-event", G_CALLBACK(OnPress), &binding);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(OnRelease), &binding);
}

void BindClickKeys(GtkWidget* widget, ClickBinding& binding) {
    gtk_widget_add_events(widget, GDK_KEY_PRESS_MASK);
    g_signal_connect(widget, "key-press-event", G_CALLBACK(OnClickableKey), &binding);
}

void BindActivation(GtkWidget* widget, const char* signal, ClickBinding& binding) {
    g_signal_connect(widget, signal, G_CALLBACK(OnActivate), &binding);
}

}  // namespace corvanta
