#include "codecs/png_row_filters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tone/pixbuf_format.h"

namespace corvanta {
namespace {

// The filters are plain byte loops. kBpp, the distance to the same sample
// of the pixel to the left, is a template argument so that the compiler can
// vectorise them (CMakeLists.txt gives this file the cost model that does).
// The top row has no row above: decoders take it as zeros, so there Up is
// None, Average halves only the left byte and Paeth predicts the left byte,
// which is Sub. Those rows get their own loops rather than a row of zeros,
// which for a picture one pixel high would be as large as the picture.

void FilterNone(const std::uint8_t* row, std::size_t n, std::uint8_t* out) {
    std::memcpy(out, row, n);
}

template <int kBpp>
void FilterSub(const std::uint8_t* row, std::size_t n, std::uint8_t* out) {
    std::memcpy(out, row, kBpp);
    for (std::size_t i = kBpp; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - row[i - kBpp]);
    }
}

void FilterUp(const std::uint8_t* row, const std::uint8_t* above, std::size_t n,
              std::uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
    }
}

template <int kBpp>
void FilterAverageTop(const std::uint8_t* row, std::size_t n, std::uint8_t* out) {
    std::memcpy(out, row, kBpp);
    for (std::size_t i = kBpp; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - (row[i - kBpp] >> 1));
    }
}

template <int kBpp>
void FilterAverage(const std::uint8_t* row, const std::uint8_t* above, std::size_t n,
                   std::uint8_t* out) {
    for (std::size_t i = 0; i < kBpp; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - (above[i] >> 1));
    }
    for (std::size_t i = kBpp; i < n; ++i) {
        const unsigned average = (unsigned{row[i - kBpp]} + above[i]) >> 1;
        out[i] = static_cast<std::uint8_t>(row[i] - average);
    }
}

// Whichever of left, above and upper left is nearest to left + above -
// upper left, ties going in that order. Written without branches and in
// 16 bits (no term exceeds 510), so that a vector holds 8 or 16 lanes.
inline std::uint8_t PaethPredictor(std::int16_t left, std::int16_t above, std::int16_t upperLeft) {
    const auto fromLeft = static_cast<std::int16_t>(std::abs(above - upperLeft));
    const auto fromAbove = static_cast<std::int16_t>(std::abs(left - upperLeft));
    const auto fromUpperLeft = static_cast<std::int16_t>(std::abs(left + above - 2 * upperLeft));
    const std::int16_t nearer = fromAbove <= fromUpperLeft ? above : upperLeft;
    const std::int16_t nearerDistance = std::min(fromAbove, fromUpperLeft);
    return static_cast<std::uint8_t>(fromLeft <= nearerDistance ? left : nearer);
}

template <int kBpp>
void FilterPaeth(const std::uint8_t* row, const std::uint8_t* above, std::size_t n,
                 std::uint8_t* out) {
    // Without a pixel to the left, left and upper left count as zero and
    // the prediction is the byte above.
    for (std::size_t i = 0; i < kBpp; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
    }
    for (std::size_t i = kBpp; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(
            row[i] - PaethPredictor(row[i - kBpp], above[i], above[i - kBpp]));
    }
}

using TopRowFilter = void (*)(const std::uint8_t*, std::size_t, std::uint8_t*);
using RowFilter = void (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::uint8_t*);

void FilterNoneBelow(const std::uint8_t* row, const std::uint8_t*, std::size_t n,
                     std::uint8_t* out) {
    FilterNone(row, n, out);
}

template <int kBpp>
void FilterSubBelow(const std::uint8_t* row, const std::uint8_t*, std::size_t n,
                    std::uint8_t* out) {
    FilterSub<kBpp>(row, n, out);
}

// One row's filter functions: the top row's and every other row's.
template <int kBpp>
bool FiltersFor(PngRowFilter filter, TopRowFilter& top, RowFilter& below) {
    switch (filter) {
        case PngRowFilter::kNone:
            top = FilterNone;
            below = FilterNoneBelow;
            return true;
        case PngRowFilter::kSub:
            top = FilterSub<kBpp>;
            below = FilterSubBelow<kBpp>;
            return true;
        case PngRowFilter::kUp:
            top = FilterNone;
            below = FilterUp;
            return true;
        case PngRowFilter::kAverage:
            top = FilterAverageTop<kBpp>;
            below = FilterAverage<kBpp>;
            return true;
        case PngRowFilter::kPaeth:
            top = FilterSub<kBpp>;
            below = FilterPaeth<kBpp>;
            return true;
    }
    return false;
}

// Filters row y (with its leading filter byte) into out.
template <int kBpp>
void FilterOneRow(PngRowFilter filter, const std::uint8_t* pixels, int y, std::size_t rowBytes,
                  std::size_t rowstride, std::uint8_t* out) {
    TopRowFilter top = nullptr;
    RowFilter below = nullptr;
    FiltersFor<kBpp>(filter, top, below);
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * rowstride;
    out[0] = static_cast<std::uint8_t>(filter);
    if (y == 0) {
        top(row, rowBytes, out + 1);
    } else {
        below(row, row - rowstride, rowBytes, out + 1);
    }
}

