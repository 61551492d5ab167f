// The scheme editor: pixel-exact drawing and the behaviour of every handler.
#include <cstring>
#include <string>
#include <vector>

#include "gui_harness.h"
#include "tone/luma_weights.h"
#include "tone/tone_map.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"

namespace corvanta::testing {
namespace {

constexpr Rgb kBg{232, 232, 232};
constexpr Rgb kGrey{176, 176, 176};
constexpr Rgb kRed{240, 144, 144};

using EditorTest = MainWindowTest;

std::string EntryText(GtkWidget* entry) {
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

void SelectPresetRow(AppState& state, int row) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(state.widgets.presetList)), path);
    gtk_tree_path_free(path);
}

void Click(AppState& state, PointerEventKind kind, double x, double y = 10) {
    OnSwatchRowEvent(state.editor, {kind, x, y});
}

// What the swatch of slot i must look like, pixel by pixel, in its own
// 19-column cell (the last cell has no gap).
Rgb ExpectedSwatchPixel(int i, bool selected, std::uint32_t color, int cx, int y) {
    const bool inRail = y == 9 || y == 10;
    if (cx >= 16) {
        return inRail ? kGrey : kBg;  // the gap between swatches
    }
    if (y == 0 || y == 19) {
        return kBg;  // left to the hover marker
    }
    const bool inInner = cx >= 1 && cx <= 14 && y >= 3 && y <= 16;
    if (!inInner) {
        if (selected) {
            return kRed;
        }
        if (y >= 2 && y <= 17) {
            return kGrey;
        }
        return inRail ? kGrey : kBg;
    }
    if (SlotAlpha(color) != 0) {
        if (cx >= 2 && cx <= 13 && y >= 4 && y <= 15) {
            return {SlotRed(color), SlotGreen(color), SlotBlue(color)};
        }
        return kBg;
    }
    const int dx = cx - 2;
    const bool onCross = dx >= 0 && dx < 12 && (y == 4 + dx || y == 15 - dx);
    (void)i;
    return onCross ? kGrey : kBg;
}

void ExpectSwatchRow(AppState& state) {
    for (int x = 0; x < 168; ++x) {
        const int slot = x / 19;
        for (int y = 0; y < 20; ++y) {
            const Rgb want = ExpectedSwatchPixel(
                slot, slot == state.scheme.SelectedSlot(),
                state.scheme.Scheme()[static_cast<std::size_t>(slot)], x % 19, y);
            ASSERT_EQ(PixelAt(state.widgets.swatchRow, x, y), want) << "pixel " << x << "," << y;
        }
    }
}

// The canvas must equal previewSource mapped through the scheme's table.
void ExpectPreviewMapped(AppState& state, const ColorScheme& scheme) {
    GradientTable table{};
    BuildGradientTable(&scheme, table);
    GdkPixbuf* expected = gdk_pixbuf_copy(state.preview.source.get());
    ToneMapImage(expected, table);
    const GdkPixbuf* canvas = state.widgets.previewCanvas.image.get();
    ASSERT_EQ(gdk_pixbuf_get_rowstride(expected), gdk_pixbuf_get_rowstride(canvas));
    EXPECT_EQ(std::memcmp(gdk_pixbuf_read_pixels(expected), gdk_pixbuf_read_pixels(canvas),
                          static_cast<std::size_t>(gdk_pixbuf_get_rowstride(canvas)) * 192),
              0);
    g_object_unref(expected);
    // The ramp rows show the gradient itself: grey x sits at its own code.
    for (int x = 0; x < 256; x += 17) {
        const std::uint32_t entry =
            table[LuminanceCode(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x),
                                static_cast<std::uint8_t>(x))];
        for (int y = 168; y <= 190; y += 11) {
            EXPECT_EQ(PixelAt(state.widgets.previewCanvas, x, y),
                      (Rgb{SlotRed(entry), SlotGreen(entry), SlotBlue(entry)}))
                << x << "," << y;
        }
    }
}

TEST_F(EditorTest, SwatchRowShowsColoursCrossesAndTheSelectedFrame) {
    ExpectSwatchRow(State());                          // "Gray": black and white with seven crosses
    Model().Replace(MakePresetTable().rows[9].slots);  // "Heat camera": only slot 6 empty
    Model().SelectSlot(8);
    ExpectSwatchRow(State());
    // A colour with a small alpha is drawn opaque; only alpha 0 is empty.
    Model().SelectSlot(2);
    Model().SetSelectedColor(0x01336699);
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 38 + 5, 8), (Rgb{0x99, 0x66, 0x33}));
    ExpectSwatchRow(State());
}

