#include "tone/lut_table.h"

#include <cmath>
#include <cstdint>
#include <string_view>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

ColorScheme BuiltIn(std::string_view name) {
    const PresetTable table = MakePresetTable();
    for (const Preset& preset : table.rows) {
        if (TrimmedPresetName(preset) == name) {
            return preset.slots;
        }
    }
    ADD_FAILURE() << "no preset " << name;
    return {};
}

// A map that returns every colour unchanged, written out by hand.
ExactColorMap IdentityMap() {
    ExactColorMap map;
    map.rgb.resize(std::size_t{3} << 24);
    std::size_t i = 0;
    for (int b = 0; b < 256; ++b) {
        for (int g = 0; g < 256; ++g) {
            for (int r = 0; r < 256; ++r) {
                map.rgb[i++] = static_cast<std::uint8_t>(r);
                map.rgb[i++] = static_cast<std::uint8_t>(g);
                map.rgb[i++] = static_cast<std::uint8_t>(b);
            }
        }
    }
    return map;
}

// Each channel holds its own axis: red i / (size - 1) at every point of red
// index i, and so on.
LutTable AxisTable(int size) {
    LutTable lut;
    lut.size = size;
    for (auto& channel : lut.channels) {
        channel.resize(static_cast<std::size_t>(size) * size * size);
    }
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) {
                const std::size_t at = (static_cast<std::size_t>(b) * size + g) * size + r;
                lut.channels[0][at] = static_cast<float>(r) / (size - 1);
                lut.channels[1][at] = static_cast<float>(g) / (size - 1);
                lut.channels[2][at] = static_cast<float>(b) / (size - 1);
            }
        }
    }
    return lut;
}

const std::vector<std::uint32_t>& Sample() {
    static const std::vector<std::uint32_t> colors = RandomColors(200000, 12345);
    return colors;
}

TEST(LutTable, LookupRowOrderAndErrorMeasure) {
    // A linear table is reproduced exactly by the blend, at any size, only if
    // the row order and the cell positions agree.
    const LutTable axes = AxisTable(5);
    for (const auto& [r, g, b] : {std::array{0, 0, 0}, std::array{255, 255, 255},
                                  std::array{1, 128, 254}, std::array{64, 191, 200}}) {
        const auto v = InterpolateLut(axes, r, g, b);
        EXPECT_NEAR(v[0] * 255, r, 1e-4);
        EXPECT_NEAR(v[1] * 255, g, 1e-4);
        EXPECT_NEAR(v[2] * 255, b, 1e-4);
    }

    ExactColorMap map = IdentityMap();
    const LutAccuracy exact = MeasureLut(map, AxisTable(2));  // all 16.7M colours
    EXPECT_EQ(exact.meanError, 0.0);
    EXPECT_EQ(exact.maxError, 0);

    // Off by 9 levels on red for blue 0..2 (1.17 % of all colours), by 1 on
    // green for blue 3..5 (as many): the 99th percentile sees the 9 ...
    for (int b = 0; b < 6; ++b) {
        for (int g = 0; g < 256; ++g) {
            for (int r = 0; r < 256; ++r) {
                std::uint8_t* px = &map.rgb[3 * ExactColorMap::Index(r, g, b)];
                if (b < 3) {
                    px[0] = static_cast<std::uint8_t>(r < 128 ? r + 9 : r - 9);
                } else {
                    px[1] = static_cast<std::uint8_t>(g < 128 ? g + 1 : g - 1);
                }
            }
        }
    }
    const LutAccuracy tail = MeasureLut(map, AxisTable(2), Sample());
    EXPECT_NEAR(tail.meanError, (9 * 3 + 1 * 3) / 256.0 / 3, 0.003);
    EXPECT_EQ(tail.p99Error, 9);
    EXPECT_EQ(tail.maxError, 9);
    for (int b = 0; b < 2; ++b) {  // ... but not a 0.4 % tail of 9
        for (int g = 0; g < 256; ++g) {
            for (int r = 0; r < 256; ++r) {
                map.rgb[3 * ExactColorMap::Index(r, g, b)] = static_cast<std::uint8_t>(r);
            }
        }
    }
    EXPECT_EQ(MeasureLut(map, AxisTable(2), Sample()).p99Error, 1);
}

TEST(LutTable, RefusesSizesOutsideTwoTo256) {
    const ColorScheme gray = BuiltIn("Gray");
    EXPECT_EQ(SampleLut(gray, 1).size, 0);
    EXPECT_EQ(SampleLut(gray, 257).size, 0);
    const ExactColorMap none;
    EXPECT_EQ(FitLut(none, 17, LutPrecision::kFine).size, 0);
    const LutTable smallest = SampleLut(gray, 2);
    ASSERT_EQ(smallest.size, 2);
    EXPECT_EQ(smallest.Points(), 8u);
}

// Gray keeps every grey and turns every colour into a grey; a fitted table of
// it stays within one level of the map everywhere and is nearly exact.
TEST(LutTable, GrayAgainstItsExactMap) {
    const ExactColorMap map = MapEveryColor(BuiltIn("Gray"));
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t* px = map.At(v, v, v);
        ASSERT_EQ(px[0], v);
        ASSERT_EQ(px[1], v);
        ASSERT_EQ(px[2], v);
    }
    for (const std::uint32_t c : Sample()) {
        const std::uint8_t* px = map.At(c & 0xFF, (c >> 8) & 0xFF, c >> 16);
        ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]) << std::hex << c;
    }
    const std::atomic<bool> stopped{true};
    EXPECT_EQ(FitLut(map, 33, LutPrecision::kFine, stopped).size, 0);
    const LutTable lut = FitLut(map, 33, LutPrecision::kFine);
    ASSERT_EQ(lut.size, 33);
    for (int i = 0; i < 33; ++i) {  // the grey axis
        const std::size_t at = lut.Index(i, i, i);
        for (const auto& channel : lut.channels) {
            EXPECT_NEAR(channel[at] * 32, i, 32 / 255.0 / 2) << "grid point " << i;
        }
    }
    const LutAccuracy fitted = MeasureLut(map, lut, Sample());
    EXPECT_LT(fitted.meanError, 0.03);
    EXPECT_EQ(fitted.maxError, 1);
}

// Heat camera's sharp stops are the hardest case. Plain sampling reproduces
// the published figures for it (mean 0.126 / p99 3 at 65, 0.323 / 9 at 33);
// the fitted tables must do at least as well on both, and the 8-bit Hald
// table at least as well as sampling at 64 points.
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
            for (const float v : channel) {
                ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << v;
            }
        }
        const LutAccuracy fitted = MeasureLut(map, lut, Sample());
        EXPECT_LT(fitted.meanError, 0.9 * ref.mean);
        EXPECT_LT(fitted.p99Error, ref.p99);
        EXPECT_LT(fitted.maxError, sampled.maxError);
    }

    const LutTable hald = FitLut(map, kHaldLutSize, LutPrecision::kEightBit);
    ASSERT_EQ(hald.size, 64);
    for (const auto& channel : hald.channels) {
        for (const float v : channel) {
            ASSERT_NEAR(v * 255, std::round(v * 255), 1e-3) << "not a whole level: " << v;
        }
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
