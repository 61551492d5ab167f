#include "codecs/image_loader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "codecs/exif_orientation.h"
#include "common/scoped_fd.h"
#include "tone/pixbuf_format.h"

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
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::array<std::uint8_t, 2> kEndOfImage = {0xFF, 0xD9};

// libjpeg's warnings are fixed English texts; the one for data that stops
// short says so.
Damage DamageOf(tjhandle handle) {
    const char* message = tjGetErrorStr2(handle);
    return message != nullptr && (std::strstr(message, "premature end") != nullptr ||
                                  std::strstr(message, "Premature end") != nullptr)
               ? Damage::kEndsEarly
               : Damage::kCorrupt;
}

bool IsTransposed(unsigned orientation) {
    return orientation >= 5 && orientation <= 8;
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

// Reads the whole JPEG file into the decoder's buffer. Looks at the first
// bytes before committing memory to the rest.
const std::uint8_t* ReadJpegFile(JpegDecoder& decoder, int fd, std::int64_t size,
                                 std::size_t& length, JpegLoad& status) {
    status = JpegLoad::kNotJpeg;
    std::array<std::uint8_t, kSignatureBytes> head{};
    if (size < kMinJpegFileBytes || !ReadAt(fd, head.data(), head.size(), 0) ||
        !HasJpegSignature(head.data(), head.size())) {
        return nullptr;
    }
    if (size > kMaxJpegFileBytes) {
        status = JpegLoad::kTooLarge;
        return nullptr;
    }
    length = static_cast<std::size_t>(size);
    std::uint8_t* buffer = decoder.FileBuffer(length + kEndOfImage.size());
    if (buffer == nullptr) {
        status = JpegLoad::kOutOfMemory;
        return nullptr;
    }
    if (!ReadAt(fd, buffer, length, 0)) {
        status = JpegLoad::kUndecodable;  // shorter than it said: let the other decoder try
        return nullptr;
    }
    if (!std::equal(kEndOfImage.begin(), kEndOfImage.end(), buffer + length - kEndOfImage.size())) {
        std::copy(kEndOfImage.begin(), kEndOfImage.end(), buffer + length);
        length += kEndOfImage.size();
    }
    return buffer;
}

}  // namespace

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
    if (handle_ != nullptr) {
        tjDestroy(handle_);
    }
}

std::uint8_t* JpegDecoder::FileBuffer(std::size_t length) {
    return fileBuffer_.Reserve(length);
}

void JpegDecoder::TrimFileBuffer(bool all) {
    if (all || fileBuffer_.Capacity() > kMaxRetainedFileBytes) {
        fileBuffer_.Reset();
    }
    if (all) {
        pixels_.ReleaseSpares();
    }
}

bool ExceedsPixelCap(std::int64_t width, std::int64_t height) {
    return width * height > kMaxImagePixels;
}

bool IsJpegBomb(std::int64_t width, std::int64_t height, std::int64_t fileBytes) {
    return width * height > kMaxJpegPixelsPerByte * fileBytes;
}

