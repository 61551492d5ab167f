#include "batch/batch_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tone/shared_gradient.h"
#include "support/folder_test.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;

using test_support::WriteJpeg;
using test_support::WritePng;

struct Seen {
    ProgressKind kind;
    std::int64_t object;
    std::string name;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << "{" << static_cast<int>(s.kind) << ", " << s.object << ", \"" << s.name << "\"}";
}

// Keeps every event; a hook sees each one on the posting thread first.
class RecordingSink final : public ProgressSink {
  public:
    std::function<void(const ProgressEvent&)> hook;

    void Post(ProgressEvent event) override {
        if (hook) {
            hook(event);
        }
        std::lock_guard lock(mutex_);
        // One number per event: the file's, the count left or the time.
        const std::int64_t number = event.kind == ProgressKind::kRemaining  ? event.remaining
                                    : event.kind == ProgressKind::kFinished ? event.elapsedMs
                                                                            : event.fileNumber;
        seen_.push_back({event.kind, number, event.fileName});
        events_.push_back(std::move(event));
    }

    // The events without kFinished's elapsed time, which varies.
    std::vector<Seen> Sequence() {
        std::lock_guard lock(mutex_);
        std::vector<Seen> sequence = seen_;
        for (Seen& s : sequence) {
            if (s.kind == ProgressKind::kFinished) {
                s.object = 0;
            }
        }
        return sequence;
    }

    std::vector<ProgressEvent>& Events() { return events_; }

  private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
    std::vector<ProgressEvent> events_;
};

class BatchEngineTest : public test_support::FolderTest {
  protected:
    ConversionJob JobFor(std::vector<std::string> names) const {
        ConversionJob job;
        job.outputFolder = Out().string() + "/";
        for (const std::string& name : names) {
            job.files.push_back(InPath(name));
        }
        return job;
    }
};

constexpr auto kLoading = ProgressKind::kLoading;
constexpr auto kThumb = ProgressKind::kThumbnail;
constexpr auto kSaving = ProgressKind::kSaving;
constexpr auto kDone = ProgressKind::kDone;
constexpr auto kFailed = ProgressKind::kFailed;
constexpr auto kCancelled = ProgressKind::kCancelled;
constexpr auto kRemaining = ProgressKind::kRemaining;
constexpr auto kFinished = ProgressKind::kFinished;

TEST_F(BatchEngineTest, BatchOfThreeWithOneNonImage) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 400, 300));
    std::ofstream(InPath("notes.txt")) << "not a picture\n";
    ASSERT_TRUE(WritePng(InPath("c.png"), 120, 80, true));

    SharedGradientTable gradient;
    BatchState state;
    state.running = true;
    RecordingSink sink;
    ConversionJob job = JobFor({"a.jpg", "notes.txt", "c.png"});
    job.outputFolder = Out().string();  // no trailing slash: still written inside
    ConversionWorker(std::move(job), gradient, state, sink, 1);

    const std::vector<Seen> expected = {
        {kLoading, 1, "a.jpg"},    {kThumb, 1, ""},       {kSaving, 1, "a.jpg"},
        {kDone, 1, "a.jpg"},       {kRemaining, 2, ""},   {kLoading, 2, "notes.txt"},
        {kFailed, 2, "notes.txt"}, {kRemaining, 1, ""},   {kLoading, 3, "c.png"},
        {kThumb, 3, ""},           {kSaving, 3, "c.png"}, {kDone, 3, "c.png"},
        {kRemaining, 0, ""},       {kFinished, 0, ""},
    };
    EXPECT_EQ(sink.Sequence(), expected);
    EXPECT_EQ(sink.Events()[6].reason, failure_reason::kNotAnImage);
    EXPECT_GE(sink.Events().back().elapsedMs, 0);
    EXPECT_FALSE(state.running);
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"a.jpg", "c.png"}));
}

