#include "batch/memory_budget.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <vector>

#include "codecs/deflate_png_encoder.h"

namespace corvanta {
namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = kKiB * kKiB;
// Stop is a plain flag (a signal handler sets it): look at it this often.
constexpr std::chrono::milliseconds kStopPoll{50};
// cgroup version 1 says "no limit" with a number near 2^63.
constexpr std::int64_t kNoCgroupLimit = std::int64_t{1} << 62;
// What one more job costs before it holds a picture, beside its stack: its
// codec handles and small buffers, and its decoder server (a process of
// its own, but in the same cgroup).
constexpr std::int64_t kJobHandlesBytes = 16 * kMiB;
constexpr std::int64_t kDecoderServerBytes = 32 * kMiB;
// glibc reserves this much address space for every allocator arena, and
// makes up to eight per processor; under a resource limit they are capped.
constexpr std::int64_t kArenaBytes = 64 * kMiB;
constexpr int kCappedArenas = 2;
// A batch below this many bytes a job keeps nothing between files.
constexpr std::int64_t kRoomyBytesPerJob = std::int64_t{2} << 30;
// Descriptors: what the program holds beside its jobs, and what one job
// holds at most (its input, its output, the decoder server's socket and
// pidfd, the decoder's channel pair and pidfd, the shared memory).
constexpr int kReservedDescriptors = 16;
constexpr int kDescriptorsPerJob = 10;
constexpr int kMaxCountedDescriptors = 65536;

// A "Name:   1234 kB" line of a /proc file, in bytes; -1 when missing.
std::int64_t ProcKilobytes(const std::string& file, std::string_view name) {
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

// The memory controller's folder of this process: the mount of the right
// kind, and the process's path below that mount's root.
struct CgroupFolder {
    std::string path;
    std::string mountPoint;
    bool v2 = false;
};

std::optional<CgroupFolder> FindCgroup(const MemorySources& sources) {
    std::ifstream cgroups(sources.cgroup);
    std::string v1Path;
    std::string v2Path;
    for (std::string line; std::getline(cgroups, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        if (line.compare(0, first, "0") == 0 && controllers == ",,") {
            v2Path = line.substr(second + 1);
        } else if (controllers.find(",memory,") != std::string::npos) {
            v1Path = line.substr(second + 1);
        }
    }
    std::ifstream mounts(sources.mountinfo);
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, options, word;
        fields >> id >> parent >> device >> root >> point >> options;
        while (fields >> word && word != "-") {
        }
        std::string type, source, superOptions;
        fields >> type >> source >> superOptions;
        const bool v1 = type == "cgroup" &&
                        ("," + superOptions + ",").find(",memory,") != std::string::npos &&
                        !v1Path.empty();
        const bool v2 = type == "cgroup2" && !v2Path.empty() && v1Path.empty();
        const std::string& path = v1 ? v1Path : v2Path;
        if ((v1 || v2) && path.compare(0, root.size(), root) == 0) {
            const std::string below = root == "/" ? path : path.substr(root.size());
            return CgroupFolder{point + below, point, v2};
        }
    }
    return std::nullopt;
}

// The least room any level of the hierarchy leaves, from the process's own
// folder up to the mount.
std::int64_t CgroupRoom(const MemorySources& sources) {
    const std::optional<CgroupFolder> cgroup = FindCgroup(sources);
    if (!cgroup) {
        return -1;
    }
    std::int64_t room = -1;
    for (std::string folder = cgroup->path;;) {
        std::vector<std::int64_t> limits;
        std::int64_t used = -1;
        if (cgroup->v2) {
            limits = {ReadNumber(folder + "/memory.max"), ReadNumber(folder + "/memory.high")};
            used = ReadNumber(folder + "/memory.current");
        } else {
            limits = {ReadNumber(folder + "/memory.limit_in_bytes")};
            used = ReadNumber(folder + "/memory.usage_in_bytes");
        }
        for (const std::int64_t limit : limits) {
            if (limit >= 0 && limit < kNoCgroupLimit) {
                const std::int64_t left =
                    std::max<std::int64_t>(0, limit - std::max<std::int64_t>(used, 0));
                room = room < 0 ? left : std::min(room, left);
            }
        }
        const std::size_t slash = folder.rfind('/');
        if (folder.size() <= cgroup->mountPoint.size() || slash == std::string::npos) {
            return room;
        }
        folder.resize(slash);
    }
}

// The room a finite resource limit leaves beside what is in use.
std::int64_t LimitRoom(int resource, const MemorySources& sources, std::string_view usedField) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return -1;
    }
    const auto total = static_cast<std::int64_t>(limit.rlim_cur);
    const std::int64_t used = ProcKilobytes(sources.status, usedField);
    // Without /proc the use is unknown: half the limit is a fair guess.
    return std::max<std::int64_t>(0, total - (used >= 0 ? used : total / 2));
}

std::int64_t MachineRoom(const MemorySources& sources) {
    const std::int64_t available = ProcKilobytes(sources.meminfo, "MemAvailable:");
    if (available >= 0) {
        return available;
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.freeram + info.bufferram) * info.mem_unit;
}

