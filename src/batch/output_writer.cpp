#include "batch/output_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <mutex>
#include <set>

#include "batch/image_loader.h"

namespace corvanta {
namespace {

constexpr int kMinQuality = 1;
constexpr int kMaxQuality = 100;
// Above this quality the accurate DCT is worth its time.
constexpr int kFastDctMaxQuality = 80;
constexpr std::size_t kMaxRetainedOutputBytes = std::size_t{256} << 20;
constexpr std::size_t kDateSuffixLength = 14;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
constexpr std::size_t kPngWriteBufferBytes = std::size_t{64} << 10;

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

// Measured on six tone-mapped 3000 x 2000 pictures (bench/codec_bench.cpp):
// the default strategy is the fastest that does not make files larger
// (Z_FILTERED is slower and larger, Z_RLE five times faster but files 2.7
// times larger, a 16 KiB window 25 % faster but 3 to 6 % larger). A 256 KiB
// deflate buffer writes fewer IDAT chunks, a little smaller at the same speed.
constexpr int kPngStrategy = Z_DEFAULT_STRATEGY;
constexpr std::size_t kPngZlibBufferBytes = std::size_t{256} << 10;

// ---- Names ---------------------------------------------------------------

struct NameParts {
    std::string directory;  // up to and including the last slash
    std::string stem;
    std::string extension;  // without the dot; may be empty
};

NameParts SplitName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    NameParts parts{path.substr(0, nameStart), path.substr(nameStart), {}};
    const std::size_t dot = parts.stem.rfind('.');
    if (dot != std::string::npos && dot != 0 && parts.stem.find(' ', dot) == std::string::npos) {
        parts.extension = parts.stem.substr(dot + 1);
        parts.stem.resize(dot);
    }
    return parts;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

bool AcceptedExtension(const std::string& extension, OutputFormat format) {
    const std::string lowered = Lowered(extension);
    return format == OutputFormat::kJpeg ? (lowered == "jpg" || lowered == "jpeg")
                                         : lowered == "png";
}

const char* SuffixFor(OutputFormat format) {
    return format == OutputFormat::kJpeg ? ".jpg" : ".png";
}

// The plain name and the date-suffixed one, in the order they are tried.
std::array<std::string, 2> CandidateNames(const std::string& candidate, OutputFormat format,
                                          std::time_t when) {
    const NameParts parts = SplitName(candidate);
    std::string plain = candidate;
    std::string stem = parts.stem;
    if (!AcceptedExtension(parts.extension, format)) {
        stem = parts.stem + "_" + parts.extension;
        plain = parts.directory + stem + SuffixFor(format);
    }
    return {plain, parts.directory + stem + "_" + DateSuffix(when) + SuffixFor(format)};
}

// ---- Names being written by this process -----------------------------------

std::mutex& ClaimMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& ClaimedNames() {
    static std::set<std::string> names;
    return names;
}

// Whether path may be written; the claim mutex must be held. lstat, so a
// symbolic link is seen as itself and taken rather than followed.
bool IsFree(const std::string& path) {
    if (ClaimedNames().count(path) != 0) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        // Missing is free; any other error shows when the file is created.
        return true;
    }
    return S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && info.st_size == 0);
}

enum class OpenResult { kOpened, kTaken, kFailed };

// A lock that another process writing the same name would hold. Filesystems
// without flock() only lose the cross-process guard.
bool LockedByOther(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return errno == EWOULDBLOCK;
        }
    }
    return false;
}

OpenResult OpenFreeName(const std::string& path, ScopedFd& fd, bool& created) {
    fd = ScopedFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode));
    if (fd.Valid()) {
        created = true;
        // Another process may have found the fresh empty file and locked it
        // first; it writes that name, this one goes on to the next.
        if (LockedByOther(fd.Get())) {
            fd.Reset();
            return OpenResult::kTaken;
        }
        return OpenResult::kOpened;
    }
    if (errno != EEXIST) {
        return OpenResult::kFailed;
    }
    // Something stands there: only an empty regular file may be reused.
    fd = ScopedFd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return errno == ELOOP ? OpenResult::kTaken : OpenResult::kFailed;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || LockedByOther(fd.Get()) ||
        ::fstat(fd.Get(), &info) != 0 || info.st_size != 0) {
        fd.Reset();
        return OpenResult::kTaken;
    }
    created = false;
    return OpenResult::kOpened;
}

