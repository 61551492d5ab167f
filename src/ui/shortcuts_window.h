// The keyboard-shortcuts window (Ctrl+?): every key of the main window and
// its helper windows, in the toolkit's own shortcuts window.
#pragma once

#include <gtk/gtk.h>

#include "ui/owned_toplevel.h"

namespace corvanta {

// Closes an open shortcuts window and opens a new one over parent.
void ShowShortcutsWindow(OwnedToplevel& window, GtkWindow* parent);

}  // namespace corvanta
