#include "scheme/gradient_table.h"

#include <cmath>
#include <limits>

namespace corvanta {
namespace {

// Each channel value of the gradient is u * A + t * B + 0.5 formed with a
// 64-bit significand (both products exact, each addition rounded to 64 bits),
// then rounded to double and truncated. On x86-64 long double is the x87
// extended format, which has exactly that significand.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the gradient arithmetic needs a 64-bit long double significand");

bool SlotIsSet(std::uint32_t slot) {
    return (slot & 0x80000000u) != 0;
}

double SrgbEncode(double y) {
    return y <= 0.0031308 ? 12.92 * y : 1.055 * std::pow(y, 1.0 / 2.4) - 0.055;
}

PositionRunTable ComputePositionRuns() {
    PositionRunTable runs{};
    for (int code = 0; code < kGradientEntries; ++code) {
        const int position = GradientPosition(code);
        if (position < kGradientPositions) {
            ++runs[static_cast<std::size_t>(position)];
        }
    }
    return runs;
}

int InterpolateChannel(double u, double t, int a, int b) {
    const long double sum =
        static_cast<long double>(u) * a + static_cast<long double>(t) * b + 0.5L;
    return static_cast<int>(std::trunc(static_cast<double>(sum)));
}

}  // namespace

int GradientPosition(int code) {
    const double y = static_cast<double>(code) / (kGradientEntries - 1);
    return static_cast<int>(std::floor(kGradientPositions * SrgbEncode(y) + 0.5));
}

const PositionRunTable& GetPositionRunTable() {
    static const PositionRunTable runs = ComputePositionRuns();
    return runs;
}

void BuildGradientTable(const ColorScheme* scheme, GradientTable& table) {
    ColorScheme stops{};
    if (scheme != nullptr) {
        stops = *scheme;
    }
    if (!SlotIsSet(stops[0])) {
        stops[0] = kOpaqueAlpha;  // opaque black
    }
    if (!SlotIsSet(stops[kSchemeSlots - 1])) {
        stops[kSchemeSlots - 1] = kOpaqueWhite;
    }

    const PositionRunTable& runs = GetPositionRunTable();
    std::uint32_t start = 0;
    std::uint32_t end = stops[0];
    int endSlot = 0;
    int segmentStart = 0;
    double reciprocal = 1.0;
    std::size_t cursor = 0;

    for (int i = 0; i < kGradientPositions; ++i) {
        if (i % kSlotSpacing == 0 && SlotIsSet(stops[static_cast<std::size_t>(i / kSlotSpacing)])) {
            start = end;
            segmentStart = i;
            const int previousEnd = endSlot;
            do {
                ++endSlot;
            } while (!SlotIsSet(stops[static_cast<std::size_t>(endSlot)]));
            end = stops[static_cast<std::size_t>(endSlot)];
            reciprocal = 1.0 / (kSlotSpacing * (endSlot - previousEnd));
        }
        const std::uint8_t run = runs[static_cast<std::size_t>(i)];
        if (run == 0) {
            continue;  // no code lands here; the colour would not be stored
        }
        const double t = (i - segmentStart) * reciprocal;
        const double u = 1.0 - t;
        const auto red =
            static_cast<std::uint32_t>(InterpolateChannel(u, t, SlotRed(start), SlotRed(end)));
        const auto green =
            static_cast<std::uint32_t>(InterpolateChannel(u, t, SlotGreen(start), SlotGreen(end)));
        const auto blue =
            static_cast<std::uint32_t>(InterpolateChannel(u, t, SlotBlue(start), SlotBlue(end)));
        const std::uint32_t value = red | (green << 8) | (blue << 16);
        for (std::uint8_t k = 0; k < run; ++k) {
            table[cursor++] = value;
        }
    }
    for (; cursor < table.size(); ++cursor) {
        table[cursor] = stops[kSchemeSlots - 1];
    }
}

}  // namespace corvanta
