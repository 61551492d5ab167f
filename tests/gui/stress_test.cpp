// The window driven hard: thousands of files in one batch, batches started
// and stopped over and over, the window closed at arbitrary moments, and the
// scheme changed again and again while the worker maps. Run under
// ThreadSanitizer as well, where these are the tests that exercise the
// hand-over between the window thread and the worker.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/batch_controller.h"
#include "app/program.h"
#include "batch_helpers.h"
#include "codecs/image_loader.h"
#include "dialog_answerer.h"
#include "scheme/gradient_table.h"
#include "scheme/scheme_text.h"
#include "support/folder_test.h"
#include "tone/tone_map.h"

namespace corvanta::testing {
namespace {

namespace ts = test_support;

// Sanitizers keep freed memory in quarantine or shadow it, so resident
// memory says nothing about our own use under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int ThreadCount() {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return -1;
    }
    while (const dirent* entry = readdir(tasks)) {
        count += entry->d_name[0] != '.';
    }
    closedir(tasks);
    return count;
}

// The number in "STOP CONVERSION [n]", or -1 for any other label.
long CounterIn(const std::string& label) {
    const std::string prefix = "STOP CONVERSION [";
    if (label.compare(0, prefix.size(), prefix) != 0 || label.back() != ']') {
        return -1;
    }
    return std::stol(label.substr(prefix.size()));
}

// Fires every millisecond and keeps the longest wait between two firings:
// how long the window thread was kept from its main loop.
class StallMeter {
  public:
    StallMeter() : last_(g_get_monotonic_time()), source_(g_timeout_add(1, Tick, this)) {}
    ~StallMeter() { g_source_remove(source_); }
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;
    gint64 LongestMs() const { return longest_ / 1000; }

  private:
    static gboolean Tick(gpointer self) {
        auto* meter = static_cast<StallMeter*>(self);
        const gint64 now = g_get_monotonic_time();
        meter->longest_ = std::max(meter->longest_, now - meter->last_);
        meter->last_ = now;
        return G_SOURCE_CONTINUE;
    }
    gint64 last_;
    gint64 longest_ = 0;
    guint source_;
};

class StressTest : public BatchTest {
  protected:
    // count copies of one small JPEG, named f0000.jpg and on.
    std::vector<std::string> ManyJpegs(int count, int width, int height) {
        const ts::Bytes jpeg = ts::MakeJpeg(width, height);
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%04d.jpg", i);
            paths.push_back(in_ + "/" + name);
            EXPECT_TRUE(ts::WriteFile(paths.back(), jpeg));
        }
        return paths;
    }

    // After ShutDown: a fresh window.
    void Reopen() {
        state_.reset();
        PumpFor(20);
        MainWindowTest::SetUp();
    }

    // A new output folder for the next batch: a name is written at most
    // twice a second (plain, then with the date), and batches here follow
    // each other faster than that.
    std::string NextOutputFolder(int n) {
        const std::string folder = out_ + "/" + std::to_string(n);
        EXPECT_EQ(mkdir(folder.c_str(), 0755), 0);
        SetFolderField(folder + "/");
        return folder;
    }
};

TEST_F(StressTest, TwoThousandFilesKeepTheLogCounterAndMemoryBounded) {
    // Sanitized builds run every picture many times slower: fewer files
    // there still cross the log's and the counter's bounds many times.
    constexpr int kFiles = ts::kUnderSanitizer ? 300 : 2000;
    const std::vector<std::string> files = ManyJpegs(kFiles, 256, 96);
    std::vector<std::string> labels;
    const gulong handler =
        g_signal_connect(Widgets().stopButton, "notify::label",
                         G_CALLBACK(+[](GObject* button, GParamSpec*, gpointer data) {
                             static_cast<std::vector<std::string>*>(data)->push_back(
                                 gtk_button_get_label(GTK_BUTTON(button)));
                         }),
                         &labels);

    const long residentBefore = ResidentKiB();
    long residentPeak = residentBefore;
    const gint64 started = g_get_monotonic_time();
    StallMeter stalls;
    const gint64 dropStarted = g_get_monotonic_time();
    Drop(files);
    const gint64 dropMs = (g_get_monotonic_time() - dropStarted) / 1000;
    ASSERT_TRUE(PumpUntil(
        [&] {
            residentPeak = std::max(residentPeak, ResidentKiB());
            return !State().batch.active;
        },
        600000));
    const gint64 elapsedMs = (g_get_monotonic_time() - started) / 1000;
    g_signal_handler_disconnect(Widgets().stopButton, handler);

    // One line per file and nothing else.
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kFiles) + 4);
    for (int i = 0; i < kFiles; ++i) {
        char expected[48];
        std::snprintf(expected, sizeof expected, "[Done]  f%04d.jpg", i);
        ASSERT_EQ(lines[static_cast<std::size_t>(i) + 2], expected);
    }
    EXPECT_TRUE(IsTotalTimeLine(lines.back()));
    EXPECT_EQ(ts::ListFolder(out_).size(), static_cast<std::size_t>(kFiles));

    // The counter only ever counts down, ends at zero, and was seen on its
    // way: the window kept handling events during the batch.
    long previous = kFiles;
    int counted = 0;
    for (const std::string& label : labels) {
        const long counter = CounterIn(label);
        if (counter >= 0) {
            EXPECT_LT(counter, previous) << label;
            previous = counter;
            ++counted;
        }
    }
    EXPECT_EQ(previous, 0);
    EXPECT_GT(counted, 10);

    const long growthKiB = residentPeak - residentBefore;
    std::cout << kFiles << " files: " << elapsedMs << " ms, the drop itself " << dropMs
              << " ms, longest main-loop stall " << stalls.LongestMs() << " ms, resident growth "
              << growthKiB / 1024 << " MiB\n";
    RecordProperty("elapsed_ms", static_cast<int>(elapsedMs));
    RecordProperty("drop_ms", static_cast<int>(dropMs));
    RecordProperty("longest_stall_ms", static_cast<int>(stalls.LongestMs()));
    RecordProperty("resident_growth_kib", static_cast<int>(growthKiB));
    if (kMemoryIsMeaningful) {
        // The log's text and layout, nothing per image kept: a thumbnail
        // of each picture left behind would be 140 MiB.
        EXPECT_LT(growthKiB, 32 * 1024);
    }
}

