#include "common/parse_integer.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

TEST(ParseInteger, ReadsDecimalWithSignsAndLeadingBlanks) {
    EXPECT_EQ(ParseInteger("8192"), 8192);
    EXPECT_EQ(ParseInteger("  \t 42"), 42);
    EXPECT_EQ(ParseInteger("+17"), 17);
    EXPECT_EQ(ParseInteger("-4"), -4);
    EXPECT_EQ(ParseInteger("\t-300"), -300);
    EXPECT_EQ(ParseInteger("007"), 7);
}

TEST(ParseInteger, ReadsHexadecimalAndBinaryPrefixes) {
    EXPECT_EQ(ParseInteger("$ff"), 255);
    EXPECT_EQ(ParseInteger("$FF"), 255);
    EXPECT_EQ(ParseInteger("$1aB"), 0x1AB);
    EXPECT_EQ(ParseInteger("-$10"), -16);
    EXPECT_EQ(ParseInteger("%1011"), 11);
    EXPECT_EQ(ParseInteger("%102"), 2);  // 2 is not a binary digit
    EXPECT_EQ(ParseInteger("+%11"), 3);
}

TEST(ParseInteger, StopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(ParseInteger("12a3"), 12);
    EXPECT_EQ(ParseInteger("255 "), 255);
    EXPECT_EQ(ParseInteger("1e5"), 1);
    EXPECT_EQ(ParseInteger("$fg"), 15);
    EXPECT_EQ(ParseInteger("12 34"), 12);
}

TEST(ParseInteger, TextWithoutDigitsGivesZero) {
    EXPECT_EQ(ParseInteger(""), 0);
    EXPECT_EQ(ParseInteger("   "), 0);
    EXPECT_EQ(ParseInteger("-"), 0);
    EXPECT_EQ(ParseInteger("$"), 0);
    EXPECT_EQ(ParseInteger("%"), 0);
    EXPECT_EQ(ParseInteger("abc"), 0);
    EXPECT_EQ(ParseInteger("- 5"), 0);  // blanks are skipped only before the sign
    EXPECT_EQ(ParseInteger("0x10"), 0);
    EXPECT_EQ(ParseInteger("\n5"), 0);  // only blanks and tabs are skipped
}

TEST(ParseInteger, SaturatesInsteadOfOverflowing) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(ParseInteger("123456789012345678901234567890"), kMax);
    EXPECT_EQ(ParseInteger("-123456789012345678901234567890"), kMin);
    EXPECT_EQ(ParseInteger("9223372036854775807"), kMax);
    EXPECT_EQ(ParseInteger("9223372036854775808"), kMax);
    EXPECT_EQ(ParseInteger("-9223372036854775808"), kMin);
    EXPECT_EQ(ParseInteger("-9223372036854775807"), kMin + 1);
    EXPECT_EQ(ParseInteger("$ffffffffffffffffffff"), kMax);
    EXPECT_EQ(ParseInteger("%" + std::string(100, '1')), kMax);
}

}  // namespace
}  // namespace corvanta
