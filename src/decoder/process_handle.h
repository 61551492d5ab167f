// A process known by a pidfd: a signal or a wait through it reaches that
// process and no other, even after its pid has been given to someone else.
// Waits poll the pidfd, so they have a deadline, hear the stop flag and cost
// no timer of their own.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "common/scoped_fd.h"

namespace corvanta {

using SteadyClock = std::chrono::steady_clock;

// How a child of ours ended, as wait4 tells it.
struct ProcessEnding {
    bool reaped = false;
    int status = 0;
    std::int64_t cpuMicros = 0;  // user and system time
};

std::int64_t CpuMicros(const rusage& usage);

// A pidfd for pid, or -1 (kernels before 5.3). glibc 2.36's own wrapper
// cannot be called from C++ (its header lacks extern "C"), so this makes the
// system call itself.
int OpenPidfd(pid_t pid);

class ProcessHandle {
  public:
    ProcessHandle() = default;
    // A child of this process that has not been waited for, so that its
    // pid is still its own; child false for a process known only by the
    // pidfd someone handed over.
    ProcessHandle(pid_t pid, ScopedFd pidfd, bool child);
    // A child that has just been started.
    static ProcessHandle OfChild(pid_t pid);
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&&) noexcept;
    ProcessHandle& operator=(ProcessHandle&&) noexcept;

    bool Valid() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    bool Killable() const { return pidfd_.Valid() || (child_ && !reaped_); }

    void Kill();
    // Waits until the process has ended; false at the deadline or when stop
    // is set first.
    bool WaitForExit(SteadyClock::time_point deadline, const std::atomic<bool>* stop = nullptr);
    // Kills the process unless it has ended by the deadline, and reaps it
    // (children only). The ending is reaped == false when it could not be.
    ProcessEnding KillAndReap(SteadyClock::time_point deadline,
                              const std::atomic<bool>* stop = nullptr);

  private:
    bool Exited();
    ProcessEnding Reap();

    pid_t pid_ = -1;
    ScopedFd pidfd_;
    bool child_ = false;
    bool reaped_ = false;
};

}  // namespace corvanta
