#include "decoder/decoder_child.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "codecs/exif_orientation.h"
#include "codecs/image_loader.h"
#include "common/parse_integer.h"
#include "common/scoped_fd.h"
#include "decoder/confinement.h"
#include "decoder/confinement_inside.h"
#include "decoder/descriptor_passing.h"
#include "decoder/input_file.h"
#include "decoder/process_handle.h"
#include "tone/pixbuf_format.h"

namespace corvanta::decoder {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a failure was reported

// After SIGXCPU at the soft limit the kernel sends SIGKILL at the hard one.
constexpr rlim_t kCpuGraceSeconds = 5;
constexpr const char* kOomScoreFile = "/proc/self/oom_score_adj";
constexpr const char* kOwnStatusFile = "/proc/self/status";
constexpr std::size_t kStatusBytes = 8192;
constexpr const char* kOomScoreMax = "1000";
// gdk-pixbuf looks at this much of a file to tell its type.
constexpr std::size_t kSniffBytes = 4096;
constexpr std::size_t kFeedBytes = std::size_t{64} << 10;
// EXIF sits in the first segments; a longer head is not worth reading.
constexpr std::size_t kExifHeadBytes = std::size_t{256} << 10;
// The address space a decoder is taken to start with where /proc cannot
// tell (it holds its libraries and the loaders' modules).
constexpr std::int64_t kAssumedStartBytes = std::int64_t{1} << 30;
// Once the size is known the address space shrinks to what the picture
// needs, plus this much for the format library's own work.
constexpr std::int64_t kLibrarySlackBytes = std::int64_t{256} << 20;
constexpr std::size_t kSendBytes = std::size_t{1} << 20;
// Received descriptors are moved above the three numbers they take, so
// that no source is also a target; a descriptor limit as low as 32 leaves
// room for that.
constexpr int kFirstHighFd = kPixelsFd + 1;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// ---- reporting --------------------------------------------------------------

bool Send(const void* data, std::size_t length) {
    return WriteFully(kChannelFd, data, length);
}

[[noreturn]] void FailAndExit(Failure failure, Damage damage = Damage::kNone) {
    Report report;
    report.kind = ReportKind::kFailure;
    report.failure = failure;
    report.damage = static_cast<std::uint32_t>(damage);
    Send(&report, sizeof report);
    _exit(kExitFailed);
}

// GLib ends the process when an allocation fails; say why first. Every
// other message of the format libraries is of no use to anyone here.
void OnLogMessage(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
    if ((level & G_LOG_LEVEL_ERROR) != 0) {
        const bool allocation = message != nullptr && std::strstr(message, "failed to allocate");
        FailAndExit(allocation ? Failure::kOutOfMemory : Failure::kNotAnImage);
    }
}

GLogWriterOutput OnStructuredLog(GLogLevelFlags level, const GLogField* fields, gsize count,
                                 gpointer) {
    const gchar* message = nullptr;
    for (gsize i = 0; i < count; ++i) {
        if (std::strcmp(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0) {
            message = static_cast<const gchar*>(fields[i].value);
        }
    }
    OnLogMessage(nullptr, level, message, nullptr);
    return G_LOG_WRITER_HANDLED;
}

void OnPrint(const gchar*) {}

// ---- limits -----------------------------------------------------------------

// /proc/self/status, opened before the file-system rules close /proc.
int& OwnStatusFd() {
    static int fd = -1;
    return fd;
}

std::int64_t AddressSpaceBytes() {
    constexpr std::string_view kField = "\nVmSize:";
    std::array<char, kStatusBytes> status{};
    const ssize_t length = pread(OwnStatusFd(), status.data(), status.size() - 1, 0);
    if (length <= 0) {
        return -1;
    }
    const std::string_view text(status.data(), static_cast<std::size_t>(length));
    const std::size_t at = text.find(kField);
    if (at == std::string_view::npos) {
        return -1;
    }
    const std::int64_t kilobytes = ParseInteger(text.substr(at + kField.size()));
    return kilobytes <= 0 ? -1 : kilobytes * 1024;
}

bool SetLimit(int resource, rlim_t soft, rlim_t hard) {
    rlimit current{};
    if (getrlimit(resource, &current) != 0) {
        return false;
    }
    // Never above what we were given, soft limit included: a limit the user
    // set on the batch holds for its decoders too.
    rlimit wanted{std::min(soft, current.rlim_cur), std::min(hard, current.rlim_max)};
    wanted.rlim_cur = std::min(wanted.rlim_cur, wanted.rlim_max);
    return setrlimit(resource, &wanted) == 0;
}

// Address space relative to what the program holds after start-up, which
// is far more than the picture under a sanitizer's shadow mappings.
bool LimitAddressSpace(std::int64_t moreBytes) {
    if (moreBytes <= 0) {
        return true;
    }
    std::int64_t now = AddressSpaceBytes();
    if (now < 0) {
        now = kAssumedStartBytes;  // no /proc: a generous guess beats no limit
    }
    const auto limit = static_cast<rlim_t>(now + moreBytes);
    return SetLimit(RLIMIT_AS, limit, limit);
}

// ---- reading the picture -------------------------------------------------------

// Whether the JPEG holds more scans than the batch's own loader accepts.
bool HasTooManyScans(std::int64_t size) {
    std::vector<std::uint8_t> chunk(kFeedBytes);
    JpegScanCounter scans;
    for (std::int64_t offset = 0; offset < size && scans.Scans() <= kMaxJpegScans;) {
        const auto length = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - offset));
        if (!ReadAt(kInputFd, chunk.data(), length, offset)) {
            return false;
        }
        offset += static_cast<std::int64_t>(length);
        scans.Feed(chunk.data(), length);
    }
    return scans.Scans() > kMaxJpegScans;
}

