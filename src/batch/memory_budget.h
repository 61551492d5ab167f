// How much memory the pictures of a batch may hold at once. Every file asks
// for what its picture will need as soon as its size is known (before any
// pixel buffer exists) and waits while the others hold too much, so a batch
// of giants runs them one after another instead of running out of memory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace corvanta {

// What this process may still use: the smallest of the kernel's
// MemAvailable, the room left under a finite address-space limit and the
// room left in a cgroup's memory.max; -1 when none of them can be read.
std::int64_t AvailableMemoryBytes();

// Three quarters of AvailableMemoryBytes(), at least kMinBudgetBytes: the
// rest is left for the toolkit, the libraries and the system.
std::int64_t DefaultBudgetBytes();

constexpr std::int64_t kMinBudgetBytes = std::int64_t{64} << 20;

// What one more job costs before it holds a picture: a thread's stack, its
// allocator arena and its codec handles, in address space.
constexpr std::int64_t kJobBaselineBytes = std::int64_t{96} << 20;

// At most `wanted` jobs, at least one, no more than the budget can carry
// at their baseline.
int JobsWithinBudget(int wanted, std::int64_t budgetBytes);

class MemoryBudget {
  public:
    explicit MemoryBudget(std::int64_t totalBytes);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    std::int64_t Total() const { return total_; }
    std::int64_t InUse() const;

  private:
    friend class BudgetHold;
    // Waits until bytes fit beside what the others hold, or nobody holds
    // anything (a picture larger than the whole budget still gets its turn,
    // alone). False when stop was set while waiting.
    bool Acquire(std::int64_t bytes, const std::atomic<bool>& stop);
    void Release(std::int64_t bytes);

    const std::int64_t total_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::int64_t used_ = 0;  // guarded by mutex_
};

// One file's share of a budget, given back when the file is done. A file
// holds at most one share at a time, so a file that waits holds nothing and
// files cannot wait for each other in a circle.
class BudgetHold {
  public:
    BudgetHold(MemoryBudget* budget, const std::atomic<bool>& stop)
        : budget_(budget), stop_(stop) {}
    ~BudgetHold() { Reset(); }
    BudgetHold(const BudgetHold&) = delete;
    BudgetHold& operator=(const BudgetHold&) = delete;

    // Gives back what is held and waits for bytes. True at once without a
    // budget; false when stop came first.
    bool Admit(std::int64_t bytes);
    void Reset();

  private:
    MemoryBudget* budget_;
    const std::atomic<bool>& stop_;
    std::int64_t held_ = 0;
};

}  // namespace corvanta
