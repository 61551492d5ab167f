// Widgets at fixed pixel positions: a box in the parent's coordinates, and
// placing or moving a child of a GtkFixed or GtkLayout there.
#pragma once

#include <cmath>

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

// The text scale factor of screen: its resolution over 96 dpi, which
// GDK_DPI_SCALE, Xft.dpi and gtk-xft-dpi set. Fixed layouts grow with it.
inline double TextScaleOf(GdkScreen* screen) {
    constexpr double kBaseDpi = 96.0;
    const double dpi = screen != nullptr ? gdk_screen_get_resolution(screen) : -1.0;
    return dpi > 0 ? dpi / kBaseDpi : 1.0;
}

// A length of a fixed layout at a text scale, in whole pixels.
inline int ScaledLength(int length, double scale) {
    return static_cast<int>(std::lround(length * scale));
}

// A widget that holds text: its place and its size grow with the text.
inline WidgetBox ScaledBox(const WidgetBox& box, double scale) {
    return {ScaledLength(box.x, scale), ScaledLength(box.y, scale), ScaledLength(box.width, scale),
            ScaledLength(box.height, scale)};
}

// A drawing area with pixels of its own: only its place moves.
inline WidgetBox MovedBox(const WidgetBox& box, double scale) {
    return {ScaledLength(box.x, scale), ScaledLength(box.y, scale), box.width, box.height};
}

inline void MoveWidget(GtkWidget* parent, GtkWidget* child, int x, int y) {
    if (GTK_IS_LAYOUT(parent)) {
        gtk_layout_move(GTK_LAYOUT(parent), child, x, y);
    } else {
        gtk_fixed_move(GTK_FIXED(parent), child, x, y);
    }
}

}  // namespace corvanta
