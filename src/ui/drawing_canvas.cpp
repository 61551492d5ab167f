#include "ui/drawing_canvas.h"

#include <algorithm>
#include <cstddef>

namespace corvanta {
namespace {

constexpr int kRgbBytes = 3;

gboolean OnCanvasDraw(GtkWidget* area, cairo_t* cr, gpointer data) {
    const auto* canvas = static_cast<const DrawingCanvas*>(data);
    const int scale = gtk_widget_get_scale_factor(area);
    if (canvas->fine && scale > 1 && scale == canvas->fineScale) {
        cairo_surface_t* surface = gdk_cairo_surface_create_from_pixbuf(
            canvas->fine.get(), scale, gtk_widget_get_window(area));
        cairo_set_source_surface(cr, surface, 0, 0);
        cairo_paint(cr);
        cairo_surface_destroy(surface);
    } else if (canvas->image) {
        gdk_cairo_set_source_pixbuf(cr, canvas->image.get(), 0, 0);
        if (scale > 1) {
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        }
        cairo_paint(cr);
    }
    return FALSE;  // a focus mark drawn after the picture still runs
}

std::uint8_t* PixelAddress(const DrawingCanvas& canvas, int x, int y) {
    return gdk_pixbuf_get_pixels(canvas.image.get()) +
           static_cast<std::size_t>(y) *
               static_cast<std::size_t>(gdk_pixbuf_get_rowstride(canvas.image.get())) +
           static_cast<std::size_t>(x) * kRgbBytes;
}

}  // namespace

bool CreateDrawingCanvas(DrawingCanvas& canvas, int width, int height, Rgb fill) {
    canvas.image.reset(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    if (!canvas.image) {
        return false;
    }
    canvas.area = gtk_drawing_area_new();
    gtk_widget_set_size_request(canvas.area, width, height);
    g_signal_connect(canvas.area, "draw", G_CALLBACK(OnCanvasDraw), &canvas);
    FillRect(canvas, 0, 0, width, height, fill);
    return true;
}

DrawingCanvas OffscreenCanvas(int width, int height, Rgb fill) {
    DrawingCanvas canvas;
    canvas.image.reset(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    if (canvas.image) {
        FillRect(canvas, 0, 0, width, height, fill);
    }
    return canvas;
}

int CanvasWidth(const DrawingCanvas& canvas) {
    return canvas.image ? gdk_pixbuf_get_width(canvas.image.get()) : 0;
}

int CanvasHeight(const DrawingCanvas& canvas) {
    return canvas.image ? gdk_pixbuf_get_height(canvas.image.get()) : 0;
}

void FillRect(DrawingCanvas& canvas, int x, int y, int width, int height, Rgb color) {
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    const int x1 = std::min(x + width, CanvasWidth(canvas));
    const int y1 = std::min(y + height, CanvasHeight(canvas));
    for (int row = y0; row < y1; ++row) {
        std::uint8_t* p = x0 < x1 ? PixelAddress(canvas, x0, row) : nullptr;
        for (int col = x0; col < x1; ++col, p += kRgbBytes) {
            p[0] = color.red;
            p[1] = color.green;
            p[2] = color.blue;
        }
    }
    ShowCanvas(canvas);
}

void SetPixel(DrawingCanvas& canvas, int x, int y, Rgb color) {
    FillRect(canvas, x, y, 1, 1, color);
}

Rgb PixelAt(const DrawingCanvas& canvas, int x, int y) {
    if (x < 0 || y < 0 || x >= CanvasWidth(canvas) || y >= CanvasHeight(canvas)) {
        return {};
    }
    const std::uint8_t* p = PixelAddress(canvas, x, y);
    return {p[0], p[1], p[2]};
}

void ShowCanvas(DrawingCanvas& canvas) {
    if (canvas.area != nullptr) {
        gtk_widget_queue_draw(canvas.area);
    }
}

}  // namespace corvanta
