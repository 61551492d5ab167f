#include "tone/tone_map.h"

#include "tone/pixbuf_format.h"

#include <algorithm>
#include <cstddef>

#include "tone/luma_weights.h"

namespace corvanta {
namespace {

// One loop per layout so that the step and the byte offsets are constants the
// compiler can fold; the body is table loads, two additions, a shift and
// three stores, with no per-pixel branch.
template <int kStep>
void MapRows(std::uint8_t* pixels, std::size_t pitch, int rows, const GradientTable& table) {
    const LumaWeightTable& w = GetLumaWeightTable();
    const std::uint16_t* const wr = w.red.data();
    const std::uint16_t* const wg = w.green.data();
    const std::uint16_t* const wb = w.blue.data();
    const std::uint32_t* const gradient = table.data();
    const std::size_t pixelsPerRow = pitch / kStep;

    std::uint8_t* row = pixels;
    for (int y = 0; y < rows; ++y, row += pitch) {
        std::uint8_t* p = row;
        for (std::size_t x = 0; x < pixelsPerRow; ++x, p += kStep) {
            const unsigned code = (static_cast<unsigned>(wr[p[0]]) + wg[p[1]] + wb[p[2]] + 2u) >> 2;
            const std::uint32_t v = gradient[code];
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>(v >> 8);
            p[2] = static_cast<std::uint8_t>(v >> 16);
        }
    }
}

}  // namespace

void ToneMapBuffer(std::uint8_t* pixels, int pitch, int rows, PixelLayout layout,
                   const GradientTable& table) {
    if (pixels == nullptr || rows < 1 || pitch < BytesPerPixel(layout)) {
        return;
    }
    if (layout == PixelLayout::kRgb) {
        MapRows<3>(pixels, static_cast<std::size_t>(pitch), rows, table);
    } else {
        MapRows<4>(pixels, static_cast<std::size_t>(pitch), rows, table);
    }
}

void ToneMapImage(GdkPixbuf* image, const GradientTable& table) {
    if (!IsRgb8(image)) {
        return;
    }
    const bool hasAlpha = gdk_pixbuf_get_has_alpha(image) != FALSE;
    const int channels = gdk_pixbuf_get_n_channels(image);
    const PixelLayout layout = hasAlpha ? PixelLayout::kRgba : PixelLayout::kRgb;
    const int rowstride = gdk_pixbuf_get_rowstride(image);
    const int height = gdk_pixbuf_get_height(image);
    const int width = gdk_pixbuf_get_width(image);
    if (height < 1 || width < 1 || rowstride < channels) {
        return;
    }
    guint length = 0;
    std::uint8_t* pixels = gdk_pixbuf_get_pixels_with_length(image, &length);
    const std::size_t stride = static_cast<std::size_t>(rowstride);
    const std::size_t leadingBytes = stride * static_cast<std::size_t>(height - 1);
    if (pixels == nullptr || length < leadingBytes + static_cast<std::size_t>(width) * channels) {
        return;
    }
    // gdk-pixbuf may leave the last row unpadded, so the last row is walked
    // only as far as the buffer really reaches: never past its end.
    ToneMapBuffer(pixels, rowstride, height - 1, layout, table);
    const std::size_t lastRowBytes = std::min<std::size_t>(stride, length - leadingBytes);
    ToneMapBuffer(pixels + leadingBytes, static_cast<int>(lastRowBytes), 1, layout, table);
}

}  // namespace corvanta
