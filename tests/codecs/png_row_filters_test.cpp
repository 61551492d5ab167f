#include "codecs/png_row_filters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corvanta {
namespace {

// Each row picks the filter whose bytes are smallest: a row that repeats
// the one above is all zeros under Up (Paeth ties with it and loses on its
// higher number), a flat row is almost all zeros under Sub, and the rows
// after them are filtered against the pixels, not against what was chosen.
TEST(PngRowFilters, MinimumSumChoosesPerRowAndKeepsTheRowsDecodable) {
    constexpr int kWidth = 16;
    constexpr int kChannels = 3;
    constexpr int kRowBytes = kWidth * kChannels;
    std::vector<std::uint8_t> pixels(4 * kRowBytes);
    for (int i = 0; i < kRowBytes; ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 37 % 251);  // rough
        pixels[kRowBytes + i] = pixels[i];                    // a repeat
        pixels[2 * kRowBytes + i] = 100;                      // flat
        pixels[3 * kRowBytes + i] = 100;                      // flat again
    }
    std::vector<std::uint8_t> out(FilteredImageBytes(kWidth, 4, kChannels));
    ASSERT_TRUE(FilterImageRowsByMinimumSum(pixels.data(), kWidth, 4, kRowBytes, kChannels,
                                            out.data()));
    const auto filterOf = [&out](int row) {
        return out[static_cast<std::size_t>(row) * (kRowBytes + 1)];
    };
    EXPECT_EQ(filterOf(1), static_cast<std::uint8_t>(PngRowFilter::kUp));
    EXPECT_EQ(filterOf(2), static_cast<std::uint8_t>(PngRowFilter::kSub));
    // Against row 2's pixels, not its Sub bytes, row 3 is all zeros.
    EXPECT_EQ(filterOf(3), static_cast<std::uint8_t>(PngRowFilter::kUp));
    for (int i = 0; i < kRowBytes; ++i) {
        EXPECT_EQ(out[3 * (kRowBytes + 1) + 1 + i], 0) << i;
    }
    EXPECT_FALSE(FilterImageRowsByMinimumSum(pixels.data(), kWidth, 4, kRowBytes - 1, kChannels,
                                             out.data()));
    EXPECT_FALSE(FilterImageRowsByMinimumSum(nullptr, kWidth, 4, kRowBytes, kChannels, out.data()));
}

}  // namespace
}  // namespace corvanta
