#include "batch/decoder_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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
#include "install_names.h"

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

// The decoder's environment: this process's, with its own temporary folder
// (when given) and with glibc's allocator told to map large blocks in huge
// pages from 1 MiB up. A fresh process pays for every page of a picture
// again; in huge pages that costs a third less (a 6-megapixel PNG read in
// 90 ms instead of 130 ms here), as fast as a process that reuses its heap.
std::vector<std::string> DecoderEnvironment(const std::string& tempFolder) {
    constexpr std::string_view kTunables = "GLIBC_TUNABLES=";
    constexpr std::string_view kLargeBlocks =
        "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=1048576";
    std::vector<std::string> variables;
    std::string tunables(kTunables);
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view variable(*e);
        if (!tempFolder.empty() && variable.rfind("TMPDIR=", 0) == 0) {
            continue;
        }
        if (variable.rfind(kTunables, 0) == 0) {
            tunables.append(variable.substr(kTunables.size())).push_back(':');
            continue;
        }
        variables.emplace_back(variable);
    }
    variables.push_back(tunables.append(kLargeBlocks));
    if (!tempFolder.empty()) {
        variables.push_back("TMPDIR=" + tempFolder);
    }
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
                   int channelFd, int pixelsFd, const std::string& tempFolder) {
    const ScopedFd input(::fcntl(inputFd, F_DUPFD_CLOEXEC, kFirstFreeFd));
    const ScopedFd channel(::fcntl(channelFd, F_DUPFD_CLOEXEC, kFirstFreeFd));
    const ScopedFd pixels(::fcntl(pixelsFd, F_DUPFD_CLOEXEC, kFirstFreeFd));
    if (!input.Valid() || !channel.Valid() || !pixels.Valid()) {
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
    posix_spawn_file_actions_adddup2(&actions, pixels.Get(), decoder::kPixelsFd);
    // Nothing else of this process reaches the decoder, whatever a library
    // opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, decoder::kPixelsFd + 1);
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
    std::int64_t cpuMicros = 0;
    bool reaped = false;
    bool killedHere = false;  // it had to be killed: it did not end by itself
};

// How long a decoder that has closed its end may take to exit before it is
// killed (a sanitizer's crash report takes a moment).
constexpr std::chrono::seconds kExitGrace{10};
constexpr std::int64_t kMicrosPerSecond = 1000000;
// The shared memory a job keeps between pictures: enough for 64 megapixels.
constexpr off_t kMaxKeptPixelBytes = off_t{256} << 20;

// Waits for a decoder started as a program of its own to end; kills it when
// it lingers past the deadline, at stop, or at once when killNow.
Ending Reap(pid_t pid, Clock::time_point deadline, const std::atomic<bool>* stop, bool killNow) {
    Ending ending;
    for (;;) {
        if (!ending.killedHere && (killNow || Stopped(stop) || Clock::now() >= deadline)) {
            ::kill(pid, SIGKILL);
            ending.killedHere = true;
        }
        rusage usage{};
        const pid_t done = ::wait4(pid, &ending.status, ending.killedHere ? 0 : WNOHANG, &usage);
        if (done == pid) {
            ending.reaped = true;
            ending.cpuMicros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * kMicrosPerSecond +
                               usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
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
    switch (WTERMSIG(ending.status)) {
        case SIGXCPU:
            return failure_reason::kTookTooLong;
        case SIGXFSZ:
            return failure_reason::kTooLarge;
        case SIGKILL:
            // The kernel's second step after SIGXCPU, or its out-of-memory killer.
            return cpuSeconds > 0 && ending.cpuMicros >= cpuSeconds * kMicrosPerSecond
                       ? failure_reason::kTookTooLong
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

// The shared memory's size for a fitted picture: RGBA rows either way round.
std::int64_t SharedBytes(const Report& size) {
    return std::max(decoder::RowBytes(size.fittedWidth, true) * size.fittedHeight,
                    decoder::RowBytes(size.fittedHeight, true) * size.fittedWidth);
}

void UnmapShared(guchar* pixels, gpointer length) {
    ::munmap(pixels, GPOINTER_TO_SIZE(length));
}

// The decoded rows in the shared memory, as a picture of their own: the
// mapping is the pixel buffer, no copy. The decoder has ended, and the size
// was sealed, so nothing can change the memory or its length any more.
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
    bool outOfMemoryHere = false;
    bool imageReported = false;  // kImage arrived (and with a stream, its rows)
    bool shared = false;         // the rows are in the shared memory
    Report image;
    PixbufPtr streamed;  // the rows read from the socket
};

// The conversation after the start: the size, the admission, the picture.
Session Converse(int channel, int pixels, const DecoderSettings& settings,
                 const std::atomic<bool>* stop, BudgetHold* hold) {
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
    if (hold != nullptr &&
        !hold->Admit(PngConversionBytes(std::int64_t{size.width} * size.height,
                                        {size.fittedWidth, size.fittedHeight}, kRgbaChannels))) {
        session.wait = Wait::kStopped;
        return session;
    }
    // The memory only grows: a job keeps it from one picture to the next,
    // so its pages are not allocated and zeroed again for every picture. A
    // file-size limit on this process applies to it too: then the rows come
    // through the socket. Nothing seals it, because nothing else can touch
    // it by the time it is read: the decoder has ended, and the server that
    // passed it on closed its copy at the fork.
    struct stat info {};
    const auto needed = static_cast<off_t>(SharedBytes(size));
    session.shared =
        ::fstat(pixels, &info) == 0 && (info.st_size >= needed || ::ftruncate(pixels, needed) == 0);
    const std::uint8_t go = session.shared ? decoder::kGoShared : decoder::kGoStream;
    if (::send(channel, &go, sizeof go, MSG_NOSIGNAL) != sizeof go) {
        session.wait = Wait::kClosed;
        return session;
    }
    const Clock::time_point deadline = Clock::now() + settings.deadline;
    Report& image = session.image;
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
    if (session.shared) {
        session.imageReported = true;
        return session;
    }
    const bool alpha = image.hasAlpha != 0;
    PixbufPtr picture(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, image.width, image.height));
    if (picture == nullptr ||
        gdk_pixbuf_get_rowstride(picture.get()) != decoder::RowBytes(image.width, alpha)) {
        session.outOfMemoryHere = true;
        return session;
    }
    const auto bytes = static_cast<std::size_t>(decoder::RowBytes(image.width, alpha)) *
                       static_cast<std::size_t>(image.height);
    session.wait = ReadWithin(channel, gdk_pixbuf_get_pixels(picture.get()), bytes, deadline, stop);
    if (session.wait == Wait::kDone) {
        session.imageReported = true;
        session.streamed = std::move(picture);
    }
    return session;
}

void FillServeRequest(decoder::ServeRequest& serve, const decoder::Request& request,
                      const std::string& tempFolder) {
    serve.maxWidth = request.maxWidth;
    serve.maxHeight = request.maxHeight;
    serve.memoryBytes = request.memoryBytes;
    serve.cpuSeconds = request.cpuSeconds;
    serve.tempFileBytes = request.tempFileBytes;
    tempFolder.copy(serve.tempFolder, sizeof serve.tempFolder - 1);
    request.nameHint.copy(serve.nameHint, sizeof serve.nameHint - 1);
}

}  // namespace

// ---- DecoderServer -------------------------------------------------------------

DecoderServer::~DecoderServer() {
    Stop();
}

int DecoderServer::Pixels() {
    if (!pixels_.Valid()) {
        pixels_ = ScopedFd(::memfd_create("corvanta-pixels", MFD_CLOEXEC));
    }
    return pixels_.Get();
}

void DecoderServer::TrimPixels() {
    struct stat info {};
    if (pixels_.Valid() && ::fstat(pixels_.Get(), &info) == 0 &&
        info.st_size > kMaxKeptPixelBytes) {
        pixels_.Reset();  // a rare giant: its memory goes back at once
    }
}

void DecoderServer::Stop() {
    if (control_ >= 0) {
        ::close(control_);  // the server ends when it sees the end of its socket
        control_ = -1;
    }
    if (server_ > 0) {
        Reap(server_, Clock::now() + kExitGrace, nullptr, false);
        server_ = -1;
    }
}

bool DecoderServer::Launch(const std::string& program) {
    Stop();
    int sockets[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        return false;
    }
    ScopedFd ours(sockets[0]);
    const ScopedFd theirs(::fcntl(sockets[1], F_DUPFD_CLOEXEC, kFirstFreeFd));
    ::close(sockets[1]);
    if (!theirs.Valid()) {
        return false;
    }
    std::vector<std::string> args = {program, decoder::kServeOption, std::to_string(::getpid())};
    std::vector<char*> argv = Pointers(args);
    std::vector<std::string> environment = DecoderEnvironment({});
    std::vector<char*> envp = Pointers(environment);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs.Get(), decoder::kServerFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, decoder::kServerFd + 1);
    pid_t pid = -1;
    const int started =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return false;
    }
    server_ = pid;
    control_ = ours.Release();
    program_ = program;
    return true;
}

