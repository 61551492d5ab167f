#include "batch/image_loader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "batch/exif_orientation.h"
#include "batch/scoped_fd.h"

namespace corvanta {
namespace {

// A JPEG file is at least this long; shorter files are never decoded.
constexpr std::int64_t kMinJpegFileBytes = 97;
constexpr std::size_t kSignatureBytes = 4;
constexpr std::array<std::uint8_t, 3> kJpegSignature = {0xFF, 0xD8, 0xFF};
constexpr int kDctEighths = 8;
constexpr int kMaxDctStep = kDctEighths - 1;
// Above this the read buffer is given back after each file instead of kept.
constexpr std::size_t kMaxRetainedFileBytes = std::size_t{64} << 20;
// TJFLAG_LIMITSCANS refuses progressive files with hundreds of scans, which
// would otherwise keep a core busy for minutes on a few kilobytes of data.
constexpr int kDecodeFlags = TJFLAG_ACCURATEDCT | TJFLAG_LIMITSCANS;
// The same limit TurboJPEG applies, for JPEG files that reach gdk-pixbuf.
constexpr int kMaxJpegScans = 500;
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::size_t kScanChunkBytes = std::size_t{64} << 10;

bool IsTransposed(unsigned orientation) {
    return orientation >= 5 && orientation <= 8;
}

bool ExceedsPixelCap(std::int64_t width, std::int64_t height) {
    return width * height > kMaxImagePixels;
}

bool IsJpegBomb(std::int64_t width, std::int64_t height, std::int64_t fileBytes) {
    return width * height > kMaxJpegPixelsPerByte * fileBytes;
}

// Counts down from 7 while the side at n/8 still reaches its limit. In 64
// bits: the limit can be as large as INT32_MAX, eight times that is not.
int DctStepFor(int side, int limit) {
    if (limit < 1) {
        return kMaxDctStep;
    }
    int n = kMaxDctStep;
    while (n > 0 && std::int64_t{side} * n >= std::int64_t{kDctEighths} * limit) {
        --n;
    }
    return n;
}

int RoundHalfToEven(double v) {
    double whole = std::floor(v);
    const double fraction = v - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
        whole += 1.0;
    }
    return static_cast<int>(whole);
}

// Opens path for reading only if it is a regular file. O_NONBLOCK keeps the
// open itself from waiting on a FIFO without a writer; the type is then
// checked on the opened descriptor, so nothing can be swapped in between.
ScopedFd OpenRegularFile(const std::string& path, struct stat& info) {
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return ScopedFd();
    }
    return fd;
}

// Reads the whole JPEG file into the decoder's buffer. Looks at the first
// bytes before committing memory to the rest.
const std::uint8_t* ReadJpegFile(JpegDecoder& decoder, const std::string& path,
                                 std::size_t& length) {
    struct stat info {};
    ScopedFd fd = OpenRegularFile(path, info);
    if (!fd.Valid() || info.st_size < kMinJpegFileBytes || info.st_size > kMaxJpegFileBytes) {
        return nullptr;
    }
    std::array<std::uint8_t, kSignatureBytes> head{};
    if (!ReadFully(fd.Get(), head.data(), head.size()) ||
        !std::equal(kJpegSignature.begin(), kJpegSignature.end(), head.begin())) {
        return nullptr;
    }
    length = static_cast<std::size_t>(info.st_size);
    std::uint8_t* buffer = decoder.FileBuffer(length);
    if (buffer == nullptr) {
        return nullptr;
    }
    std::memcpy(buffer, head.data(), head.size());
    if (!ReadFully(fd.Get(), buffer + head.size(), length - head.size())) {
        return nullptr;
    }
    return buffer;
}

