#include "batch/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace corvanta {
namespace {

constexpr std::int64_t kKiB = 1024;
// Stop is a plain flag (a signal handler sets it): look at it this often.
constexpr std::chrono::milliseconds kStopPoll{50};

// A "Name:   1234 kB" line of a /proc file, in bytes; -1 when missing.
std::int64_t ProcKilobytes(const char* file, std::string_view name) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, name.size(), name) == 0) {
            std::istringstream fields(line.substr(name.size()));
            std::int64_t kilobytes = -1;
            if (fields >> kilobytes) {
                return kilobytes * kKiB;
            }
        }
    }
    return -1;
}

std::int64_t ReadNumber(const std::string& file) {
    std::ifstream in(file);
    std::int64_t value = -1;
    if (!(in >> value)) {
        return -1;  // missing, or "max"
    }
    return value;
}

// memory.max minus memory.current of this process's cgroup (version 2).
std::int64_t CgroupRoom() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    if (!std::getline(in, line) || line.rfind("0::", 0) != 0) {
        return -1;
    }
    const std::string folder = "/sys/fs/cgroup" + line.substr(3);
    const std::int64_t max = ReadNumber(folder + "/memory.max");
    const std::int64_t current = ReadNumber(folder + "/memory.current");
    if (max < 0 || current < 0) {
        return -1;
    }
    return std::max<std::int64_t>(0, max - current);
}

std::int64_t AddressSpaceRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return -1;
    }
    const std::int64_t used = ProcKilobytes("/proc/self/status", "VmSize:");
    return std::max<std::int64_t>(
        0, static_cast<std::int64_t>(limit.rlim_cur) - std::max<std::int64_t>(used, 0));
}

}  // namespace

std::int64_t AvailableMemoryBytes() {
    std::int64_t room = -1;
    for (const std::int64_t candidate :
         {ProcKilobytes("/proc/meminfo", "MemAvailable:"), CgroupRoom(), AddressSpaceRoom()}) {
        if (candidate >= 0 && (room < 0 || candidate < room)) {
            room = candidate;
        }
    }
    return room;
}

std::int64_t DefaultBudgetBytes() {
    const std::int64_t available = AvailableMemoryBytes();
    if (available < 0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return std::max(kMinBudgetBytes, available / 4 * 3);
}

int JobsWithinBudget(int wanted, std::int64_t budgetBytes) {
    const std::int64_t carried = budgetBytes / kJobBaselineBytes;
    return static_cast<int>(
        std::clamp<std::int64_t>(std::min<std::int64_t>(wanted, carried), 1, std::max(wanted, 1)));
}

MemoryBudget::MemoryBudget(std::int64_t totalBytes)
    : total_(std::max<std::int64_t>(totalBytes, 0)) {}

std::int64_t MemoryBudget::InUse() const {
    std::lock_guard lock(mutex_);
    return used_;
}

bool MemoryBudget::Acquire(std::int64_t bytes, const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    while (used_ > 0 && bytes > total_ - used_) {
        if (stop.load()) {
            return false;
        }
        released_.wait_for(lock, kStopPoll);
    }
    used_ += bytes;
    return true;
}

void MemoryBudget::Release(std::int64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        used_ -= bytes;
    }
    released_.notify_all();
}

bool BudgetHold::Admit(std::int64_t bytes) {
    Reset();
    if (budget_ == nullptr) {
        return true;
    }
    bytes = std::max<std::int64_t>(bytes, 0);
    if (!budget_->Acquire(bytes, stop_)) {
        return false;
    }
    held_ = bytes;
    return true;
}

void BudgetHold::Reset() {
    if (budget_ != nullptr && held_ > 0) {
        budget_->Release(held_);
    }
    held_ = 0;
}

}  // namespace corvanta
