// A picture that works as a button (the help and info icons): drawn as the
// plain picture, focusable with the theme's focus mark, and for screen
// readers a push button whose one action, "click", emits "activate".
#pragma once

#include <gtk/gtk.h>

namespace corvanta {

// A new icon button around picture (a GtkImage, which it takes over).
GtkWidget* NewIconButton(GtkWidget* picture);

// The signal the button's accessible action emits.
constexpr const char* kIconButtonActivate = "activate";

}  // namespace corvanta
