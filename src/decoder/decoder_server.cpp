#include "decoder/decoder_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/program_directory.h"
#include "decoder/confinement_inside.h"
#include "decoder/decoder_channel.h"
#include "decoder/descriptor_passing.h"
#include "install_names.h"

extern char** environ;

namespace corvanta {
namespace {

using Clock = SteadyClock;
using channel::ReceiveWithin;
using channel::Wait;

constexpr const char* kDecoderName = "corvanta-decode";
// A server loads gdk-pixbuf and its loader list before it says hello: far
// less than this even under a sanitizer.
constexpr std::chrono::seconds kHelloDeadline{20};
// How long a server that is working may take to answer before it counts as
// stopped and is killed, and how long at Stop, when everything must end
// within a second.
constexpr std::chrono::seconds kServerGrace{2};
constexpr std::chrono::milliseconds kStopGrace{300};
// The shared memory a job keeps between pictures: enough for 64 megapixels.
constexpr off_t kMaxKeptPixelBytes = off_t{256} << 20;

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

// ---- starting the server ----------------------------------------------------------

// Whether the server needs variable: the locale, what tells gdk-pixbuf,
// GLib and fontconfig where their files are (the server loads them before
// it forks its decoders, which keep only the locale), and the sanitizers'
// options. Nothing else of this process's environment reaches a decoder.
bool ServerNeeds(std::string_view variable) {
    constexpr std::array<std::string_view, 9> kPrefixes = {
        "HOME=",         "XDG_DATA_",     "XDG_CONFIG_",    "XDG_CACHE_",   "FONTCONFIG_",
        "ASAN_OPTIONS=", "LSAN_OPTIONS=", "UBSAN_OPTIONS=", "TSAN_OPTIONS="};
    return decoder::DecoderKeeps(variable) ||
           std::any_of(kPrefixes.begin(), kPrefixes.end(),
                       [&](std::string_view prefix) { return variable.rfind(prefix, 0) == 0; });
}

// The server's environment, with glibc's allocator told to map large
// blocks in huge pages from 1 MiB up. A fresh process pays for every page
// of a picture again; in huge pages that costs a third less, as fast as a
// process that reuses its heap.
std::vector<std::string> DecoderEnvironment() {
    constexpr std::string_view kTunables = "GLIBC_TUNABLES=";
    constexpr std::string_view kLargeBlocks =
        "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=1048576";
    std::vector<std::string> variables;
    std::string tunables(kTunables);
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view variable(*e);
        if (variable.rfind(kTunables, 0) == 0) {
            tunables.append(variable.substr(kTunables.size())).push_back(':');
        } else if (ServerNeeds(variable)) {
            variables.emplace_back(variable);
        }
    }
    variables.push_back(tunables.append(kLargeBlocks));
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

// The server starts with every signal at its default and none blocked,
// whatever this process ignores (SIGXFSZ and SIGPIPE, so that a full disk or
// a closed pipe costs one output here): a decoder past its file-size limit
// must die of it. It starts a process group of its own, so that Ctrl+C in a
// terminal reaches the program, which ends its decoders itself, and not the
// decoders before the program has seen it.
struct SpawnAttributes {
    posix_spawnattr_t attr{};
    bool valid = false;
    SpawnAttributes() {
        if (posix_spawnattr_init(&attr) != 0) {
            return;
        }
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        valid = posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
                posix_spawnattr_setsigmask(&attr, &none) == 0 &&
                posix_spawnattr_setpgroup(&attr, 0) == 0 &&
                posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETPGROUP) == 0;
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
};

pid_t SpawnServer(const DecoderProgram& program, int socket) {
    std::vector<std::string> args = {program.path};
    args.insert(args.end(), program.leadingArguments.begin(), program.leadingArguments.end());
    args.insert(args.end(), {decoder::kServeOption, std::to_string(::getpid()),
                             std::to_string(decoder::kProtocolVersion)});
    std::vector<char*> argv = Pointers(args);
    std::vector<std::string> environment = DecoderEnvironment();
    std::vector<char*> envp = Pointers(environment);
    posix_spawn_file_actions_t actions;
    const SpawnAttributes attributes;
    if (!attributes.valid || posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, socket, decoder::kServerFd);
    // Nothing else of this process reaches the server, whatever a library
    // opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, decoder::kServerFd + 1);
    pid_t pid = -1;
    const int started = posix_spawn(&pid, program.path.c_str(), &actions, &attributes.attr,
                                    argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

bool SendRequest(int control, const decoder::ServeRequest& request,
                 const std::array<int, decoder::kServeDescriptors>& fds) {
    return decoder::SendWithDescriptors(control, &request, sizeof request, fds.data(), fds.size());
}

bool IsExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

// ---- where the decoder is ------------------------------------------------------------

std::vector<DecoderProgram> DecoderCandidates() {
    std::vector<DecoderProgram> found;
    const std::string self = RunningProgramPath();
    const std::string folder = self.empty() ? std::string() : DirectoryPart(self);
    std::vector<std::string> helpers;
    if (!folder.empty()) {
        helpers.push_back(folder + CORVANTA_HELPER_DIR_FROM_BINDIR "/" + kDecoderName);
        helpers.push_back(folder + kDecoderName);
    }
    helpers.push_back(std::string(CORVANTA_INSTALLED_HELPER_DIR "/") + kDecoderName);
    for (const std::string& helper : helpers) {
        if (IsExecutable(helper)) {
            found.push_back({helper, {}});
        }
    }
    if (!self.empty() && IsExecutable(self)) {
        found.push_back({self, {decoder::kSelfOption}});
    }
    return found;
}

// ---- DecoderServer -------------------------------------------------------------

DecoderServer::~DecoderServer() {
    Shut(false);
}

int DecoderServer::Pixels() {
    if (!pixels_.Valid()) {
        pixels_ = ScopedFd(::memfd_create("corvanta-pixels", MFD_CLOEXEC));
    }
    return pixels_.Get();
}

void DecoderServer::TrimPixels(bool always) {
    struct stat info {};
    if (pixels_.Valid() &&
        (always || (::fstat(pixels_.Get(), &info) == 0 && info.st_size > kMaxKeptPixelBytes))) {
        pixels_.Reset();  // a rare giant: its memory goes back at once
    }
}

void DecoderServer::Shut(bool quickly) {
    control_.Reset();  // an idle server ends when it sees the end of its socket
    if (server_.Valid()) {
        // Stop ends the wait for a server that does not go.
        server_.KillAndReap(Clock::now() + (quickly ? std::chrono::milliseconds(0)
                                                    : std::chrono::milliseconds(kServerGrace)),
                            stop_);
        server_ = ProcessHandle();
    }
}

bool DecoderServer::LaunchOne(const DecoderProgram& program, const std::atomic<bool>* stop) {
    int sockets[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        return false;
    }
    ScopedFd ours(sockets[0]);
    // Above the number it takes in the server, so that the dup2 there is a
    // real one and clears close-on-exec.
    const ScopedFd theirs(::fcntl(sockets[1], F_DUPFD_CLOEXEC, decoder::kServerFd + 1));
    ::close(sockets[1]);
    if (!theirs.Valid()) {
        return false;
    }
    const pid_t pid = SpawnServer(program, theirs.Get());
    if (pid < 0) {
        return false;
    }
    server_ = ProcessHandle::OfChild(pid);
    control_ = std::move(ours);
    decoder::ServeHello hello;
    hello.magic = 0;
    if (ReceiveWithin(control_.Get(), &hello, sizeof hello, Clock::now() + kHelloDeadline, stop) ==
            Wait::kDone &&
        hello.magic == decoder::kReportMagic && hello.version == decoder::kProtocolVersion) {
        program_ = program;
        return true;
    }
    Shut(true);
    return false;
}

bool DecoderServer::Launch(const DecoderSettings& settings, const std::atomic<bool>* stop) {
    Shut(true);
    configured_ = settings.program;
    if (!settings.program.path.empty()) {
        return LaunchOne(settings.program, stop);
    }
    // The one that served last first: it is known to work.
    if (!program_.path.empty() && LaunchOne(program_, stop)) {
        return true;
    }
    for (const DecoderProgram& candidate : DecoderCandidates()) {
        if (Stopped(stop)) {
            return false;
        }
        if (candidate != program_ && LaunchOne(candidate, stop)) {
            return true;
        }
    }
    return false;
}

DecoderServer::Started DecoderServer::Start(const DecoderSettings& settings,
                                            const decoder::ServeRequest& request, int input,
                                            int channel, int pixels, ServedDecoder& decoder,
                                            const std::atomic<bool>* stop) {
    stop_ = stop;
    if ((!control_.Valid() || settings.program != configured_) && !Launch(settings, stop)) {
        return Stopped(stop) ? Started::kStopped : Started::kUnavailable;
    }
    decoder::ServeStarted started;
    ScopedFd pidfd;
    if (SendRequest(control_.Get(), request, {input, channel, pixels})) {
        const Wait wait = ReceiveWithin(control_.Get(), &started, sizeof started,
                                        Clock::now() + kServerGrace, stop, &pidfd);
        if (wait == Wait::kDone && started.pid > 0) {
            decoder.process =
                ProcessHandle(static_cast<pid_t>(started.pid), std::move(pidfd), false);
            return Started::kStarted;
        }
        if (wait == Wait::kStopped) {
            Shut(true);  // it may yet fork: nothing of it may outlive the stop
            return Started::kStopped;
        }
    }
    Shut(true);  // it died, cannot fork or stopped answering
    return Started::kReplaced;
}

ServedEnding DecoderServer::Finish(ServedDecoder& decoder, bool killNow, Clock::time_point deadline,
                                   const std::atomic<bool>* stop) {
    ServedEnding result;
    // Without a pidfd (kernels before 5.3) the decoder can be neither watched
    // nor killed from here: the server's word is the only sign of its end,
    // and killing the server the only way to end it.
    const bool watched = decoder.process.Killable();
    if (!watched && (killNow || Stopped(stop))) {
        Shut(true);
        result.serverLost = true;
        result.killedHere = true;
        return result;
    }
    if (watched) {
        if (killNow) {
            decoder.process.Kill();
            result.killedHere = true;
        }
        if (!decoder.process.WaitForExit(deadline, stop)) {
            decoder.process.Kill();
            result.killedHere = true;
            decoder.process.WaitForExit(Clock::now() + kStopGrace);
        }
    }
    result.stopped = Stopped(stop);
    const Clock::time_point wordDue = !watched         ? deadline
                                      : result.stopped ? Clock::now() + kStopGrace
                                                       : Clock::now() + kServerGrace;
    decoder::ServeEnded ended;
    Wait wait = Wait::kDone;
    do {  // a late word on an earlier decoder is passed over
        wait =
            ReceiveWithin(control_.Get(), &ended, sizeof ended, wordDue, watched ? nullptr : stop);
    } while (wait == Wait::kDone && ended.pid != decoder.process.Pid());
    if (wait == Wait::kDone) {
        result.ending = {true, ended.status, ended.cpuMicros};
    } else {
        result.serverLost = wait == Wait::kClosed;
        result.unresponsive = wait == Wait::kTimedOut;
        result.stopped = result.stopped || wait == Wait::kStopped;
        Shut(true);
    }
    return result;
}

}  // namespace corvanta