TEST_F(BatchEngineTest, ThumbnailIsTheCentreOfTheMappedImage) {
    ASSERT_TRUE(WritePng(InPath("wide.png"), 301, 201, true));
    ASSERT_TRUE(WritePng(InPath("small.png"), 100, 50, false));
    const ColorScheme scheme = {0xFF102030, 0, 0, 0, 0xFF808000, 0, 0, 0, 0xFFF0E0D0};
    SharedGradientTable gradient(&scheme);
    BatchState state;
    RecordingSink sink;
    ConversionWorker(JobFor({"wide.png", "small.png"}), gradient, state, sink, 1);

    std::vector<PixbufPtr> thumbnails;
    for (ProgressEvent& event : sink.Events()) {
        if (event.kind == kThumb) {
            thumbnails.push_back(std::move(event.thumbnail));
        }
    }
    ASSERT_EQ(thumbnails.size(), 2u);
    const struct {
        const char* output;
        int x, y, width, height;
    } cuts[] = {{"wide.png", 22, 52, 256, 96}, {"small.png", 0, 0, 100, 50}};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& cut = cuts[i];
        GdkPixbuf* thumb = thumbnails[i].get();
        ASSERT_NE(thumb, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(thumb), cut.width);
        EXPECT_EQ(gdk_pixbuf_get_height(thumb), cut.height);
        // The PNG output is the mapped image, byte for byte.
        PixbufPtr mapped(gdk_pixbuf_new_from_file((Out() / cut.output).c_str(), nullptr));
        ASSERT_TRUE(mapped);
        ASSERT_EQ(gdk_pixbuf_get_n_channels(thumb), gdk_pixbuf_get_n_channels(mapped.get()));
        const int channels = gdk_pixbuf_get_n_channels(thumb);
        for (int y = 0; y < cut.height; ++y) {
            const guchar* t = gdk_pixbuf_get_pixels(thumb) + y * gdk_pixbuf_get_rowstride(thumb);
            const guchar* m = gdk_pixbuf_get_pixels(mapped.get()) +
                              (y + cut.y) * gdk_pixbuf_get_rowstride(mapped.get()) +
                              cut.x * channels;
            ASSERT_EQ(0, std::memcmp(t, m, static_cast<std::size_t>(cut.width * channels)))
                << cut.output << " row " << y;
        }
    }
}

TEST_F(BatchEngineTest, StopDuringTheSecondOfFive) {
    std::vector<std::string> names;
    for (int i = 1; i <= 5; ++i) {
        names.push_back("p" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(WriteJpeg(InPath(names.back()), 320, 240));
    }
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    sink.hook = [&](const ProgressEvent& event) {
        if (event.kind == kLoading && event.fileNumber == 2) {
            state.stop = true;  // as the stop button would, while file 2 loads
        }
    };
    ConversionWorker(JobFor(names), gradient, state, sink, 1);

    const std::vector<Seen> expected = {
        {kLoading, 1, "p1.jpg"}, {kThumb, 1, ""},           {kSaving, 1, "p1.jpg"},
        {kDone, 1, "p1.jpg"},    {kRemaining, 4, ""},       {kLoading, 2, "p2.jpg"},
        {kThumb, 2, ""},         {kCancelled, 2, "p2.jpg"}, {kRemaining, 3, ""},
        {kFinished, 0, ""},
    };
    EXPECT_EQ(sink.Sequence(), expected);
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"p1.jpg"}));
    EXPECT_TRUE(state.stop) << "the front end clears the flag, not the worker";
}

