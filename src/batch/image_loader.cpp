#include "batch/image_loader.h"

namespace corvanta {

// Placeholders until the loaders land: every load fails.
JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}
JpegDecoder::~JpegDecoder() {
    if (handle_ != nullptr) {
        tjDestroy(handle_);
    }
}

PixbufPtr LoadJpegScaled(JpegDecoder&, const std::string&, int, int, std::uint8_t*) { return nullptr; }
PixbufPtr LoadPixbufScaled(const std::string&, int, int) { return nullptr; }
int JpegPixelFormatFor(const GdkPixbuf*) { return TJPF_RGB; }

}  // namespace corvanta
