#include "scheme/color_scheme.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

TEST(PresetTable, RowsAreInListOrderWithBlankPaddedNames) {
    const PresetTable table = MakePresetTable();
    const char* const names[kPresetRows] = {"Gray",
                                            "-",
                                            "Autumn",
                                            "Black & white",
                                            "Blue",
                                            "Blue magenta",
                                            "Deep green",
                                            "Faded red",
                                            "Gray (high contrast)",
                                            "Heat camera",
                                            "Ice",
                                            "Inverted gray",
                                            "Mystery",
                                            "Ocean",
                                            "Sepia old",
                                            "Sepia modern",
                                            "Sepia silver",
                                            "Summer",
                                            "Touch of pink",
                                            "Warm brown",
                                            "-",
                                            "User preset 1",
                                            "User preset 2",
                                            "User preset 3",
                                            "User preset 4",
                                            "User preset 5",
                                            "User preset 6",
                                            "User preset 7",
                                            "User preset 8"};
    for (int row = 0; row < kPresetRows; ++row) {
        std::string padded = names[row];
        padded.resize(kPresetNameLength, ' ');
        const auto& name = table.rows[static_cast<std::size_t>(row)].name;
        EXPECT_EQ(std::string(name.data(), name.size()), padded) << "row " << row;
        EXPECT_EQ(TrimmedPresetName(table.rows[static_cast<std::size_t>(row)]), names[row]);
    }
}

TEST(PresetTable, RecordLayoutIsTheSixtyByteFormat) {
    const PresetTable table = MakePresetTable();
    // The zero byte right behind the last record ends the list walk.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&table);
    EXPECT_EQ(bytes[60 * kPresetRows], 0);
    // "Gray": name, then slot 0 little-endian (00 00 00 FF) ... slot 8 (FF FF FF FF).
    const unsigned char gray[60] = {
        'G', 'r', 'a', 'y', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',  ' ',  ' ',  ' ',
        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0,   0,   0,    0xFF, 0,    0,
        0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,    0,    0,
        0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(bytes, gray, sizeof gray), 0);
    // Autumn slot 4 is 0xFF008D99: red 0x99, green 0x8D, blue 0, alpha 0xFF.
    const unsigned char* autumnSlot4 = bytes + 2 * 60 + 24 + 4 * 4;
    EXPECT_EQ(autumnSlot4[0], 0x99);
    EXPECT_EQ(autumnSlot4[1], 0x8D);
    EXPECT_EQ(autumnSlot4[2], 0x00);
    EXPECT_EQ(autumnSlot4[3], 0xFF);
}

TEST(PresetTable, SeparatorsAndUserPresetsAreEmptyAndBuiltInsAreOpaque) {
    const PresetTable table = MakePresetTable();
    for (int row = 0; row < kPresetRows; ++row) {
        const Preset& preset = table.rows[static_cast<std::size_t>(row)];
        const bool empty = row == kSeparatorRowA || row >= kSeparatorRowB;
        for (std::uint32_t slot : preset.slots) {
            if (empty) {
                EXPECT_EQ(slot, 0u) << "row " << row;
            } else {
                EXPECT_TRUE(slot == 0 || SlotAlpha(slot) == 0xFF) << "row " << row;
            }
        }
    }
    // Only "Inverted gray" runs from bright to dark; "Sepia old" has flat ends.
    EXPECT_EQ(table.rows[11].slots[0], 0xFFFFFFFFu);
    EXPECT_EQ(table.rows[11].slots[8], 0xFF000000u);
    EXPECT_EQ(table.rows[14].slots[0], table.rows[14].slots[1]);
    EXPECT_EQ(table.rows[14].slots[7], table.rows[14].slots[8]);
}

}  // namespace
}  // namespace corvanta
