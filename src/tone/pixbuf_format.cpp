#include "tone/pixbuf_format.h"

namespace corvanta {

bool IsRgb8(const GdkPixbuf* image) {
    return image != nullptr && gdk_pixbuf_get_colorspace(image) == GDK_COLORSPACE_RGB &&
           gdk_pixbuf_get_bits_per_sample(image) == kBitsPerSample &&
           gdk_pixbuf_get_n_channels(image) ==
               (gdk_pixbuf_get_has_alpha(image) ? kRgbaChannels : kRgbChannels);
}

bool IsOpaqueRgb8(const GdkPixbuf* image) {
    return IsRgb8(image) && !gdk_pixbuf_get_has_alpha(image);
}

}  // namespace corvanta
