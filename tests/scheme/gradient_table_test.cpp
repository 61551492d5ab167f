#include "scheme/gradient_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

GradientTable Build(const ColorScheme* scheme) {
    GradientTable table{};
    table.fill(0xDEADBEEF);  // every entry must be rewritten
    BuildGradientTable(scheme, table);
    return table;
}

ColorScheme PresetScheme(int row) {
    return MakePresetTable().rows[static_cast<std::size_t>(row)].slots;
}

// The table entry of the first code that lands on gradient position p.
std::uint32_t EntryAtPosition(const GradientTable& table, int position) {
    for (int code = 0; code < kGradientEntries; ++code) {
        if (GradientPosition(code) == position) {
            return table[static_cast<std::size_t>(code)];
        }
    }
    ADD_FAILURE() << "no code reaches position " << position;
    return 0;
}

int Green(std::uint32_t v) {
    return static_cast<int>((v >> 8) & 0xFF);
}

constexpr int kRowGray = 0, kRowBlue = 4, kRowDeepGreen = 6, kRowHeatCamera = 9,
              kRowInvertedGray = 11, kRowSepiaOld = 14, kRowSepiaModern = 15, kRowSummer = 17;

TEST(GradientPosition, MatchesTheReferencePoints) {
    const std::pair<int, int> points[] = {
        {0, 0},      {1, 2},       {2, 3},        {3, 5},        {5, 8},        {100, 146},
        {1000, 561}, {8191, 1506}, {16000, 2027}, {16373, 2047}, {16374, 2048}, {16383, 2048}};
    for (auto [code, position] : points) {
        EXPECT_EQ(GradientPosition(code), position) << "code " << code;
    }
    // The first code that reaches each slot's position 256 * k.
    const int firstCodes[kSchemeSlots] = {0, 235, 832, 1899, 3503, 5705, 8555, 12097, 16374};
    for (int k = 0; k < kSchemeSlots; ++k) {
        const int code = firstCodes[k];
        EXPECT_GE(GradientPosition(code), 256 * k);
        if (code > 0) {
            EXPECT_LT(GradientPosition(code - 1), 256 * k) << "slot " << k;
        }
    }
}

TEST(PositionRunTable, HasTheDocumentedShape) {
    const PositionRunTable& runs = GetPositionRunTable();
    EXPECT_EQ(std::accumulate(runs.begin(), runs.end(), 0), kInterpolatedEntries);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 0), 46);
    const std::uint8_t firstTen[10] = {1, 0, 1, 1, 0, 1, 1, 0, 1, 0};
    EXPECT_TRUE(std::equal(firstTen, firstTen + 10, runs.begin()));
    EXPECT_EQ(*std::max_element(runs.begin(), runs.end()), 19);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 19), 1);
    EXPECT_EQ(runs[2042], 19);
    EXPECT_EQ(runs[2047], 18);
    // Every unreached position lies in the dark end.
    for (int p = 0; p < kGradientPositions; ++p) {
        if (runs[static_cast<std::size_t>(p)] == 0) {
            EXPECT_LT(p, 256) << "position " << p;
        }
    }
}

TEST(BuildGradientTable, NoSchemeEmptySchemeAndGrayGiveTheSameRamp) {
    const ColorScheme empty{};
    const ColorScheme gray = PresetScheme(kRowGray);
    const GradientTable none = Build(nullptr);
    EXPECT_EQ(Build(&empty), none);
    EXPECT_EQ(Build(&gray), none);
    EXPECT_EQ(none[0], 0x00000000u);
    EXPECT_EQ(none[3536], 0x00808080u);
    for (int e = kInterpolatedEntries; e < kGradientEntries; ++e) {
        EXPECT_EQ(none[static_cast<std::size_t>(e)], 0xFFFFFFFFu);
    }
}

TEST(BuildGradientTable, InvertedGrayIsTheReversedRamp) {
    const ColorScheme inverted = PresetScheme(kRowInvertedGray);
    const GradientTable table = Build(&inverted);
    const GradientTable ramp = Build(nullptr);
    // Mirror image of the ramp (exact halves round up in both, so a channel
    // may differ by one from 255 minus the ramp) and never getting brighter.
    EXPECT_EQ(table[0], 0x00FFFFFFu);
    for (int e = 0; e < kInterpolatedEntries; ++e) {
        const std::uint32_t v = table[static_cast<std::size_t>(e)];
        const int mirrored = 255 - static_cast<int>(ramp[static_cast<std::size_t>(e)] & 0xFF);
        EXPECT_LE(std::abs(static_cast<int>(v & 0xFF) - mirrored), 1) << "entry " << e;
        EXPECT_EQ(v, (v & 0xFF) * 0x010101u) << "entry " << e;
        if (e > 0) {
            EXPECT_LE(v, table[static_cast<std::size_t>(e - 1)]) << "entry " << e;
        }
    }
    for (int e = kInterpolatedEntries; e < kGradientEntries; ++e) {
        EXPECT_EQ(table[static_cast<std::size_t>(e)], 0xFF000000u);
    }
}

