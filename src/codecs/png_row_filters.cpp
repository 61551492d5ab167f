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

template <int kBpp>
bool FilterRowsWith(const std::uint8_t* pixels, std::size_t rowBytes, int height,
                    std::size_t rowstride, PngRowFilter filter, std::uint8_t* out) {
    TopRowFilter top = nullptr;
    RowFilter below = nullptr;
    switch (filter) {
        case PngRowFilter::kNone:
            top = FilterNone;
            below = FilterNoneBelow;
            break;
        case PngRowFilter::kSub:
            top = FilterSub<kBpp>;
            below = FilterSubBelow<kBpp>;
            break;
        case PngRowFilter::kUp:
            top = FilterNone;
            below = FilterUp;
            break;
        case PngRowFilter::kAverage:
            top = FilterAverageTop<kBpp>;
            below = FilterAverage<kBpp>;
            break;
        case PngRowFilter::kPaeth:
            top = FilterSub<kBpp>;
            below = FilterPaeth<kBpp>;
            break;
    }
    if (top == nullptr) {
        return false;
    }
    const auto type = static_cast<std::uint8_t>(filter);
    out[0] = type;
    top(pixels, rowBytes, out + 1);
    for (int y = 1; y < height; ++y) {
        const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * rowstride;
        std::uint8_t* filtered = out + static_cast<std::size_t>(y) * (rowBytes + 1);
        filtered[0] = type;
        below(row, row - rowstride, rowBytes, filtered + 1);
    }
    return true;
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
    if (pixels == nullptr || out == nullptr ||
        (channels != kRgbChannels && channels != kRgbaChannels) ||
        FilteredImageBytes(width, height, channels) == 0) {
        return false;
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (rowstride < rowBytes) {
        return false;
    }
    return channels == kRgbChannels
               ? FilterRowsWith<kRgbChannels>(pixels, rowBytes, height, rowstride, filter, out)
               : FilterRowsWith<kRgbaChannels>(pixels, rowBytes, height, rowstride, filter, out);
}

}  // namespace corvanta
