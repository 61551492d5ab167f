#include "support/test_images.h"

#include <sys/resource.h>

#include <csignal>

#include "decoder/decoder_process.h"
#include "batch/file_conversion.h"
#include "decoder/input_file.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <turbojpeg.h>
#include <zlib.h>

namespace corvanta::test_support {
namespace {

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kApp1Marker = 0xE1;
constexpr std::uint8_t kSosMarker = 0xDA;
constexpr std::size_t kPngSignatureBytes = 8;
constexpr int kMaxOpenFds = 16;

void PutU16(Bytes& out, unsigned v, ByteOrder order) {
    if (order == ByteOrder::kIntel) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    } else {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
}

void PutU32(Bytes& out, std::uint32_t v, ByteOrder order) {
    if (order == ByteOrder::kIntel) {
        PutU16(out, v & 0xFFFFu, order);
        PutU16(out, v >> 16, order);
    } else {
        PutU16(out, v >> 16, order);
        PutU16(out, v & 0xFFFFu, order);
    }
}

std::uint32_t GetBe32(const Bytes& b, std::size_t pos) {
    return (std::uint32_t{b[pos]} << 24) | (std::uint32_t{b[pos + 1]} << 16) |
           (std::uint32_t{b[pos + 2]} << 8) | b[pos + 3];
}

void SetBe32(Bytes& b, std::size_t pos, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}

Bytes WrapApp1(const Bytes& payload) {
    Bytes segment = {kMarkerPrefix, kApp1Marker};
    PutU16(segment, static_cast<unsigned>(payload.size() + 2), ByteOrder::kMotorola);
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

int ChannelsOfColorType(int colorType) {
    switch (colorType) {
        case 0:
            return 1;
        case 2:
            return 3;
        case 3:
            return 1;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 0;
    }
}

// The predictor as the PNG format describes it, branch for branch.
std::uint8_t Paeth(int left, int above, int upperLeft) {
    const int estimate = left + above - upperLeft;
    const int toLeft = std::abs(estimate - left);
    const int toAbove = std::abs(estimate - above);
    const int toUpperLeft = std::abs(estimate - upperLeft);
    if (toLeft <= toAbove && toLeft <= toUpperLeft) {
        return static_cast<std::uint8_t>(left);
    }
    return static_cast<std::uint8_t>(toAbove <= toUpperLeft ? above : upperLeft);
}

// Undoes the row filters of raw (a filter byte and rowBytes bytes per row)
// into pixels. False at an unknown filter type.
bool Unfilter(const Bytes& raw, std::size_t rowBytes, std::size_t rows, std::size_t bpp,
              std::vector<std::uint8_t>& filters, Bytes& pixels) {
    pixels.assign(rowBytes * rows, 0);
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t type = raw[y * (rowBytes + 1)];
        const std::uint8_t* in = &raw[y * (rowBytes + 1) + 1];
        std::uint8_t* out = &pixels[y * rowBytes];
        const std::uint8_t* prior = y > 0 ? out - rowBytes : nullptr;
        filters.push_back(type);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= bpp ? out[i - bpp] : 0;
            const int above = prior != nullptr ? prior[i] : 0;
            const int upperLeft = prior != nullptr && i >= bpp ? prior[i - bpp] : 0;
            int predicted = 0;
            switch (type) {
                case 0:
                    break;
                case 1:
                    predicted = left;
                    break;
                case 2:
                    predicted = above;
                    break;
                case 3:
                    predicted = (left + above) / 2;
                    break;
                case 4:
                    predicted = Paeth(left, above, upperLeft);
                    break;
                default:
                    return false;
            }
            out[i] = static_cast<std::uint8_t>(in[i] + predicted);
        }
    }
    return true;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

int MakeOwnerWritable(const char* path, const struct stat* info, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR) {
        ::chmod(path, info->st_mode | S_IRWXU);
    }
    return 0;
}

}  // namespace

// ---- Pixels ----------------------------------------------------------------