// ---- Writing -------------------------------------------------------------

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

bool IsWritableImage(const GdkPixbuf* image) {
    if (image == nullptr || gdk_pixbuf_get_colorspace(image) != GDK_COLORSPACE_RGB ||
        gdk_pixbuf_get_bits_per_sample(image) != 8) {
        return false;
    }
    const int channels = gdk_pixbuf_get_n_channels(image);
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const int rowstride = gdk_pixbuf_get_rowstride(image);
    if (channels != (gdk_pixbuf_get_has_alpha(image) ? 4 : 3) || width < 1 || height < 1 ||
        rowstride < width * channels || gdk_pixbuf_read_pixels(image) == nullptr) {
        return false;
    }
    const std::size_t needed = static_cast<std::size_t>(rowstride) * (height - 1) +
                               static_cast<std::size_t>(width) * channels;
    return gdk_pixbuf_get_byte_length(image) >= needed;
}

// Buffers libpng's many small writes into few system calls.
struct FileSink {
    int fd;
    std::size_t used;
    std::array<std::uint8_t, kPngWriteBufferBytes> buffer;

    bool Flush() {
        const bool ok = WriteFully(fd, buffer.data(), used);
        used = 0;
        return ok;
    }
};

bool WriteToFileSink(void* context, const std::uint8_t* data, std::size_t length) {
    auto* sink = static_cast<FileSink*>(context);
    if (length > sink->buffer.size() - sink->used) {
        if (!sink->Flush()) {
            return false;
        }
        if (length >= sink->buffer.size()) {
            return WriteFully(sink->fd, data, length);
        }
    }
    std::copy(data, data + length, sink->buffer.begin() + static_cast<std::ptrdiff_t>(sink->used));
    sink->used += length;
    return true;
}

}  // namespace

PngSettings OutputPngSettings() {
    PngSettings settings;
    settings.compressionLevel = Z_BEST_COMPRESSION;
    settings.strategy = kPngStrategy;
    settings.zlibBufferBytes = kPngZlibBufferBytes;
    return settings;
}

std::string DateSuffix(std::time_t when) {
    std::tm local{};
    std::array<char, 32> text{};
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y%m%d%H%M%S", &local) != kDateSuffixLength) {
        return std::string(kDateSuffixLength, '0');
    }
    return text.data();
}

// ---- JpegEncoder -----------------------------------------------------------

JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    tjFree(buffer_);
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
    if (capacity_ < bound) {
        tjFree(buffer_);
        capacity_ = 0;
        buffer_ = tjAlloc(static_cast<int>(bound));
        if (buffer_ == nullptr) {
            return false;
        }
        capacity_ = bound;
    }
    quality = ClampQuality(quality);
    const int dct = quality > kFastDctMaxQuality ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT;
    unsigned long jpegSize = capacity_;
    if (tjCompress2(handle_, gdk_pixbuf_read_pixels(image), width, gdk_pixbuf_get_rowstride(image),
                    height, JpegPixelFormatFor(image), &buffer_, &jpegSize, TJSAMP_444, quality,
                    dct | TJFLAG_NOREALLOC) != 0) {
        return false;
    }
    data = buffer_;
    size = jpegSize;
    return true;
}

void JpegEncoder::TrimBuffer() {
    if (capacity_ > kMaxRetainedOutputBytes) {
        tjFree(buffer_);
        buffer_ = nullptr;
        capacity_ = 0;
    }
}

// ---- Names ---------------------------------------------------------------

std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format) {
    return ResolveOutputPath(candidate, format, std::time(nullptr));
}

