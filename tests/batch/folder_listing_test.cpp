#include "batch/folder_listing.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

namespace fs = std::filesystem;

class FolderListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvanta-listing-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }

    fs::path dir_;
};

TEST_F(FolderListingTest, TakesFilesAndLinksButNoFoldersOrHiddenNames) {
    Touch("b.jpg");
    Touch("a.jpg");
    Touch("notes.txt");
    Touch(".hidden.jpg");
    fs::create_directory(dir_ / "sub");
    Touch("sub/inner.jpg");
    fs::create_directory(dir_ / ".cache");
    fs::create_symlink(dir_ / "a.jpg", dir_ / "link.jpg");
    fs::create_symlink(dir_ / "missing.jpg", dir_ / "dangling.jpg");
    fs::create_directory_symlink(dir_ / "sub", dir_ / "sublink");  // a link counts as a file

    const std::string base = dir_.string();
    const std::vector<std::string> expected = {base + "/a.jpg",        base + "/b.jpg",
                                               base + "/dangling.jpg", base + "/link.jpg",
                                               base + "/notes.txt",    base + "/sublink"};
    const auto sorted = ListFolderFiles(base, FolderOrder::kByName);
    ASSERT_TRUE(sorted);
    EXPECT_EQ(*sorted, expected);

    auto unsorted = ListFolderFiles(base, FolderOrder::kDirectory);
    ASSERT_TRUE(unsorted);
    std::sort(unsorted->begin(), unsorted->end());
    EXPECT_EQ(*unsorted, expected);

    // A trailing slash on the folder does not double up.
    const auto slashed = ListFolderFiles(base + "/", FolderOrder::kByName);
    ASSERT_TRUE(slashed);
    EXPECT_EQ(*slashed, expected);
}

TEST_F(FolderListingTest, EmptyAndUnreadableFolders) {
    fs::create_directory(dir_ / "only-a-folder");
    const auto empty = ListFolderFiles(dir_.string(), FolderOrder::kByName);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(ListFolderFiles((dir_ / "nope").string(), FolderOrder::kByName));
    Touch("plain");
    EXPECT_FALSE(ListFolderFiles((dir_ / "plain").string(), FolderOrder::kByName));
}

}  // namespace
}  // namespace corvanta
