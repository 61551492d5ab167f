// A drawing area that keeps its own backing image. The program paints into
// the image (plain RGB pixels, so every pixel can be checked exactly) and the
// draw handler only shows it.
#pragma once

#include <cstdint>

#include <gtk/gtk.h>

#include "common/gobject_ptr.h"

namespace corvanta {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct DrawingCanvas {
    GtkWidget* area = nullptr;    // owned by its container
    GObjectPtr<GdkPixbuf> image;  // 8-bit RGB, the size of the area
    // The same picture at fineScale device pixels to a pixel, where the
    // program draws one (text, bitmaps made for it); shown instead of image
    // on a screen of that scale. Elsewhere each pixel of image becomes a
    // sharp block of device pixels.
    GObjectPtr<GdkPixbuf> fine;
    int fineScale = 1;
};

// Creates the area with a width x height backing image filled with fill.
// Returns false when the image cannot be allocated.
bool CreateDrawingCanvas(DrawingCanvas& canvas, int width, int height, Rgb fill);

int CanvasWidth(const DrawingCanvas& canvas);
int CanvasHeight(const DrawingCanvas& canvas);

// Fills a rectangle, clipped to the image, and schedules a redraw.
void FillRect(DrawingCanvas& canvas, int x, int y, int width, int height, Rgb color);
void SetPixel(DrawingCanvas& canvas, int x, int y, Rgb color);

// The pixel at (x, y); black outside the image.
Rgb PixelAt(const DrawingCanvas& canvas, int x, int y);

// A pixel-exact copy of nothing but an image, for drawing off screen with
// the functions above; null image when memory runs out.
DrawingCanvas OffscreenCanvas(int width, int height, Rgb fill);

// Schedules a redraw after the program changed the image directly.
void ShowCanvas(DrawingCanvas& canvas);

}  // namespace corvanta