std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format,
                                             std::time_t when) {
    const std::lock_guard<std::mutex> lock(ClaimMutex());
    for (const std::string& name : CandidateNames(candidate, format, when)) {
        if (IsFree(name)) {
            return name;
        }
    }
    return std::nullopt;
}

// ---- OutputClaim -----------------------------------------------------------

OutputClaim::~OutputClaim() {
    Abandon();
}

bool OutputClaim::Acquire(const std::string& candidate, OutputFormat format) {
    return Acquire(candidate, format, std::time(nullptr));
}

bool OutputClaim::Acquire(const std::string& candidate, OutputFormat format, std::time_t when) {
    Abandon();
    const std::lock_guard<std::mutex> lock(ClaimMutex());
    for (const std::string& name : CandidateNames(candidate, format, when)) {
        if (!IsFree(name)) {
            continue;
        }
        switch (OpenFreeName(name, fd_, created_)) {
            case OpenResult::kOpened:
                path_ = name;
                active_ = true;
                ClaimedNames().insert(name);
                return true;
            case OpenResult::kTaken:
                continue;
            case OpenResult::kFailed:
                return false;
        }
    }
    return false;
}

bool OutputClaim::Commit() {
    if (!active_) {
        return false;
    }
    if (!fd_.Close()) {
        // The data may not have reached the disk: leave no damaged file.
        if (created_) {
            ::unlink(path_.c_str());
        } else if (::truncate(path_.c_str(), 0) != 0) {
            // Nothing more can be done; the name stays non-empty and is skipped.
        }
        Release();
        return false;
    }
    Release();
    return true;
}

void OutputClaim::Abandon() {
    if (!active_) {
        return;
    }
    // Still under the claim, so nobody else can be writing this name.
    if (created_) {
        ::unlink(path_.c_str());
    } else if (::ftruncate(fd_.Get(), 0) != 0) {
        // Nothing more can be done; the name stays non-empty and is skipped.
    }
    fd_.Reset();
    Release();
}

void OutputClaim::Release() {
    const std::lock_guard<std::mutex> lock(ClaimMutex());
    ClaimedNames().erase(path_);
    active_ = false;
}

// ---- Writers -------------------------------------------------------------

bool WriteJpegOutput(JpegEncoder& encoder, const GdkPixbuf* image, const std::string& candidate,
                     int quality, std::uint8_t orientation) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!encoder.Encode(image, quality, data, size)) {
        return false;
    }
    OutputClaim claim;
    bool written = claim.Acquire(candidate, OutputFormat::kJpeg);
    if (written && orientation == 0) {
        written = WriteFully(claim.Fd(), data, size);
    } else if (written) {
        std::array<std::uint8_t, kExifBlockBytes> block = kExifBlockTemplate;
        block[kExifOrientationOffset] = orientation;
        const std::size_t split = EndOfApp0Segments(data, size);
        written = WriteFully(claim.Fd(), data, split) &&
                  WriteFully(claim.Fd(), block.data(), block.size()) &&
                  WriteFully(claim.Fd(), data + split, size - split);
    }
    written = written && claim.Commit();
    encoder.TrimBuffer();
    return written;  // the claim's destructor removes a failed file
}

bool WritePngOutput(const GdkPixbuf* image, const std::string& candidate) {
    if (!IsWritableImage(image)) {
        return false;
    }
    OutputClaim claim;
    if (!claim.Acquire(candidate, OutputFormat::kPng)) {
        return false;
    }
    FileSink sink{claim.Fd(), 0, {}};
    const bool encoded = EncodePng(
        gdk_pixbuf_read_pixels(image), gdk_pixbuf_get_width(image), gdk_pixbuf_get_height(image),
        static_cast<std::size_t>(gdk_pixbuf_get_rowstride(image)),
        gdk_pixbuf_get_has_alpha(image) != FALSE, OutputPngSettings(), WriteToFileSink, &sink);
    return encoded && sink.Flush() && claim.Commit();
}

}  // namespace corvanta