pid_t DecoderServer::Start(const std::string& program, const decoder::ServeRequest& request,
                           int input, int channel, int pixels) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if ((control_ < 0 || program != program_) && !Launch(program)) {
            return -1;
        }
        const std::array<int, decoder::kServeDescriptors> fds = {input, channel, pixels};
        iovec data{const_cast<decoder::ServeRequest*>(&request), sizeof request};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof fds)> control{};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof fds);
        std::memcpy(CMSG_DATA(header), fds.data(), sizeof fds);
        decoder::ServeStarted started;
        if (::sendmsg(control_, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request) &&
            ReadWithin(control_, &started, sizeof started, Clock::now() + kExitGrace, nullptr) ==
                Wait::kDone &&
            started.pid > 0) {
            return static_cast<pid_t>(started.pid);
        }
        Stop();  // it died or cannot fork: once more with a new one
    }
    return -1;
}

bool DecoderServer::WaitForEnd(pid_t pid, Clock::time_point deadline, const std::atomic<bool>* stop,
                               decoder::ServeEnded& ended, bool& killed) {
    killed = false;
    for (;;) {
        if (!killed && (Stopped(stop) || Clock::now() >= deadline)) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        const Wait wait =
            ReadWithin(control_, &ended, sizeof ended, Clock::now() + kPollSlice, nullptr);
        if (wait == Wait::kDone && ended.pid == pid) {
            return true;
        }
        if (wait == Wait::kClosed) {
            Stop();
            return false;
        }
    }
}