TEST_F(BatchEngineTest, EveryFileEndsWithItsOwnStatus) {
    ASSERT_TRUE(WriteJpeg(InPath("ok.jpg"), 64, 48));
    ASSERT_TRUE(WriteJpeg(InPath("twin.jpg\nok.jpg"), 64, 48));
    fs::create_directory(In() / "folder.jpg");
    ASSERT_EQ(mkfifo(InPath("pipe.jpg").c_str(), 0600), 0);

    ConversionJob job;
    job.outputFolder = Out().string() + "/";
    job.files = {"",
                 In().string() + "/",
                 InPath("missing.jpg"),
                 InPath("folder.jpg"),
                 InPath("pipe.jpg"),
                 InPath("twin.jpg\nok.jpg")};
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    ConversionWorker(std::move(job), gradient, state, sink, 1);

    // File number -> (final kind, name, reason).
    struct Final {
        ProgressKind kind;
        std::string name;
        std::string reason;
    };
    std::vector<Final> finals;
    std::vector<std::int64_t> numbers;
    for (const ProgressEvent& e : sink.Events()) {
        if (e.kind == kDone || e.kind == kFailed || e.kind == kCancelled) {
            finals.push_back({e.kind, e.fileName, e.reason});
            numbers.push_back(e.fileNumber);
        }
    }
    ASSERT_EQ(finals.size(), 6u);
    EXPECT_EQ(numbers, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(finals[0].name, "");
    EXPECT_EQ(finals[0].reason, failure_reason::kNoFileName);
    EXPECT_EQ(finals[1].name, In().string() + "/") << "shown by its path";
    EXPECT_EQ(finals[1].reason, failure_reason::kNoFileName);
    EXPECT_EQ(finals[2].reason, failure_reason::kNotFound);
    EXPECT_EQ(finals[3].reason, failure_reason::kFolder);
    EXPECT_EQ(finals[4].reason, failure_reason::kNotRegular);
    EXPECT_EQ(finals[5].kind, kDone);
    // The line feed stays inside the one name: "ok.jpg" is not converted.
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"twin.jpg\nok.jpg"}));
}

// A folder that has gone is said once; the files behind it are not tried.
TEST_F(BatchEngineTest, AnOutputFolderThatHasGoneEndsTheBatch) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 64, 48));
    ASSERT_TRUE(WritePng(InPath("b.png"), 64, 48, false));
    ConversionJob job = JobFor({"a.jpg", "b.png"});
    job.outputFolder = (root_ / "no-such-folder").string() + "/";
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    ConversionWorker(std::move(job), gradient, state, sink, 1);
    std::vector<std::string> finals;
    for (const ProgressEvent& e : sink.Events()) {
        if (e.kind == kFailed || e.kind == kDone || e.kind == kLoading) {
            finals.push_back(FileStatusLine(e.kind, e.fileName, e.reason));
        }
    }
    EXPECT_EQ(finals, (std::vector<std::string>{"[Loading]  a.jpg",
                                                "[Error]  a.jpg (output folder is gone)"}));
}

// Run under ThreadSanitizer too: the window thread rebuilds the table while
// the worker maps, and every image must come out wholly in one scheme.
TEST_F(BatchEngineTest, RebuildDuringABatchNeverReachesHalfAnImage) {
    constexpr int kFiles = 6;
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        names.push_back("g" + std::to_string(i) + ".png");
        ASSERT_TRUE(WritePng(InPath(names.back()), 400, 300, false));
    }
    const std::uint32_t kRed = 0xFF0000FF;
    const std::uint32_t kBlue = 0xFFFF0000;
    const ColorScheme red = {kRed, kRed, kRed, kRed, kRed, kRed, kRed, kRed, kRed};
    const ColorScheme blue = {kBlue, kBlue, kBlue, kBlue, kBlue, kBlue, kBlue, kBlue, kBlue};

    SharedGradientTable gradient(&red);
    BatchState state;
    RecordingSink sink;
    std::thread worker;
    ASSERT_TRUE(StartConversionWorker(JobFor(names), gradient, state, sink, worker));
    EXPECT_FALSE(StartConversionWorker(JobFor(names), gradient, state, sink, worker))
        << "one batch at a time";
    bool useBlue = true;
    while (state.running) {
        gradient.Rebuild(useBlue ? &blue : &red);
        useBlue = !useBlue;
    }
    worker.join();

    GradientTable expected{};
    gradient.Snapshot(expected);  // whatever the last rebuild left is a whole table
    GradientTable built{};
    BuildGradientTable(useBlue ? &red : &blue, built);
    EXPECT_EQ(expected, built);

    for (const std::string& name : names) {
        PixbufPtr out(gdk_pixbuf_new_from_file((Out() / name).c_str(), nullptr));
        ASSERT_TRUE(out) << name;
        const guchar* first = gdk_pixbuf_get_pixels(out.get());
        const bool isRed = first[0] == 0xFF && first[1] == 0 && first[2] == 0;
        const bool isBlue = first[0] == 0 && first[1] == 0 && first[2] == 0xFF;
        ASSERT_TRUE(isRed || isBlue) << name;
        const int width = gdk_pixbuf_get_width(out.get());
        for (int y = 0; y < gdk_pixbuf_get_height(out.get()); ++y) {
            const guchar* row = first + y * gdk_pixbuf_get_rowstride(out.get());
            for (int x = 0; x < width * 3; ++x) {
                ASSERT_EQ(row[x], first[x % 3]) << name << " torn at row " << y;
            }
        }
    }
}