// The loader gdk-pixbuf itself would pick: by content, and by the name
// where the content leaves it open.
GdkPixbufFormat* FindFormat(const std::uint8_t* head, std::size_t length, const std::string& name) {
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(nullptr, head, length, &uncertain);
    if ((uncertain || g_str_equal(type, "text/plain") || g_str_equal(type, "application/gzip")) &&
        !name.empty()) {
        g_free(type);
        type = g_content_type_guess(name.c_str(), head, length, nullptr);
    }
    GdkPixbufFormat* found = nullptr;
    GSList* formats = gdk_pixbuf_get_formats();
    for (GSList* f = formats; f != nullptr && found == nullptr; f = f->next) {
        auto* format = static_cast<GdkPixbufFormat*>(f->data);
        if (gdk_pixbuf_format_is_disabled(format)) {
            continue;
        }
        gchar** mimeTypes = gdk_pixbuf_format_get_mime_types(format);
        for (gchar** m = mimeTypes; m != nullptr && *m != nullptr; ++m) {
            gchar* candidate = g_content_type_from_mime_type(*m);
            const bool same = candidate != nullptr && g_content_type_equals(candidate, type);
            g_free(candidate);
            if (same) {
                found = format;
                break;
            }
        }
        g_strfreev(mimeTypes);
    }
    g_slist_free(formats);
    g_free(type);
    return found;
}

// gdk-pixbuf fits the image into the box on its own; these limits only
// stop it from enlarging (a limit above the image) and pass "no limit" as -1.
int ClampLimit(int limit, int side) {
    if (limit > side) {
        return side;
    }
    return limit < 1 ? -1 : limit;
}

// The size gdk-pixbuf's own "load at size" keeps the aspect ratio with, so
// that pictures come out exactly as they always have.
ImageSize LoaderFit(int width, int height, int boxWidth, int boxHeight) {
    if (boxWidth > 0 || boxHeight > 0) {
        if (boxWidth < 0) {
            width = static_cast<int>(width * static_cast<double>(boxHeight) / height);
            height = boxHeight;
        } else if (boxHeight < 0) {
            height = static_cast<int>(height * static_cast<double>(boxWidth) / width);
            width = boxWidth;
        } else if (static_cast<double>(height) * boxWidth >
                   static_cast<double>(width) * boxHeight) {
            width = static_cast<int>(0.5 + static_cast<double>(width) * boxHeight / height);
            height = boxHeight;
        } else {
            height = static_cast<int>(0.5 + static_cast<double>(height) * boxWidth / width);
            width = boxWidth;
        }
    }
    return {std::max(width, 1), std::max(height, 1)};
}

