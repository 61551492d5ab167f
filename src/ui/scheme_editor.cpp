#include "ui/scheme_editor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "app/signal_block.h"
#include "common/parse_integer.h"
#include "ui/preview_image.h"

namespace corvanta {
namespace {

constexpr int kFirstSwatchTop = 1;  // rows 0 and 19 are left to the hover marker
constexpr int kHoverBottomRow = kSwatchRowHeight - 1;
constexpr int kRailTop = 9;
constexpr int kRailHeight = 2;
constexpr int kCrossLength = 12;

constexpr int kPaletteBlocks = 10;
constexpr int kPaletteBlocksPerRow = 5;
constexpr int kBlockColumns = 4;  // blue levels
constexpr int kBlockRows = 6;     // red levels
constexpr int kGreyCells = 12;

constexpr int kRandomCandidates = 32;
constexpr std::uint32_t kRandomColorMask = 0xFFFFFF;
constexpr std::int64_t kNoCandidateYet = 65536;
constexpr int kLumaPerSlot = 32;
constexpr int kComponentMax = 255;

int ClampComponent(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, kComponentMax));
}

int ComponentOf(std::uint32_t color, ColorField field) {
    switch (field) {
        case ColorField::kRed:
            return SlotRed(color);
        case ColorField::kGreen:
            return SlotGreen(color);
        case ColorField::kBlue:
            return SlotBlue(color);
    }
    return 0;
}

std::int64_t FieldNumber(const AppState& state, ColorField field) {
    return ParseInteger(gtk_entry_get_text(GTK_ENTRY(ColorFieldWidget(state, field))));
}

// Keeps the spin value in step with the typed text without rewriting the
// text, so the arrows stop at the right bounds and "007" stays as typed.
void SyncSpinValue(AppState& state, ColorField field, int value) {
    GtkWidget* widget = ColorFieldWidget(state, field);
    const ScopedSignalBlock block(widget, "changed", &state);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value);
}

GtkTreeModel* PresetModel(const AppState& state) {
    return gtk_tree_view_get_model(GTK_TREE_VIEW(state.widgets.presetList));
}

void DrawHoverMarker(DrawingCanvas& row, int slot) {
    FillRect(row, 0, 0, kSwatchRowWidth, 1, kPanelBackground);
    FillRect(row, 0, kHoverBottomRow, kSwatchRowWidth, 1, kPanelBackground);
    if (slot >= 0 && slot < kSchemeSlots) {
        FillRect(row, kSwatchPitch * slot, 0, kSwatchSize, 1, kSwatchGrey);
        FillRect(row, kSwatchPitch * slot, kHoverBottomRow, kSwatchSize, 1, kSwatchGrey);
    }
}

bool InsideSwatchRow(const PointerEvent& event) {
    return event.x >= 0 && event.y >= 0 && event.x < kSwatchRowWidth && event.y < kSwatchRowHeight;
}

}  // namespace

GtkWidget* ColorFieldWidget(const AppState& state, ColorField field) {
    switch (field) {
        case ColorField::kRed:
            return state.widgets.redField;
        case ColorField::kGreen:
            return state.widgets.greenField;
        case ColorField::kBlue:
            return state.widgets.blueField;
    }
    return nullptr;
}

void SetColorFieldSilently(AppState& state, ColorField field, int value) {
    GtkWidget* widget = ColorFieldWidget(state, field);
    const ScopedSignalBlock block(widget, "changed", &state);
    gtk_entry_set_text(GTK_ENTRY(widget), std::to_string(value).c_str());
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value);
}

int SwatchHitSlot(int x) {
    return (x + 1) / kSwatchPitch;
}

void SchemeChanged(AppState& state) {
    RebuildGradientTable(state);
    RefreshPreview(state);
}

