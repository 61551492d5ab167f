// Keyboard access for widgets the toolkit leaves out: a Tab order of our
// own for a container whose children sit at fixed places, a focus mark on
// widgets that draw themselves, and Enter or Space as their click.
#pragma once

#include <vector>

#include <gtk/gtk.h>

namespace corvanta {

// Tab and Shift+Tab visit the children of container in the order given
// (each may hold focusable children of its own); arrow keys keep the
// toolkit's own rules. Hidden and insensitive children are passed over.
void SetTabOrder(GtkWidget* container, std::vector<GtkWidget*> order);

// Makes widget focusable (key presses reach it) and draws the theme's focus
// mark around it, once the window shows focus (after a key press), never
// before.
void MakeFocusableWithMark(GtkWidget* widget);

// Enter, the keypad's Enter or Space.
bool IsActivateKey(const GdkEventKey* event);

}  // namespace corvanta