TEST(BuildGradientTable, DeepGreenReferenceEntries) {
    const ColorScheme deepGreen = PresetScheme(kRowDeepGreen);
    const GradientTable table = Build(&deepGreen);
    EXPECT_EQ(table[3484], 0x00008D00u);
    EXPECT_EQ(table[3536], 0x00018D01u);
    EXPECT_EQ(table[11717], 0x00B9E0B9u);
    EXPECT_EQ(table[16373], 0x00FFFFFFu);
    for (int e = kInterpolatedEntries; e < kGradientEntries; ++e) {
        EXPECT_EQ(table[static_cast<std::size_t>(e)], 0xFFFFFFFFu);
    }
}

// Exact half-way values of segments of 768, 1280, 1536 or 1792 positions
// depend on the 64-bit intermediate sum; plain double arithmetic rounds these
// four the other way.
TEST(BuildGradientTable, UsesExtendedPrecisionForTheChannelSum) {
    const struct {
        int row;
        int position;
        int green;
    } cases[] = {{kRowBlue, 1664, 237},
                 {kRowSepiaOld, 1152, 175},
                 {kRowSepiaModern, 1792, 224},
                 {kRowSummer, 1472, 208}};
    for (const auto& c : cases) {
        const ColorScheme scheme = PresetScheme(c.row);
        EXPECT_EQ(Green(EntryAtPosition(Build(&scheme), c.position)), c.green) << "row " << c.row;
    }
}

TEST(BuildGradientTable, WeakAlphaCountsAsEmptyAndDefaultsApply) {
    // Alpha 0x01..0x7F is empty for the gradient, so these behave like nothing set.
    ColorScheme weak{};
    weak[0] = 0x7F0000FF;
    weak[4] = 0x010000FF;
    weak[8] = 0x7FFF0000;
    EXPECT_EQ(Build(&weak), Build(nullptr));

    // Empty slot 0 starts at opaque black and reaches slot 1 at position 256.
    ColorScheme slotOne{};
    slotOne[1] = 0xFF0000FF;
    const GradientTable table = Build(&slotOne);
    EXPECT_EQ(table[0], 0x00000000u);
    EXPECT_EQ(EntryAtPosition(table, 256), 0x000000FFu);
    EXPECT_EQ(EntryAtPosition(table, 192), 0x000000BFu);
    EXPECT_EQ(table[kGradientEntries - 1], 0xFFFFFFFFu);  // empty slot 8 ends at white
}

TEST(BuildGradientTable, TopEntriesCarrySlotEightUnchangedAndSchemeIsUntouched) {
    ColorScheme scheme{};
    scheme[8] = 0x80123456;
    const ColorScheme before = scheme;
    const GradientTable table = Build(&scheme);
    EXPECT_EQ(scheme, before);
    for (int e = kInterpolatedEntries; e < kGradientEntries; ++e) {
        EXPECT_EQ(table[static_cast<std::size_t>(e)], 0x80123456u);
    }
    EXPECT_EQ(table[kInterpolatedEntries - 1] >> 24, 0u);  // interpolated entries have no alpha
}

TEST(BuildGradientTable, GapsMakeLongerSegments) {
    // "Heat camera" has no slot 6: position 1536 is half-way from slot 5 to slot 7.
    const ColorScheme heat = PresetScheme(kRowHeatCamera);
    const GradientTable table = Build(&heat);
    EXPECT_EQ(EntryAtPosition(table, 1280), 0x0000D0FFu);  // slot 5, amber
    EXPECT_EQ(EntryAtPosition(table, 1536), 0x000068FFu);  // midway to red
    EXPECT_EQ(EntryAtPosition(table, 1792), 0x000000FFu);  // slot 7, red
}

// A checksum per preset guards every entry of every table against accidental
// changes of the arithmetic; the spot checks above pin down the values.
std::uint64_t Checksum(const GradientTable& table) {
    std::uint64_t hash = 1469598103934665603ull;
    for (std::uint32_t v : table) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash = (hash ^ ((v >> shift) & 0xFF)) * 1099511628211ull;
        }
    }
    return hash;
}

TEST(BuildGradientTable, ChecksumsOfEveryBuiltInPreset) {
    const std::uint64_t expected[20] = {
#include "scheme/gradient_checksums.inc"
    };
    for (int row = 0; row < 20; ++row) {
        const ColorScheme scheme = PresetScheme(row);
        EXPECT_EQ(Checksum(Build(&scheme)), expected[row]) << "row " << row;
    }
}

}  // namespace
}  // namespace corvanta