PixbufPtr DecodeJpeg(JpegDecoder& decoder, const std::uint8_t* data, std::size_t length,
                     int maxWidth, int maxHeight, std::uint8_t* orientationOut) {
    const unsigned orientation = ReadExifOrientation(data, length);
    if (IsTransposed(orientation)) {
        // The box is given for the picture as displayed; the decoder works
        // on the stored, transposed one.
        std::swap(maxWidth, maxHeight);
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    const auto jpegSize = static_cast<unsigned long>(length);
    if (tjDecompressHeader3(decoder.Handle(), data, jpegSize, &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width < 1 || height < 1 || ExceedsPixelCap(width, height) ||
        IsJpegBomb(width, height, static_cast<std::int64_t>(length))) {
        return nullptr;
    }
    const int num = JpegScaleNumerator(width, height, maxWidth, maxHeight);
    // TJSCALED rounds up; the dimensions stay below 65536, so no overflow.
    const int scaledWidth = (width * num + kDctEighths - 1) / kDctEighths;
    const int scaledHeight = (height * num + kDctEighths - 1) / kDctEighths;

    PixbufPtr image = decoder.Pixels().NewPixbuf(false, scaledWidth, scaledHeight);
    if (image == nullptr) {
        return nullptr;
    }
    if (tjDecompress2(decoder.Handle(), data, jpegSize, gdk_pixbuf_get_pixels(image.get()),
                      scaledWidth, gdk_pixbuf_get_rowstride(image.get()), scaledHeight,
                      JpegPixelFormatFor(image.get()), kDecodeFlags) != 0) {
        return nullptr;
    }
    if (orientationOut != nullptr) {
        *orientationOut = static_cast<std::uint8_t>(orientation);
    }

    const ImageSize target = FitIntoBox(width, height, maxWidth, maxHeight);
    if (target == ImageSize{scaledWidth, scaledHeight}) {
        return image;
    }
    // The same bilinear scaling gdk_pixbuf_scale_simple does, rendered into a
    // pooled pixbuf instead of a freshly allocated one.
    PixbufPtr resized = decoder.Pixels().NewPixbuf(false, target.width, target.height);
    if (resized == nullptr) {
        return nullptr;
    }
    gdk_pixbuf_scale(image.get(), resized.get(), 0, 0, target.width, target.height, 0.0, 0.0,
                     static_cast<double>(target.width) / scaledWidth,
                     static_cast<double>(target.height) / scaledHeight, GDK_INTERP_BILINEAR);
    return resized;
}

// Whether a JPEG file holds more start-of-scan markers than any sane
// progressive file. Inside entropy-coded data an FF byte is always followed
// by 00 or a restart marker, so every FF DA pair is a real marker.
bool HasTooManyScans(int fd) {
    std::array<std::uint8_t, kScanChunkBytes> chunk{};
    bool afterPrefix = false;
    int scans = 0;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        const std::uint8_t* p = chunk.data();
        const std::uint8_t* const end = p + n;
        if (afterPrefix && *p == kStartOfScan) {
            ++scans;
        }
        while (p < end) {
            const auto* prefix =
                static_cast<const std::uint8_t*>(std::memchr(p, kMarkerPrefix, end - p));
            if (prefix == nullptr) {
                break;
            }
            p = prefix + 1;
            if (p < end && *p == kStartOfScan && ++scans > kMaxJpegScans) {
                return true;
            }
        }
        afterPrefix = end[-1] == kMarkerPrefix;
    }
}

// gdk-pixbuf fits the image into the box on its own; these limits only stop
// it from enlarging (a limit above the image) and pass "no limit" as -1.
int ClampLimit(int limit, int side) {
    if (limit > side) {
        return side;
    }
    return limit < 1 ? -1 : limit;
}

}  // namespace

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
    if (handle_ != nullptr) {
        tjDestroy(handle_);
    }
}

std::uint8_t* JpegDecoder::FileBuffer(std::size_t length) {
    if (fileCapacity_ < length) {
        // Dropped first: the old contents are not needed, so no realloc copy.
        fileBuffer_.reset();
        fileCapacity_ = 0;
        fileBuffer_.reset(static_cast<std::uint8_t*>(g_try_malloc(length)));
        if (fileBuffer_ == nullptr) {
            return nullptr;
        }
        fileCapacity_ = length;
    }
    return fileBuffer_.get();
}

void JpegDecoder::TrimFileBuffer() {
    if (fileCapacity_ > kMaxRetainedFileBytes) {
        fileBuffer_.reset();
        fileCapacity_ = 0;
    }
}

int JpegScaleNumerator(int width, int height, int maxWidth, int maxHeight) {
    return std::min(DctStepFor(width, maxWidth), DctStepFor(height, maxHeight)) + 1;
}