TEST_F(EditorTest, HoverMarkerFollowsThePointerAndVanishesOnLeave) {
    auto marker = [&](int row) {
        std::string bits;
        for (int x = 0; x < 168; ++x) {
            const Rgb p = PixelAt(Widgets().swatchRow, x, row);
            EXPECT_TRUE(p == kGrey || p == kBg);
            bits += p == kGrey ? '#' : '.';
        }
        return bits;
    };
    auto expectedFor = [](int slot) {
        std::string bits(168, '.');
        bits.replace(static_cast<std::size_t>(19 * slot), 16, 16, '#');
        return bits;
    };
    Click(State(), PointerEventKind::kMotion, 40);
    EXPECT_EQ(marker(0), expectedFor(2));
    EXPECT_EQ(marker(19), expectedFor(2));
    // Of the three columns between swatches two count left, one right.
    Click(State(), PointerEventKind::kMotion, 17);
    EXPECT_EQ(marker(0), expectedFor(0));
    Click(State(), PointerEventKind::kMotion, 18);
    EXPECT_EQ(marker(0), expectedFor(1));
    Click(State(), PointerEventKind::kMotion, 167);
    EXPECT_EQ(marker(19), expectedFor(8));
    Click(State(), PointerEventKind::kLeave, 200);
    EXPECT_EQ(marker(0), std::string(168, '.'));
    EXPECT_EQ(marker(19), std::string(168, '.'));
    // A click redraws the row, which takes the marker away too.
    Click(State(), PointerEventKind::kMotion, 60);
    Click(State(), PointerEventKind::kLeftClick, 60);
    EXPECT_EQ(marker(0), std::string(168, '.'));
}

TEST_F(EditorTest, PaletteHoldsAllColoursAndTheGreyColumn) {
    const int red[] = {0, 51, 102, 153, 204, 255};
    const int green[] = {0, 28, 56, 85, 113, 141, 170, 198, 226, 255};
    const int blue[] = {0, 85, 170, 255};
    std::vector<bool> seen(1u << 24, false);
    int distinct = 0;
    for (int b = 0; b < 10; ++b) {
        for (int j = 0; j < 6; ++j) {
            for (int k = 0; k < 4; ++k) {
                const Rgb want{static_cast<std::uint8_t>(red[j]),
                               static_cast<std::uint8_t>(green[b]),
                               static_cast<std::uint8_t>(blue[k])};
                const int x0 = 32 * (b % 5) + 8 * k;
                const int y0 = 48 * (b / 5) + 8 * j;
                for (int y = y0; y < y0 + 8; ++y) {
                    for (int x = x0; x < x0 + 8; ++x) {
                        ASSERT_EQ(PixelAt(Widgets().paletteCanvas, x, y), want) << x << "," << y;
                    }
                }
                const std::size_t key =
                    (static_cast<std::size_t>(want.red) << 16) | (want.green << 8) | want.blue;
                distinct += seen[key] ? 0 : 1;
                seen[key] = true;
            }
        }
    }
    EXPECT_EQ(distinct, 240);
    const int greys[] = {0, 23, 46, 69, 92, 115, 139, 162, 185, 208, 231, 255};
    for (int n = 0; n < 12; ++n) {
        const auto v = static_cast<std::uint8_t>(greys[n]);
        for (int y = 8 * n; y < 8 * n + 8; ++y) {
            for (int x = 160; x < 168; ++x) {
                ASSERT_EQ(PixelAt(Widgets().paletteCanvas, x, y), (Rgb{v, v, v})) << x << "," << y;
            }
        }
    }
}

TEST_F(EditorTest, PreviewIsTheSourceMappedThroughEachPreset) {
    const PresetTable presets = MakePresetTable();
    ExpectPreviewMapped(State(), presets.rows[0].slots);
    for (int row : {2, 6, 9, 11, 14, 17}) {
        SelectPresetRow(State(), row);
        EXPECT_EQ(Scheme(), presets.rows[static_cast<std::size_t>(row)].slots) << "row " << row;
        ExpectPreviewMapped(State(), presets.rows[static_cast<std::size_t>(row)].slots);
    }
    // "Gray" keeps every grey of the ramp; "Deep green" puts grey 128 on its
    // table entry 0x00018D01; "Inverted gray" turns the ramp round.
    SelectPresetRow(State(), 0);
    EXPECT_EQ(PixelAt(Widgets().previewCanvas, 77, 170), (Rgb{77, 77, 77}));
    SelectPresetRow(State(), 6);
    EXPECT_EQ(PixelAt(Widgets().previewCanvas, 128, 180), (Rgb{1, 0x8D, 1}));
    SelectPresetRow(State(), 11);
    EXPECT_EQ(PixelAt(Widgets().previewCanvas, 0, 175), (Rgb{255, 255, 255}));
    EXPECT_EQ(PixelAt(Widgets().previewCanvas, 255, 175), (Rgb{0, 0, 0}));

    // Refreshing twice with one table leaves the canvas as it was.
    const std::vector<guint8> before(
        gdk_pixbuf_read_pixels(Widgets().previewCanvas.image.get()),
        gdk_pixbuf_read_pixels(Widgets().previewCanvas.image.get()) + 768 * 192);
    RefreshPreview(State().preview);
    EXPECT_EQ(
        std::memcmp(before.data(), gdk_pixbuf_read_pixels(Widgets().previewCanvas.image.get()),
                    before.size()),
        0);
}