// Tells the batch the sizes and waits until it has admitted their memory;
// returns where it wants the rows.
std::uint8_t ReportSizeAndWait(ImageSize decoded, ImageSize fitted) {
    Report report;
    report.kind = ReportKind::kSize;
    report.width = decoded.width;
    report.height = decoded.height;
    report.fittedWidth = fitted.width;
    report.fittedHeight = fitted.height;
    std::uint8_t go = kGoStream;
    if (!Send(&report, sizeof report) || !ReadFully(kChannelFd, &go, sizeof go)) {
        _exit(kExitFailed);  // the batch has let go of this picture
    }
    return go;
}

// What the file itself says beyond what its loader reports: the orientation
// (gdk-pixbuf tells a TIFF's only once the size is chosen, and ignores a
// PNG's eXIf), whether the source can have an alpha channel (the TIFF
// loader always gives one, the JPEG loader one for CMYK), and a PNG that
// stops before its end chunk (its loader says nothing of that).
struct PictureFacts {
    unsigned orientation = 0;
    bool mayHaveAlpha = true;
    Damage damage = Damage::kNone;
};

// Walks a PNG's chunks by their lengths: complete when IEND is whole.
bool PngEndsEarly(std::int64_t size) {
    constexpr std::int64_t kSignatureBytes = 8;
    constexpr std::int64_t kChunkOverheadBytes = 12;  // length, type and CRC
    for (std::int64_t offset = kSignatureBytes; offset + kChunkOverheadBytes <= size;) {
        std::array<std::uint8_t, 8> head{};
        if (!ReadAt(kInputFd, head.data(), head.size(), offset)) {
            return true;
        }
        const std::int64_t length =
            (std::int64_t{head[0]} << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
        if (std::memcmp(head.data() + 4, "IEND", 4) == 0) {
            return false;
        }
        offset += kChunkOverheadBytes + length;
    }
    return true;
}

TiffDirectory ReadTiffFile(const std::vector<std::uint8_t>& head) {
    constexpr std::size_t kMaxEntries = 4096;
    constexpr std::size_t kEntryBytes = 12;
    const std::optional<TiffHeader> header = ReadTiffHeader(head.data(), head.size());
    std::array<std::uint8_t, 2> count{};
    if (!header || !ReadAt(kInputFd, count.data(), count.size(), header->firstDirectory)) {
        return {};
    }
    const std::size_t entries =
        header->littleEndian ? (count[0] | (count[1] << 8)) : ((count[0] << 8) | count[1]);
    std::vector<std::uint8_t> directory(2 + std::min(entries, kMaxEntries) * kEntryBytes);
    if (!ReadAt(kInputFd, directory.data(), directory.size(), header->firstDirectory)) {
        return {};
    }
    return ReadTiffDirectory(directory.data(), directory.size(), header->littleEndian);
}

PictureFacts ReadPictureFacts(const std::vector<std::uint8_t>& head, std::int64_t size) {
    constexpr std::array<std::uint8_t, 4> kPng = {0x89, 'P', 'N', 'G'};
    PictureFacts facts;
    if (HasJpegSignature(head.data(), head.size())) {
        facts.orientation = ReadExifOrientation(head.data(), head.size());
        facts.mayHaveAlpha = false;
    } else if (head.size() >= kPng.size() && std::equal(kPng.begin(), kPng.end(), head.begin())) {
        facts.orientation = ReadPngOrientation(head.data(), head.size());
        facts.damage = PngEndsEarly(size) ? Damage::kEndsEarly : Damage::kNone;
    } else if (ReadTiffHeader(head.data(), head.size())) {
        const TiffDirectory tiff = ReadTiffFile(head);
        facts.orientation = tiff.orientation;
        facts.mayHaveAlpha = tiff.extraSamples;
    }
    return facts;
}

// The picture as RGB, for a source without alpha that its loader gave one.
GdkPixbuf* WithoutAlpha(GdkPixbuf* picture) {
    if (!gdk_pixbuf_get_has_alpha(picture)) {
        return picture;
    }
    const int width = gdk_pixbuf_get_width(picture);
    const int height = gdk_pixbuf_get_height(picture);
    GdkPixbuf* rgb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, kBitsPerSample, width, height);
    if (rgb != nullptr) {
        const guint8* from = gdk_pixbuf_read_pixels(picture);
        guint8* to = gdk_pixbuf_get_pixels(rgb);
        const int fromStride = gdk_pixbuf_get_rowstride(picture);
        const int toStride = gdk_pixbuf_get_rowstride(rgb);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::memcpy(to + y * toStride + x * kRgbChannels,
                            from + y * fromStride + x * kRgbaChannels, kRgbChannels);
            }
        }
    }
    g_object_unref(picture);
    return rgb;
}

