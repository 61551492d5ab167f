// Turning an image file into an RGB(A) pixbuf no larger than a bounding box.
// Callers try LoadJpegScaled first and LoadPixbufScaled only when it fails;
// which one succeeded decides whether the output is JPEG or PNG.
#pragma once

#include <cstdint>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <turbojpeg.h>

#include "common/gobject_ptr.h"

namespace corvanta {

using PixbufPtr = GObjectPtr<GdkPixbuf>;

// A TurboJPEG decompressor with the buffers it reuses between files. One per
// thread: a decoder is never used by two threads at once.
class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    tjhandle Handle() const { return handle_; }

private:
    tjhandle handle_ = nullptr;
};

// Loads a JPEG file (recognised by its first bytes, never by its extension),
// decoding at the smallest DCT scale that still covers the box and resizing
// once when needed. maxWidth/maxHeight below 1 mean no limit. On success,
// *orientation (when given) receives the EXIF orientation, 0 for none; the
// pixels stay in stored orientation. Returns null on any failure.
PixbufPtr LoadJpegScaled(JpegDecoder& decoder, const std::string& path, int maxWidth,
                         int maxHeight, std::uint8_t* orientation = nullptr);

// Loads any other format gdk-pixbuf reads, fitted into the box and never
// enlarged: RGB without alpha, RGBA with it. Returns null on any failure.
PixbufPtr LoadPixbufScaled(const std::string& path, int maxWidth, int maxHeight);

// The TurboJPEG pixel format for an image's buffer layout.
int JpegPixelFormatFor(const GdkPixbuf* image);

}  // namespace corvanta
