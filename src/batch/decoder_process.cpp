#include "batch/decoder_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "batch/decoder_protocol.h"
#include "batch/failure_reason.h"
#include "batch/scoped_fd.h"
#include "common/program_directory.h"

#ifndef CORVANTA_DECODER_RELATIVE_PATH
#define CORVANTA_DECODER_RELATIVE_PATH "../libexec/corvanta/corvanta-decode"
#endif

extern char** environ;

namespace corvanta {
namespace {

using Clock = std::chrono::steady_clock;
using decoder::Failure;
using decoder::Report;
using decoder::ReportKind;

constexpr std::chrono::milliseconds kPollSlice{50};
constexpr std::chrono::milliseconds kReapSlice{2};
// Descriptors are moved above this before the decoder's own numbers are
// assigned, so that no source is also a target.
constexpr int kFirstFreeFd = 10;
constexpr const char* kTempPrefix = "corvanta-decode.";
constexpr std::int64_t kTempSlackBytes = std::int64_t{16} << 20;
constexpr std::int64_t kMaxTempBytes = std::int64_t{256} << 20;
constexpr std::uint8_t kGoByte = 1;
constexpr int kRgbaChannels = 4;

// ---- the decoder's temporary folder ----------------------------------------

std::string TempBase() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && base[0] == '/' ? base : "/tmp";
}

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
void RemoveStaleTempFolders() {
    const std::string base = TempBase();
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

class TempFolder {
  public:
    TempFolder() {
        static std::once_flag swept;
        std::call_once(swept, RemoveStaleTempFolders);
        std::string pattern =
            TempBase() + "/" + kTempPrefix + std::to_string(::getpid()) + ".XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = std::move(pattern);
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

// ---- starting the decoder -------------------------------------------------------

std::vector<std::string> DecoderEnvironment(const std::string& tempFolder) {
    std::vector<std::string> variables;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) {
            variables.emplace_back(*e);
        }
    }
    variables.push_back("TMPDIR=" + tempFolder);
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

pid_t StartDecoder(const std::string& program, const decoder::Request& request, int inputFd,
                   int channelFd, const std::string& tempFolder) {
    const ScopedFd input(::fcntl(inputFd, F_DUPFD_CLOEXEC, kFirstFreeFd));
    const ScopedFd channel(::fcntl(channelFd, F_DUPFD_CLOEXEC, kFirstFreeFd));
    if (!input.Valid() || !channel.Valid()) {
        return -1;
    }
    std::vector<std::string> args = decoder::RequestArguments(request);
    args.insert(args.begin(), program);
    std::vector<std::string> environment = DecoderEnvironment(tempFolder);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, input.Get(), decoder::kInputFd);
    posix_spawn_file_actions_adddup2(&actions, channel.Get(), decoder::kChannelFd);
    // Nothing else of this process reaches the decoder, whatever a library
    // opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, decoder::kChannelFd + 1);
    pid_t pid = -1;
    const int started =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

// ---- talking to it --------------------------------------------------------------

enum class Wait { kDone, kClosed, kStopped, kTimedOut };

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

// Reads exactly length bytes, looking at stop and the deadline between waits.
Wait ReadWithin(int fd, void* data, std::size_t length, Clock::time_point deadline,
                const std::atomic<bool>* stop) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (length > 0) {
        if (Stopped(stop)) {
            return Wait::kStopped;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return Wait::kTimedOut;
        }
        const auto slice = std::min<Clock::duration>(kPollSlice, deadline - now);
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(
            &ready, 1,
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count()) +
                1);
        if (polled <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, p, length, MSG_DONTWAIT);
        if (n == 0) {
            return Wait::kClosed;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return Wait::kClosed;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return Wait::kDone;
}

struct Ending {
    int status = 0;
    rusage usage{};
    bool reaped = false;
    bool killedHere = false;  // it had to be killed: it did not end by itself
};

// How long a decoder that has closed its end may take to exit before it is
// killed (a sanitizer's crash report takes a moment).
constexpr std::chrono::seconds kExitGrace{10};

// Waits for the decoder to end; kills it when it lingers past the deadline,
// at stop, or at once when killNow.
Ending Reap(pid_t pid, Clock::time_point deadline, const std::atomic<bool>* stop, bool killNow) {
    Ending ending;
    bool killed = false;
    for (;;) {
        if (!killed && (killNow || Stopped(stop) || Clock::now() >= deadline)) {
            ::kill(pid, SIGKILL);
            killed = true;
            ending.killedHere = true;
        }
        const pid_t done = ::wait4(pid, &ending.status, killed ? 0 : WNOHANG, &ending.usage);
        if (done == pid) {
            ending.reaped = true;
            return ending;
        }
        if (done < 0 && errno != EINTR) {
            return ending;  // not ours to wait for (SIGCHLD ignored): nothing to learn
        }
        if (done == 0) {
            std::this_thread::sleep_for(kReapSlice);
        }
    }
}

std::string_view ReasonFor(Failure failure) {
    switch (failure) {
        case Failure::kTooLarge:
            return failure_reason::kTooLarge;
        case Failure::kOutOfMemory:
            return failure_reason::kOutOfMemory;
        case Failure::kNotAnImage:
            break;
    }
    return failure_reason::kNotAnImage;
}

// Why a decoder that sent no failure report ended without a picture.
std::string_view ReasonForEnding(const Ending& ending, int cpuSeconds) {
    if (ending.killedHere) {
        return failure_reason::kTookTooLong;
    }
    if (ending.reaped && WIFEXITED(ending.status) &&
        (WEXITSTATUS(ending.status) == decoder::kExitUsage ||
         WEXITSTATUS(ending.status) == decoder::kExitLimits)) {
        return failure_reason::kNoDecoder;
    }
    if (!ending.reaped || !WIFSIGNALED(ending.status)) {
        return failure_reason::kUndecodable;
    }
    const double cpu =
        static_cast<double>(ending.usage.ru_utime.tv_sec + ending.usage.ru_stime.tv_sec);
    switch (WTERMSIG(ending.status)) {
        case SIGXCPU:
            return failure_reason::kTookTooLong;
        case SIGXFSZ:
            return failure_reason::kTooLarge;
        case SIGKILL:
            // The kernel's second step after SIGXCPU, or its out-of-memory killer.
            return cpuSeconds > 0 && cpu >= cpuSeconds ? failure_reason::kTookTooLong
                                                       : failure_reason::kOutOfMemory;
        default:
            return failure_reason::kUndecodable;
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
               std::int64_t{size.fittedWidth} * size.fittedHeight;
}

PixbufPtr NewPicture(PixelPool* pool, bool alpha, int width, int height) {
    if (pool != nullptr) {
        return pool->NewPixbuf(alpha, width, height);
    }
    return PixbufPtr(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height));
}

struct Session {
    Wait wait = Wait::kDone;
    bool failureReported = false;
    Failure failure = Failure::kNotAnImage;
    bool outOfMemoryHere = false;
    PixbufPtr image;
};

// The conversation after the start: the size, the admission, the picture.
Session Converse(int channel, const DecoderSettings& settings, const std::atomic<bool>* stop,
                 BudgetHold* hold, PixelPool* pool) {
    Session session;
    Report size;
    // Until the size arrives the decoder only starts up and looks at the file.
    session.wait = ReadWithin(channel, &size, sizeof size, Clock::now() + settings.deadline, stop);
    if (session.wait != Wait::kDone) {
        return session;
    }
    if (size.magic == decoder::kReportMagic && size.kind == ReportKind::kFailure) {
        session.failureReported = true;
        session.failure = size.failure;
        return session;
    }
    if (size.magic != decoder::kReportMagic || size.kind != ReportKind::kSize ||
        !PlausibleSize(size)) {
        session.wait = Wait::kClosed;
        return session;
    }
    const std::int64_t fittedPixels = std::int64_t{size.fittedWidth} * size.fittedHeight;
    if (hold != nullptr && !hold->Admit(ConversionBytes(std::int64_t{size.width} * size.height,
                                                        fittedPixels, kRgbaChannels))) {
        session.wait = Wait::kStopped;
        return session;
    }
    if (::send(channel, &kGoByte, sizeof kGoByte, MSG_NOSIGNAL) != sizeof kGoByte) {
        session.wait = Wait::kClosed;
        return session;
    }
    const Clock::time_point deadline = Clock::now() + settings.deadline;
    Report image;
    session.wait = ReadWithin(channel, &image, sizeof image, deadline, stop);
    if (session.wait != Wait::kDone) {
        return session;
    }
    if (image.magic == decoder::kReportMagic && image.kind == ReportKind::kFailure) {
        session.failureReported = true;
        session.failure = image.failure;
        return session;
    }
    if (image.magic != decoder::kReportMagic || image.kind != ReportKind::kImage ||
        !PlausibleImage(image, size)) {
        session.wait = Wait::kClosed;
        return session;
    }
    const bool alpha = image.hasAlpha != 0;
    PixbufPtr picture = NewPicture(pool, alpha, image.width, image.height);
    if (picture == nullptr ||
        gdk_pixbuf_get_rowstride(picture.get()) != decoder::RowBytes(image.width, alpha)) {
        session.outOfMemoryHere = true;
        return session;
    }
    const auto bytes = static_cast<std::size_t>(decoder::RowBytes(image.width, alpha)) *
                       static_cast<std::size_t>(image.height);
    session.wait = ReadWithin(channel, gdk_pixbuf_get_pixels(picture.get()), bytes, deadline, stop);
    if (session.wait == Wait::kDone) {
        session.image = std::move(picture);
    }
    return session;
}

}  // namespace

std::string DefaultDecoderProgram() {
    return FindProgramDirectory(nullptr) + CORVANTA_DECODER_RELATIVE_PATH;
}

DecodedPicture DecodeInHelper(int fd, std::int64_t size, std::string_view nameHint, int maxWidth,
                              int maxHeight, const DecoderSettings& settings,
                              const std::atomic<bool>* stop, BudgetHold* hold, PixelPool* pool) {
    DecodedPicture result;
    const std::string program =
        settings.program.empty() ? DefaultDecoderProgram() : settings.program;
    TempFolder temp;
    int sockets[2] = {-1, -1};
    if (temp.Path().empty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        result.problem = failure_reason::kNoDecoder;
        return result;
    }
    const ScopedFd channel(sockets[0]);
    ScopedFd childEnd(sockets[1]);

    decoder::Request request;
    request.maxWidth = maxWidth;
    request.maxHeight = maxHeight;
    request.nameHint = std::string(nameHint);
    request.memoryBytes = settings.memoryBytes;
    request.cpuSeconds = settings.cpuSeconds;
    // Some loaders copy the file into a temporary one first: as much as the
    // file, and no more than that.
    request.tempFileBytes = std::min(size + kTempSlackBytes, kMaxTempBytes);
    request.parentPid = ::getpid();
    const pid_t pid = StartDecoder(program, request, fd, childEnd.Get(), temp.Path());
    childEnd.Reset();
    if (pid < 0) {
        result.problem = failure_reason::kNoDecoder;
        return result;
    }

    Session session = Converse(channel.Get(), settings, stop, hold, pool);
    const bool finished = session.image != nullptr || session.failureReported;
    const Ending ending =
        Reap(pid, Clock::now() + kExitGrace, stop, !finished && session.wait != Wait::kClosed);
    if (session.image) {
        result.image = std::move(session.image);
    } else if (session.wait == Wait::kStopped || Stopped(stop)) {
        result.stopped = true;
    } else if (session.failureReported) {
        result.problem = ReasonFor(session.failure);
    } else if (session.outOfMemoryHere) {
        result.problem = failure_reason::kOutOfMemory;
    } else if (session.wait == Wait::kTimedOut) {
        result.problem = failure_reason::kTookTooLong;
    } else {
        result.problem = ReasonForEnding(ending, settings.cpuSeconds);
    }
    if (hold != nullptr && !result.image) {
        hold->Reset();
    }
    return result;
}

}  // namespace corvanta