// What the decoder learns of a picture before and while its loader reads it.
struct LoadContext {
    const Request* request = nullptr;
    std::int64_t fileBytes = 0;
    bool isJpeg = false;
    PictureFacts facts;
    bool sized = false;
    std::uint8_t go = kGoStream;  // where the batch wants the rows
    int rowsDone = 0;             // rows the loader has filled in, from the top
    Damage damage = Damage::kNone;
};

void OnAreaUpdated(GdkPixbufLoader*, int, int y, int, int height, gpointer data) {
    auto* context = static_cast<LoadContext*>(data);
    context->rowsDone = std::max(context->rowsDone, y + height);
}

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* context = static_cast<LoadContext*>(data);
    if (context->sized) {
        return;  // an animation's later frames
    }
    context->sized = true;
    if (width < 1 || height < 1) {
        FailAndExit(Failure::kNotAnImage);
    }
    if (ExceedsPixelCap(width, height) ||
        (context->isJpeg && IsJpegBomb(width, height, context->fileBytes))) {
        FailAndExit(Failure::kTooLarge);
    }
    int maxWidth = context->request->maxWidth;
    int maxHeight = context->request->maxHeight;
    if (context->facts.orientation >= 5 && context->facts.orientation <= 8) {
        std::swap(maxWidth, maxHeight);  // the box is for the picture as displayed
    }
    const ImageSize fitted =
        LoaderFit(width, height, ClampLimit(maxWidth, width), ClampLimit(maxHeight, height));

    context->go = ReportSizeAndWait({width, height}, fitted);
    // Room for the picture at both sizes and its copy, no more: a small file
    // that makes its library allocate far beyond its declared size fails.
    const std::int64_t pictureBytes =
        kRgbaChannels *
        (std::int64_t{width} * height + 2 * std::int64_t{fitted.width} * fitted.height);
    if (!LimitAddressSpace(
            std::min(pictureBytes + kLibrarySlackBytes, context->request->memoryBytes))) {
        _exit(kExitLimits);
    }
    gdk_pixbuf_loader_set_size(loader, fitted.width, fitted.height);
}

// The rows a damaged picture's loader never reached, cleared, so that what
// the damaged file gives is the same on every run.
void ClearRowsNotDone(GdkPixbuf* picture, int rowsDone) {
    const int height = gdk_pixbuf_get_height(picture);
    if (rowsDone >= height) {
        return;
    }
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(picture));
    guint8* pixels = gdk_pixbuf_get_pixels(picture);
    const int first = std::max(rowsDone, 0);
    std::memset(pixels + static_cast<std::size_t>(first) * stride, 0,
                static_cast<std::size_t>(height - first) * stride);
}

// Feeds the file to the loader the way gdk-pixbuf's own file loading does,
// ending at the first complete frame of an animation. A loader that fails
// after it has a picture leaves a damaged one; a failure of a loader that
// needs a temporary file, where there is no folder for one, says so.
GdkPixbuf* LoadPicture(GdkPixbufLoader* loader, LoadContext& context) {
    std::vector<std::uint8_t> chunk(kFeedBytes);
    bool haveFrame = false;
    GError* error = nullptr;
    for (std::int64_t offset = 0; offset < context.fileBytes && !haveFrame;) {
        const auto length = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(chunk.size()), context.fileBytes - offset));
        if (!ReadAt(kInputFd, chunk.data(), length, offset) ||
            !gdk_pixbuf_loader_write(loader, chunk.data(), length, &error)) {
            const bool needsFolder = !context.request->haveTempFolder && error != nullptr &&
                                     error->domain == G_FILE_ERROR;
            g_clear_error(&error);
            if (needsFolder) {
                FailAndExit(Failure::kNeedsTempFolder);
            }
            context.damage = Damage::kCorrupt;
            break;
        }
        offset += static_cast<std::int64_t>(length);
        if (GdkPixbufAnimation* animation = gdk_pixbuf_loader_get_animation(loader)) {
            GdkPixbufAnimationIter* iter = gdk_pixbuf_animation_get_iter(animation, nullptr);
            haveFrame = !gdk_pixbuf_animation_iter_on_currently_loading_frame(iter);
            g_object_unref(iter);
        }
    }
    if (!gdk_pixbuf_loader_close(loader, nullptr) && !haveFrame &&
        context.damage == Damage::kNone) {
        context.damage = Damage::kEndsEarly;
    }
    GdkPixbuf* picture = gdk_pixbuf_loader_get_pixbuf(loader);
    if (picture == nullptr || !context.sized) {
        return nullptr;
    }
    if (context.damage != Damage::kNone) {
        ClearRowsNotDone(picture, context.rowsDone);
    }
    return GDK_PIXBUF(g_object_ref(picture));
}

