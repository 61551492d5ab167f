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

bool IsWritableImage(const GdkPixbuf* image) {
    if (!IsRgb8(image)) {
        return false;
    }
    const int channels = gdk_pixbuf_get_n_channels(image);
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const int rowstride = gdk_pixbuf_get_rowstride(image);
    if (width < 1 || height < 1 || rowstride < width * channels ||
        gdk_pixbuf_read_pixels(image) == nullptr) {
        return false;
    }
    const std::size_t needed = static_cast<std::size_t>(rowstride) * (height - 1) +
                               static_cast<std::size_t>(width) * channels;
    return gdk_pixbuf_get_byte_length(image) >= needed;
}

}  // namespace corvanta
