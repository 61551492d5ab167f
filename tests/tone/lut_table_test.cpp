#include "tone/lut_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

#include <gtest/gtest.h>

#include "tone/axis_table.h"

namespace corvanta {
namespace {

ColorScheme BuiltIn(std::string_view name) {
    for (const Preset& preset : MakePresetTable().rows) {
        if (TrimmedPresetName(preset) == name) {
            return preset.slots;
        }
    }
    ADD_FAILURE() << "no preset " << name;
    return {};
}

// Colour i = r + 256 g + 65536 b; byte k of a colour is (i >> 8 k) & 255.
std::uint8_t Byte(std::size_t color, std::size_t k) {
    return static_cast<std::uint8_t>((color >> (8 * k)) & 0xFF);
}

using testing::AxisTable;

const std::vector<std::uint32_t>& Sample() {
    static const std::vector<std::uint32_t> colors = RandomColors(200000, 12345);
    return colors;
}

TEST(LutTable, LookupRowOrderAndErrorMeasure) {
    // The blend reproduces a linear table only if row order and cells agree.
    for (const auto& [r, g, b] : {std::array{0, 0, 0}, std::array{255, 255, 255},
                                  std::array{1, 128, 254}, std::array{64, 191, 200}}) {
        const auto v = InterpolateLut(AxisTable(5), r, g, b);
        EXPECT_NEAR(v[0] * 255, r, 1e-4);
        EXPECT_NEAR(v[1] * 255, g, 1e-4);
        EXPECT_NEAR(v[2] * 255, b, 1e-4);
    }
    // A map returning every colour unchanged, made by hand: linear, so the
    // fit at two points a side is exact.
    ExactColorMap map;
    map.rgb.resize(std::size_t{3} << 24);
    for (std::size_t i = 0; i < map.rgb.size(); ++i) {
        map.rgb[i] = Byte(i / 3, i % 3);
    }
    EXPECT_EQ(MeasureLut(map, FitLut(map, 2, LutPrecision::kFine)).maxError, 0);  // all colours
    EXPECT_EQ(FitLut(map, 257, LutPrecision::kFine).size, 0);
    EXPECT_EQ(SampleLut(BuiltIn("Gray"), 1).size, 0);

    // Off by 9 levels on red for blue 0..2 (1.17 % of the colours), by 1 on
    // green for blue 3..5: the 99th percentile sees the 9 ...
    for (std::size_t i = 0; i < 6 << 16; ++i) {
        std::uint8_t& v = map.rgb[3 * i + (i < 3 << 16 ? 0 : 1)];
        const int off = i < 3 << 16 ? 9 : 1;
        v = static_cast<std::uint8_t>(v < 128 ? v + off : v - off);
    }
    const LutAccuracy tail = MeasureLut(map, AxisTable(2), Sample());
    EXPECT_NEAR(tail.meanError, (9 * 3 + 1 * 3) / 256.0 / 3, 0.003);
    EXPECT_EQ(tail.p99Error, 9);
    EXPECT_EQ(tail.maxError, 9);
    for (std::size_t i = 0; i < 2 << 16; ++i) {  // ... but not a 0.4 % tail of 9
        map.rgb[3 * i] = Byte(i, 0);
    }
    EXPECT_EQ(MeasureLut(map, AxisTable(2), Sample()).p99Error, 1);
}

// Gray keeps every grey and turns every colour into a grey; a fitted table of
// it stays within one level of the map everywhere and is nearly exact.
TEST(LutTable, GrayAgainstItsExactMap) {
    const ExactColorMap map = MapEveryColor(BuiltIn("Gray"));
    for (int v = 0; v < 256; ++v) {
        ASSERT_TRUE(map.At(v, v, v)[0] == v && map.At(v, v, v)[1] == v && map.At(v, v, v)[2] == v);
    }
    for (const std::uint32_t c : Sample()) {
        const std::uint8_t* px = map.At(Byte(c, 0), Byte(c, 1), Byte(c, 2));
        ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]) << std::hex << c;
    }
    const std::atomic<bool> stopped{true};
    EXPECT_EQ(FitLut(map, 33, LutPrecision::kFine, stopped).size, 0);
    const LutTable lut = FitLut(map, 33, LutPrecision::kFine);
    ASSERT_EQ(lut.size, 33);
    for (int i = 0; i < 33; ++i) {  // the grey axis
        for (const auto& channel : lut.channels) {
            EXPECT_NEAR(channel[lut.Index(i, i, i)] * 32, i, 32 / 255.0 / 2) << "point " << i;
        }
    }
    const LutAccuracy fitted = MeasureLut(map, lut, Sample());
    EXPECT_LT(fitted.meanError, 0.03);
    EXPECT_EQ(fitted.maxError, 1);
}

// Heat camera's sharp stops are the hardest case. Plain sampling reproduces
// the published figures for it (mean 0.126 / p99 3 at 65, 0.323 / 9 at 33);
// the fitted tables must do better on both, and the 8-bit Hald table better
// than sampling at 64 points.
TEST(LutTable, HeatCameraAccuracy) {
    const ColorScheme heat = BuiltIn("Heat camera");
    const ExactColorMap map = MapEveryColor(heat);
    const struct {
        int size;
        double mean;
        int p99;
    } published[] = {{33, 0.323, 9}, {65, 0.126, 3}};
    for (const auto& ref : published) {
        SCOPED_TRACE(ref.size);
        const LutAccuracy sampled = MeasureLut(map, SampleLut(heat, ref.size), Sample());
        EXPECT_NEAR(sampled.meanError, ref.mean, 0.005);
        EXPECT_EQ(sampled.p99Error, ref.p99);

        const LutTable lut = FitLut(map, ref.size, LutPrecision::kFine);
        for (const auto& channel : lut.channels) {
            ASSERT_EQ(channel.size(), static_cast<std::size_t>(ref.size * ref.size * ref.size));
            ASSERT_TRUE(std::all_of(channel.begin(), channel.end(),
                                    [](float v) { return v >= 0.0f && v <= 1.0f; }));
        }
        const LutAccuracy fitted = MeasureLut(map, lut, Sample());
        EXPECT_LT(fitted.meanError, 0.9 * ref.mean);
        EXPECT_LT(fitted.p99Error, ref.p99);
        EXPECT_LT(fitted.maxError, sampled.maxError);
    }

    const LutTable hald = FitLut(map, kHaldLutSize, LutPrecision::kEightBit);
    ASSERT_EQ(hald.size, 64);
    for (const auto& channel : hald.channels) {
        ASSERT_TRUE(std::all_of(channel.begin(), channel.end(), [](float v) {
            return std::abs(v * 255 - std::round(v * 255)) < 1e-3;  // whole levels
        }));
    }
    const LutAccuracy sampled = MeasureLut(map, SampleLut(heat, 64), Sample());
    const LutAccuracy fitted = MeasureLut(map, hald, Sample());
    EXPECT_LT(fitted.meanError, 0.95 * sampled.meanError);
    EXPECT_LE(fitted.meanError, 0.126);
    EXPECT_LE(fitted.p99Error, 3);
    EXPECT_LT(fitted.maxError, sampled.maxError);
}

}  // namespace
}  // namespace corvanta
