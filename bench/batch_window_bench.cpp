// A batch of twelve 12-megapixel photographs, at 1000 x 1000 and at full
// size, dropped on the window with one job and with the window's default
// (one per processor), and through the command line's conversion with one
// job, in the same run; with the peak resident memory of each window batch. For the window it also
// reports how long the window thread was kept from its events:
//   max_dispatch_ms    the longest single dispatch of the main loop (every
//                      handler that ran in one go: progress events, drawing,
//                      X events), waiting for events not counted;
//   max_dispatch_cpu_ms  the same in CPU time of the window thread, which
//                      leaves out the time the system gave to other threads
//                      (on a machine with few cores the worker competes);
//   max_window_gap_ms  the longest gap between two ticks of a 1 ms timeout,
//                      which also counts the time the system did not run
//                      the window thread at all.
// BM_IdleWindow gives the same two figures with no batch, as the floor the
// machine itself sets. Needs a display:
//   xvfb-run -a build/bench/corvanta_batch_window_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <turbojpeg.h>

#include "app/program.h"
#include "app/routing.h"
#include "cli/convert_command.h"
#include "cli/convert_options.h"

namespace corvanta {
namespace {

constexpr int kPhotos = 12;
constexpr int kPhotoWidth = 4000;  // 12 megapixels
constexpr int kPhotoHeight = 3000;
constexpr int kPhotoQuality = 92;
constexpr int kBox = 1000;
constexpr guint kWatchdogMs = 1;

// Soft waves and discs with sensor grain, stored as a camera would.
std::vector<unsigned char> MakePhotoJpeg(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> grain(0.0, 3.0);
    std::vector<std::array<double, 4>> waves;
    for (int i = 0; i < 5; ++i) {
        waves.push_back(
            {unit(rng) * 0.006, unit(rng) * 0.006, unit(rng) * 6.28, 20 + 30 * unit(rng)});
    }
    std::vector<unsigned char> rgb(static_cast<std::size_t>(kPhotoWidth) * kPhotoHeight * 3);
    for (int y = 0; y < kPhotoHeight; ++y) {
        for (int x = 0; x < kPhotoWidth; ++x) {
            double v = 110;
            for (const auto& w : waves) {
                v += w[3] * std::sin(x * w[0] + y * w[1] + w[2]);
            }
            unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * kPhotoWidth + x) * 3;
            p[0] = static_cast<unsigned char>(std::clamp(v + 25 + grain(rng), 0.0, 255.0));
            p[1] = static_cast<unsigned char>(std::clamp(v + grain(rng), 0.0, 255.0));
            p[2] = static_cast<unsigned char>(std::clamp(v - 20 + grain(rng), 0.0, 255.0));
        }
    }
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, rgb.data(), kPhotoWidth, kPhotoWidth * 3, kPhotoHeight, TJPF_RGB, &jpeg,
                &size, TJSAMP_420, kPhotoQuality, 0);
    std::vector<unsigned char> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(compressor);
    return bytes;
}

struct Photos {
    std::string root;
    std::string out;  // without the trailing slash
    std::vector<std::string> files;
};

const Photos& TwelvePhotos() {
    static const Photos photos = [] {
        Photos p;
        gchar* root = g_dir_make_tmp("corvanta-bench-XXXXXX", nullptr);
        p.root = root;
        g_free(root);
        p.out = p.root + "/out";
        g_mkdir(p.out.c_str(), 0755);
        for (int i = 0; i < kPhotos; ++i) {
            const std::vector<unsigned char> jpeg = MakePhotoJpeg(static_cast<unsigned>(i + 1));
            p.files.push_back(p.root + "/photo" + std::to_string(i + 1) + ".jpg");
            g_file_set_contents(p.files.back().c_str(), reinterpret_cast<const gchar*>(jpeg.data()),
                                static_cast<gssize>(jpeg.size()), nullptr);
        }
        return p;
    }();
    return photos;
}

void RemoveFilesIn(const std::string& folder) {
    GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
    const gchar* name = nullptr;
    while (dir != nullptr && (name = g_dir_read_name(dir)) != nullptr) {
        g_unlink((folder + "/" + name).c_str());
    }
    if (dir != nullptr) {
        g_dir_close(dir);
    }
}