ImageSize FitIntoBox(int width, int height, int maxWidth, int maxHeight) {
    constexpr double kNoLimit = std::numeric_limits<double>::infinity();
    const double sx = maxWidth < 1 ? kNoLimit : static_cast<double>(maxWidth) / width;
    const double sy = maxHeight < 1 ? kNoLimit : static_cast<double>(maxHeight) / height;
    const double s = std::min(sx, sy);
    if (!(s < 1.0)) {
        return {width, height};
    }
    return {std::max(1, RoundHalfToEven(width * s)), std::max(1, RoundHalfToEven(height * s))};
}

PixbufPtr LoadJpegScaled(JpegDecoder& decoder, const std::string& path, int maxWidth, int maxHeight,
                         std::uint8_t* orientation) {
    if (!decoder.Valid()) {
        return nullptr;
    }
    std::size_t length = 0;
    const std::uint8_t* data = ReadJpegFile(decoder, path, length);
    PixbufPtr image;
    if (data != nullptr) {
        image = DecodeJpeg(decoder, data, length, maxWidth, maxHeight, orientation);
    }
    decoder.TrimFileBuffer();
    return image;
}

PixbufPtr LoadPixbufScaled(const std::string& path, int maxWidth, int maxHeight) {
    // gdk-pixbuf opens the path itself and would block on a FIFO or device:
    // hand it regular files only.
    struct stat info {};
    ScopedFd fd = OpenRegularFile(path, info);
    if (!fd.Valid()) {
        return nullptr;
    }
    // A JPEG that TurboJPEG refused for its scan count must not get decoded
    // here instead, where no such limit exists.
    std::array<std::uint8_t, kJpegSignature.size()> head{};
    const bool isJpeg = ReadFully(fd.Get(), head.data(), head.size()) &&
                        std::equal(kJpegSignature.begin(), kJpegSignature.end(), head.begin());
    if (isJpeg && HasTooManyScans(fd.Get())) {
        return nullptr;
    }
    fd.Reset();
    int width = 0;
    int height = 0;
    if (gdk_pixbuf_get_file_info(path.c_str(), &width, &height) == nullptr || width < 1 ||
        height < 1 || ExceedsPixelCap(width, height) ||
        (isJpeg && IsJpegBomb(width, height, info.st_size))) {
        return nullptr;
    }
    GError* error = nullptr;
    PixbufPtr loaded(gdk_pixbuf_new_from_file_at_size(path.c_str(), ClampLimit(maxWidth, width),
                                                      ClampLimit(maxHeight, height), &error));
    g_clear_error(&error);
    if (loaded == nullptr || gdk_pixbuf_get_colorspace(loaded.get()) != GDK_COLORSPACE_RGB ||
        gdk_pixbuf_get_bits_per_sample(loaded.get()) != 8) {
        return nullptr;
    }
    const bool hasAlpha = gdk_pixbuf_get_has_alpha(loaded.get()) != FALSE;
    const int channels = gdk_pixbuf_get_n_channels(loaded.get());
    const int outWidth = gdk_pixbuf_get_width(loaded.get());
    const int outHeight = gdk_pixbuf_get_height(loaded.get());
    if (channels != (hasAlpha ? 4 : 3) || outWidth < 1 || outHeight < 1) {
        return nullptr;
    }
    // A private copy in the plain layout, every channel copied as it is
    // (alpha included, nothing blended).
    PixbufPtr image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, hasAlpha, 8, outWidth, outHeight));
    if (image == nullptr) {
        return nullptr;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(outWidth) * channels;
    const guint8* src = gdk_pixbuf_read_pixels(loaded.get());
    guint8* dst = gdk_pixbuf_get_pixels(image.get());
    const auto srcStride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(loaded.get()));
    const auto dstStride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(image.get()));
    for (int y = 0; y < outHeight; ++y) {
        std::memcpy(dst + y * dstStride, src + y * srcStride, rowBytes);
    }
    return image;
}

int JpegPixelFormatFor(const GdkPixbuf* image) {
    if (image == nullptr) {
        return TJPF_BGR;
    }
    const int bitsPerPixel =
        gdk_pixbuf_get_n_channels(image) * gdk_pixbuf_get_bits_per_sample(image);
    // gdk-pixbuf stores samples in R G B (A) order; BGRA never occurs here.
    if (bitsPerPixel == 32 && gdk_pixbuf_get_has_alpha(image)) {
        return TJPF_RGBA;
    }
    if (bitsPerPixel == 24) {
        return TJPF_RGB;
    }
    return TJPF_BGR;
}

}  // namespace corvanta