// Turns the picture upright (the PNG it becomes cannot say how to show it)
// by the orientation its loader found or, where the loader reads none (a
// PNG's eXIf), the one found in the file, and fits it into the box again if
// the turn made it stick out.
GdkPixbuf* Upright(GdkPixbuf* picture, const Request& request, unsigned orientation) {
    if (orientation >= 2 && orientation <= 8 &&
        gdk_pixbuf_get_option(picture, "orientation") == nullptr) {
        gdk_pixbuf_set_option(picture, "orientation", std::to_string(orientation).c_str());
    }
    GdkPixbuf* upright = gdk_pixbuf_apply_embedded_orientation(picture);
    g_object_unref(picture);
    if (upright == nullptr) {
        return nullptr;
    }
    const int width = gdk_pixbuf_get_width(upright);
    const int height = gdk_pixbuf_get_height(upright);
    const bool sticksOut = (request.maxWidth > 0 && width > request.maxWidth) ||
                           (request.maxHeight > 0 && height > request.maxHeight);
    if (!sticksOut) {
        return upright;
    }
    const ImageSize fitted = FitIntoBox(width, height, request.maxWidth, request.maxHeight);
    GdkPixbuf* refitted =
        gdk_pixbuf_scale_simple(upright, fitted.width, fitted.height, GDK_INTERP_BILINEAR);
    g_object_unref(upright);
    return refitted;
}

// Copies the rows into the batch's shared memory, padded to RowBytes.
bool WriteShared(const GdkPixbuf* picture, std::size_t rowBytes, std::size_t used) {
    struct stat info {};
    const auto height = static_cast<std::size_t>(gdk_pixbuf_get_height(picture));
    if (fstat(kPixelsFd, &info) != 0 ||
        static_cast<std::size_t>(info.st_size) < rowBytes * height) {
        return false;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    void* shared =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, kPixelsFd, 0);
    if (shared == MAP_FAILED) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(shared);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(picture));
    const guint8* pixels = gdk_pixbuf_read_pixels(picture);
    for (std::size_t y = 0; y < height; ++y) {
        std::memcpy(out + y * rowBytes, pixels + y * stride, used);
    }
    munmap(shared, length);
    return true;
}

// Rows through the socket in large pieces: a send per row would wake the
// batch thousands of times for one picture.
bool StreamRows(const GdkPixbuf* picture, std::size_t rowBytes, std::size_t used) {
    const int height = gdk_pixbuf_get_height(picture);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(picture));
    const guint8* pixels = gdk_pixbuf_read_pixels(picture);
    const std::size_t rowsPerSend = std::max<std::size_t>(1, kSendBytes / rowBytes);
    std::vector<std::uint8_t> chunk(rowsPerSend * rowBytes, 0);
    for (int y = 0; y < height;) {
        const int rows = static_cast<int>(std::min<std::size_t>(rowsPerSend, height - y));
        for (int r = 0; r < rows; ++r) {
            std::memcpy(chunk.data() + static_cast<std::size_t>(r) * rowBytes,
                        pixels + static_cast<std::size_t>(y + r) * stride, used);
        }
        if (!Send(chunk.data(), static_cast<std::size_t>(rows) * rowBytes)) {
            return false;
        }
        y += rows;
    }
    return true;
}

bool SendPicture(const GdkPixbuf* picture, std::uint8_t go, unsigned orientation, Damage damage) {
    const int width = gdk_pixbuf_get_width(picture);
    const bool alpha = gdk_pixbuf_get_has_alpha(picture) != FALSE;
    Report report;
    report.kind = ReportKind::kImage;
    report.orientation = static_cast<std::int32_t>(orientation);
    report.damage = static_cast<std::uint32_t>(damage);
    report.width = width;
    report.height = gdk_pixbuf_get_height(picture);
    report.hasAlpha = alpha ? 1 : 0;
    const auto rowBytes = static_cast<std::size_t>(RowBytes(width, alpha));
    const std::size_t used =
        static_cast<std::size_t>(width) * (alpha ? kRgbaChannels : kRgbChannels);
    if (go == kGoShared) {
        // The pixels first: the report tells the batch they are complete.
        return WriteShared(picture, rowBytes, used) && Send(&report, sizeof report);
    }
    return Send(&report, sizeof report) && StreamRows(picture, rowBytes, used);
}

