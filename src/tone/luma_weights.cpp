#include "tone/luma_weights.h"

#include <cmath>

namespace corvanta {
namespace {

constexpr double kWeightRed = 0.212656;
constexpr double kWeightGreen = 0.715158;
constexpr double kWeightBlue = 0.072186;
constexpr double kWeightScale = 65532.0;  // 4 * 16383: four times the largest code

double SrgbDecode(double x) {
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

std::array<std::uint16_t, 256> ChannelWeights(double k) {
    std::array<std::uint16_t, 256> weights{};
    for (int v = 0; v < 256; ++v) {
        weights[static_cast<std::size_t>(v)] =
            static_cast<std::uint16_t>(std::floor(k * kWeightScale * SrgbDecode(v / 255.0) + 0.5));
    }
    return weights;
}

}  // namespace

const LumaWeightTable& GetLumaWeightTable() {
    static const LumaWeightTable table{ChannelWeights(kWeightRed), ChannelWeights(kWeightGreen),
                                       ChannelWeights(kWeightBlue)};
    return table;
}

unsigned LuminanceCode(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return LuminanceCode(GetLumaWeightTable(), r, g, b);
}

}  // namespace corvanta
