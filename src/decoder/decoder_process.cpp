#include "decoder/decoder_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "decoder/decoder_channel.h"

namespace corvanta {
namespace {

using Clock = SteadyClock;
using channel::ReadWithin;
using channel::Wait;
using decoder::Failure;
using decoder::Report;
using decoder::ReportKind;

constexpr const char* kTempPrefix = "corvanta-decode.";
constexpr const char* kFallbackTempBase = "/tmp";
constexpr std::int64_t kTempSlackBytes = std::int64_t{16} << 20;
constexpr std::int64_t kMaxTempBytes = std::int64_t{256} << 20;
// How long a decoder that has closed its end may take to exit before it is
// killed (a sanitizer's crash report takes a moment).
constexpr std::chrono::seconds kExitGrace{10};

// ---- the decoder's temporary folder ----------------------------------------

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
    ::remove(path);
    return 0;
}

void RemoveTree(const std::string& folder) {
    // Depth first, without following links: nothing outside the folder goes.
    ::nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

// A run that was killed cannot clean up after its decoders; the next run
// does, for folders of ours whose process is gone.
void RemoveStaleTempFolders(const std::string& base) {
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::size_t prefixLength = std::strlen(kTempPrefix);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kTempPrefix, prefixLength) != 0) {
            continue;
        }
        const std::string path = base + "/" + entry->d_name;
        const long pid = std::strtol(entry->d_name + prefixLength, nullptr, 10);
        struct stat info {};
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH &&
            ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            RemoveTree(path);
        }
    }
    ::closedir(dir);
}

// Where temporary folders may go: TMPDIR when it is an absolute path, and
// /tmp behind it for a TMPDIR that is missing, a file, read-only or full.
std::vector<std::string> TempBases() {
    std::vector<std::string> bases;
    const char* configured = std::getenv("TMPDIR");
    if (configured != nullptr && configured[0] == '/') {
        bases.emplace_back(configured);
    }
    if (bases.empty() || bases.front() != kFallbackTempBase) {
        bases.emplace_back(kFallbackTempBase);
    }
    return bases;
}

