#include "batch/conversion_worker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "batch/shared_gradient.h"
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
        seen_.push_back({event.kind, event.object, event.fileName});
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

class ConversionWorkerTest : public test_support::FolderTest {
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

TEST_F(ConversionWorkerTest, BatchOfThreeWithOneNonImage) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 400, 300));
    std::ofstream(InPath("notes.txt")) << "not a picture\n";
    ASSERT_TRUE(WritePng(InPath("c.png"), 120, 80, true));

    SharedGradientTable gradient;
    BatchState state;
    state.running = true;
    RecordingSink sink;
    ConversionJob job = JobFor({"a.jpg", "notes.txt", "c.png"});
    job.outputFolder = Out().string();  // no trailing slash: still written inside
    ConversionWorker(std::move(job), gradient, state, sink);

    const std::vector<Seen> expected = {
        {kLoading, 1, "a.jpg"},    {kThumb, 1, ""},       {kSaving, 1, "a.jpg"},
        {kDone, 1, "a.jpg"},       {kRemaining, 2, ""},   {kLoading, 2, "notes.txt"},
        {kFailed, 2, "notes.txt"}, {kRemaining, 1, ""},   {kLoading, 3, "c.png"},
        {kThumb, 3, ""},           {kSaving, 3, "c.png"}, {kDone, 3, "c.png"},
        {kRemaining, 0, ""},       {kFinished, 0, ""},
    };
    EXPECT_EQ(sink.Sequence(), expected);
    EXPECT_EQ(sink.Events()[6].reason, failure_reason::kNotAnImage);
    EXPECT_GE(sink.Events().back().object, 0);
    EXPECT_FALSE(state.running);
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"a.jpg", "c.png"}));
}

TEST_F(ConversionWorkerTest, ThumbnailIsTheCentreOfTheMappedImage) {
    ASSERT_TRUE(WritePng(InPath("wide.png"), 301, 201, true));
    ASSERT_TRUE(WritePng(InPath("small.png"), 100, 50, false));
    const ColorScheme scheme = {0xFF102030, 0, 0, 0, 0xFF808000, 0, 0, 0, 0xFFF0E0D0};
    SharedGradientTable gradient(&scheme);
    BatchState state;
    RecordingSink sink;
    ConversionWorker(JobFor({"wide.png", "small.png"}), gradient, state, sink);

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

TEST_F(ConversionWorkerTest, StopDuringTheSecondOfFive) {
    std::vector<std::string> names;
    for (int i = 1; i <= 5; ++i) {
        names.push_back("p" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(WriteJpeg(InPath(names.back()), 320, 240));
    }
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    sink.hook = [&](const ProgressEvent& event) {
        if (event.kind == kLoading && event.object == 2) {
            state.stop = true;  // as the stop button would, while file 2 loads
        }
    };
    ConversionWorker(JobFor(names), gradient, state, sink);

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

TEST_F(ConversionWorkerTest, EveryFileEndsWithItsOwnStatus) {
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
    ConversionWorker(std::move(job), gradient, state, sink);

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
            numbers.push_back(e.object);
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

TEST_F(ConversionWorkerTest, UnwritableOutputFailsEachFile) {
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 64, 48));
    ASSERT_TRUE(WritePng(InPath("b.png"), 64, 48, false));
    ConversionJob job = JobFor({"a.jpg", "b.png"});
    job.outputFolder = (root_ / "no-such-folder").string() + "/";
    SharedGradientTable gradient;
    BatchState state;
    RecordingSink sink;
    ConversionWorker(std::move(job), gradient, state, sink);
    int failed = 0;
    for (const ProgressEvent& e : sink.Events()) {
        if (e.kind == kFailed) {
            ++failed;
            EXPECT_EQ(e.reason, failure_reason::kNotWritten);
        }
    }
    EXPECT_EQ(failed, 2);
}

// Run under ThreadSanitizer too: the window thread rebuilds the table while
// the worker maps, and every image must come out wholly in one scheme.
TEST_F(ConversionWorkerTest, RebuildDuringABatchNeverReachesHalfAnImage) {
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

TEST_F(ConversionWorkerTest, RunningClearsBeforeTheFinalEvent) {
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

}  // namespace
}  // namespace corvanta
