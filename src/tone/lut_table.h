// A scheme's map as a 3D lookup table for other programs: the engine's output
// for every 8-bit colour, tables fitted to it (or sampled, as a yardstick),
// and the error a consumer's trilinear lookup makes against the engine.
//
// The map depends on a pixel's colour alone, so a table holds all there is
// to it; only the grid between the 8-bit colours loses anything.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scheme/color_scheme.h"

namespace corvanta {

constexpr int kLutChannels = 3;
constexpr int kColorLevels = 256;  // 8-bit values per channel
constexpr int kLutMinSize = 2;
constexpr int kLutMaxSize = kColorLevels;  // a grid point for every 8-bit value
constexpr int kLutDefaultSize = 65;
// A Hald CLUT of level L is an L^3 x L^3 image holding an L^2-point grid.
constexpr int kHaldLevel = 8;
constexpr int kHaldLutSize = kHaldLevel * kHaldLevel;
constexpr int kHaldImageSide = kHaldLutSize * kHaldLevel;

// The engine's output for every 8-bit colour: the RGB bytes for (r, g, b) at
// index r + 256 g + 65536 b, red fastest like the tables. 48 MiB.
struct ExactColorMap {
    std::vector<std::uint8_t> rgb;

    static constexpr std::size_t Index(int r, int g, int b) {
        return static_cast<std::size_t>(r) + static_cast<std::size_t>(kColorLevels) * g +
               static_cast<std::size_t>(kColorLevels) * kColorLevels * b;
    }
    const std::uint8_t* At(int r, int g, int b) const {
        return &rgb[kLutChannels * Index(r, g, b)];
    }
};

// BuildGradientTable and ToneMapBuffer run over a buffer holding every colour
// once, so a table follows each rounding the conversion makes.
ExactColorMap MapEveryColor(const ColorScheme& scheme);

// size^3 grid points with an RGB value in 0..1 each; point i of an axis
// stands for the input i / (size - 1). One array per output channel, red
// fastest, then green, then blue: the order of .cube rows and Hald pixels.
struct LutTable {
    int size = 0;  // 0: no table (a size outside 2..256)
    std::array<std::vector<float>, kLutChannels> channels;

    std::size_t Points() const { return channels[0].size(); }
    std::size_t Index(int r, int g, int b) const {
        const auto n = static_cast<std::size_t>(size);
        return (static_cast<std::size_t>(b) * n + static_cast<std::size_t>(g)) * n +
               static_cast<std::size_t>(r);
    }
};

// How finely the file keeps the values: a .cube's decimals are finer than
// 16 bits, a Hald PNG holds 8.
enum class LutPrecision { kFine, kEightBit };

// The table to export. A grid point stands for an input between 8-bit
// colours, which no picture holds, so its value is not read off the map at
// any one colour: all values are chosen together so that the trilinear blend
// a consumer makes between them comes closest (least squares) to the
// engine's output over all 16,777,216 colours, every value within 0..1. With
// kEightBit the values are multiples of 1/255 chosen the same way, not the
// fine ones rounded. At size 256 every grid point is an 8-bit colour and
// takes the map's value. Size 255 holds about 400 MB while it fits.
// Once stop is set it gives up within a sweep and returns no table: the
// largest sizes take seconds.
LutTable FitLut(const ExactColorMap& map, int size, LutPrecision precision,
                const std::atomic<bool>& stop);
LutTable FitLut(const ExactColorMap& map, int size, LutPrecision precision);

// Plain sampling, the yardstick for FitLut: each grid point takes the
// engine's rule at its own input. Each channel's luminance weight is
// interpolated between the two 8-bit values around the input, the three are
// summed into a luminance code rounded as the engine rounds it, and the
// point takes that code's gradient-table entry (8-bit values).
LutTable SampleLut(const ColorScheme& scheme, int size);

// The consumer's lookup of an 8-bit colour (ffmpeg's lut3d, .cube readers):
// on each axis x = c (size - 1) / 255, the cell below x (the last one for
// c = 255), the eight values around it blended along red, green, then blue.
std::array<double, kLutChannels> InterpolateLut(const LutTable& lut, int r, int g, int b);

// Errors in 8-bit levels, with the blend rounded to the nearest level as an
// 8-bit consumer writes it.
struct LutAccuracy {
    double meanError = 0.0;  // over every channel of every colour measured
    int p99Error = 0;        // nearest-rank 99th percentile of a colour's worst channel
    int maxError = 0;        // the largest worst channel
};

// count colours drawn from std::mt19937 seeded with seed, each draw's top 24
// bits (red in the low byte): the same set on every platform.
std::vector<std::uint32_t> RandomColors(std::size_t count, std::uint32_t seed);

LutAccuracy MeasureLut(const ExactColorMap& map, const LutTable& lut,
                       const std::vector<std::uint32_t>& colors);
// Over all 16,777,216 colours.
LutAccuracy MeasureLut(const ExactColorMap& map, const LutTable& lut);

}  // namespace corvanta