Bytes MakePhotoPixels(int width, int height, int channels, unsigned seed) {
    // Separable waves: one table along x and one along y per channel keep
    // 12-megapixel fixtures quick to make.
    std::vector<double> across(static_cast<std::size_t>(width) * channels);
    std::vector<double> down(static_cast<std::size_t>(height) * channels);
    for (int c = 0; c < channels; ++c) {
        for (int x = 0; x < width; ++x) {
            across[static_cast<std::size_t>(x) * channels + c] =
                std::sin(x * 0.011 + c * 1.3 + seed);
        }
        for (int y = 0; y < height; ++y) {
            down[static_cast<std::size_t>(y) * channels + c] = 100.0 * std::cos(y * 0.017 - c);
        }
    }
    Bytes pixels(static_cast<std::size_t>(width) * height * channels);
    std::uint32_t noise = seed * 2654435761u + 1;
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        const double* row = down.data() + static_cast<std::size_t>(y) * channels;
        for (int x = 0; x < width; ++x) {
            const double* column = across.data() + static_cast<std::size_t>(x) * channels;
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double v = 124.0 + column[c] * row[c] + static_cast<double>(noise >> 29);
                pixels[i++] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return pixels;
}

GObjectPtr<GdkPixbuf> MakePixbuf(int width, int height, bool hasAlpha, unsigned seed) {
    const int channels = hasAlpha ? 4 : 3;
    GObjectPtr<GdkPixbuf> image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, hasAlpha, 8, width, height));
    if (image == nullptr) {
        return image;
    }
    const Bytes pixels = MakePhotoPixels(width, height, channels, seed);
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    guint8* dst = gdk_pixbuf_get_pixels(image.get());
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    for (int y = 0; y < height; ++y) {
        std::memcpy(dst + static_cast<std::size_t>(y) * stride, pixels.data() + y * rowBytes,
                    rowBytes);
    }
    return image;
}

// ---- JPEG ------------------------------------------------------------------

namespace {

int JpegChannels(const JpegOptions& options) {
    return options.grayscale ? 1 : options.cmyk ? 4 : 3;
}

Bytes CompressJpeg(const Bytes& pixels, int width, int height, const JpegOptions& options) {
    const int channels = JpegChannels(options);
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) {
        return {};
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int flags = options.progressive ? TJFLAG_PROGRESSIVE : 0;
    const int format = options.grayscale ? TJPF_GRAY : options.cmyk ? TJPF_CMYK : TJPF_RGB;
    const int subsampling = options.grayscale ? TJSAMP_GRAY
                            : options.cmyk    ? TJSAMP_444
                                              : options.subsampling;
    const int status = tjCompress2(handle, pixels.data(), width, width * channels, height, format,
                                   &jpeg, &size, subsampling, options.quality, flags);
    Bytes out;
    if (status == 0) {
        out.assign(jpeg, jpeg + size);
    }
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

}  // namespace

Bytes MakeJpeg(int width, int height, const JpegOptions& options) {
    return CompressJpeg(MakePhotoPixels(width, height, JpegChannels(options), options.seed), width,
                        height, options);
}

Bytes MakeHalvesJpeg(int width, int height, const JpegOptions& options) {
    constexpr std::uint8_t kDark = 40;
    constexpr std::uint8_t kLight = 215;
    const int channels = JpegChannels(options);
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), static_cast<std::size_t>(channels),
                          x < width / 2 ? kDark : kLight);
        }
    }
    return CompressJpeg(pixels, width, height, options);
}

Bytes MakeExifSegment(unsigned orientation, ByteOrder order) {
    constexpr unsigned kImageWidthTag = 0x0100;
    constexpr unsigned kOrientationTag = 0x0112;
    constexpr unsigned kShortType = 3;
    Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
    if (order == ByteOrder::kIntel) {
        payload.insert(payload.end(), {'I', 'I'});
    } else {
        payload.insert(payload.end(), {'M', 'M'});
    }
    PutU16(payload, 42, order);
    PutU32(payload, 8, order);  // IFD0 right behind the header
    PutU16(payload, 2, order);
    for (const unsigned tag : {kImageWidthTag, kOrientationTag}) {
        PutU16(payload, tag, order);
        PutU16(payload, kShortType, order);
        PutU32(payload, 1, order);
        PutU16(payload, tag == kOrientationTag ? orientation : 640, order);
        PutU16(payload, 0, order);
    }
    PutU32(payload, 0, order);  // no next IFD
    return WrapApp1(payload);
}

Bytes MakeApp1Segment(std::string_view payload) {
    return WrapApp1(Bytes(payload.begin(), payload.end()));
}

Bytes InsertAfterSoi(const Bytes& jpeg, const Bytes& segment) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes RepeatLastScan(const Bytes& jpeg, int times) {
    // No FF DA pair occurs inside entropy-coded data: the last one is the
    // last scan's marker.
    std::size_t last = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        last = jpeg[i] == kMarkerPrefix && jpeg[i + 1] == kSosMarker ? i : last;
    }
    const auto end = jpeg.end() - 2;  // the end-of-image marker
    Bytes repeated(jpeg.begin(), end);
    for (int i = 0; i < times; ++i) {
        repeated.insert(repeated.end(), jpeg.begin() + static_cast<long>(last), end);
    }
    repeated.insert(repeated.end(), end, jpeg.end());
    return repeated;
}

