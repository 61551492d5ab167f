#include "scheme/scheme_text.h"

#include <string>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

TEST(ParseSchemeText, ReadsNineItemsOutOfProse) {
    const std::string text =
        "Here is my scheme: 0xFF0000FF (red) and 0xff00FF00,\n"
        "then 0xFFFF0000 blue\n0x00000000 0x1 0xABCDEF0 0x 0x12345678 last 0xffffffff.";
    const auto scheme = ParseSchemeText(text);
    ASSERT_TRUE(scheme);
    const ColorScheme expected = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x0,       0x1,
                                  0xABCDEF0,  0x0,        0x12345678, 0xFFFFFFFF};
    EXPECT_EQ(*scheme, expected);
}

TEST(ParseSchemeText, ItemFieldsAndDigitRules) {
    // "0xff," reads ff; digits stop at the first non-digit, at eight
    // characters, and at the next item's "0x" (whose 0 is a digit too).
    const auto scheme =
        ParseSchemeText("0xff,0x123456789,0xab0x12,0xzz,0x-1,0x 7,0x0X12,0xFfFf\n,");
    ASSERT_TRUE(scheme);
    EXPECT_EQ((*scheme)[0], 0xFFu);
    EXPECT_EQ((*scheme)[1], 0x12345678u);
    EXPECT_EQ((*scheme)[2], 0xABu);
    EXPECT_EQ((*scheme)[3], 0x12u);
    EXPECT_EQ((*scheme)[4], 0u);
    EXPECT_EQ((*scheme)[5], 0u);  // signs are not skipped
    EXPECT_EQ((*scheme)[6], 0u);  // neither are blanks
    EXPECT_EQ((*scheme)[7], 0u);  // "0X12": the 0 is a digit, X stops it
    EXPECT_EQ((*scheme)[8], 0xFFFFu);
}

TEST(ParseSchemeText, OnlyExactlyNineLowerCaseMarkersCount) {
    const ColorScheme gray = {0xFF000000, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF};
    const std::string line = FormatSchemeText(gray);
    EXPECT_FALSE(ParseSchemeText(line + ",0x00000000"));             // ten, though it starts valid
    EXPECT_FALSE(ParseSchemeText(line.substr(0, line.rfind(','))));  // eight
    EXPECT_FALSE(ParseSchemeText(""));

    std::string upper = line;
    for (char& c : upper) {
        if (c == 'x') {
            c = 'X';
        }
    }
    EXPECT_FALSE(ParseSchemeText(upper));
    // "0X" next to nine real items neither counts nor splits a field.
    EXPECT_TRUE(ParseSchemeText(line + " 0X12"));
    // Markers do not overlap: "0x0x" is two items, the first one empty.
    const auto scheme = ParseSchemeText("0x0x1,0x2,0x3,0x4,0x5,0x6,0x7,0x8");
    ASSERT_TRUE(scheme);
    EXPECT_EQ((*scheme)[0], 0u);
    EXPECT_EQ((*scheme)[1], 1u);
    EXPECT_EQ((*scheme)[8], 8u);
}

TEST(SchemeText, FormatAndParseRoundTrip) {
    EXPECT_EQ(FormatSchemeText(ColorScheme{}),
              "!dd 0x00000000,0x00000000,0x00000000,0x00000000,0x00000000,0x00000000,"
              "0x00000000,0x00000000,0x00000000");
    const ColorScheme schemes[] = {
        {0xFF000000, 0, 0xFF000099, 0, 0xFF008D99, 0, 0xFF55C6FF, 0, 0xFFFFFFFF},
        {0x01020304, 0x7FFFFFFF, 0x80000000, 0xDEADBEEF, 0x0000000F, 0xF0000000, 0x00ABCDEF, 1,
         0xFFFFFFFE},
    };
    for (const ColorScheme& scheme : schemes) {
        const std::string text = FormatSchemeText(scheme);
        EXPECT_EQ(text.size(), kSchemeTextLength);
        EXPECT_EQ(text.rfind("!dd 0x", 0), 0u);
        EXPECT_EQ(text.find_first_of("ABCDEF X"), 3u) << "lower-case digits, one blank";
        const auto back = ParseSchemeText(text);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, scheme);
    }
}

TEST(ParseSchemeText, MegabyteTexts) {
    constexpr std::size_t kMegabyte = 1 << 20;
    // A megabyte of zeros around the items: every 0 starts a possible match.
    const ColorScheme scheme = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::string text(kMegabyte, '0');
    text += FormatSchemeText(scheme);
    text += std::string(kMegabyte, '0');
    const auto parsed = ParseSchemeText(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)[0], 1u);
    EXPECT_EQ((*parsed)[7], 8u);
    EXPECT_EQ((*parsed)[8], 9u) << "eight characters, though zeros follow";

    std::string markers;
    while (markers.size() < kMegabyte) {
        markers += "0x";
    }
    EXPECT_FALSE(ParseSchemeText(markers));
}

}  // namespace
}  // namespace corvanta