// ---- decoding ------------------------------------------------------------------

std::string DefaultDecoderProgram() {
    return FindProgramDirectory(nullptr) + CORVANTA_HELPER_DIR_FROM_BINDIR "/corvanta-decode";
}

DecodedPicture DecodeInHelper(int fd, std::int64_t size, std::string_view nameHint, int maxWidth,
                              int maxHeight, const DecoderSettings& settings,
                              const std::atomic<bool>* stop, BudgetHold* hold,
                              DecoderServer* server) {
    DecodedPicture result;
    const std::string program =
        settings.program.empty() ? DefaultDecoderProgram() : settings.program;
    TempFolder temp;
    int sockets[2] = {-1, -1};
    ScopedFd ownPixels;
    int pixels = server != nullptr ? server->Pixels() : -1;
    if (pixels < 0) {
        ownPixels = ScopedFd(::memfd_create("corvanta-pixels", MFD_CLOEXEC));
        pixels = ownPixels.Get();
    }
    if (temp.Path().empty() || pixels < 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        result.problem = failure_reason::kNoDecoder;
        return result;
    }
    const ScopedFd channel(sockets[0]);
    ScopedFd childEnd(sockets[1]);

    decoder::Request request;
    request.maxWidth = maxWidth;
    request.maxHeight = maxHeight;
    request.nameHint = std::string(nameHint.substr(0, decoder::kMaxNameHintBytes - 1));
    request.memoryBytes = settings.memoryBytes;
    request.cpuSeconds = settings.cpuSeconds;
    // Some loaders copy the file into a temporary one first: as much as the
    // file, and no more than that.
    request.tempFileBytes = std::min(size + kTempSlackBytes, kMaxTempBytes);
    request.parentPid = ::getpid();
    pid_t pid = -1;
    bool served = false;
    if (server != nullptr) {
        decoder::ServeRequest serve;
        FillServeRequest(serve, request, temp.Path());
        pid = server->Start(program, serve, fd, childEnd.Get(), pixels);
        served = pid > 0;
    }
    if (pid < 0) {
        pid = StartDecoder(program, request, fd, childEnd.Get(), pixels, temp.Path());
    }
    childEnd.Reset();
    if (pid < 0) {
        result.problem = failure_reason::kNoDecoder;
        return result;
    }

    Session session = Converse(channel.Get(), pixels, settings, stop, hold);
    const bool finished = session.imageReported || session.failureReported;
    const bool killNow = !finished && session.wait != Wait::kClosed;
    Ending ending;
    if (served) {
        decoder::ServeEnded ended;
        bool killed = false;
        if (killNow) {
            ::kill(pid, SIGKILL);
        }
        ending.reaped = server->WaitForEnd(pid, Clock::now() + kExitGrace, stop, ended, killed);
        ending.status = ended.status;
        ending.cpuMicros = ended.cpuMicros;
        ending.killedHere = killed || killNow;
    } else {
        ending = Reap(pid, Clock::now() + kExitGrace, stop, killNow);
    }
    if (session.imageReported) {
        result.image =
            session.shared ? MapShared(pixels, session.image) : std::move(session.streamed);
        if (!result.image) {
            result.problem = failure_reason::kOutOfMemory;
        }
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
    if (server != nullptr) {
        server->TrimPixels();
    }
    return result;
}

}  // namespace corvanta