pid_t WaitForChildOf(pid_t parent, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& entry : ListFolder("/proc")) {
            std::ifstream stat("/proc/" + entry + "/stat");
            std::string line;
            if (entry.find_first_not_of("0123456789") != std::string::npos ||
                !std::getline(stat, line) || line.rfind(')') == std::string::npos) {
                continue;
            }
            std::istringstream fields(line.substr(line.rfind(')') + 2));
            char state = 0;
            long ppid = 0;
            if (fields >> state >> ppid && ppid == parent) {
                return static_cast<pid_t>(std::stol(entry));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

long FindSegment(const Bytes& jpeg, std::uint8_t marker) {
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == kMarkerPrefix) {
        if (jpeg[pos + 1] == marker) {
            return static_cast<long>(pos);
        }
        if (jpeg[pos + 1] == kSosMarker) {
            break;
        }
        pos += 2 + ((static_cast<std::size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3]);
    }
    return -1;
}

bool SetJpegFrameSize(Bytes& jpeg, int width, int height) {
    for (const std::uint8_t marker : {0xC0, 0xC1, 0xC2}) {
        const long pos = FindSegment(jpeg, marker);
        if (pos >= 0 && static_cast<std::size_t>(pos) + 9 <= jpeg.size()) {
            const auto p = static_cast<std::size_t>(pos);
            jpeg[p + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[p + 6] = static_cast<std::uint8_t>(height);
            jpeg[p + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[p + 8] = static_cast<std::uint8_t>(width);
            return true;
        }
    }
    return false;
}

// ---- PNG -------------------------------------------------------------------

Bytes MakePng(int width, int height, bool hasAlpha, unsigned seed) {
    GObjectPtr<GdkPixbuf> image = MakePixbuf(width, height, hasAlpha, seed);
    gchar* buffer = nullptr;
    gsize size = 0;
    Bytes out;
    if (image != nullptr &&
        gdk_pixbuf_save_to_buffer(image.get(), &buffer, &size, "png", nullptr, nullptr)) {
        out.assign(buffer, buffer + size);
    }
    g_free(buffer);
    return out;
}

Bytes MakeTiff(int width, int height, unsigned orientation) {
    const Bytes pixels = MakePhotoPixels(width, height, 3);
    const auto size = static_cast<std::uint32_t>(pixels.size());
    // Tag, type (3 SHORT, 4 LONG), value; BitsPerSample points at 8,8,8.
    const std::vector<std::array<std::uint32_t, 3>> entries = {
        {256, 4, static_cast<std::uint32_t>(width)},
        {257, 4, static_cast<std::uint32_t>(height)},
        {258, 3, 0},
        {259, 3, 1},
        {262, 3, 2},
        {273, 4, 0},
        {274, 3, orientation},
        {277, 3, 3},
        {278, 4, static_cast<std::uint32_t>(height)},
        {279, 4, size}};
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            tiff.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    const std::size_t count = entries.size() - (orientation == 0 ? 1 : 0);
    const std::uint32_t bits = 8 + 2 + static_cast<std::uint32_t>(count) * 12 + 4;
    put(static_cast<std::uint32_t>(count), 2);
    for (auto [tag, type, value] : entries) {
        if (tag == 274 && orientation == 0) {
            continue;
        }
        value = tag == 258 ? bits : tag == 273 ? bits + 6 : value;
        put(tag, 2);
        put(type, 2);
        put(tag == 258 ? 3 : 1, 4);
        put(value, 4);
    }
    put(0, 4);  // no next directory
    put(0x00080008, 4);
    put(8, 2);
    tiff.insert(tiff.end(), pixels.begin(), pixels.end());
    return tiff;
}

bool SetPngSize(Bytes& png, std::uint32_t width, std::uint32_t height) {
    // Signature, then IHDR: length, "IHDR", width, height, ..., CRC over type and data.
    constexpr std::size_t kIhdrType = kPngSignatureBytes + 4;
    constexpr std::size_t kIhdrData = kIhdrType + 4;
    constexpr std::size_t kIhdrDataBytes = 13;
    if (png.size() < kIhdrData + kIhdrDataBytes + 4 ||
        std::memcmp(&png[kIhdrType], "IHDR", 4) != 0) {
        return false;
    }
    SetBe32(png, kIhdrData, width);
    SetBe32(png, kIhdrData + 4, height);
    const uLong crc = crc32(crc32(0, nullptr, 0), &png[kIhdrType], 4 + kIhdrDataBytes);
    SetBe32(png, kIhdrData + kIhdrDataBytes, static_cast<std::uint32_t>(crc));
    return true;
}

PngContents InspectPng(const Bytes& png) {
    static constexpr std::uint8_t kSignature[kPngSignatureBytes] = {0x89, 'P',  'N',  'G',
                                                                    '\r', '\n', 0x1A, '\n'};
    PngContents result;
    if (png.size() < kPngSignatureBytes ||
        std::memcmp(png.data(), kSignature, kPngSignatureBytes) != 0) {
        return result;
    }
    Bytes compressed;
    bool sawHeader = false;
    bool sawEnd = false;
    std::size_t pos = kPngSignatureBytes;
    while (!sawEnd && pos + 12 <= png.size()) {
        const std::uint32_t length = GetBe32(png, pos);
        if (length > png.size() - pos - 12) {
            return result;
        }
        const std::string type(png.begin() + static_cast<long>(pos) + 4,
                               png.begin() + static_cast<long>(pos) + 8);
        const std::size_t data = pos + 8;
        const uLong crc = crc32(crc32(0, nullptr, 0), &png[pos + 4], length + 4);
        if (crc != GetBe32(png, data + length)) {
            return result;
        }
        result.chunks.push_back(type);
        if (type == "IHDR" && length == 13) {
            result.width = GetBe32(png, data);
            result.height = GetBe32(png, data + 4);
            result.bitDepth = png[data + 8];
            result.colorType = png[data + 9];
            result.compression = png[data + 10];
            result.filterMethod = png[data + 11];
            result.interlace = png[data + 12];
            sawHeader = true;
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), png.begin() + static_cast<long>(data),
                              png.begin() + static_cast<long>(data + length));
        } else if (type == "IEND") {
            sawEnd = true;
        }
        pos = data + length + 4;
    }
    const int channels = ChannelsOfColorType(result.colorType);
    if (!sawHeader || !sawEnd || result.bitDepth != 8 || channels == 0 || result.interlace != 0) {
        return result;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(result.width) * channels;
    // One byte more than the rows need, so that a stream that goes on past
    // them shows.
    Bytes raw((rowBytes + 1) * result.height + 1);
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, compressed.data(), compressed.size()) != Z_OK ||
        rawSize != raw.size() - 1) {
        return result;
    }
    result.ok = Unfilter(raw, rowBytes, result.height, static_cast<std::size_t>(channels),
                         result.rowFilters, result.pixels);
    return result;
}