TEST_F(BatchEngineTest, RunningClearsBeforeTheFinalEvent) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 64, 48));
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    std::atomic<int> finished{0};
    std::atomic<int> runningAtFinish{0};
    sink.hook = [&](const ProgressEvent& event) {
        if (event.kind == kFinished) {
            runningAtFinish += state.running.load() ? 1 : 0;
            ++finished;
        }
    };
    std::thread worker;
    for (int batch = 1; batch <= 2; ++batch) {
        // The second start joins the finished first worker itself.
        ASSERT_TRUE(StartConversionWorker(JobFor({"a.jpg"}), gradient, state, sink, worker));
        while (finished < batch) {
            std::this_thread::yield();
        }
    }
    worker.join();
    EXPECT_EQ(runningAtFinish, 0);
    EXPECT_EQ(OutputNames().size(), 2u) << "a.jpg and its date-suffixed twin";
}

// ---- several jobs at once -----------------------------------------------------

// Per file number, the kinds of its events in the order posted.
std::map<std::int64_t, std::vector<ProgressKind>> KindsPerFile(const std::vector<Seen>& seen) {
    std::map<std::int64_t, std::vector<ProgressKind>> kinds;
    for (const Seen& s : seen) {
        if (s.kind != kRemaining && s.kind != kFinished) {
            kinds[s.object].push_back(s.kind);
        }
    }
    return kinds;
}

TEST_F(BatchEngineTest, ThreeJobsGiveTheOutputsAndOutcomesOfOne) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 400, 300));
    ASSERT_TRUE(WritePng(InPath("b.png"), 300, 200, true));
    std::ofstream(InPath("c.txt")) << "not a picture\n";
    ASSERT_TRUE(WriteJpeg(InPath("d.jpg"), 64, 48));
    ASSERT_TRUE(WritePng(InPath("e.png"), 90, 60, false));
    fs::create_directory(In() / "f");
    const std::vector<std::string> names = {"a.jpg", "b.png", "c.txt",      "d.jpg",
                                            "e.png", "f",     "missing.jpg"};
    const ColorScheme scheme = {0xFF102030, 0, 0, 0, 0xFF808000, 0, 0, 0, 0xFFF0E0D0};
    SharedGradientTable gradient(&scheme);
    const std::atomic<bool> stop{false};

    std::vector<BatchReport> reports;
    std::vector<std::vector<Seen>> sequences;
    for (const int jobs : {1, 3}) {
        const fs::path out = root_ / ("out" + std::to_string(jobs));
        fs::create_directory(out);
        ConversionJob job = JobFor(names);
        job.outputFolder = out.string();
        RecordingSink sink;
        reports.push_back(RunBatch(job, jobs, gradient, stop, sink));
        sequences.push_back(sink.Sequence());
    }
    EXPECT_EQ(reports[0].jobs, 1);
    EXPECT_EQ(reports[1].jobs, 3);
    EXPECT_EQ(reports[0].files, reports[1].files);
    ASSERT_EQ(reports[1].files.size(), names.size());
    EXPECT_EQ(reports[1].files[2], (FileReport{FileOutcome::kFailed, failure_reason::kNotAnImage}));
    EXPECT_FALSE(reports[1].AllWritten());
    // Every file goes through the same steps, the files start in queue order
    // and the count of unfinished files only goes down, to zero.
    EXPECT_EQ(KindsPerFile(sequences[0]), KindsPerFile(sequences[1]));
    std::vector<std::int64_t> started;
    std::vector<std::int64_t> remaining;
    for (const Seen& s : sequences[1]) {
        if (s.kind == kLoading) {
            started.push_back(s.object);
        } else if (s.kind == kRemaining) {
            remaining.push_back(s.object);
        }
    }
    EXPECT_EQ(started, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(remaining, (std::vector<std::int64_t>{6, 5, 4, 3, 2, 1, 0}));

    const std::vector<std::string> outputs = test_support::ListFolder((root_ / "out1").string());
    EXPECT_EQ(outputs, (std::vector<std::string>{"a.jpg", "b.png", "d.jpg", "e.png"}));
    EXPECT_EQ(test_support::ListFolder((root_ / "out3").string()), outputs);
    for (const std::string& name : outputs) {
        EXPECT_EQ(test_support::ReadFile((root_ / "out1" / name).string()),
                  test_support::ReadFile((root_ / "out3" / name).string()))
            << name;
    }
}

