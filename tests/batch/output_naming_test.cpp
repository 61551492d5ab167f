#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "batch/output_writer.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

using test_support::Bytes;

class OutputNaming : public ::testing::Test {
  protected:
    std::string In(const std::string& name) const { return dir_.Path() + "/" + name; }
    std::string Dated(const std::string& stem, const std::string& suffix) const {
        return In(stem + "_" + DateSuffix(when_) + suffix);
    }
    void Put(const std::string& name, std::size_t bytes) {
        ASSERT_TRUE(test_support::WriteFile(In(name), Bytes(bytes, 'x')));
    }
    std::optional<std::string> Resolve(const std::string& name, OutputFormat format) const {
        return ResolveOutputPath(In(name), format, when_);
    }

    test_support::TempDir dir_;
    const std::time_t when_ = std::time(nullptr);
};

TEST(DateSuffix, IsFourteenDigitsOfLocalTime) {
    std::tm local{};
    local.tm_year = 2016 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    EXPECT_EQ(DateSuffix(std::mktime(&local)), "20161231235959");
}

TEST_F(OutputNaming, AcceptedExtensionsKeepTheNameAndItsCase) {
    EXPECT_EQ(Resolve("IMG_1.JPG", OutputFormat::kJpeg), In("IMG_1.JPG"));
    EXPECT_EQ(Resolve("x.Jpeg", OutputFormat::kJpeg), In("x.Jpeg"));
    EXPECT_EQ(Resolve("b.PNG", OutputFormat::kPng), In("b.PNG"));
}

