// JPEG output: TurboJPEG's compressor with the buffer it reuses, and the
// EXIF block that carries a source's orientation into the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <turbojpeg.h>

#include "codecs/large_buffer.h"

namespace corvanta {

// The 36-byte EXIF segment a JPEG output carries when its source had an
// orientation; the orientation goes into byte kExifOrientationOffset.
constexpr std::size_t kExifBlockBytes = 36;
constexpr std::size_t kExifOrientationOffset = 28;

// A TurboJPEG compressor with the output buffer it reuses. One per thread.
class JpegEncoder {
  public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    tjhandle Handle() const { return handle_; }

    // Compresses image into the kept buffer (4:4:4 at every quality, the fast
    // DCT at quality 80 and below, the accurate one above). On success data
    // and size describe the JPEG until the next call.
    bool Encode(const GdkPixbuf* image, int quality, const std::uint8_t*& data, std::size_t& size);

    // Lets go of an unusually large output buffer once a file is done, or
    // of any when `all`.
    void TrimBuffer(bool all = false);

  private:
    tjhandle handle_ = nullptr;
    LargeBuffer buffer_;
};

// Writes the JPEG to fd with an EXIF block carrying orientation (1 to 8)
// behind its APP0 segments, or as it is for orientation 0.
bool WriteJpegBytes(int fd, const std::uint8_t* data, std::size_t size, std::uint8_t orientation);

}  // namespace corvanta