template <int kBpp>
bool FilterRowsWith(const std::uint8_t* pixels, std::size_t rowBytes, int height,
                    std::size_t rowstride, PngRowFilter filter, std::uint8_t* out) {
    TopRowFilter top = nullptr;
    RowFilter below = nullptr;
    if (!FiltersFor<kBpp>(filter, top, below)) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        FilterOneRow<kBpp>(filter, pixels, y, rowBytes, rowstride,
                           out + static_cast<std::size_t>(y) * (rowBytes + 1));
    }
    return true;
}

// The filtered bytes read as signed numbers, their absolute values summed:
// in 32-bit lanes over stretches short enough not to overflow them, so
// that the loop is vectorised.
std::uint64_t AbsoluteSum(const std::uint8_t* bytes, std::size_t n) {
    constexpr std::size_t kStretch = std::size_t{1} << 23;  // 2^23 * 128 < 2^32
    std::uint64_t sum = 0;
    for (std::size_t start = 0; start < n; start += kStretch) {
        const std::size_t end = std::min(n, start + kStretch);
        std::uint32_t part = 0;
        for (std::size_t i = start; i < end; ++i) {
            const auto b = static_cast<std::int8_t>(bytes[i]);
            part += static_cast<std::uint32_t>(b < 0 ? -b : b);
        }
        sum += part;
    }
    return sum;
}

// Each row is filtered in place with every filter in turn, and with the
// smallest sum again unless that was the last one tried; ties go to the
// lower filter number.
template <int kBpp>
void FilterRowsByMinimumSum(const std::uint8_t* pixels, std::size_t rowBytes, int height,
                            std::size_t rowstride, std::uint8_t* out) {
    constexpr int kFilters = 5;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* filtered = out + static_cast<std::size_t>(y) * (rowBytes + 1);
        int best = 0;
        std::uint64_t bestSum = 0;
        for (int f = 0; f < kFilters; ++f) {
            FilterOneRow<kBpp>(static_cast<PngRowFilter>(f), pixels, y, rowBytes, rowstride,
                               filtered);
            const std::uint64_t sum = AbsoluteSum(filtered + 1, rowBytes);
            if (f == 0 || sum < bestSum) {
                best = f;
                bestSum = sum;
            }
        }
        if (best != kFilters - 1) {
            FilterOneRow<kBpp>(static_cast<PngRowFilter>(best), pixels, y, rowBytes, rowstride,
                               filtered);
        }
    }
}

// The checks every entry point makes; rowBytes is set when they pass.
bool Usable(const std::uint8_t* pixels, int width, int height, std::size_t rowstride, int channels,
            const std::uint8_t* out, std::size_t& rowBytes) {
    if (pixels == nullptr || out == nullptr ||
        (channels != kRgbChannels && channels != kRgbaChannels) ||
        FilteredImageBytes(width, height, channels) == 0) {
        return false;
    }
    rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    return rowstride >= rowBytes;
}

}  // namespace

std::size_t FilteredImageBytes(int width, int height, int channels) {
    if (width < 1 || height < 1 || channels < 1) {
        return 0;
    }
    constexpr std::size_t kLimit = std::numeric_limits<std::size_t>::max();
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const auto c = static_cast<std::size_t>(channels);
    if (w > (kLimit - 1) / c || w * c + 1 > kLimit / h) {
        return 0;
    }
    return (w * c + 1) * h;
}

bool FilterImageRows(const std::uint8_t* pixels, int width, int height, std::size_t rowstride,
                     int channels, PngRowFilter filter, std::uint8_t* out) {
    std::size_t rowBytes = 0;
    if (!Usable(pixels, width, height, rowstride, channels, out, rowBytes)) {
        return false;
    }
    return channels == kRgbChannels
               ? FilterRowsWith<kRgbChannels>(pixels, rowBytes, height, rowstride, filter, out)
               : FilterRowsWith<kRgbaChannels>(pixels, rowBytes, height, rowstride, filter, out);
}

bool FilterImageRowsByMinimumSum(const std::uint8_t* pixels, int width, int height,
                                 std::size_t rowstride, int channels, std::uint8_t* out) {
    std::size_t rowBytes = 0;
    if (!Usable(pixels, width, height, rowstride, channels, out, rowBytes)) {
        return false;
    }
    if (channels == kRgbChannels) {
        FilterRowsByMinimumSum<kRgbChannels>(pixels, rowBytes, height, rowstride, out);
    } else {
        FilterRowsByMinimumSum<kRgbaChannels>(pixels, rowBytes, height, rowstride, out);
    }
    return true;
}

}  // namespace corvanta