AppState& Window() {
    static std::unique_ptr<AppState> state = [] {
        std::unique_ptr<AppState> s = StartProgram("corvanta");
        ShowMainWindow(*s);
        for (int i = 0; i < 50; ++i) {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            g_usleep(2000);
        }
        return s;
    }();
    return *state;
}

struct Watchdog {
    gint64 last = 0;
    gint64 longest = 0;
};

gboolean Tick(gpointer data) {
    auto* dog = static_cast<Watchdog*>(data);
    const gint64 now = g_get_monotonic_time();
    dog->longest = std::max(dog->longest, now - dog->last);
    dog->last = now;
    return G_SOURCE_CONTINUE;
}

gint64 ThreadCpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<gint64>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

struct Dispatch {
    gint64 wall = 0;  // microseconds
    gint64 cpu = 0;
};

// One main loop iteration as g_main_context_iteration does it, with the
// dispatch timed on its own.
Dispatch IterateTimed(GMainContext* context, std::vector<GPollFD>& fds) {
    if (!g_main_context_acquire(context)) {
        return {};
    }
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    gint timeout = -1;
    gint count = 0;
    while ((count = g_main_context_query(context, priority, &timeout, fds.data(),
                                         static_cast<gint>(fds.size()))) >
           static_cast<gint>(fds.size())) {
        fds.resize(static_cast<std::size_t>(count));
    }
    g_poll(fds.data(), static_cast<guint>(count), timeout);
    const gint64 start = g_get_monotonic_time();
    const gint64 startCpu = ThreadCpuMicroseconds();
    if (g_main_context_check(context, priority, fds.data(), count)) {
        g_main_context_dispatch(context);
    }
    const Dispatch took{g_get_monotonic_time() - start, ThreadCpuMicroseconds() - startCpu};
    g_main_context_release(context);
    return took;
}

struct Blocking {
    gint64 longestDispatch = 0;
    gint64 longestDispatchCpu = 0;
    gint64 longestGap = 0;

    void Add(const Blocking& other) {
        longestDispatch = std::max(longestDispatch, other.longestDispatch);
        longestDispatchCpu = std::max(longestDispatchCpu, other.longestDispatchCpu);
        longestGap = std::max(longestGap, other.longestGap);
    }
};

// Runs the main loop until done() holds, measuring both figures.
template <typename Done>
Blocking RunLoopUntil(const Done& done) {
    GMainContext* context = g_main_context_default();
    std::vector<GPollFD> fds(64);
    Watchdog dog;
    dog.last = g_get_monotonic_time();
    const guint watchdog = g_timeout_add(kWatchdogMs, Tick, &dog);
    Blocking blocking;
    while (!done()) {
        const Dispatch took = IterateTimed(context, fds);
        blocking.longestDispatch = std::max(blocking.longestDispatch, took.wall);
        blocking.longestDispatchCpu = std::max(blocking.longestDispatchCpu, took.cpu);
    }
    g_source_remove(watchdog);
    blocking.longestGap = dog.longest;
    return blocking;
}

void Report(benchmark::State& run, const Blocking& blocking) {
    run.counters["max_dispatch_ms"] = static_cast<double>(blocking.longestDispatch) / 1000.0;
    run.counters["max_dispatch_cpu_ms"] = static_cast<double>(blocking.longestDispatchCpu) / 1000.0;
    run.counters["max_window_gap_ms"] = static_cast<double>(blocking.longestGap) / 1000.0;
}

// Resets the peak resident size the kernel keeps for this process.
void ResetPeakMemory() {
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

// The peak resident size since the last reset, in MiB.
double PeakMemoryMiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    double kib = 0;
    char line[256];
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %lf", &kib) == 1) {
            break;
        }
    }
    if (status != nullptr) {
        std::fclose(status);
    }
    return kib / 1024.0;
}

