#include "codecs/jpeg_encoder.h"

#include <algorithm>
#include <array>
#include <climits>

#include "codecs/image_loader.h"
#include "common/scoped_fd.h"
#include "tone/pixbuf_format.h"

namespace corvanta {
namespace {

constexpr int kMinQuality = 1;
constexpr int kMaxQuality = 100;
// Above this quality the accurate DCT is worth its time.
constexpr int kFastDctMaxQuality = 80;
constexpr std::size_t kMaxRetainedOutputBytes = std::size_t{256} << 20;

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kApp0Marker = 0xE0;
constexpr std::size_t kSoiBytes = 2;
constexpr std::size_t kMarkerBytes = 2;
constexpr std::size_t kSegmentLengthBytes = 2;

// FF E1, length 34, "Exif\0\0", a little-endian TIFF header with IFD0 at 8,
// one SHORT entry for tag 0x0112 (Orientation), no next IFD.
constexpr std::array<std::uint8_t, kExifBlockBytes> kExifBlockTemplate = {
    0xFF, 0xE1, 0x00, 0x22, 0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x49, 0x49,
    0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0x01, 0x03, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

int ClampQuality(int quality) {
    return std::clamp(quality, kMinQuality, kMaxQuality);
}

// Where the EXIF block goes: behind the start-of-image marker and every APP0
// segment that follows it.
std::size_t EndOfApp0Segments(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = kSoiBytes;
    while (pos + kMarkerBytes + kSegmentLengthBytes <= size && data[pos] == kMarkerPrefix &&
           data[pos + 1] == kApp0Marker) {
        const std::size_t length = (static_cast<std::size_t>(data[pos + 2]) << 8) | data[pos + 3];
        if (length < kSegmentLengthBytes || length > size - pos - kMarkerBytes) {
            break;
        }
        pos += kMarkerBytes + length;
    }
    return pos;
}

}  // namespace

JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    if (handle_ != nullptr) {
        tjDestroy(handle_);
    }
}

bool JpegEncoder::Encode(const GdkPixbuf* image, int quality, const std::uint8_t*& data,
                         std::size_t& size) {
    if (handle_ == nullptr || !IsWritableImage(image)) {
        return false;
    }
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const unsigned long bound = tjBufSize(width, height, TJSAMP_444);
    if (bound == static_cast<unsigned long>(-1) || bound > static_cast<unsigned long>(INT_MAX)) {
        return false;
    }
    // The worst-case size up front: TurboJPEG then never reallocates, and the
    // buffer serves every later picture of this size or smaller.
    unsigned char* buffer = buffer_.Reserve(bound);
    if (buffer == nullptr) {
        return false;
    }
    quality = ClampQuality(quality);
    const int dct = quality > kFastDctMaxQuality ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT;
    unsigned long jpegSize = buffer_.Capacity();
    if (tjCompress2(handle_, gdk_pixbuf_read_pixels(image), width, gdk_pixbuf_get_rowstride(image),
                    height, JpegPixelFormatFor(image), &buffer, &jpegSize, TJSAMP_444, quality,
                    dct | TJFLAG_NOREALLOC) != 0) {
        return false;
    }
    data = buffer;
    size = jpegSize;
    return true;
}

void JpegEncoder::TrimBuffer(bool all) {
    if (all || buffer_.Capacity() > kMaxRetainedOutputBytes) {
        buffer_.Reset();
    }
}

bool WriteJpegBytes(int fd, const std::uint8_t* data, std::size_t size, std::uint8_t orientation) {
    if (orientation == 0) {
        return WriteFully(fd, data, size);
    }
    std::array<std::uint8_t, kExifBlockBytes> block = kExifBlockTemplate;
    block[kExifOrientationOffset] = orientation;
    const std::size_t split = EndOfApp0Segments(data, size);
    return WriteFully(fd, data, split) && WriteFully(fd, block.data(), block.size()) &&
           WriteFully(fd, data + split, size - split);
}

}  // namespace corvanta
