// The scheme model's one change path and the editor's rules, without a display.
#include <gtest/gtest.h>

#include <vector>

#include "ui/scheme_model.h"

namespace corvanta {
namespace {

struct Told {
    SchemeChange change;
    ColorScheme scheme;
    std::uint32_t tableTop;  // the window's table as the view saw it
};

class SchemeModelTest : public ::testing::Test {
  protected:
    SchemeModelTest() {
        model_.AddView([this](const SchemeModel& model, const SchemeChange& change) {
            told_.push_back({change, model.Scheme(), model.Table()[kGradientEntries - 1]});
        });
    }
    SchemeModel model_;
    std::vector<Told> told_;
};

TEST_F(SchemeModelTest, EveryChangeStoresRebuildsAndTellsTheViewsOnce) {
    const PresetTable presets = MakePresetTable();
    model_.ApplyPreset(9);  // "Heat camera": its brightest slot is already in the table
    ASSERT_EQ(told_.size(), 1u);
    EXPECT_TRUE(told_[0].change.scheme);
    EXPECT_EQ(told_[0].scheme, presets.rows[9].slots);
    EXPECT_EQ(told_[0].tableTop, model_.Table()[kGradientEntries - 1]);
    // The batch's table is the same one.
    GradientTable batch{};
    model_.Shared().Snapshot(batch);
    EXPECT_EQ(batch, model_.Table());

    model_.SelectSlot(8);  // no colour changes
    ASSERT_EQ(told_.size(), 2u);
    EXPECT_FALSE(told_[1].change.scheme);
    EXPECT_TRUE(told_[1].change.selection);

    model_.SetSelectedComponents(1, 2, 3);
    ASSERT_EQ(told_.size(), 3u);
    EXPECT_TRUE(told_[2].change.fromColorFields);
    EXPECT_EQ(model_.SelectedColor(), MakeOpaqueColor(1, 2, 3));
    EXPECT_EQ(told_[2].tableTop, MakeOpaqueColor(1, 2, 3));

    model_.ClearSlot(0);
    EXPECT_EQ(model_.SelectedSlot(), 0);
    EXPECT_EQ(model_.Scheme()[0], 0u);
    EXPECT_TRUE(told_.back().change.scheme && told_.back().change.selection);

    // What is out of range or changes no colour of the scheme tells nobody.
    const std::size_t before = told_.size();
    model_.ApplyPreset(-1);
    model_.ApplyPreset(kPresetRows);
    model_.SelectSlot(9);
    model_.ClearSlot(-1);
    model_.StoreUserPreset(0);
    model_.StoreUserPreset(9);
    model_.StoreUserPreset(2);
    EXPECT_EQ(told_.size(), before);
    EXPECT_EQ(model_.Presets().rows[kFirstUserPresetRow + 1].slots, model_.Scheme());
    EXPECT_EQ(model_.Presets().rows[kFirstUserPresetRow + 1].name,
              presets.rows[kFirstUserPresetRow + 1].name);
}

TEST(EditorRules, SwatchClicksBelongToTheSlotTheyLandOn) {
    EXPECT_EQ(SwatchHitSlot(0), 0);
    EXPECT_EQ(SwatchHitSlot(15), 0);
    // Of the three columns between two swatches, two count left, one right.
    EXPECT_EQ(SwatchHitSlot(16), 0);
    EXPECT_EQ(SwatchHitSlot(17), 0);
    EXPECT_EQ(SwatchHitSlot(18), 1);
    EXPECT_EQ(SwatchClickSlot(167.9, 19.9), 8);
    EXPECT_EQ(SwatchClickSlot(0, 0), 0);
    for (const auto& [x, y] : {std::pair{-0.5, 5.0}, {168.0, 5.0}, {50.0, -0.1}, {50.0, 20.0}}) {
        EXPECT_EQ(SwatchClickSlot(x, y), std::nullopt) << x << "," << y;
    }
}

TEST(EditorRules, PaletteCellsAndTheGreyColumn) {
    EXPECT_EQ(PaletteColorAt(0, 0), MakeOpaqueColor(0, 0, 0));
    // Block 8 (second row, fourth block), red row 4, blue column 2.
    EXPECT_EQ(PaletteColorAt(32 * 3 + 8 * 2 + 3, 48 + 8 * 4 + 7), MakeOpaqueColor(204, 226, 170));
    EXPECT_EQ(PaletteColorAt(159.9, 95.9), MakeOpaqueColor(255, 255, 255));
    EXPECT_EQ(PaletteColorAt(160, 8 * 6), MakeOpaqueColor(139, 139, 139));
    EXPECT_EQ(PaletteColorAt(-0.1, 10), std::nullopt);
    EXPECT_EQ(PaletteColorAt(10, 96), std::nullopt);
    EXPECT_EQ(PaletteColorAt(168, 10), std::nullopt);
}

TEST(EditorRules, AColourFieldReadsItsNumberAndRewritesOnlyWhatLiesOutside) {
    struct Case {
        const char* text;
        int value;
        std::optional<int> rewrite;
    };
    for (const Case& c : {Case{"300", 255, 255}, Case{"-4", 0, 0}, Case{"007", 7, std::nullopt},
                          Case{"", 0, std::nullopt}, Case{"31x", 31, std::nullopt},
                          Case{"$1f", 31, std::nullopt}, Case{"%101", 5, std::nullopt},
                          Case{"$FFFF", 255, 255}, Case{"  12", 12, std::nullopt}}) {
        const ColorFieldReading reading = ReadColorField(c.text);
        EXPECT_EQ(reading.value, c.value) << c.text;
        EXPECT_EQ(reading.rewrite, c.rewrite) << c.text;
    }
}

RandomSource Replay(std::vector<std::uint32_t> values) {
    auto next = std::make_shared<std::size_t>(0);
    return [values = std::move(values), next] {
        const std::uint32_t v = values[std::min(*next, values.size() - 1)];
        ++*next;
        return v;
    };
}

TEST(EditorRules, TheRandomColourAimsAtItsSlotsBrightness) {
    // Slot 4 aims at luma 128^2: grey 128 has Y = 16384 exactly.
    std::vector<std::uint32_t> mid(32, 0x000000);
    mid[31] = 0x808080;
    EXPECT_EQ(ChooseRandomColor(4, Replay(mid)), 0x808080u);
    // Only the low 24 bits of a candidate count.
    EXPECT_EQ(ChooseRandomColor(0, Replay({0xFF000000})), 0u);
    // Slot 8 with only black candidates never comes closer than 65536.
    EXPECT_EQ(ChooseRandomColor(8, Replay({0})), 0u);
    const RandomSource clock = ClockSeededRandom();
    for (int i = 0; i < 1000; ++i) {
        EXPECT_LE(clock(), 0xFFFFFFu);
    }
}

}  // namespace
}  // namespace corvanta