// A folder of the decoder's own, or none when no base takes one: most
// formats need no temporary file, and the one that does says so.
class TempFolder {
  public:
    TempFolder() {
        static std::once_flag swept;
        const std::vector<std::string> bases = TempBases();
        std::call_once(swept, [&bases] {
            for (const std::string& base : bases) {
                RemoveStaleTempFolders(base);
            }
        });
        for (const std::string& base : bases) {
            std::string pattern = base + "/" + kTempPrefix + std::to_string(::getpid()) + ".XXXXXX";
            if (pattern.size() < decoder::kMaxTempFolderBytes &&
                ::mkdtemp(pattern.data()) != nullptr) {
                path_ = std::move(pattern);
                return;
            }
        }
    }
    ~TempFolder() {
        if (!path_.empty()) {
            RemoveTree(path_);
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// ---- one picture ------------------------------------------------------------------

DecodeProblem ProblemFor(Failure failure) {
    switch (failure) {
        case Failure::kTooLarge:
            return DecodeProblem::kTooLarge;
        case Failure::kOutOfMemory:
            return DecodeProblem::kOutOfMemory;
        case Failure::kNeedsTempFolder:
            return DecodeProblem::kNeedsTempFolder;
        case Failure::kNotForTurboJpeg:
            return DecodeProblem::kUndecodable;
        case Failure::kNotAnImage:
            break;
    }
    return DecodeProblem::kNotAnImage;
}

// The kernel's count of processes its out-of-memory killer has taken; -1
// when it cannot be read.
std::int64_t OomKills() {
    std::ifstream in("/proc/vmstat");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("oom_kill ", 0) == 0) {
            return std::strtoll(line.c_str() + sizeof "oom_kill", nullptr, 10);
        }
    }
    return -1;
}

// Why a decoder that sent no failure report ended without a picture.
DecodeProblem ProblemForEnding(const ServedEnding& served, int cpuSeconds,
                               std::int64_t oomKillsBefore) {
    constexpr std::int64_t kMicrosPerSecond = 1000000;
    const ProcessEnding& ending = served.ending;
    if (served.killedHere) {
        return DecodeProblem::kTookTooLong;
    }
    if (served.unresponsive) {
        return DecodeProblem::kStoppedResponding;
    }
    if (served.serverLost || !ending.reaped) {
        return DecodeProblem::kDecoderKilled;
    }
    if (WIFEXITED(ending.status)) {
        const int code = WEXITSTATUS(ending.status);
        return code == decoder::kExitUsage || code == decoder::kExitLimits
                   ? DecodeProblem::kNoDecoder
                   : DecodeProblem::kUndecodable;
    }
    switch (WIFSIGNALED(ending.status) ? WTERMSIG(ending.status) : 0) {
        case SIGXCPU:
            return DecodeProblem::kTookTooLong;
        case SIGXFSZ:
            return DecodeProblem::kTooLarge;
        case SIGSYS:
            return DecodeProblem::kForbiddenCall;
        case SIGKILL:
            // The kernel's second step after SIGXCPU, its out-of-memory
            // killer, or someone else.
            if (cpuSeconds > 0 && ending.cpuMicros >= cpuSeconds * kMicrosPerSecond) {
                return DecodeProblem::kTookTooLong;
            }
            return oomKillsBefore >= 0 && OomKills() > oomKillsBefore
                       ? DecodeProblem::kOutOfMemory
                       : DecodeProblem::kDecoderKilled;
        case SIGTERM:
        case SIGINT:
        case SIGHUP:
        case SIGQUIT:
            return DecodeProblem::kDecoderKilled;
        default:
            return DecodeProblem::kUndecodable;
    }
}

bool PlausibleSize(const Report& report) {
    return report.width > 0 && report.height > 0 && report.fittedWidth > 0 &&
           report.fittedHeight > 0 && report.fittedWidth <= report.width &&
           report.fittedHeight <= report.height && !ExceedsPixelCap(report.width, report.height);
}

// A picture may come out turned by a quarter, never larger than admitted.
bool PlausibleImage(const Report& image, const Report& size) {
    const int longest = std::max(size.fittedWidth, size.fittedHeight);
    return image.width > 0 && image.height > 0 && image.width <= longest &&
           image.height <= longest &&
           std::int64_t{image.width} * image.height <=
               std::int64_t{size.fittedWidth} * size.fittedHeight &&
           image.orientation >= 0 && image.orientation <= 8;
}

// The shared memory's size for a fitted picture: RGBA rows either way round.
std::int64_t SharedBytes(const Report& size) {
    return std::max(decoder::RowBytes(size.fittedWidth, true) * size.fittedHeight,
                    decoder::RowBytes(size.fittedHeight, true) * size.fittedWidth);
}

void UnmapShared(guchar* pixels, gpointer length) {
    ::munmap(pixels, GPOINTER_TO_SIZE(length));
}

// The decoded rows in the shared memory, as a picture of their own: the
// mapping is the pixel buffer, no copy. Nothing seals the memory; nothing
// else can touch it by the time it is read: the decoder has ended, and the
// server that passed it on closed its copy at the fork.
PixbufPtr MapShared(int pixels, const Report& image) {
    const bool alpha = image.hasAlpha != 0;
    const std::int64_t rowBytes = decoder::RowBytes(image.width, alpha);
    struct stat info {};
    if (::fstat(pixels, &info) != 0 || info.st_size < rowBytes * image.height) {
        return nullptr;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    // Populated at once: every pixel is read and mapped next, and one call
    // maps the pages far faster than a fault for each.
    void* mapped =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, pixels, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    PixbufPtr picture(gdk_pixbuf_new_from_data(
        static_cast<guchar*>(mapped), GDK_COLORSPACE_RGB, alpha, 8, image.width, image.height,
        static_cast<int>(rowBytes), UnmapShared, GSIZE_TO_POINTER(length)));
    if (!picture) {
        ::munmap(mapped, length);
    }
    return picture;
}

struct Session {
    Wait wait = Wait::kDone;
    bool failureReported = false;
    Failure failure = Failure::kNotAnImage;
    Damage failureDamage = Damage::kNone;  // kNotForTurboJpeg: what TurboJPEG saw
    bool outOfMemoryHere = false;
    bool imageReported = false;  // kImage arrived (and with a stream, its rows)
    bool shared = false;         // the rows are in the shared memory
    Report image;
    PixbufPtr streamed;  // the rows read from the socket
    Clock::time_point deadline;
};

// Reads one report; a failure report ends the session.
bool ReadReport(int channel, Report& report, ReportKind expected, Session& session,
                const std::atomic<bool>* stop) {
    session.wait = ReadWithin(channel, &report, sizeof report, session.deadline, stop);
    if (session.wait != Wait::kDone) {
        return false;
    }
    if (report.magic == decoder::kReportMagic && report.kind == ReportKind::kFailure) {
        session.failureReported = true;
        session.failure = report.failure;
        session.failureDamage = static_cast<Damage>(report.damage);
        return false;
    }
    if (report.magic != decoder::kReportMagic || report.kind != expected) {
        session.wait = Wait::kClosed;
        return false;
    }
    return true;
}

// The memory only grows: a job keeps it from one picture to the next, so
// its pages are not allocated and zeroed again for every picture. A
// file-size limit on this process applies to it too, and /dev/null stands
// in where there is no shared memory: then the rows come through the socket.
bool SizeShared(int pixels, const Report& size) {
    struct stat info {};
    const auto needed = static_cast<off_t>(SharedBytes(size));
    return ::fstat(pixels, &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_size >= needed || ::ftruncate(pixels, needed) == 0);
}

void ReadStreamedRows(int channel, Session& session, const std::atomic<bool>* stop) {
    const Report& image = session.image;
    const bool alpha = image.hasAlpha != 0;
    PixbufPtr picture(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, image.width, image.height));
    if (picture == nullptr ||
        gdk_pixbuf_get_rowstride(picture.get()) != decoder::RowBytes(image.width, alpha)) {
        session.outOfMemoryHere = true;
        return;
    }
    const auto bytes = static_cast<std::size_t>(decoder::RowBytes(image.width, alpha)) *
                       static_cast<std::size_t>(image.height);
    session.wait =
        ReadWithin(channel, gdk_pixbuf_get_pixels(picture.get()), bytes, session.deadline, stop);
    if (session.wait == Wait::kDone) {
        session.imageReported = true;
        session.streamed = std::move(picture);
    }
}

// The conversation after the start: the size, the admission, the picture.
Session Converse(int channel, int pixels, const DecoderSettings& settings,
                 const std::atomic<bool>* stop, SizeGate* gate) {
    Session session;
    Report size;
    // Until the size arrives the decoder only starts up and looks at the file.
    session.deadline = Clock::now() + settings.deadline;
    if (!ReadReport(channel, size, ReportKind::kSize, session, stop)) {
        return session;
    }
    if (!PlausibleSize(size)) {
        session.wait = Wait::kClosed;
        return session;
    }
    if (gate != nullptr &&
        !gate->Admit({size.width, size.height}, {size.fittedWidth, size.fittedHeight})) {
        session.wait = Wait::kStopped;
        return session;
    }
    session.shared = SizeShared(pixels, size);
    const std::uint8_t go = session.shared ? decoder::kGoShared : decoder::kGoStream;
    if (::send(channel, &go, sizeof go, MSG_NOSIGNAL) != sizeof go) {
        session.wait = Wait::kClosed;
        return session;
    }
    session.deadline = Clock::now() + settings.deadline;
    if (!ReadReport(channel, session.image, ReportKind::kImage, session, stop)) {
        return session;
    }
    if (!PlausibleImage(session.image, size)) {
        session.wait = Wait::kClosed;
    } else if (session.shared) {
        session.imageReported = true;
    } else {
        ReadStreamedRows(channel, session, stop);
    }
    return session;
}

decoder::ServeRequest MakeServeRequest(const PictureToDecode& picture,
                                       const DecoderSettings& settings,
                                       const std::string& tempFolder) {
    decoder::ServeRequest serve;
    serve.decodeWith = picture.decodeWith;
    serve.maxWidth = picture.maxWidth;
    serve.maxHeight = picture.maxHeight;
    serve.memoryBytes = settings.memoryBytes;
    serve.cpuSeconds = settings.cpuSeconds;
    // Some loaders copy the file into a temporary one first: as much as the
    // file, and no more than that.
    serve.tempFileBytes = std::min(picture.size + kTempSlackBytes, kMaxTempBytes);
    tempFolder.copy(serve.tempFolder, sizeof serve.tempFolder - 1);
    picture.nameHint.substr(0, sizeof serve.nameHint - 1)
        .copy(serve.nameHint, sizeof serve.nameHint - 1);
    return serve;
}

// What the decoder's picture, report or ending says about the file.
DecodedPicture Outcome(Session& session, const ServedEnding& served, int pixels,
                       const DecoderSettings& settings, std::int64_t oomKillsBefore) {
    DecodedPicture result;
    if (session.imageReported) {
        // The decoder has ended (its pidfd said so), so the rows are final.
        result.image =
            session.shared ? MapShared(pixels, session.image) : std::move(session.streamed);
        result.orientation = static_cast<std::uint8_t>(session.image.orientation);
        result.damage = static_cast<Damage>(session.image.damage);
        if (!result.image) {
            result.problem = DecodeProblem::kOutOfMemory;
        }
    } else if (session.wait == Wait::kStopped || served.stopped) {
        result.stopped = true;
    } else if (session.failureReported) {
        result.problem = ProblemFor(session.failure);
    } else if (session.outOfMemoryHere) {
        result.problem = DecodeProblem::kOutOfMemory;
    } else if (session.wait == Wait::kTimedOut) {
        result.problem = DecodeProblem::kTookTooLong;
    } else {
        result.problem = ProblemForEnding(served, settings.cpuSeconds, oomKillsBefore);
    }
    return result;
}

// Starts a decoder on a channel of its own; a server replaced on the way
// gets one more try, on a new channel, so that nothing a decoder of the old
// server wrote is read as this one's. channel is the batch's end. False,
// with result saying why, when no decoder started.
bool StartDecoder(int input, int pixels, const decoder::ServeRequest& request,
                  const DecoderSettings& settings, const std::atomic<bool>* stop,
                  DecoderServer& serving, ServedDecoder& decoder, ScopedFd& channel,
                  DecodedPicture& result) {
    using Started = DecoderServer::Started;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int sockets[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
            result.problem = errno == EMFILE || errno == ENFILE ? DecodeProblem::kTooManyFiles
                                                                : DecodeProblem::kNoDecoder;
            return false;
        }
        channel = ScopedFd(sockets[0]);
        const ScopedFd childEnd(sockets[1]);
        const Started started =
            serving.Start(settings, request, input, childEnd.Get(), pixels, decoder, stop);
        if (started == Started::kStarted) {
            return true;
        }
        if (started != Started::kReplaced) {
            result.stopped = started == Started::kStopped;
            result.problem = result.stopped ? DecodeProblem::kNone : DecodeProblem::kNoDecoder;
            return false;
        }
    }
    result.problem = DecodeProblem::kNoDecoder;
    return false;
}