// Args: box side (0 = full size), jobs (0 = the window's default, one per
// processor).
void BM_BatchDroppedOnTheWindow(benchmark::State& run) {
    const Photos& photos = TwelvePhotos();
    AppState& state = Window();
    const std::string box = std::to_string(run.range(0));
    state.batch.jobs = static_cast<int>(run.range(1));
    gtk_entry_set_text(GTK_ENTRY(state.widgets.outputFolderField), (photos.out + "/").c_str());
    gtk_entry_set_text(GTK_ENTRY(state.widgets.maxWidthField), box.c_str());
    gtk_entry_set_text(GTK_ENTRY(state.widgets.maxHeightField), box.c_str());
    Blocking worst;
    double peak = 0;
    for (auto _ : run) {
        RemoveFilesIn(photos.out);
        ResetPeakMemory();
        const auto start = std::chrono::steady_clock::now();
        RouteFileDrop(state, DropTarget::kBatch, photos.files);
        const Blocking blocking = RunLoopUntil([&] { return !state.batch.active; });
        const auto end = std::chrono::steady_clock::now();
        run.SetIterationTime(std::chrono::duration<double>(end - start).count());
        worst.Add(blocking);
        peak = std::max(peak, PeakMemoryMiB());
    }
    Report(run, worst);
    run.counters["peak_rss_mib"] = peak;
    state.batch.jobs = 0;
}
BENCHMARK(BM_BatchDroppedOnTheWindow)
    ->ArgNames({"box", "jobs"})
    ->ArgsProduct({{kBox, 0}, {1, 0}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_IdleWindow(benchmark::State& run) {
    Window();
    Blocking worst;
    for (auto _ : run) {
        const gint64 end = g_get_monotonic_time() + 500 * 1000;
        const Blocking blocking = RunLoopUntil([&] { return g_get_monotonic_time() >= end; });
        worst.Add(blocking);
    }
    Report(run, worst);
}
BENCHMARK(BM_IdleWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BatchThroughTheCommandWithOneJob(benchmark::State& run) {
    const Photos& photos = TwelvePhotos();
    ConvertOptions options;
    options.outputFolder = photos.out + "/";
    options.scheme = FindBuiltInPreset("Gray").value_or(ColorScheme{});
    options.maxWidth = kBox;
    options.maxHeight = kBox;
    options.jobs = 1;
    options.inputs = photos.files;
    std::FILE* sink = std::fopen("/dev/null", "w");
    std::atomic<bool> stop{false};
    for (auto _ : run) {
        RemoveFilesIn(photos.out);
        const auto start = std::chrono::steady_clock::now();
        RunConvertCommand(options, stop, sink, sink);
        const auto end = std::chrono::steady_clock::now();
        run.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    std::fclose(sink);
}
BENCHMARK(BM_BatchThroughTheCommandWithOneJob)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The same batch through the corvanta-convert program itself, start-up
// included.
void BM_CorvantaConvertProcessWithOneJob(benchmark::State& run) {
    const Photos& photos = TwelvePhotos();
    std::vector<std::string> args = {CORVANTA_CONVERT_PROGRAM,
                                     "--output",
                                     photos.out + "/",
                                     "--max-size",
                                     std::to_string(kBox) + "x" + std::to_string(kBox),
                                     "--jobs",
                                     "1"};
    args.insert(args.end(), photos.files.begin(), photos.files.end());
    std::vector<gchar*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    for (auto _ : run) {
        RemoveFilesIn(photos.out);
        gint status = 0;
        const auto start = std::chrono::steady_clock::now();
        const gboolean ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL,
                                          nullptr, nullptr, nullptr, nullptr, &status, nullptr);
        const auto end = std::chrono::steady_clock::now();
        if (!ran || !g_spawn_check_wait_status(status, nullptr)) {
            run.SkipWithError("corvanta-convert failed");
            break;
        }
        run.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
BENCHMARK(BM_CorvantaConvertProcessWithOneJob)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace corvanta

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        return 1;  // no display
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    const corvanta::Photos& photos = corvanta::TwelvePhotos();
    corvanta::RemoveFilesIn(photos.out);
    g_rmdir(photos.out.c_str());
    corvanta::RemoveFilesIn(photos.root);
    g_rmdir(photos.root.c_str());
    return 0;
}
