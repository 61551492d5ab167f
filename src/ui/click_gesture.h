// Left and right clicks on widgets that are not buttons (the swatch row, the
// palette, the preview, the help and info icons): a click is raised on
// release, and only on the widget that received the press.
#pragma once

#include <functional>

#include <gtk/gtk.h>

namespace corvanta {

constexpr guint kLeftButton = 1;
constexpr guint kRightButton = 3;

struct ClickBinding {
    // Runs with the button of the click a release completes; with 0 too
    // for every other release when everyRelease is set.
    std::function<void(guint button, double x, double y)> onRelease;
    std::function<void(double x, double y)> onPress;  // optional
    bool whenInside = false;  // only a release over the widget completes a click
    bool everyRelease = false;
    guint pressedButton = 0;  // the press this release may complete
};

// Connects the widget's press and release to binding, which must outlive it.
void BindClicks(GtkWidget* widget, ClickBinding& binding);

// Enter or Space on the focused widget is a left click on it, and the Menu
// key (Shift+F10) a right click.
void BindClickKeys(GtkWidget* widget, ClickBinding& binding);

// The widget's signal (a screen reader's action) is a left click on it.
void BindActivation(GtkWidget* widget, const char* signal, ClickBinding& binding);

}  // namespace corvanta
