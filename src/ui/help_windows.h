// The help window with the manual and the credits window with the icon,
// version, author and the notices of the image libraries. Both are plain
// top-level windows without a parent; opening one that is open replaces it.
#pragma once

#include <string>

#include <gtk/gtk.h>

#include "common/i18n.h"
#include "ui/owned_toplevel.h"
#include "ui/widget_box.h"

namespace corvanta {

constexpr const char* kHelpWindowTitle = N_("Corvanta help");
constexpr int kHelpWindowWidth = 520;
constexpr int kHelpWindowHeight = 350;
constexpr int kHelpWindowMinWidth = 300;
constexpr int kHelpWindowMinHeight = 200;
constexpr int kHelpMargin = 10;  // around the text on every side

constexpr int kCreditsWindowWidth = 260;
constexpr int kCreditsWindowHeight = 320;
constexpr WidgetBox kCreditsIconBox{82, 16, 96, 96};
constexpr WidgetBox kCreditsVersionBox{0, 120, 260, 20};
constexpr WidgetBox kCreditsAuthorBox{0, 140, 260, 20};
constexpr WidgetBox kCreditsTextBox{10, 170, 240, 140};
constexpr const char* kVersionLine = "Corvanta 1.0.0";
constexpr const char* kAuthorLine = N_("by the Corvanta developers");
// The icon was drawn by our own asset script.
constexpr const char* kIconAuthor = N_("the Corvanta developers");

// Closes an open help window and opens a new one at its initial size.
void ShowHelpWindow(OwnedToplevel& window);

// Places the help text for a client size of width x height: at (10, 10),
// leaving a 10-pixel margin on every side.
void LayoutHelpWindow(GtkWidget* textScroll, int width, int height);

// Closes an open credits window and opens a new one.
// icon is the 96 x 96 program icon (none: no icon).
void ShowCreditsWindow(OwnedToplevel& window, const GdkPixbuf* icon);

// The credits window's text, assembled at each opening: the icon credit and
// the notices of the JPEG and PNG libraries the program is linked with.
std::string CreditsText();

// One notice line out of libpng's multi-line copyright text: the non-empty
// lines, trimmed, joined with "; " and ending with a full stop.
std::string PngNoticeLine(const char* copyright);

}  // namespace corvanta
