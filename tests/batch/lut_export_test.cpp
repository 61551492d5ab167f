#include "batch/lut_export.h"

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <sstream>

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "tone/axis_table.h"

namespace corvanta {
namespace {

using test_support::ListFolder;
using test_support::ReadFile;

// Each channel holds its own axis (red i / (size - 1) at red index i ...),
// but for two corners beyond 0..1 and, at (1, 1, 0), green 12345 / 65535,
// which six decimals must keep to the 16-bit step.
LutTable OddAxisTable(int size) {
    LutTable lut = testing::AxisTable(size);
    const auto n = static_cast<std::size_t>(size);
    lut.channels[0].front() = -0.25f;
    lut.channels[2].back() = 1.5f;
    lut.channels[1][n + 1] = 12345.0f / 65535;
    return lut;
}

class LutExport : public ::testing::Test {
  protected:
    LutWrite Write(const LutTable& lut, LutFileFormat format, const std::string& name,
                   std::string_view title = "Heat camera") {
        PendingOutput output;
        EXPECT_TRUE(output.Open(dir_.File(name)));
        return WriteLutFile(output, lut, format, title, dir_.File(name), stop_);
    }

    test_support::TempDir dir_;
    std::atomic<bool> stop_{false};
};

TEST(LutFileFormat, FollowsTheExtensionInAnyCase) {
    EXPECT_EQ(LutFileFormatFor("look.cube"), LutFileFormat::kCube);
    EXPECT_EQ(LutFileFormatFor("dir.png/Look.CUBE"), LutFileFormat::kCube);
    EXPECT_EQ(LutFileFormatFor("/tmp/hald.Png"), LutFileFormat::kHaldPng);
    for (const char* path : {"look", "look.cube.txt", "dir.cube/look", ".cube", "a/.png", ""}) {
        EXPECT_FALSE(LutFileFormatFor(path)) << path;
    }
}

TEST_F(LutExport, CubeHeaderRowsInOrderAndValuesInRange) {
    constexpr int kSize = 5;
    ASSERT_EQ(Write(OddAxisTable(kSize), LutFileFormat::kCube, "a.cube", "Say \"hi\"\n\tnow"),
              LutWrite::kWritten);
    const test_support::Bytes bytes = ReadFile(dir_.File("a.cube"));
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string line;
    const char* header[] = {"TITLE \"Say hinow\"", "LUT_3D_SIZE 5", "DOMAIN_MIN 0 0 0",
                            "DOMAIN_MAX 1 1 1"};
    for (const char* expected : header) {
        ASSERT_TRUE(std::getline(text, line));
        EXPECT_EQ(line, expected);
    }
    int row = 0;
    while (std::getline(text, line)) {
        // Three numbers with six decimals: 0.000000 to 1.000000.
        ASSERT_EQ(line.size(), 3u * 8u + 2u) << line;
        std::istringstream numbers(line);
        double v[3] = {};
        ASSERT_TRUE(numbers >> v[0] >> v[1] >> v[2]) << line;
        const int expected[3] = {row % kSize, row / kSize % kSize, row / kSize / kSize};
        for (int ch = 0; ch < 3; ++ch) {
            if (row == kSize + 1 && ch == 1) {
                EXPECT_EQ(std::lround(v[ch] * 65535), 12345);
            } else {
                EXPECT_NEAR(v[ch] * (kSize - 1), expected[ch], 4e-6) << "row " << row;
            }
        }
        ++row;
    }
    EXPECT_EQ(row, kSize * kSize * kSize);
}

TEST_F(LutExport, HaldIsA512SquareRgbImageOfTheTableInOrder) {
    ASSERT_EQ(Write(OddAxisTable(64), LutFileFormat::kHaldPng, "h.png"), LutWrite::kWritten);
    const test_support::PngContents png = test_support::InspectPng(ReadFile(dir_.File("h.png")));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, 512u);
    EXPECT_EQ(png.height, 512u);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.colorType, 2);  // RGB, 24 bits a pixel
    ASSERT_EQ(png.pixels.size(), 512u * 512u * 3u);
    for (std::size_t i = 0; i < 512u * 512u; ++i) {
        const long expected[3] = {std::lround((i % 64) * 255 / 63.0),
                                  std::lround((i / 64 % 64) * 255 / 63.0),
                                  std::lround((i / 4096) * 255 / 63.0)};
        for (std::size_t ch = 0; ch < 3; ++ch) {
            if (i == 65 && ch == 1) {
                continue;  // the 16-bit value
            }
            ASSERT_EQ(png.pixels[3 * i + ch], expected[ch]) << "pixel " << i << " channel " << ch;
        }
    }
}

TEST_F(LutExport, NeverReplacesAndLeavesNothingWhenItFails) {
    ASSERT_TRUE(test_support::WriteFile(dir_.File("taken.cube"), ""));
    EXPECT_EQ(Write(OddAxisTable(3), LutFileFormat::kCube, "taken.cube"), LutWrite::kTaken);
    EXPECT_EQ(ReadFile(dir_.File("taken.cube")).size(), 0u);

    EXPECT_EQ(Write(OddAxisTable(33), LutFileFormat::kHaldPng, "wrong-size.png"), LutWrite::kFailed);
    EXPECT_EQ(Write(LutTable{}, LutFileFormat::kCube, "empty.cube"), LutWrite::kFailed);
    stop_ = true;
    EXPECT_EQ(Write(OddAxisTable(3), LutFileFormat::kCube, "stopped.cube"), LutWrite::kCancelled);
    stop_ = false;

    LutWrite cube;
    LutWrite hald;
    {
        const test_support::ScopedFileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Active());
        cube = Write(OddAxisTable(17), LutFileFormat::kCube, "full.cube");
        hald = Write(OddAxisTable(64), LutFileFormat::kHaldPng, "full.png");
    }
    EXPECT_EQ(cube, LutWrite::kFailed);
    EXPECT_EQ(hald, LutWrite::kFailed);

    EXPECT_EQ(ListFolder(dir_.Path()), std::vector<std::string>{"taken.cube"});
}

}  // namespace
}  // namespace corvanta