// What every decoder process does about the messages of the format
// libraries.
void SilenceLibraries() {
    g_log_set_default_handler(OnLogMessage, nullptr);
    g_log_set_writer_func(OnStructuredLog, nullptr, nullptr);
    g_set_print_handler(OnPrint);
    g_set_printerr_handler(OnPrint);
}

// The JPEG loader of the batch, for a JPEG too costly for the batch's own
// process: the same pixels and the same fit, the orientation left to the
// JPEG it becomes.
int DecodeJpegHere(const Request& request, std::int64_t size) {
    JpegDecoder jpeg;
    JpegPlan plan;
    if (PlanJpegLoad(jpeg, kInputFd, size, request.maxWidth, request.maxHeight, plan) !=
        JpegLoad::kDecoded) {
        FailAndExit(Failure::kNotAnImage);
    }
    const std::uint8_t go = ReportSizeAndWait(plan.decoded, plan.target);
    // The progressive coefficients of the whole stored picture (two bytes a
    // sample, three samples a pixel at most), the file, the decoded and
    // resized pixels.
    const std::int64_t bytes =
        6 * std::int64_t{plan.stored.width} * plan.stored.height + size +
        ConversionBytes(std::int64_t{plan.decoded.width} * plan.decoded.height,
                        std::int64_t{plan.target.width} * plan.target.height, kRgbChannels);
    if (!LimitAddressSpace(std::min(bytes + kLibrarySlackBytes, request.memoryBytes))) {
        _exit(kExitLimits);
    }
    JpegLoad status = JpegLoad::kUndecodable;
    const PixbufPtr picture = DecodeJpegPlan(jpeg, plan, status, nullptr);
    if (!picture) {
        FailAndExit(
            status == JpegLoad::kOutOfMemory ? Failure::kOutOfMemory : Failure::kNotForTurboJpeg,
            status == JpegLoad::kDamaged ? jpeg.LastDamage() : Damage::kNone);
    }
    return SendPicture(picture.get(), go, plan.orientation, Damage::kNone) ? kExitOk : kExitFailed;
}

GdkPixbufLoader* LoaderFor(const std::vector<std::uint8_t>& head, const Request& request) {
    GdkPixbufFormat* format =
        FindFormat(head.data(), std::min(head.size(), kSniffBytes), request.nameHint);
    if (format == nullptr) {
        return nullptr;
    }
    gchar* formatName = gdk_pixbuf_format_get_name(format);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(formatName, nullptr);
    g_free(formatName);
    return loader;
}

}  // namespace

int DecodePicture(const Request& request) {
    struct stat info {};
    if (fstat(kInputFd, &info) != 0 || !S_ISREG(info.st_mode)) {
        FailAndExit(Failure::kNotAnImage);
    }
    const std::int64_t size = info.st_size;
    if (request.decodeWith == DecodeWith::kTurboJpeg) {
        return DecodeJpegHere(request, size);
    }
    std::vector<std::uint8_t> head(static_cast<std::size_t>(
        std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(kExifHeadBytes))));
    if (!ReadAt(kInputFd, head.data(), head.size(), 0)) {
        FailAndExit(Failure::kNotAnImage);
    }
    LoadContext context;
    context.request = &request;
    context.fileBytes = size;
    context.isJpeg = HasJpegSignature(head.data(), head.size());
    if (context.isJpeg && HasTooManyScans(size)) {
        FailAndExit(Failure::kNotAnImage);
    }
    context.facts = ReadPictureFacts(head, size);
    GdkPixbufLoader* loader = LoaderFor(head, request);
    if (loader == nullptr) {
        FailAndExit(Failure::kNotAnImage);
    }
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &context);
    g_signal_connect(loader, "area-updated", G_CALLBACK(OnAreaUpdated), &context);
    GdkPixbuf* picture = LoadPicture(loader, context);
    g_object_unref(loader);
    if (picture == nullptr || !IsRgb8(picture)) {
        FailAndExit(Failure::kNotAnImage);
    }
    picture = Upright(picture, request, context.facts.orientation);
    if (picture != nullptr && !context.facts.mayHaveAlpha) {
        picture = WithoutAlpha(picture);
    }
    if (picture == nullptr || !IsRgb8(picture)) {
        FailAndExit(Failure::kOutOfMemory);
    }
    const Damage damage = context.damage != Damage::kNone ? context.damage : context.facts.damage;
    const bool sent = SendPicture(picture, context.go, 0, damage);
    g_object_unref(picture);
    return sent ? kExitOk : kExitFailed;
}

