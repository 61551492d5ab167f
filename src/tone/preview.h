// The preview refresh: the one tone function that touches a widget.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "scheme/gradient_table.h"
#include "ui/drawing_canvas.h"

namespace corvanta {

// Draws source centred into the canvas's backing image, maps every canvas
// pixel through table and shows the result. The source is never changed, so
// refreshing twice with one table gives the same picture.
void RefreshPreview(DrawingCanvas& canvas, const GdkPixbuf* source, const GradientTable& table);

}  // namespace corvanta
