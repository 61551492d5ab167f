// A test with an input and an output folder of its own, for the suites that
// convert files: the conversion loop in-process and corvanta-convert.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "common/gobject_ptr.h"
#include "support/test_images.h"

namespace corvanta::test_support {

// Every file in the folder decodes completely.
inline void ExpectOnlyWholeImages(const std::string& folder) {
    for (const std::string& name : ListFolder(folder)) {
        GError* error = nullptr;
        GObjectPtr<GdkPixbuf> image(
            gdk_pixbuf_new_from_file((folder + "/" + name).c_str(), &error));
        EXPECT_TRUE(image) << name << ": " << (error != nullptr ? error->message : "");
        g_clear_error(&error);
    }
}

class FolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(temp_.Valid());
        root_ = temp_.Path();
        std::filesystem::create_directory(In());
        std::filesystem::create_directory(Out());
    }

    std::filesystem::path In() const { return root_ / "in"; }
    std::filesystem::path Out() const { return root_ / "out"; }
    std::string InPath(const std::string& name) const { return (In() / name).string(); }
    // The output folder's names, sorted.
    std::vector<std::string> OutputNames() const { return ListFolder(Out().string()); }

    TempDir temp_;
    std::filesystem::path root_;
};

}  // namespace corvanta::test_support
