// The memory budget reads every limit a process can be under: cgroup
// version 2 and version 1 at every level of the hierarchy, through files a
// test lays out as the kernel would.
#include "batch/memory_budget.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "codecs/deflate_png_encoder.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;
using test_support::WriteFile;

constexpr std::int64_t kMiB = std::int64_t{1} << 20;

class MemoryRoomTest : public ::testing::Test {
  protected:
    // A fake /proc for a process in cgroup `path` of a hierarchy mounted at
    // <dir>/cg (`mountLine` names its kind), with plenty of machine memory.
    MemorySources Lay(const std::string& cgroupLine, const std::string& mountLine) {
        const std::string dir = dir_.Path();
        WriteFile(dir + "/meminfo", std::string_view("MemAvailable: 16777216 kB\n"));
        WriteFile(dir + "/status", std::string_view("VmSize: 1024 kB\n"));
        WriteFile(dir + "/cgroup", cgroupLine + "\n");
        WriteFile(dir + "/mountinfo", "30 1 0:26 / /proc rw - proc proc rw\n31 1 0:27 / " + dir +
                                          "/cg rw - " + mountLine + "\n");
        return {dir + "/meminfo", dir + "/status", dir + "/cgroup", dir + "/mountinfo"};
    }
    void Put(const std::string& folder, const std::string& file, std::int64_t value) {
        fs::create_directories(dir_.Path() + "/cg" + folder);
        WriteFile(dir_.Path() + "/cg" + folder + "/" + file, std::to_string(value) + "\n");
    }
    test_support::TempDir dir_;
};

TEST_F(MemoryRoomTest, CgroupVersion2TakesTheTightestLevelAndHigh) {
    const MemorySources sources = Lay("0::/user/app", "cgroup2 cgroup2 rw");
    Put("/user/app", "memory.max", 900 * kMiB);
    Put("/user/app", "memory.current", 100 * kMiB);
    Put("/user", "memory.high", 500 * kMiB);  // the parent's soft limit binds first
    Put("/user", "memory.current", 200 * kMiB);
    const MemoryRoom room = ReadMemoryRoom(sources);
    EXPECT_EQ(room.bytes, 300 * kMiB);
    EXPECT_TRUE(room.limited);
}

TEST_F(MemoryRoomTest, CgroupVersion1AndItsNoLimitValue) {
    const MemorySources sources = Lay("5:memory:/jobs/one\n0::/", "cgroup cgroup rw,memory");
    Put("/jobs/one", "memory.limit_in_bytes", 9223372036854771712);  // no limit here
    Put("/jobs/one", "memory.usage_in_bytes", 50 * kMiB);
    Put("/jobs", "memory.limit_in_bytes", 400 * kMiB);
    Put("/jobs", "memory.usage_in_bytes", 150 * kMiB);
    EXPECT_EQ(ReadMemoryRoom(sources).bytes, 250 * kMiB);

    // No limit anywhere: the machine's memory, not a limit.
    Put("/jobs", "memory.limit_in_bytes", 9223372036854771712);
    const MemoryRoom free = ReadMemoryRoom(sources);
    EXPECT_EQ(free.bytes, 16 * std::int64_t{1} << 30);
    EXPECT_FALSE(free.limited);
}

TEST(BatchMemory, JobsShareWhatIsLeftAfterTheirOwnCost) {
    const BatchMemory roomy = PlanBatchMemory(8, {std::int64_t{64} << 30, false, false});
    EXPECT_EQ(roomy.jobs, 8);
    EXPECT_FALSE(roomy.keepNothing);
    for (const bool addressSpace : {false, true}) {
        const BatchMemory tight = PlanBatchMemory(8, {400 * kMiB, true, addressSpace});
        EXPECT_GE(tight.jobs, 1);
        EXPECT_LT(tight.jobs, 8);
        EXPECT_TRUE(tight.keepNothing);
        EXPECT_LE(tight.pictureBytes + tight.jobs * 16 * kMiB, 300 * kMiB);
        EXPECT_GE(tight.pictureBytes, kMinBudgetBytes);
    }
}

// What a PNG conversion is admitted covers the picture and the encoder, for
// the largest picture allowed in any shape and turned by a quarter (a turn
// makes columns rows, and each row costs a filter byte).
TEST(BatchMemory, ThePngBudgetCoversTheEncoderForTheLargestPictures) {
    struct Size {
        int width;
        int height;
    };
    constexpr int kSide = 1 << 14;  // kSide * kSide == kMaxImagePixels
    static_assert(std::int64_t{kSide} * kSide == kMaxImagePixels);
    constexpr int kLongest = static_cast<int>(kMaxImagePixels);
    for (const Size fitted : {Size{kSide, kSide}, Size{1, kLongest}, Size{kLongest, 1},
                              Size{kSide, 1}, Size{7, 3}}) {
        const std::int64_t pixels = std::int64_t{fitted.width} * fitted.height;
        for (const Size written : {fitted, Size{fitted.height, fitted.width}}) {
            const auto encoder =
                static_cast<std::int64_t>(DeflatePngEncoder::WorkingBytes(written.width,
                                                                          written.height, 4));
            ASSERT_GT(encoder, 0);
            EXPECT_GE(PngConversionBytes(pixels, {fitted.width, fitted.height}, 4),
                      4 * pixels + encoder)
                << written.width << "x" << written.height;
        }
    }
}

}  // namespace
}  // namespace corvanta
