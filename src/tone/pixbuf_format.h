// The one pixel layout the program works in: gdk-pixbuf images of 8-bit
// RGB, three bytes per pixel, or four with alpha; and how a pixel with alpha
// is laid over another.
#pragma once

#include <cstdint>

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace corvanta {

constexpr int kRgbChannels = 3;
constexpr int kRgbaChannels = 4;
constexpr int kBitsPerSample = 8;
constexpr unsigned kMaxAlpha = 255;

// 8-bit RGB with three channels, or four when it has alpha.
bool IsRgb8(const GdkPixbuf* image);
// The same without alpha.
bool IsOpaqueRgb8(const GdkPixbuf* image);
// IsRgb8 with pixels, a size of at least 1 x 1 and rows that fit its buffer:
// what an encoder may read.
bool IsWritableImage(const GdkPixbuf* image);

// over laid on under with alpha (0 .. 255), rounded to nearest.
constexpr std::uint8_t BlendChannel(unsigned over, unsigned under, unsigned alpha) {
    return static_cast<std::uint8_t>((over * alpha + under * (kMaxAlpha - alpha) + kMaxAlpha / 2) /
                                     kMaxAlpha);
}

}  // namespace corvanta