TEST_F(EditorTest, PresetChoiceCopiesAllNineSlotsAndSeparatorsEmptyTheScheme) {
    const PresetTable presets = MakePresetTable();
    Model().Replace([] {
        ColorScheme all{};
        all.fill(0xFF123456);
        return all;
    }());
    SelectPresetRow(State(), 6);  // "Deep green": only slots 0, 4 and 8
    EXPECT_EQ(Scheme(), presets.rows[6].slots);
    SelectPresetRow(State(), 1);  // "-"
    EXPECT_EQ(Scheme(), ColorScheme{});
    ExpectSwatchRow(State());
    // The table is the plain ramp then, as for "Gray".
    GradientTable gray{};
    BuildGradientTable(&presets.rows[0].slots, gray);
    EXPECT_EQ(Model().Table(), gray);
    SelectPresetRow(State(), 25);  // a user preset never stored
    EXPECT_EQ(Scheme(), ColorScheme{});
    SelectPresetRow(State(), 0);
    EXPECT_EQ(Scheme()[0], 0xFF000000u);
    EXPECT_EQ(Scheme()[8], 0xFFFFFFFFu);
    // The selected slot stays where it was.
    Model().SelectSlot(4);
    SelectPresetRow(State(), 4);  // "Blue": slot 4 is 0xFFFF9060
    EXPECT_EQ(Model().SelectedSlot(), 4);
    EXPECT_EQ(EntryText(Widgets().redField), "96");
    EXPECT_EQ(EntryText(Widgets().greenField), "144");
    EXPECT_EQ(EntryText(Widgets().blueField), "255");
}

TEST_F(EditorTest, ListEventWithoutASelectedRowChangesNothing) {
    Model().SelectSlot(3);
    Model().SetSelectedColor(0xFF010203);
    gtk_tree_selection_unselect_all(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(Widgets().presetList)));
    ApplySelectedPreset(Editor());
    EXPECT_EQ(Scheme()[3], 0xFF010203u);
}

TEST_F(EditorTest, LeftClickSelectsRightClickSelectsAndClears) {
    // A left click on an empty slot selects it and keeps its cross.
    Click(State(), PointerEventKind::kLeftClick, 19 * 3 + 5);
    EXPECT_EQ(Model().SelectedSlot(), 3);
    EXPECT_EQ(Scheme()[3], 0u);
    EXPECT_EQ(EntryText(Widgets().redField), "0");
    ExpectSwatchRow(State());
    // A right click on white slot 8 selects and clears it; the gradient
    // falls back to its white default, which the preview shows.
    SelectPresetRow(State(), 6);
    Click(State(), PointerEventKind::kRightClick, 19 * 4 + 1);
    EXPECT_EQ(Model().SelectedSlot(), 4);
    EXPECT_EQ(Scheme()[4], 0u);
    EXPECT_EQ(EntryText(Widgets().greenField), "0");
    ExpectSwatchRow(State());
    ColorScheme cleared = MakePresetTable().rows[6].slots;
    cleared[4] = 0;
    ExpectPreviewMapped(State(), cleared);
}

TEST_F(EditorTest, ClicksReleasedOutsideTheRowOrPaletteChangeNothing) {
    const ColorScheme before = Scheme();
    for (double x : {-30.0, -1.5, 168.0, 400.0}) {
        Click(State(), PointerEventKind::kRightClick, x);
        Click(State(), PointerEventKind::kLeftClick, x);
    }
    Click(State(), PointerEventKind::kRightClick, 50, -3);
    Click(State(), PointerEventKind::kRightClick, 50, 20);
    EXPECT_EQ(Model().SelectedSlot(), 0);
    EXPECT_EQ(Scheme(), before);
    OnPaletteClick(Editor(), -1, 10);
    OnPaletteClick(Editor(), 10, 96);
    OnPaletteClick(Editor(), 168, 10);
    EXPECT_EQ(Scheme(), before);
}

