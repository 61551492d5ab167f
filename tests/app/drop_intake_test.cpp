#include "app/drop_intake.h"

#include "batch/batch_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace corvanta {
namespace {

namespace ts = test_support;

// The queue of a drop on the window.
std::vector<std::string> BuildFileQueue(const std::vector<std::string>& dropped) {
    return corvanta::BuildFileQueue(dropped, FolderExpansion::kSingleDroppedFolder).files;
}

TEST(DropIntake, OnlyASingleFolderIsExpanded) {
    ts::TempDir temp;
    ASSERT_TRUE(temp.Valid());
    const std::string folder = temp.File("album");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(ts::WriteFile(folder + "/a.jpg", std::string_view("x")));
    ASSERT_TRUE(ts::WriteFile(folder + "/b.txt", std::string_view("x")));
    ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0755), 0);
    const std::string file = temp.File("c.jpg");
    ASSERT_TRUE(ts::WriteFile(file, std::string_view("x")));

    std::vector<std::string> queue = BuildFileQueue({folder});
    std::sort(queue.begin(), queue.end());
    EXPECT_EQ(queue, (std::vector<std::string>{folder + "/a.jpg", folder + "/b.txt"}));
    // Given with its slash, the folder still yields single-slash paths.
    queue = BuildFileQueue({folder + "/"});
    std::sort(queue.begin(), queue.end());
    EXPECT_EQ(queue, (std::vector<std::string>{folder + "/a.jpg", folder + "/b.txt"}));

    EXPECT_EQ(BuildFileQueue({file}), (std::vector<std::string>{file}));
    EXPECT_EQ(BuildFileQueue({folder, file}), (std::vector<std::string>{folder, file}));
    EXPECT_EQ(BuildFileQueue({file, folder}), (std::vector<std::string>{file, folder}));
    const std::string missing = temp.File("missing");
    EXPECT_EQ(BuildFileQueue({missing}), (std::vector<std::string>{missing}));

    ASSERT_EQ(mkdir(temp.File("empty").c_str(), 0755), 0);
    EXPECT_TRUE(BuildFileQueue({temp.File("empty")}).empty());
}

TEST(DropIntake, AFolderThatCannotBeListedIsQueuedAsItself) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root lists every folder";
    }
    ts::TempDir temp;
    ASSERT_TRUE(temp.Valid());
    const std::string locked = temp.File("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    ASSERT_TRUE(ts::WriteFile(locked + "/a.jpg", std::string_view("x")));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(BuildFileQueue({locked}), (std::vector<std::string>{locked}));
    chmod(locked.c_str(), 0755);
}

TEST(DropIntake, JobTakesTheWindowsSettings) {
    DropSettings settings;
    settings.outputFolder = "/out/";
    settings.maxWidthText = "1000";
    settings.maxHeightText = "";
    settings.qualityIndex = 0;
    ConversionJob job;
    ASSERT_TRUE(BuildConversionJob(settings, {"/in/a.jpg", "/in/b.png"}, job));
    EXPECT_EQ(job.maxWidth, 1000);
    EXPECT_EQ(job.maxHeight, 0);  // no number: no limit
    EXPECT_EQ(job.quality, 80);
    EXPECT_EQ(job.outputFolder, "/out/");
    EXPECT_EQ(job.files, (std::vector<std::string>{"/in/a.jpg", "/in/b.png"}));

    settings.maxWidthText = "$FFFFFFFFFF";  // far beyond 32 bits: no wrap to a small limit
    settings.maxHeightText = "%101";
    settings.qualityIndex = 1;
    ASSERT_TRUE(BuildConversionJob(settings, {}, job));
    EXPECT_EQ(job.maxWidth, INT_MAX);
    EXPECT_EQ(job.maxHeight, 5);
    EXPECT_EQ(job.quality, 95);
    settings.qualityIndex = -1;  // nothing chosen counts as "High"
    ASSERT_TRUE(BuildConversionJob(settings, {}, job));
    EXPECT_EQ(job.quality, 95);
}

}  // namespace
}  // namespace corvanta