// Stop with three files mapped and waiting to be written: none is written,
// and the files behind them are never started.
TEST_F(BatchEngineTest, StopEndsTheFilesInHandUnwritten) {
    std::vector<std::string> names;
    for (int i = 1; i <= 6; ++i) {
        names.push_back("p" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(WriteJpeg(InPath(names.back()), 160, 120));
    }
    SharedGradientTable gradient;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    int inHand = 0;
    RecordingSink sink;
    sink.hook = [&](const ProgressEvent& event) {
        if (event.kind != kThumb) {
            return;
        }
        std::unique_lock lock(mutex);
        ++inHand;
        changed.notify_all();
        changed.wait(lock, [&] { return stop.load(); });
    };
    std::thread stopper([&] {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inHand == 3; });
        stop = true;
        changed.notify_all();
    });
    const BatchReport report = RunBatch(JobFor(names), 3, gradient, stop, sink);
    stopper.join();

    const std::vector<FileReport> cancelled(6, FileReport{FileOutcome::kCancelled, {}});
    EXPECT_EQ(report.files, cancelled);
    const auto kinds = KindsPerFile(sink.Sequence());
    EXPECT_EQ(kinds.size(), 3u) << "only the three in hand posted anything";
    for (const auto& [number, steps] : kinds) {
        EXPECT_EQ(steps, (std::vector<ProgressKind>{kLoading, kThumb, kCancelled})) << number;
    }
    EXPECT_TRUE(OutputNames().empty());
}

TEST(FileStatusLine, StatusWordEscapedNameAndReason) {
    EXPECT_EQ(FileStatusLine(kLoading, "a.jpg"), "[Loading]  a.jpg");
    EXPECT_EQ(FileStatusLine(kSaving, "a.jpg"), "[Saving]  a.jpg");
    EXPECT_EQ(FileStatusLine(kDone, "d1/a.jpg"), "[Done]  d1/a.jpg");
    EXPECT_EQ(FileStatusLine(kCancelled, "a.jpg"), "[Cancelled]  a.jpg");
    EXPECT_EQ(FileStatusLine(kFailed, "x\n[Done]  y.jpg", failure_reason::kOutOfMemory),
              "[Error]  x\\n[Done]  y.jpg (out of memory)");
    EXPECT_EQ(FileStatusLine(kFailed, "b.png"), "[Error]  b.png") << "the window shows no reason";
}

TEST_F(BatchEngineTest, TheCommandLinesQueueExpandsEveryFolderByName) {
    fs::create_directories(In() / "z");
    fs::create_directories(In() / "empty");
    for (const char* name : {"z/b.jpg", "z/a.jpg", "z/.hidden.jpg"}) {
        std::ofstream(InPath(name)) << "x";
    }
    fs::create_directories(In() / "z" / "sub");
    std::ofstream(InPath("loose.png")) << "x";
    const FileQueue queue =
        BuildFileQueue({InPath("z"), InPath("loose.png"), InPath("empty"), InPath("missing.jpg")},
                       FolderExpansion::kEveryFolderByName);
    EXPECT_EQ(queue.files, (std::vector<std::string>{InPath("z/a.jpg"), InPath("z/b.jpg"),
                                                     InPath("loose.png"), InPath("missing.jpg")}));
    EXPECT_EQ(queue.emptyFolders, (std::vector<std::string>{InPath("empty")}));
    EXPECT_TRUE(queue.unreadableFolders.empty());
}

}  // namespace
}  // namespace corvanta
