#include "tone/preview_render.h"

#include <algorithm>
#include <cstring>

#include "tone/pixbuf_format.h"
#include "tone/tone_map.h"

namespace corvanta {
namespace {

constexpr int kPictureWidth = 256;
constexpr int kPictureHeight = 192;

// Copies source into target with its top-left corner at (x, y), clipped.
void DrawPicture(GdkPixbuf* target, const GdkPixbuf* source, int x, int y) {
    const int tw = gdk_pixbuf_get_width(target);
    const int th = gdk_pixbuf_get_height(target);
    const int sw = gdk_pixbuf_get_width(source);
    const int sh = gdk_pixbuf_get_height(source);
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = std::min(tw, x + sw);
    const int y1 = std::min(th, y + sh);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const int tStride = gdk_pixbuf_get_rowstride(target);
    const int sStride = gdk_pixbuf_get_rowstride(source);
    guchar* tPixels = gdk_pixbuf_get_pixels(target);
    const guint8* sPixels = gdk_pixbuf_read_pixels(source);
    const auto rowBytes = static_cast<std::size_t>(x1 - x0) * kRgbChannels;
    for (int row = y0; row < y1; ++row) {
        std::memcpy(tPixels + static_cast<std::size_t>(row) * tStride +
                        static_cast<std::size_t>(x0) * kRgbChannels,
                    sPixels + static_cast<std::size_t>(row - y) * sStride +
                        static_cast<std::size_t>(x0 - x) * kRgbChannels,
                    rowBytes);
    }
}

}  // namespace

bool RenderPreview(GdkPixbuf* target, const GdkPixbuf* source, const GradientTable& table) {
    if (!IsOpaqueRgb8(target)) {
        return false;
    }
    if (IsOpaqueRgb8(source)) {
        const int x = (gdk_pixbuf_get_width(target) - kPictureWidth) / 2;
        const int y = (gdk_pixbuf_get_height(target) - kPictureHeight) / 2;
        DrawPicture(target, source, x, y);
    }
    ToneMapImage(target, table);
    return true;
}

}  // namespace corvanta