namespace {

// The server's start-up: what every picture would otherwise load again,
// and what a confined decoder could not load at all: every loader module
// with the libraries behind it, and the MIME database.
void Preload() {
    GSList* formats = gdk_pixbuf_get_formats();
    for (GSList* f = formats; f != nullptr; f = f->next) {
        auto* format = static_cast<GdkPixbufFormat*>(f->data);
        gchar* name = gdk_pixbuf_format_get_name(format);
        if (GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(name, nullptr)) {
            gdk_pixbuf_loader_close(loader, nullptr);  // no data: an error, ignored
            g_object_unref(loader);
        }
        g_free(name);
    }
    g_slist_free(formats);
    constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P',  'N',  'G',
                                                           0x0D, 0x0A, 0x1A, 0x0A};
    FindFormat(kPngSignature.data(), kPngSignature.size(), {});
}

// Moves the three received descriptors to kInputFd, kChannelFd and
// kPixelsFd and closes every other one but the standard three.
bool TakeDescriptors(const std::array<int, kServeDescriptors>& received) {
    std::array<int, kServeDescriptors> high{};
    for (std::size_t i = 0; i < received.size(); ++i) {
        high[i] = fcntl(received[i], F_DUPFD, kFirstHighFd);
        if (high[i] < 0) {
            return false;
        }
    }
    const std::array<int, kServeDescriptors> targets = {kInputFd, kChannelFd, kPixelsFd};
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (dup2(high[i], targets[i]) < 0) {
            return false;
        }
    }
    return close_range(kPixelsFd + 1, ~0U, 0) == 0;
}

bool ReceiveRequest(ServeRequest& request, std::array<int, kServeDescriptors>& fds, bool& ended) {
    std::size_t received = 0;
    const ssize_t n = ReceiveWithDescriptors(kServerFd, &request, sizeof request, fds.data(),
                                             fds.size(), received);
    ended = n == 0 || (n < 0 && errno != EINTR);
    if (n != static_cast<ssize_t>(sizeof request) || received != fds.size()) {
        for (std::size_t i = 0; i < received; ++i) {
            close(fds[i]);  // a request cut short: its descriptors are of no use
        }
        return false;
    }
    request.tempFolder[sizeof request.tempFolder - 1] = '\0';
    request.nameHint[sizeof request.nameHint - 1] = '\0';
    return true;
}

[[noreturn]] void RunForked(const ServeRequest& serve,
                            const std::array<int, kServeDescriptors>& fds, const Decoder& decoder,
                            pid_t server) {
    Request request;
    request.haveTempFolder = serve.tempFolder[0] != '\0';
    // Without a folder of its own the decoder may write nowhere.
    const int tempSet =
        request.haveTempFolder ? setenv("TMPDIR", serve.tempFolder, 1) : unsetenv("TMPDIR");
    if (!TakeDescriptors(fds) || tempSet != 0) {
        _exit(kExitLimits);
    }
    request.decodeWith = serve.decodeWith;
    request.maxWidth = serve.maxWidth;
    request.maxHeight = serve.maxHeight;
    request.nameHint = serve.nameHint;
    request.memoryBytes = serve.memoryBytes;
    request.cpuSeconds = serve.cpuSeconds;
    request.tempFileBytes = serve.tempFileBytes;
    // The server's own pid, not getppid(): a server killed right after the
    // fork must not leave its decoder running for whoever adopted it.
    request.parentPid = server;
    if (decoder.beforeConfinement != nullptr) {
        decoder.beforeConfinement();
    }
    if (!EnterDecoderLimits(request)) {
        _exit(kExitLimits);
    }
    _exit(decoder.decode(request));
}