TEST_F(StressTest, FiftyBatchesStoppedAtEveryPositionLeaveNothingBehind) {
    constexpr int kCycles = 50;
    constexpr int kFiles = 4;
    const std::vector<std::string> files = ManyJpegs(kFiles, 160, 120);
    const int threadsBefore = ThreadCount();
    State().batch.jobs = 2;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const std::string folder = NextOutputFolder(cycle);
        // Stop while file k is being loaded. Files finished before are
        // done; a file the other job has in hand may end either way; files
        // not started have no line.
        const int k = 1 + cycle % kFiles;
        WorkerGate& loading = Gate(At(ProgressKind::kLoading, k));
        Drop(files);
        ASSERT_TRUE(PumpUntil([&] { return loading.Reached(); }, 60000));
        gtk_button_clicked(GTK_BUTTON(Widgets().stopButton));
        loading.Release();
        ASSERT_TRUE(WaitForBatchEnd(State()));

        const std::vector<std::string> lines = Lines();
        ASSERT_GE(lines.size(), static_cast<std::size_t>(k) + 4);
        ASSERT_LE(lines.size(), static_cast<std::size_t>(k) + 5);
        std::size_t done = 0;
        for (std::size_t i = 2; i + 2 < lines.size(); ++i) {
            const bool isDone = lines[i].rfind("[Done]  ", 0) == 0;
            done += isDone ? 1 : 0;
            EXPECT_TRUE(isDone || lines[i].rfind("[Cancelled]  ", 0) == 0) << lines[i];
        }
        EXPECT_EQ(lines[static_cast<std::size_t>(k) + 1].rfind("[Cancelled]  ", 0), 0u);
        EXPECT_GE(done + 1, static_cast<std::size_t>(k - 1)) << "at most one file was in hand";
        EXPECT_TRUE(IsTotalTimeLine(lines.back()));
        EXPECT_FALSE(State().batch.WorkerAlive());
        EXPECT_FALSE(State().batch.shared.stop.load());
        EXPECT_EQ(ts::ListFolder(folder).size(), done);
        ts::ExpectOnlyWholeImages(folder);
        gates_.clear();
    }
    // Every worker was joined. GLib may start a helper thread of its own on
    // the way; fifty leaked workers would show.
    EXPECT_LE(ThreadCount(), threadsBefore + 3);
}

TEST_F(StressTest, ClosingAtArbitraryMomentsOfABatchEndsCleanly) {
    constexpr int kCloses = 24;
    constexpr int kFiles = 6;
    const std::vector<std::string> files = ManyJpegs(kFiles, 320, 240);
    std::mt19937 random(20261208);
    for (int round = 0; round < kCloses; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string folder = NextOutputFolder(round);
        // Half the rounds close at a chosen progress event, half after a
        // chosen delay, which may fall before the first event or after the
        // last.
        const bool atEvent = round % 2 == 0;
        const int eventIndex = static_cast<int>(random() % (kFiles * 3));
        const int delayMs = static_cast<int>(random() % 40);
        std::atomic<int> events{0};
        State().batch.sink.beforePost = [&events](const ProgressEvent&) { ++events; };
        Drop(files);
        if (atEvent) {
            PumpUntil([&] { return events.load() > eventIndex || !State().batch.active; }, 60000);
        } else {
            PumpFor(delayMs);
        }
        ShutDown(State());
        EXPECT_FALSE(State().batch.WorkerAlive());
        EXPECT_FALSE(State().batch.worker.joinable());
        State().batch.sink.beforePost = nullptr;
        ts::ExpectOnlyWholeImages(folder);
        Reopen();
    }
}