// ---- Files -----------------------------------------------------------------

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, std::string_view text) {
    return WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    return FileSize(path) >= 0;
}

long long FileSize(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool WriteJpeg(const std::string& path, int width, int height) {
    return WriteFile(path, MakeJpeg(width, height));
}

bool WritePng(const std::string& path, int width, int height, bool hasAlpha) {
    return WriteFile(path, MakePng(width, height, hasAlpha));
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/corvanta-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    if (path_.empty()) {
        return;
    }
    ::nftw(path_.c_str(), MakeOwnerWritable, kMaxOpenFds, FTW_PHYS);
    ::nftw(path_.c_str(), RemoveEntry, kMaxOpenFds, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::File(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

}  // namespace corvanta::test_support

namespace corvanta::test_support {

GObjectPtr<GdkPixbuf> DecodeFile(const std::string& path, int maxWidth, int maxHeight) {
    const InputFile input = OpenInputFile(path);
    if (!input.Opened()) {
        return nullptr;
    }
    return DecodeInHelper({input.fd.Get(), input.size, FileNamePart(path), maxWidth, maxHeight},
                          DecoderSettings{})
        .image;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(unsigned long bytes) {
    struct rlimit saved {};
    if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) {
        return;
    }
    savedCurrent_ = saved.rlim_cur;
    savedMaximum_ = saved.rlim_max;
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = bytes;
    active_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    struct rlimit saved {};
    saved.rlim_cur = savedCurrent_;
    saved.rlim_max = savedMaximum_;
    if (active_) {
        ::setrlimit(RLIMIT_FSIZE, &saved);
    }
    if (savedHandler_ != SIG_ERR) {
        std::signal(SIGXFSZ, savedHandler_);
    }
}

}  // namespace corvanta::test_support
