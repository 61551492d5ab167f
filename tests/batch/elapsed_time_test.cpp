#include "batch/elapsed_time.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

TEST(ElapsedTime, FormatsWholeSecondsAsTimeOfDay) {
    EXPECT_EQ(FormatElapsedTime(0), "00h 00m 00s");
    EXPECT_EQ(FormatElapsedTime(999), "00h 00m 00s");
    EXPECT_EQ(FormatElapsedTime(65'000), "00h 01m 05s");
    EXPECT_EQ(FormatElapsedTime(3'725'999), "01h 02m 05s");
    EXPECT_EQ(FormatElapsedTime(86'399'000), "23h 59m 59s");
    EXPECT_EQ(FormatElapsedTime(86'400'000), "00h 00m 00s");  // a day wraps
    EXPECT_EQ(FormatElapsedTime((25 * 3600 + 61) * 1000LL), "01h 01m 01s");
    EXPECT_EQ(FormatElapsedTime(-5'000), "00h 00m 00s");
    EXPECT_EQ(TotalTimeLine(3'725'000), "Total time : 01h 02m 05s");
}

}  // namespace
}  // namespace corvanta
