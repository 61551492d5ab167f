// Per-channel luminance weights and the 14-bit luminance code.
#pragma once

#include <array>
#include <cstdint>

namespace corvanta {

// W_c[v] = floor(k_c * 65532 * D(v / 255) + 0.5), D the sRGB decoding
// function. A pixel's code is the sum of its three weights divided by four,
// rounded half up, so it lies in 0 .. 16383.
struct LumaWeightTable {
    std::array<std::uint16_t, 256> red;
    std::array<std::uint16_t, 256> green;
    std::array<std::uint16_t, 256> blue;
};

const LumaWeightTable& GetLumaWeightTable();

inline unsigned LuminanceCode(const LumaWeightTable& w, std::uint8_t r, std::uint8_t g,
                              std::uint8_t b) {
    return (static_cast<unsigned>(w.red[r]) + w.green[g] + w.blue[b] + 2u) >> 2;
}

unsigned LuminanceCode(std::uint8_t r, std::uint8_t g, std::uint8_t b);

}  // namespace corvanta
