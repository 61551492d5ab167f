// The preview's pixel work: the sample picture drawn centred into the
// preview's image and mapped through a gradient table. No widget here; the
// preview in ui/ shows the result.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "scheme/gradient_table.h"

namespace corvanta {

// Draws source (8-bit RGB) centred into target (8-bit RGB) and maps every
// pixel of target through table. The source is never changed, so rendering
// twice with one table gives the same picture. False when target is not an
// 8-bit RGB image (nothing is drawn then).
bool RenderPreview(GdkPixbuf* target, const GdkPixbuf* source, const GradientTable& table);

}  // namespace corvanta