// The decoder's pid, and a pidfd for it (a child not yet waited for, so the
// pid is its own) through which the batch can kill it and see it end.
bool SendStarted(pid_t pid) {
    ServeStarted started;
    started.pid = pid;
    const ScopedFd pidfd(pid > 0 ? OpenPidfd(pid) : -1);
    const int fd = pidfd.Get();
    return SendWithDescriptors(kServerFd, &started, sizeof started, &fd, pidfd.Valid() ? 1 : 0);
}

// Forks the decoder for one request and reports its start and its end.
void ServeOne(const ServeRequest& request, const std::array<int, kServeDescriptors>& fds,
              const Decoder& decoder) {
    const pid_t server = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(kServerFd);
        RunForked(request, fds, decoder, server);
    }
    for (const int fd : fds) {
        close(fd);
    }
    if (!SendStarted(pid) || pid < 0) {
        if (pid > 0) {
            kill(pid, SIGKILL);  // not yet waited for: still ours
            waitpid(pid, nullptr, 0);
        }
        return;
    }
    ServeEnded ending;
    ending.pid = pid;
    rusage usage{};
    while (wait4(pid, &ending.status, 0, &usage) < 0 && errno == EINTR) {
    }
    ending.cpuMicros = CpuMicros(usage);
    send(kServerFd, &ending, sizeof ending, MSG_NOSIGNAL);
}

int Serve(std::int64_t parentPid, const Decoder& decoder) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parentPid ||
        !SetLimit(RLIMIT_CORE, 0, 0)) {
        return kExitUsage;
    }
    SilenceLibraries();
    Preload();
    PrepareConfinement();
    const ServeHello hello;
    if (send(kServerFd, &hello, sizeof hello, MSG_NOSIGNAL) != sizeof hello) {
        return kExitUsage;
    }
    for (;;) {
        ServeRequest request;
        std::array<int, kServeDescriptors> fds{};
        bool ended = false;
        if (ReceiveRequest(request, fds, ended)) {
            ServeOne(request, fds, decoder);
        } else if (ended) {
            return kExitOk;  // the batch has closed its end
        }
    }
}

}  // namespace

bool EnterDecoderLimits(const Request& request) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != request.parentPid) {
        return false;  // the server is already gone
    }
    // A crash dumps no core into the user's folder or the system's.
    if (!SetLimit(RLIMIT_CORE, 0, 0)) {
        return false;
    }
    OwnStatusFd() = ::open(kOwnStatusFile, O_RDONLY | O_CLOEXEC);
    if (request.cpuSeconds > 0 &&
        !SetLimit(RLIMIT_CPU, static_cast<rlim_t>(request.cpuSeconds),
                  static_cast<rlim_t>(request.cpuSeconds) + kCpuGraceSeconds)) {
        return false;
    }
    if (request.tempFileBytes > 0 &&
        !SetLimit(RLIMIT_FSIZE, static_cast<rlim_t>(request.tempFileBytes),
                  static_cast<rlim_t>(request.tempFileBytes))) {
        return false;
    }
    if (!LimitAddressSpace(request.memoryBytes)) {
        return false;
    }
    // When memory runs out the kernel takes this process, not the window.
    if (std::FILE* score = std::fopen(kOomScoreFile, "w")) {
        std::fputs(kOomScoreMax, score);
        std::fclose(score);
    }
    // No process of the user may look into this one; its own /proc entries
    // become the kernel's, so this comes after the last of them is opened.
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           RestrictFileSystem(request.haveTempFolder ? std::getenv("TMPDIR") : nullptr) &&
           FilterSystemCalls();
}

int RunDecoder(int argc, char** argv, const Decoder& decoder) {
    // Whatever the starter ignored: past its file-size limit a decoder must
    // die of SIGXFSZ, and a batch that has gone must not leave it writing.
    std::signal(SIGXFSZ, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    std::int64_t parent = 0;
    std::uint32_t version = 0;
    if (argc != 4 || std::strcmp(argv[1], kServeOption) != 0 || !ParseNumber(argv[2], parent) ||
        !ParseNumber(argv[3], version) || version != kProtocolVersion) {
        return kExitUsage;
    }
    return Serve(parent, decoder);
}

bool IsDecoderMode(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], kSelfOption) == 0;
}

int RunDecoderMode(int argc, char** argv) {
    return RunDecoder(argc - 1, argv + 1, Decoder{DecodePicture, nullptr});
}

}  // namespace corvanta::decoder
