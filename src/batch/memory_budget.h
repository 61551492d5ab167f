// How much memory the pictures of a batch may hold at once. Every file asks
// for what its picture will need as soon as its size is known (before any
// pixel buffer exists) and waits while the others hold too much, so a batch
// of giants runs them one after another instead of running out of memory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "codecs/image_loader.h"  // ImageSize

namespace corvanta {

// The bytes a conversion needs for a PNG output of the fitted size or that size turned by a
// quarter: the decoded picture, the fitted copy, the filtered rows and room
// for their compressed form (DeflatePngEncoder::WorkingBytes).
std::int64_t PngConversionBytes(std::int64_t decodedPixels, ImageSize fitted, int channels);

// Where the limits are read from; tests point these at files of their own.
struct MemorySources {
    std::string meminfo = "/proc/meminfo";
    std::string status = "/proc/self/status";
    std::string cgroup = "/proc/self/cgroup";
    std::string mountinfo = "/proc/self/mountinfo";
};

// What this process may still use: the smallest room left by the machine's
// MemAvailable, the cgroup (version 2 memory.max and memory.high, version 1
// memory.limit_in_bytes, at every level up the hierarchy) and a finite
// RLIMIT_AS or RLIMIT_DATA.
struct MemoryRoom {
    std::int64_t bytes = -1;    // -1 when nothing can be read
    bool limited = false;       // a cgroup or a resource limit sets it, not the machine
    bool addressSpace = false;  // a resource limit: reserved address space counts too
};
MemoryRoom ReadMemoryRoom(const MemorySources& sources = {});

// What a batch of jobs may use: how many jobs, and the bytes their pictures
// share once every job's own cost is taken off.
struct BatchMemory {
    int jobs = 1;
    std::int64_t pictureBytes = 0;
    // What a limit leaves in all: a picture that needs more cannot be had
    // even alone, and fails instead of taking the process down; -1 without
    // a limit (the machine may still find the memory).
    std::int64_t ceilingBytes = -1;
    // Jobs give back what they keep between files (read buffers, spare
    // pixel blocks, shared memory): the budget cannot see it.
    bool keepNothing = false;
};

// At most `wanted` jobs, at least one, as many as three quarters of the
// room can carry at their own cost (a thread's stack, its allocator arena,
// its codec handles and decoder server) and as many as the descriptor limit
// leaves open descriptors for. Under an address-space limit the allocator's
// arenas are capped first, so that their reservations do not take the room
// of pictures.
BatchMemory PlanBatchMemory(int wanted, const MemoryRoom& room);

// The jobs the descriptor limit leaves room for, at least one.
int JobsWithinDescriptors(int wanted);

constexpr std::int64_t kMinBudgetBytes = std::int64_t{64} << 20;

class MemoryBudget {
  public:
    explicit MemoryBudget(std::int64_t totalBytes, std::int64_t ceilingBytes = -1);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    std::int64_t Total() const { return total_; }
    std::int64_t InUse() const;

  private:
    friend class BudgetHold;
    enum class Acquired { kAcquired, kStopped, kBeyondCeiling };
    // Waits until bytes fit beside what the others hold, or nobody holds
    // anything (a picture larger than the whole budget still gets its turn,
    // alone, up to the ceiling).
    Acquired Acquire(std::int64_t bytes, const std::atomic<bool>& stop);
    void Release(std::int64_t bytes);

    const std::int64_t total_;
    const std::int64_t ceiling_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::int64_t used_ = 0;  // guarded by mutex_
};

// One file's share of a budget, given back when the file is done. A file
// holds at most one share at a time, so a file that waits holds nothing and
// files cannot wait for each other in a circle.
class BudgetHold {
  public:
    // alone: every share is the whole budget, so the file runs while no
    // other holds anything (the second try of a file that ran out of memory
    // beside the others).
    BudgetHold(MemoryBudget* budget, const std::atomic<bool>& stop, bool alone = false)
        : budget_(budget), stop_(stop), alone_(alone) {}
    ~BudgetHold() { Reset(); }
    BudgetHold(const BudgetHold&) = delete;
    BudgetHold& operator=(const BudgetHold&) = delete;

    // Gives back what is held and waits for bytes. True at once without a
    // budget; false when stop came first or, for memory this process itself
    // must hold (inProcess), when the bytes are beyond the ceiling
    // (Refused() then says so). A decoder process that cannot have its
    // share fails by itself, alone.
    bool Admit(std::int64_t bytes, bool inProcess = false);
    void Reset();
    bool Refused() const { return refused_; }

  private:
    MemoryBudget* budget_;
    const std::atomic<bool>& stop_;
    bool alone_;
    std::int64_t held_ = 0;
    bool refused_ = false;
};

}  // namespace corvanta