bool HasJpegSignature(const std::uint8_t* head, std::size_t length) {
    return length >= kJpegSignature.size() &&
           std::equal(kJpegSignature.begin(), kJpegSignature.end(), head);
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

void JpegScanCounter::Feed(const std::uint8_t* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + length;
    if (afterPrefix_ && *p == kStartOfScan) {
        ++scans_;
    }
    while (p < end) {
        const auto* prefix =
            static_cast<const std::uint8_t*>(std::memchr(p, kMarkerPrefix, end - p));
        if (prefix == nullptr) {
            break;
        }
        p = prefix + 1;
        if (p < end && *p == kStartOfScan) {
            ++scans_;
        }
    }
    afterPrefix_ = end[-1] == kMarkerPrefix;
}

JpegLoad PlanJpegLoad(JpegDecoder& decoder, int fd, std::int64_t size, int maxWidth, int maxHeight,
                      JpegPlan& plan) {
    JpegLoad status = JpegLoad::kUndecodable;
    plan.data = decoder.Valid() ? ReadJpegFile(decoder, fd, size, plan.length, status) : nullptr;
    if (plan.data == nullptr) {
        return status;
    }
    plan.orientation = ReadExifOrientation(plan.data, plan.length);
    if (IsTransposed(plan.orientation)) {
        // The box is given for the picture as displayed; the decoder works
        // on the stored, transposed one.
        std::swap(maxWidth, maxHeight);
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(decoder.Handle(), plan.data, static_cast<unsigned long>(plan.length),
                            &width, &height, &subsampling, &colorspace) != 0 ||
        width < 1 || height < 1) {
        return JpegLoad::kUndecodable;
    }
    if (ExceedsPixelCap(width, height) ||
        IsJpegBomb(width, height, static_cast<std::int64_t>(plan.length))) {
        return JpegLoad::kTooLarge;
    }
    plan.stored = {width, height};
    JpegScanCounter scans;
    scans.Feed(plan.data, plan.length);
    plan.scans = scans.Scans();
    if (plan.scans > kMaxJpegScans) {
        return JpegLoad::kTooCostly;
    }
    const int num = JpegScaleNumerator(width, height, maxWidth, maxHeight);
    // TJSCALED rounds up; the dimensions stay below 65536, so no overflow.
    plan.decoded = {(width * num + kDctEighths - 1) / kDctEighths,
                    (height * num + kDctEighths - 1) / kDctEighths};
    plan.target = FitIntoBox(width, height, maxWidth, maxHeight);
    return JpegLoad::kDecoded;
}

PixbufPtr DecodeJpegPlan(JpegDecoder& decoder, const JpegPlan& plan, JpegLoad& status,
                         SizeGate* gate) {
    status = JpegLoad::kUndecodable;
    if (gate != nullptr && !gate->Admit(plan.decoded, plan.target)) {
        status = JpegLoad::kStopped;
        return nullptr;
    }
    const auto [scaledWidth, scaledHeight] = plan.decoded;
    PixbufPtr image = decoder.Pixels().NewPixbuf(false, scaledWidth, scaledHeight);
    if (image == nullptr) {
        status = JpegLoad::kOutOfMemory;
        return nullptr;
    }
    if (tjDecompress2(decoder.Handle(), plan.data, static_cast<unsigned long>(plan.length),
                      gdk_pixbuf_get_pixels(image.get()), scaledWidth,
                      gdk_pixbuf_get_rowstride(image.get()), scaledHeight,
                      JpegPixelFormatFor(image.get()), kDecodeFlags) != 0) {
        if (tjGetErrorCode(decoder.Handle()) == TJERR_WARNING) {
            decoder.SetLastDamage(DamageOf(decoder.Handle()));
            status = JpegLoad::kDamaged;
        }
        return nullptr;
    }
    status = JpegLoad::kDecoded;
    if (plan.target == plan.decoded) {
        return image;
    }
    // The same bilinear scaling gdk_pixbuf_scale_simple does, rendered into a
    // pooled pixbuf instead of a freshly allocated one.
    PixbufPtr resized = decoder.Pixels().NewPixbuf(false, plan.target.width, plan.target.height);
    if (resized == nullptr) {
        status = JpegLoad::kOutOfMemory;
        return nullptr;
    }
    gdk_pixbuf_scale(image.get(), resized.get(), 0, 0, plan.target.width, plan.target.height, 0.0,
                     0.0, static_cast<double>(plan.target.width) / scaledWidth,
                     static_cast<double>(plan.target.height) / scaledHeight, GDK_INTERP_BILINEAR);
    return resized;
}

PixbufPtr LoadJpegScaled(JpegDecoder& decoder, int fd, std::int64_t size, int maxWidth,
                         int maxHeight, std::uint8_t* orientation, JpegLoad* status,
                         SizeGate* gate) {
    JpegPlan plan;
    JpegLoad result = PlanJpegLoad(decoder, fd, size, maxWidth, maxHeight, plan);
    PixbufPtr image;
    if (result == JpegLoad::kDecoded && plan.Work() > kMaxInProcessJpegWork) {
        result = JpegLoad::kCostlyHere;
    } else if (result == JpegLoad::kDecoded) {
        image = DecodeJpegPlan(decoder, plan, result, gate);
    }
    if (image && orientation != nullptr) {
        *orientation = static_cast<std::uint8_t>(plan.orientation);
    }
    decoder.TrimFileBuffer();
    if (status != nullptr) {
        *status = result;
    }
    return image;
}

std::int64_t ConversionBytes(std::int64_t decodedPixels, std::int64_t outputPixels, int channels) {
    // The fitted copy (none when the decoded picture is already the output)
    // and the encoder's output are each at most the size of the output.
    const std::int64_t fittedCopy = outputPixels == decodedPixels ? 0 : outputPixels;
    return channels * (decodedPixels + fittedCopy + outputPixels);
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