// Each output must be its input mapped with one whole scheme, one that was
// current at some moment, and never one older than the change made before
// the file started.
TEST_F(StressTest, AHundredSchemeChangesDuringABatchMapEveryImageWithOneWholeScheme) {
    constexpr int kChanges = ts::kUnderSanitizer ? 20 : 100;
    constexpr int kFiles = kChanges + 20;
    const ts::Bytes png = ts::MakePng(64, 48, false, 5);
    std::vector<std::string> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(in_ + "/p" + std::to_string(1000 + i) + ".png");
        ASSERT_TRUE(ts::WriteFile(files.back(), png));
    }
    // The worker may not start file i before the window has made change i,
    // so the changes are spread over the whole batch and each lands while
    // some image is being mapped.
    std::atomic<int> changesMade{0};
    std::atomic<bool> giveUp{false};
    State().batch.sink.beforePost = [&](const ProgressEvent& event) {
        if (event.kind != ProgressKind::kLoading) {
            return;
        }
        const gint64 deadline = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
        while (changesMade.load() < event.fileNumber && !giveUp.load() &&
               g_get_monotonic_time() < deadline) {
            g_usleep(200);
        }
    };

    // Ctrl+R on a middle slot changes the mapping of mid-tones, which the
    // picture has plenty of.
    Model().SelectSlot(4);
    State().batch.jobs = 2;
    std::vector<ColorScheme> schemes{Scheme()};
    DialogAnswerer yes("Clipboard data", GTK_RESPONSE_YES);
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    std::mt19937 random(7);
    Drop(files);
    for (int change = 0; change < kChanges && !HasFatalFailure(); ++change) {
        if (change % 2 == 0) {
            RouteShortcut(State(), kShortcutRandomColor);
        } else {
            ColorScheme pasted{};
            for (std::uint32_t& slot : pasted) {
                slot = MakeOpaqueColor(random() % 256, random() % 256, random() % 256);
            }
            gtk_clipboard_set_text(clipboard, FormatSchemeText(pasted).c_str(), -1);
            RouteShortcut(State(), kShortcutPaste);
            EXPECT_TRUE(PumpUntil([&] { return !State().clipboard.pasteInProgress; }, 30000));
            EXPECT_EQ(Scheme(), pasted);
        }
        schemes.push_back(Scheme());
        ++changesMade;
        EXPECT_TRUE(State().batch.active) << "the batch ended before change " << change;
        PumpFor(1);
    }
    giveUp = true;
    ASSERT_TRUE(WaitForBatchEnd(State(), 300000));
    EXPECT_EQ(yes.Answered().size(), static_cast<std::size_t>(kChanges / 2));

    std::vector<GradientTable> tables(schemes.size());
    for (std::size_t i = 0; i < schemes.size(); ++i) {
        BuildGradientTable(&schemes[i], tables[i]);
    }
    std::size_t latest = 0;
    for (std::size_t file = 0; file < files.size(); ++file) {
        const std::string& input = files[file];
        // File number n started once change n was made: schemes[n] onwards.
        const std::size_t earliest = std::min(file + 1, tables.size() - 1);
        const std::string name = input.substr(input.rfind('/') + 1);
        SCOPED_TRACE(name);
        PixbufPtr written = test_support::DecodeFile(out_ + "/" + name, 0, 0);
        ASSERT_TRUE(written);
        const std::size_t bytes =
            static_cast<std::size_t>(gdk_pixbuf_get_rowstride(written.get())) *
            gdk_pixbuf_get_height(written.get());
        std::size_t used = tables.size();
        for (std::size_t t = earliest; t < tables.size() && used == tables.size(); ++t) {
            PixbufPtr expected = test_support::DecodeFile(input, 0, 0);
            ASSERT_TRUE(expected);
            ToneMapImage(expected.get(), tables[t]);
            if (std::memcmp(gdk_pixbuf_read_pixels(expected.get()),
                            gdk_pixbuf_read_pixels(written.get()), bytes) == 0) {
                used = t;
            }
        }
        ASSERT_LT(used, tables.size()) << "mapped with no scheme current since it started";
        latest = std::max(latest, used);
    }
    // The changes did reach the batch.
    EXPECT_GT(latest, 0u);
}

}  // namespace
}  // namespace corvanta::testing