TEST_F(OutputNaming, OtherExtensionsMoveIntoTheName) {
    const struct {
        const char* input;
        OutputFormat format;
        const char* output;
    } cases[] = {
        {"scan.tif", OutputFormat::kPng, "scan_tif.png"},
        {"b.gif", OutputFormat::kPng, "b_gif.png"},
        {"picture", OutputFormat::kPng, "picture_.png"},
        {"picture", OutputFormat::kJpeg, "picture_.jpg"},
        {"photo.jfif", OutputFormat::kJpeg, "photo_jfif.jpg"},
        {"a.jpg", OutputFormat::kPng, "a_jpg.png"},
        {"archive.tar.gz", OutputFormat::kPng, "archive.tar_gz.png"},
        {".hidden", OutputFormat::kPng, ".hidden_.png"},
        {"holiday.v2 final", OutputFormat::kPng, "holiday.v2 final_.png"},
        {"Scan.TIF", OutputFormat::kPng, "Scan_TIF.png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Resolve(c.input, c.format), In(c.output)) << c.input;
    }
    // A dot in the folder name is not an extension.
    ASSERT_EQ(::mkdir(In("out.d").c_str(), 0700), 0);
    EXPECT_EQ(Resolve("out.d/name", OutputFormat::kPng), In("out.d/name_.png"));
}

TEST_F(OutputNaming, TakenNamesGetTheDateSuffixOnce) {
    Put("a.jpg", 10);
    EXPECT_EQ(Resolve("a.jpg", OutputFormat::kJpeg), Dated("a", ".jpg"));
    Put("a_" + DateSuffix(when_) + ".jpg", 10);
    EXPECT_EQ(Resolve("a.jpg", OutputFormat::kJpeg), std::nullopt);

    Put("scan_tif.png", 1);
    EXPECT_EQ(Resolve("scan.tif", OutputFormat::kPng), Dated("scan_tif", ".png"));
    Put("IMG_2.JPG", 1);
    EXPECT_EQ(Resolve("IMG_2.JPG", OutputFormat::kJpeg), Dated("IMG_2", ".jpg"));
}

TEST_F(OutputNaming, EmptyFilesCountAsFreeAndFoldersAsTaken) {
    Put("empty.jpg", 0);
    EXPECT_EQ(Resolve("empty.jpg", OutputFormat::kJpeg), In("empty.jpg"));
    ASSERT_EQ(::mkdir(In("folder.png").c_str(), 0700), 0);
    EXPECT_EQ(Resolve("folder.png", OutputFormat::kPng), Dated("folder", ".png"));
}

TEST_F(OutputNaming, LinksAndSpecialFilesAreTaken) {
    Put("target.jpg", 0);
    ASSERT_EQ(::symlink(In("target.jpg").c_str(), In("link.jpg").c_str()), 0);
    ASSERT_EQ(::symlink(In("nowhere/missing.jpg").c_str(), In("dangling.jpg").c_str()), 0);
    ASSERT_EQ(::mkfifo(In("pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(Resolve("link.jpg", OutputFormat::kJpeg), Dated("link", ".jpg"));
    EXPECT_EQ(Resolve("dangling.jpg", OutputFormat::kJpeg), Dated("dangling", ".jpg"));
    EXPECT_EQ(Resolve("pipe.png", OutputFormat::kPng), Dated("pipe", ".png"));
}

// An output written this far but not yet named, as one writer of a pair
// racing for the same name holds it.
struct Pending {
    PendingOutput output;
    std::string text;
    bool Write(const std::string& candidate, std::string content) {
        text = std::move(content);
        return output.Open(candidate) && WriteFully(output.Fd(), text.data(), text.size());
    }
};

std::string Text(const std::string& path) {
    const Bytes bytes = test_support::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The name is decided when the finished file is named, so a writer that
// lost the race to another (in this process or another one) moves on to the
// dated name instead of writing into the winner's file.
TEST_F(OutputNaming, TheWriterThatNamesFirstGetsTheName) {
    Pending slow;
    ASSERT_TRUE(slow.Write(In("a.jpg"), "slow writer"));
    EXPECT_TRUE(test_support::ListFolder(dir_.Path()).empty()) << "nothing visible while written";
    Pending fast;
    ASSERT_TRUE(fast.Write(In("a.jpg"), "fast writer"));
    EXPECT_EQ(fast.output.Publish(In("a.jpg"), OutputFormat::kJpeg, when_), In("a.jpg"));
    EXPECT_EQ(slow.output.Publish(In("a.jpg"), OutputFormat::kJpeg, when_), Dated("a", ".jpg"));
    Pending third;
    ASSERT_TRUE(third.Write(In("a.jpg"), "third writer"));
    EXPECT_EQ(third.output.Publish(In("a.jpg"), OutputFormat::kJpeg, when_), std::nullopt);
    EXPECT_EQ(Text(In("a.jpg")), "fast writer");
    EXPECT_EQ(Text(Dated("a", ".jpg")), "slow writer");
    EXPECT_EQ(test_support::ListFolder(dir_.Path()).size(), 2u) << "the third left nothing";
}

// Both writers found the empty file free; only one may take it over.
TEST_F(OutputNaming, AnEmptyFileGoesToOneWriterOnly) {
    Put("r.png", 0);
    Pending first;
    Pending second;
    ASSERT_TRUE(first.Write(In("r.png"), "first"));
    ASSERT_TRUE(second.Write(In("r.png"), "second"));
    {
        Pending dropped;
        ASSERT_TRUE(dropped.Write(In("r.png"), "dropped"));
    }  // never named: the empty file stays as it was
    EXPECT_EQ(test_support::FileSize(In("r.png")), 0);
    EXPECT_EQ(first.output.Publish(In("r.png"), OutputFormat::kPng, when_), In("r.png"));
    EXPECT_EQ(second.output.Publish(In("r.png"), OutputFormat::kPng, when_), Dated("r", ".png"));
    EXPECT_EQ(Text(In("r.png")), "first");
    EXPECT_EQ(Text(Dated("r", ".png")), "second");
}

TEST_F(OutputNaming, AFolderUnderTheNameTakesTheDatedName) {
    ASSERT_EQ(::mkdir(In("f.png").c_str(), 0700), 0);
    Pending pending;
    ASSERT_TRUE(pending.Write(In("f.png"), "x"));
    EXPECT_EQ(pending.output.Publish(In("f.png"), OutputFormat::kPng, when_), Dated("f", ".png"));
    EXPECT_TRUE(test_support::ListFolder(In("f.png")).empty());
}

TEST_F(OutputNaming, ConcurrentWritersNeverShareAName) {
    constexpr int kThreads = 8;
    std::array<std::optional<std::string>, kThreads> named;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            Pending pending;
            ASSERT_TRUE(pending.Write(In("same.png"), "writer " + std::to_string(i)));
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            named[static_cast<std::size_t>(i)] =
                pending.output.Publish(In("same.png"), OutputFormat::kPng, when_);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<std::string> names;
    for (int i = 0; i < kThreads; ++i) {
        if (const auto& name = named[static_cast<std::size_t>(i)]) {
            names.insert(*name);
            EXPECT_EQ(Text(*name), "writer " + std::to_string(i));
        }
    }
    // One second, two names: the plain one and the dated one.
    EXPECT_EQ(names, (std::set<std::string>{In("same.png"), Dated("same", ".png")}));
    EXPECT_EQ(test_support::ListFolder(dir_.Path()).size(), 2u);
}

}  // namespace
}  // namespace corvanta
