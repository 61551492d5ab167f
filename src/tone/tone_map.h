// The tone-mapping engine: replaces every pixel's colour by the gradient
// table entry for its luminance code. Alpha bytes are never touched.
#pragma once

#include <cstdint>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "scheme/gradient_table.h"

namespace corvanta {

enum class PixelLayout { kRgb, kRgba };

constexpr int BytesPerPixel(PixelLayout layout) {
    return layout == PixelLayout::kRgb ? 3 : 4;
}

// Maps rows * pitch bytes in place. Each row is walked from its start in whole
// pixel steps for as long as a step fits into the pitch, so spare row bytes of
// a full pixel's size are mapped as well. Does nothing for rows < 1 or a
// pitch smaller than one pixel.
void ToneMapBuffer(std::uint8_t* pixels, int pitch, int rows, PixelLayout layout,
                   const GradientTable& table);

// Maps an 8-bit RGB or RGBA pixbuf in place. Does nothing for a missing image
// or one whose pixels cannot be walked safely.
void ToneMapImage(GdkPixbuf* image, const GradientTable& table);

}  // namespace corvanta
