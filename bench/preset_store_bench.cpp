// What storing a user preset costs: the whole update (read the file again,
// change one preset, write a new file, flush it, rename it over the old one
// and flush the folder) against the least a lasting 496-byte replacement
// needs (write, flush, rename). Run it in a folder on the disk in question:
//
//   corvanta_preset_store_bench [--benchmark_filter=...]   in the current folder
//   CORVANTA_BENCH_DIR=/mnt/slow corvanta_preset_store_bench
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <glib.h>

#include "scheme/preset_store.h"

namespace corvanta {
namespace {

// A folder of the run's own inside the chosen one, removed at the end.
class BenchFolder {
  public:
    BenchFolder() {
        const char* base = std::getenv("CORVANTA_BENCH_DIR");
        std::string pattern = std::string(base != nullptr ? base : ".") + "/store-bench-XXXXXX";
        path_ = g_mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~BenchFolder() {
        if (!path_.empty()) {
            ::unlink(File().c_str());
            ::rmdir(path_.c_str());
        }
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    bool Valid() const { return !path_.empty(); }
    std::string File() const { return path_ + "/" + kPresetStoreFileName; }

  private:
    std::string path_;
};

void BM_StoreUserPreset(benchmark::State& state) {
    BenchFolder folder;
    if (!folder.Valid()) {
        state.SkipWithError("no folder to write in");
        return;
    }
    PresetStoreChange change;
    std::uint32_t colour = 0xFF000000;
    for (auto _ : state) {
        change.userPresets[3] = ColorScheme{++colour, 0, 0, 0, 0, 0, 0, 0, kOpaqueWhite};
        if (UpdatePresetStoreFile(folder.File(), change).status != StoreStatus::kDone) {
            state.SkipWithError("the update failed");
            return;
        }
    }
}
BENCHMARK(BM_StoreUserPreset)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: 496 bytes into a new file, flushed, renamed into place.
void BM_FlushedReplaceFloor(benchmark::State& state) {
    BenchFolder folder;
    if (!folder.Valid()) {
        state.SkipWithError("no folder to write in");
        return;
    }
    const std::string temp = folder.File() + ".new";
    std::array<std::uint8_t, kPresetStoreSize> bytes{};
    for (auto _ : state) {
        ++bytes[20];
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool ok =
            fd >= 0 &&
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(fd) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (!ok || ::rename(temp.c_str(), folder.File().c_str()) != 0) {
            state.SkipWithError("the write failed");
            return;
        }
    }
}
BENCHMARK(BM_FlushedReplaceFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace corvanta

BENCHMARK_MAIN();