std::int64_t ThreadStackBytes() {
    pthread_attr_t attributes;
    std::size_t stack = 8 * kMiB;
    if (pthread_getattr_default_np(&attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &stack);
        pthread_attr_destroy(&attributes);
    }
    return static_cast<std::int64_t>(stack);
}

int OpenDescriptors(int limit) {
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        int count = -1;  // the listing's own descriptor
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(dir);
        return count;
    }
    int count = 0;
    for (int fd = 0; fd < std::min(limit, kMaxCountedDescriptors); ++fd) {
        count += ::fcntl(fd, F_GETFD) >= 0 ? 1 : 0;
    }
    return count;
}

}  // namespace

std::int64_t PngConversionBytes(std::int64_t decodedPixels, ImageSize fitted, int channels) {
    // The rows are what a turn changes: one filter byte each.
    const std::size_t encoder =
        std::max(DeflatePngEncoder::WorkingBytes(fitted.width, fitted.height, channels),
                 DeflatePngEncoder::WorkingBytes(fitted.height, fitted.width, channels));
    return channels * (decodedPixels + std::int64_t{fitted.width} * fitted.height) +
           static_cast<std::int64_t>(encoder);
}

MemoryRoom ReadMemoryRoom(const MemorySources& sources) {
    MemoryRoom room;
    room.bytes = MachineRoom(sources);
    const struct {
        std::int64_t bytes;
        bool addressSpace;
    } limits[] = {{CgroupRoom(sources), false},
                  {LimitRoom(RLIMIT_AS, sources, "VmSize:"), true},
                  {LimitRoom(RLIMIT_DATA, sources, "VmData:"), true}};
    for (const auto& limit : limits) {
        if (limit.bytes >= 0 && (room.bytes < 0 || limit.bytes < room.bytes)) {
            room.bytes = limit.bytes;
            room.limited = true;
            room.addressSpace = limit.addressSpace;
        }
    }
    return room;
}

int JobsWithinDescriptors(int wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::max(wanted, 1);
    }
    const int soft = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, kMaxCountedDescriptors));
    const int free = soft - OpenDescriptors(soft) - kReservedDescriptors;
    return std::clamp(free / kDescriptorsPerJob, 1, std::max(wanted, 1));
}

BatchMemory PlanBatchMemory(int wanted, const MemoryRoom& room) {
    BatchMemory plan;
    wanted = std::max(wanted, 1);
    if (room.bytes < 0) {
        plan.jobs = wanted;
        plan.pictureBytes = std::numeric_limits<std::int64_t>::max();
        return plan;
    }
    // The rest is left for the toolkit, the libraries and the system.
    const std::int64_t budget = std::max(kMinBudgetBytes, room.bytes / 4 * 3);
    std::int64_t shared = 0;
    std::int64_t perJob = kJobHandlesBytes + kDecoderServerBytes;
    if (room.addressSpace) {
        // Address space the arenas would reserve goes to pictures instead.
        mallopt(M_ARENA_MAX, kCappedArenas);
        shared = kCappedArenas * kArenaBytes;
        perJob += ThreadStackBytes();
    } else if (!room.limited) {
        perJob += ThreadStackBytes() + kArenaBytes;  // reserved, and mostly touched in time
    }
    plan.jobs = static_cast<int>(
        std::clamp<std::int64_t>((budget - shared - kMinBudgetBytes) / perJob, 1, wanted));
    plan.pictureBytes = std::max(kMinBudgetBytes, budget - shared - plan.jobs * perJob);
    plan.keepNothing = room.limited || plan.pictureBytes < plan.jobs * kRoomyBytesPerJob;
    plan.ceilingBytes = room.limited ? room.bytes : -1;
    return plan;
}

MemoryBudget::MemoryBudget(std::int64_t totalBytes, std::int64_t ceilingBytes)
    : total_(std::max<std::int64_t>(totalBytes, 0)), ceiling_(ceilingBytes) {}

std::int64_t MemoryBudget::InUse() const {
    std::lock_guard lock(mutex_);
    return used_;
}

MemoryBudget::Acquired MemoryBudget::Acquire(std::int64_t bytes, const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    while (used_ > 0 && bytes > total_ - used_) {
        if (stop.load()) {
            return Acquired::kStopped;
        }
        released_.wait_for(lock, kStopPoll);
    }
    used_ += bytes;
    return Acquired::kAcquired;
}

void MemoryBudget::Release(std::int64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        used_ -= bytes;
    }
    released_.notify_all();
}

bool BudgetHold::Admit(std::int64_t bytes, bool inProcess) {
    Reset();
    if (budget_ == nullptr) {
        return true;
    }
    if (inProcess && budget_->ceiling_ >= 0 && bytes > budget_->ceiling_) {
        refused_ = true;
        return false;
    }
    bytes = alone_ ? std::max(bytes, budget_->Total()) : std::max<std::int64_t>(bytes, 0);
    if (budget_->Acquire(bytes, stop_) != MemoryBudget::Acquired::kAcquired) {
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
