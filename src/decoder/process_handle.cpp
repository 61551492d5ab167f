#include "decoder/process_handle.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

namespace corvanta {
namespace {

// The stop flag is a plain atomic a signal handler may set: looked at this often.
constexpr std::chrono::milliseconds kStopSlice{50};
// Without pidfds (kernels before 5.3) a child's end is looked for this often.
constexpr std::chrono::milliseconds kFallbackSlice{5};
// How long a killed process may take to be gone.
constexpr std::chrono::seconds kKillGrace{1};
constexpr std::int64_t kMicrosPerSecond = 1000000;

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

}  // namespace

std::int64_t CpuMicros(const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * kMicrosPerSecond +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

int OpenPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

ProcessHandle::ProcessHandle(pid_t pid, ScopedFd pidfd, bool child)
    : pid_(pid), pidfd_(std::move(pidfd)), child_(child) {}

ProcessHandle ProcessHandle::OfChild(pid_t pid) {
    // Not yet waited for, so the pid cannot have been reused: the pidfd is its.
    return ProcessHandle(pid, ScopedFd(OpenPidfd(pid)), true);
}

ProcessHandle::~ProcessHandle() {
    if (child_ && !reaped_ && pid_ > 0) {
        KillAndReap(SteadyClock::now());
    }
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::move(other.pidfd_)),
      child_(other.child_),
      reaped_(other.reaped_) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        if (child_ && !reaped_ && pid_ > 0) {
            KillAndReap(SteadyClock::now());
        }
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::move(other.pidfd_);
        child_ = other.child_;
        reaped_ = other.reaped_;
    }
    return *this;
}

void ProcessHandle::Kill() {
    if (pidfd_.Valid()) {
        ::syscall(SYS_pidfd_send_signal, pidfd_.Get(), SIGKILL, nullptr, 0);
    } else if (child_ && !reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);  // an unreaped child keeps its pid
    }
}

bool ProcessHandle::Exited() {
    if (pid_ <= 0 || reaped_) {
        return true;
    }
    if (pidfd_.Valid()) {
        pollfd ready{pidfd_.Get(), POLLIN, 0};
        return ::poll(&ready, 1, 0) > 0;
    }
    if (!child_) {
        return false;  // nothing to tell by
    }
    siginfo_t info{};
    const int result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    return result != 0 || info.si_pid == pid_;  // ECHILD: reaped by the system already
}

bool ProcessHandle::WaitForExit(SteadyClock::time_point deadline, const std::atomic<bool>* stop) {
    for (;;) {
        if (Exited()) {
            return true;
        }
        const auto now = SteadyClock::now();
        if (Stopped(stop) || now >= deadline) {
            return false;
        }
        const auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min<SteadyClock::duration>(deadline - now, kStopSlice));
        if (pidfd_.Valid()) {
            pollfd ready{pidfd_.Get(), POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(slice.count()) + 1);
        } else {
            std::this_thread::sleep_for(std::min<SteadyClock::duration>(slice, kFallbackSlice));
        }
    }
}

ProcessEnding ProcessHandle::Reap() {
    ProcessEnding ending;
    if (!child_ || reaped_ || pid_ <= 0) {
        return ending;
    }
    rusage usage{};
    pid_t done = -1;
    do {
        done = ::wait4(pid_, &ending.status, WNOHANG, &usage);
    } while (done < 0 && errno == EINTR);
    if (done == pid_) {
        ending.reaped = true;
        ending.cpuMicros = CpuMicros(usage);
    }
    // Reaped, or not ours to wait for (SIGCHLD ignored): either way the pid
    // must not be signalled again.
    reaped_ = done == pid_ || done < 0;
    return ending;
}

ProcessEnding ProcessHandle::KillAndReap(SteadyClock::time_point deadline,
                                         const std::atomic<bool>* stop) {
    if (!WaitForExit(deadline, stop)) {
        Kill();
        WaitForExit(SteadyClock::now() + kKillGrace);
    }
    return Exited() ? Reap() : ProcessEnding{};
}

}  // namespace corvanta