void DrawSwatchRow(AppState& state) {
    DrawingCanvas& row = state.widgets.swatchRow;
    FillRect(row, 0, 0, kSwatchRowWidth, kSwatchRowHeight, kPanelBackground);
    FillRect(row, 0, kRailTop, kSwatchRowWidth, kRailHeight, kSwatchGrey);
    for (int i = 0; i < kSchemeSlots; ++i) {
        const int x0 = kSwatchPitch * i;
        if (i == state.selectedSlot) {
            FillRect(row, x0, kFirstSwatchTop, kSwatchSize, kSwatchSize + 2, kSelectedFrame);
        } else {
            FillRect(row, x0, kFirstSwatchTop + 1, kSwatchSize, kSwatchSize, kSwatchGrey);
        }
        FillRect(row, x0 + 1, 3, kSwatchSize - 2, kSwatchSize - 2, kPanelBackground);
        const std::uint32_t color = state.scheme[static_cast<std::size_t>(i)];
        if (SlotAlpha(color) != 0) {
            FillRect(row, x0 + 2, 4, kSwatchSize - 4, kSwatchSize - 4,
                     {SlotRed(color), SlotGreen(color), SlotBlue(color)});
        } else {
            for (int k = 0; k < kCrossLength; ++k) {
                SetPixel(row, x0 + 2 + k, 4 + k, kSwatchGrey);
                SetPixel(row, x0 + 2 + k, 15 - k, kSwatchGrey);
            }
        }
    }
}

void OnSwatchRowEvent(AppState& state, const PointerEvent& event) {
    const int x = static_cast<int>(std::floor(event.x));
    const int slot = SwatchHitSlot(x);
    switch (event.kind) {
        case PointerEventKind::kMotion:
            // While a button is held the row keeps reporting motion outside
            // itself; nothing is under the pointer then.
            DrawHoverMarker(state.widgets.swatchRow, InsideSwatchRow(event) ? slot : -1);
            break;
        case PointerEventKind::kLeave:
            DrawHoverMarker(state.widgets.swatchRow, -1);
            break;
        case PointerEventKind::kLeftClick:
        case PointerEventKind::kRightClick:
            // A press on the row released elsewhere hits no slot.
            if (!InsideSwatchRow(event) || slot < 0 || slot >= kSchemeSlots) {
                break;
            }
            state.selectedSlot = slot;
            if (event.kind == PointerEventKind::kLeftClick) {
                ShowSlotComponents(state);
                DrawSwatchRow(state);
            } else {
                state.scheme[static_cast<std::size_t>(slot)] = 0;
                ShowSlotComponents(state);
                DrawSwatchRow(state);
                SchemeChanged(state);
            }
            break;
        case PointerEventKind::kOther:
            break;
    }
}

void DrawPalette(AppState& state) {
    DrawingCanvas& palette = state.widgets.paletteCanvas;
    const int ox = (CanvasWidth(palette) - kPaletteWidth) / 2;
    const int oy = (CanvasHeight(palette) - kPaletteHeight) / 2;
    const int blockWidth = kBlockColumns * kPaletteCell;
    const int blockHeight = kBlockRows * kPaletteCell;
    for (int b = 0; b < kPaletteBlocks; ++b) {
        for (int j = 0; j < kBlockRows; ++j) {
            for (int k = 0; k < kBlockColumns; ++k) {
                const Rgb color{static_cast<std::uint8_t>(255 * j / (kBlockRows - 1)),
                                static_cast<std::uint8_t>(255 * b / (kPaletteBlocks - 1)),
                                static_cast<std::uint8_t>(255 * k / (kBlockColumns - 1))};
                FillRect(palette, ox + blockWidth * (b % kPaletteBlocksPerRow) + kPaletteCell * k,
                         oy + blockHeight * (b / kPaletteBlocksPerRow) + kPaletteCell * j,
                         kPaletteCell, kPaletteCell, color);
            }
        }
    }
    const int greyColumn = blockWidth * kPaletteBlocksPerRow;
    for (int n = 0; n < kGreyCells; ++n) {
        const auto v = static_cast<std::uint8_t>(255 * n / (kGreyCells - 1));
        FillRect(palette, ox + greyColumn, oy + kPaletteCell * n, kPaletteCell, kPaletteCell,
                 {v, v, v});
    }
}