// One decoder's go at the picture.
DecodedPicture DecodeOnce(const PictureToDecode& picture, const DecoderSettings& settings,
                          const std::atomic<bool>* stop, SizeGate* gate, DecoderServer& serving,
                          bool& notForTurboJpeg) {
    DecodedPicture result;
    result.decodedWith = picture.decodeWith;
    const TempFolder temp;
    // Without shared memory (no memfd_create) the rows come through the socket.
    const int shared = serving.Pixels();
    const ScopedFd placeholder(shared < 0 ? ::open("/dev/null", O_RDONLY | O_CLOEXEC) : -1);
    const int pixels = shared >= 0 ? shared : placeholder.Get();
    if (pixels < 0) {
        result.problem = errno == EMFILE || errno == ENFILE ? DecodeProblem::kTooManyFiles
                                                            : DecodeProblem::kNoDecoder;
        return result;
    }
    const std::int64_t oomKillsBefore = OomKills();
    ServedDecoder decoder;
    ScopedFd channel;
    if (!StartDecoder(picture.fd, pixels, MakeServeRequest(picture, settings, temp.Path()),
                      settings, stop, serving, decoder, channel, result)) {
        return result;
    }
    Session session = Converse(channel.Get(), pixels, settings, stop, gate);
    const bool finished = session.imageReported || session.failureReported;
    const bool killNow = !finished && session.wait != Wait::kClosed;
    const ServedEnding served = serving.Finish(decoder, killNow, Clock::now() + kExitGrace, stop);
    result = Outcome(session, served, pixels, settings, oomKillsBefore);
    result.decodedWith = picture.decodeWith;
    notForTurboJpeg = session.failureReported && session.failure == Failure::kNotForTurboJpeg;
    if (notForTurboJpeg) {
        result.damage = session.failureDamage;
    }
    serving.TrimPixels();
    return result;
}

}  // namespace

DecodedPicture DecodeInHelper(const PictureToDecode& picture, const DecoderSettings& settings,
                              const std::atomic<bool>* stop, SizeGate* gate,
                              DecoderServer* server) {
    DecoderServer ownServer;
    DecoderServer& serving = server != nullptr ? *server : ownServer;
    bool notForTurboJpeg = false;
    DecodedPicture decoded = DecodeOnce(picture, settings, stop, gate, serving, notForTurboJpeg);
    if (!notForTurboJpeg) {
        return decoded;
    }
    const Damage seen = decoded.damage;
    PictureToDecode byPixbuf = picture;
    byPixbuf.decodeWith = decoder::DecodeWith::kPixbuf;
    decoded = DecodeOnce(byPixbuf, settings, stop, gate, serving, notForTurboJpeg);
    if (decoded.image && decoded.damage == Damage::kNone) {
        decoded.damage = seen;  // what TurboJPEG saw, gdk-pixbuf's loader may not
    }
    return decoded;
}

}  // namespace corvanta
