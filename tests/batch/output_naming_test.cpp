#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <ctime>
#include <set>
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

TEST_F(OutputNaming, EmptyFilesAndFoldersCountAsFree) {
    Put("empty.jpg", 0);
    EXPECT_EQ(Resolve("empty.jpg", OutputFormat::kJpeg), In("empty.jpg"));
    ASSERT_EQ(::mkdir(In("folder.png").c_str(), 0700), 0);
    EXPECT_EQ(Resolve("folder.png", OutputFormat::kPng), In("folder.png"));
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

TEST_F(OutputNaming, ClaimedNamesAreTakenUntilTheClaimEnds) {
    OutputClaim first;
    ASSERT_TRUE(first.Acquire(In("a.jpg"), OutputFormat::kJpeg, when_));
    EXPECT_EQ(first.Path(), In("a.jpg"));
    // The claimed file is still empty, yet nobody else gets it.
    EXPECT_EQ(test_support::FileSize(In("a.jpg")), 0);
    EXPECT_EQ(Resolve("a.jpg", OutputFormat::kJpeg), Dated("a", ".jpg"));
    OutputClaim second;
    ASSERT_TRUE(second.Acquire(In("a.jpg"), OutputFormat::kJpeg, when_));
    EXPECT_EQ(second.Path(), Dated("a", ".jpg"));
    OutputClaim third;
    EXPECT_FALSE(third.Acquire(In("a.jpg"), OutputFormat::kJpeg, when_));

    // Abandoning a claim removes the file it created and frees the name.
    first.Abandon();
    EXPECT_FALSE(test_support::FileExists(In("a.jpg")));
    EXPECT_TRUE(third.Acquire(In("a.jpg"), OutputFormat::kJpeg, when_));
    EXPECT_EQ(third.Path(), In("a.jpg"));
}

TEST_F(OutputNaming, AbandonedReuseOfAnEmptyFileEmptiesItAgain) {
    Put("r.png", 0);
    {
        OutputClaim claim;
        ASSERT_TRUE(claim.Acquire(In("r.png"), OutputFormat::kPng, when_));
        ASSERT_EQ(claim.Path(), In("r.png"));
        ASSERT_TRUE(WriteFully(claim.Fd(), "partial", 7));
    }  // ends without Commit
    EXPECT_EQ(test_support::FileSize(In("r.png")), 0);
}

TEST_F(OutputNaming, ConcurrentClaimsNeverShareAName) {
    constexpr int kThreads = 8;
    std::array<OutputClaim, kThreads> claims;
    std::array<bool, kThreads> acquired{};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            acquired[static_cast<std::size_t>(i)] = claims[static_cast<std::size_t>(i)].Acquire(
                In("same.png"), OutputFormat::kPng, when_);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<std::string> names;
    int successes = 0;
    for (int i = 0; i < kThreads; ++i) {
        if (acquired[static_cast<std::size_t>(i)]) {
            ++successes;
            names.insert(claims[static_cast<std::size_t>(i)].Path());
        }
    }
    // One second, two names: the plain one and the dated one.
    EXPECT_EQ(successes, 2);
    EXPECT_EQ(names, (std::set<std::string>{In("same.png"), Dated("same", ".png")}));
}

}  // namespace
}  // namespace corvanta