void OnPaletteClick(AppState& state, double x, double y) {
    const DrawingCanvas& palette = state.widgets.paletteCanvas;
    const int px = static_cast<int>(std::floor(x));
    const int py = static_cast<int>(std::floor(y));
    if (px < 0 || py < 0 || px >= CanvasWidth(palette) || py >= CanvasHeight(palette)) {
        return;  // released outside the palette: no cell under the pointer
    }
    const Rgb c = PixelAt(palette, px, py);
    state.scheme[static_cast<std::size_t>(state.selectedSlot)] =
        MakeOpaqueColor(c.red, c.green, c.blue);
    RebuildGradientTable(state);
    ShowSlotComponents(state);
    DrawSwatchRow(state);
    RefreshPreview(state);
}

void ShowSlotComponents(AppState& state) {
    const std::uint32_t color = state.scheme[static_cast<std::size_t>(state.selectedSlot)];
    for (ColorField f : {ColorField::kRed, ColorField::kGreen, ColorField::kBlue}) {
        SetColorFieldSilently(state, f, ComponentOf(color, f));
    }
}

void OnComponentEdited(AppState& state, ColorField field) {
    const std::int64_t typed = FieldNumber(state, field);
    if (typed < 0) {
        SetColorFieldSilently(state, field, 0);
    } else if (typed > kComponentMax) {
        SetColorFieldSilently(state, field, kComponentMax);
    } else {
        SyncSpinValue(state, field, static_cast<int>(typed));
    }
    const int r = ClampComponent(FieldNumber(state, ColorField::kRed));
    const int g = ClampComponent(FieldNumber(state, ColorField::kGreen));
    const int b = ClampComponent(FieldNumber(state, ColorField::kBlue));
    state.scheme[static_cast<std::size_t>(state.selectedSlot)] = MakeOpaqueColor(r, g, b);
    RebuildGradientTable(state);
    DrawSwatchRow(state);
    RefreshPreview(state);
}

std::uint32_t ChooseRandomColor(int slot, const RandomSource& random) {
    const std::int64_t target =
        static_cast<std::int64_t>(kLumaPerSlot * slot) * (kLumaPerSlot * slot);
    std::int64_t best = kNoCandidateYet;
    std::uint32_t choice = 0;
    for (int n = 0; n < kRandomCandidates; ++n) {
        const std::uint32_t v = random() & kRandomColorMask;
        const double r = SlotRed(v);
        const double g = SlotGreen(v);
        const double b = SlotBlue(v);
        const std::int64_t luma = std::llround(0.23 * r * r + 0.7 * g * g + 0.07 * b * b);
        const std::int64_t d = luma > target ? luma - target : target - luma;
        if (d < best) {
            best = d;
            choice = v;
        }
    }
    return choice;
}

RandomSource ClockSeededRandom() {
    return [] {
        thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
            std::chrono::system_clock::now().time_since_epoch().count()));
        std::uniform_int_distribution<std::uint32_t> colors(0, kRandomColorMask);
        return colors(generator);
    };
}

void PickRandomColor(AppState& state) {
    if (!state.random) {
        state.random = ClockSeededRandom();
    }
    state.scheme[static_cast<std::size_t>(state.selectedSlot)] =
        kOpaqueAlpha | ChooseRandomColor(state.selectedSlot, state.random);
    RebuildGradientTable(state);
    ShowSlotComponents(state);
    DrawSwatchRow(state);
    RefreshPreview(state);
}

void FillPresetList(AppState& state) {
    GtkListStore* store = GTK_LIST_STORE(PresetModel(state));
    for (const Preset& preset : state.presets.rows) {
        if (preset.name[0] == '\0') {
            break;  // the walk ends at the first record without a name
        }
        const std::string name(preset.name.data(), preset.name.size());
        GtkTreeIter iter;
        gtk_list_store_append(store, &iter);
        gtk_list_store_set(store, &iter, 0, name.c_str(), -1);
    }
}

void ApplySelectedPreset(AppState& state) {
    GtkTreeSelection* selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(state.widgets.presetList));
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) {
        return;  // no row selected: nothing to copy, the scheme stays
    }
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    const int row = path != nullptr ? gtk_tree_path_get_indices(path)[0] : -1;
    gtk_tree_path_free(path);
    if (row < 0 || row >= kPresetRows) {
        return;
    }
    state.scheme = state.presets.rows[static_cast<std::size_t>(row)].slots;
    RebuildGradientTable(state);
    ShowSlotComponents(state);
    DrawSwatchRow(state);
    RefreshPreview(state);
}

}  // namespace corvanta