TEST_F(EditorTest, PaletteClickSetsTheSelectedSlotToTheCell) {
    Click(State(), PointerEventKind::kLeftClick, 19 * 2);
    OnPaletteClick(Editor(), 32 * 3 + 8 * 2 + 3,
                   48 + 8 * 4 + 7);  // block 8, red row 4, blue column 2
    EXPECT_EQ(Scheme()[2], MakeOpaqueColor(204, 226, 170));
    EXPECT_EQ(EntryText(Widgets().redField), "204");
    EXPECT_EQ(EntryText(Widgets().greenField), "226");
    EXPECT_EQ(EntryText(Widgets().blueField), "170");
    ExpectSwatchRow(State());
    ExpectPreviewMapped(State(), Scheme());
    OnPaletteClick(Editor(), 163, 95);  // the last grey
    EXPECT_EQ(Scheme()[2], 0xFFFFFFFFu);
}

TEST_F(EditorTest, FieldsClampReadAndKeepWhatWasTyped) {
    GtkEntry* red = GTK_ENTRY(Widgets().redField);
    GtkEntry* green = GTK_ENTRY(Widgets().greenField);
    Click(State(), PointerEventKind::kLeftClick, 19 * 5);  // empty slot 5
    gtk_entry_set_text(red, "300");
    EXPECT_EQ(EntryText(Widgets().redField), "255");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(255, 0, 0));  // an edit fills an empty slot
    gtk_entry_set_text(red, "-4");
    EXPECT_EQ(EntryText(Widgets().redField), "0");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(0, 0, 0));
    gtk_entry_set_text(green, "007");
    EXPECT_EQ(EntryText(Widgets().greenField), "007");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(0, 7, 0));
    gtk_entry_set_text(red, "31");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(31, 7, 0));
    gint end = 2;
    gtk_editable_insert_text(GTK_EDITABLE(red), "x", 1, &end);  // reading stops at the letter
    EXPECT_EQ(EntryText(Widgets().redField), "31x");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(31, 7, 0));
    // Hexadecimal and binary numbers are typed with their prefixes.
    gtk_entry_set_text(red, "$1f");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(31, 7, 0));
    gtk_entry_set_text(red, "%101");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(5, 7, 0));
    gtk_entry_set_text(red, "31");
    gtk_entry_set_text(green, "");
    EXPECT_EQ(EntryText(Widgets().greenField), "");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(31, 0, 0));
    ExpectSwatchRow(State());
    ExpectPreviewMapped(State(), Scheme());

    // The texts stay as typed when the field loses its value update, and
    // an arrow step writes the next number and counts as an edit.
    gtk_entry_set_text(green, "007");
    gtk_spin_button_update(GTK_SPIN_BUTTON(green));
    EXPECT_EQ(EntryText(Widgets().greenField), "007");
    gtk_spin_button_spin(GTK_SPIN_BUTTON(green), GTK_SPIN_STEP_FORWARD, 1);
    EXPECT_EQ(EntryText(Widgets().greenField), "8");
    EXPECT_EQ(Scheme()[5], MakeOpaqueColor(31, 8, 0));
    gtk_entry_set_text(red, "255");
    gtk_spin_button_spin(GTK_SPIN_BUTTON(red), GTK_SPIN_STEP_FORWARD, 1);
    EXPECT_EQ(EntryText(Widgets().redField), "255");
}

TEST_F(EditorTest, RandomColourPicksTheDarkestForSlotZeroAndTheBrightestForSlotEight) {
    // 32 candidates; the darkest is the 20th, the brightest the 7th.
    std::vector<std::uint32_t> candidates;
    for (int i = 0; i < 32; ++i) {
        candidates.push_back(0x404040u + static_cast<std::uint32_t>(i) * 0x010101u);
    }
    candidates[19] = 0x000102;  // darkest
    candidates[6] = 0xFEFFFF;   // brightest
    candidates[25] = 0x000102;  // a tie later on loses
    Editor().random = Replay(candidates);
    Model().SelectSlot(0);
    PickRandomColor(Editor());
    EXPECT_EQ(Scheme()[0], 0xFF000102u);
    EXPECT_EQ(EntryText(Widgets().blueField), "0");
    EXPECT_EQ(EntryText(Widgets().greenField), "1");
    EXPECT_EQ(EntryText(Widgets().redField), "2");
    Editor().random = Replay(candidates);
    Click(State(), PointerEventKind::kLeftClick, 19 * 8);
    PickRandomColor(Editor());
    EXPECT_EQ(Scheme()[8], 0xFFFEFFFFu);
    ExpectSwatchRow(State());
    ExpectPreviewMapped(State(), Scheme());
}

}  // namespace
}  // namespace corvanta::testing
