// The five row filters of PNG (filter method 0), which turn each byte into
// its difference from a prediction made of its neighbours to the left,
// above and upper left, so that deflate finds smaller numbers and more
// repeats. One filter for every row of an image, or per row the one that
// looks cheapest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvanta {

// Each row's leading byte in the filtered image holds one of these.
enum class PngRowFilter : std::uint8_t {
    kNone = 0,
    kSub = 1,
    kUp = 2,
    kAverage = 3,
    kPaeth = 4,
};

// Bytes of the filtered image: one filter byte and width * channels bytes
// per row. 0 when a side is not positive or the size does not fit in size_t.
std::size_t FilteredImageBytes(int width, int height, int channels);

// Writes the filtered image (FilteredImageBytes bytes) into out. channels is
// 3 (RGB) or 4 (RGBA), 8 bits each; only the first width * channels bytes of
// each source row are read, so padding and the missing tail of a last row
// that is shorter than rowstride are never touched. False when the
// arguments are unusable.
bool FilterImageRows(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                     int channels, PngRowFilter filter, std::uint8_t* out);

// As FilterImageRows, with each row's filter chosen by libpng's estimate:
// the one whose filtered bytes, read as signed numbers, have the smallest
// sum of absolute values. It costs five filterings of each row and no
// memory beyond out.
bool FilterImageRowsByMinimumSum(const std::uint8_t* pixels, int width, int height,
                                 std::size_t rowstride, int channels, std::uint8_t* out);

}  // namespace corvanta
