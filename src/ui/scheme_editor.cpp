#include "ui/scheme_editor.h"

#include <cmath>
#include <string>

#include "ui/signal_block.h"

namespace corvanta {
namespace {

// Inside the swatch row: rows 0 and 19 are left to the hover marker; each
// swatch is a frame, a background ring and the colour (or a cross) inside.
constexpr int kHoverBottomRow = kSwatchRowHeight - 1;
constexpr int kFrameTop = 1;
constexpr int kFrameHeight =
    kSwatchSize + 2;  // the selected frame reaches both marker rows' neighbours
constexpr int kRingInset = 1;
constexpr int kRingTop = 3;
constexpr int kColorInset = 2;
constexpr int kColorTop = 4;
constexpr int kRailTop = 9;
constexpr int kRailHeight = 2;
constexpr int kCrossLength = 12;

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

int FieldValue(const SchemeEditor& editor, ColorField field) {
    return ReadColorField(gtk_entry_get_text(GTK_ENTRY(ColorFieldWidget(editor, field)))).value;
}

// Keeps the spin value in step with the typed text without rewriting the
// text, so the arrows stop at the right bounds and "007" stays as typed.
void SyncSpinValue(SchemeEditor& editor, ColorField field, int value) {
    GtkWidget* widget = ColorFieldWidget(editor, field);
    const ScopedSignalBlock block(widget, "changed", &editor);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value);
}

void DrawHoverMarker(DrawingCanvas& row, int slot) {
    FillRect(row, 0, 0, kSwatchRowWidth, 1, kPanelBackground);
    FillRect(row, 0, kHoverBottomRow, kSwatchRowWidth, 1, kPanelBackground);
    if (slot >= 0 && slot < kSchemeSlots) {
        FillRect(row, kSwatchPitch * slot, 0, kSwatchSize, 1, kSwatchGrey);
        FillRect(row, kSwatchPitch * slot, kHoverBottomRow, kSwatchSize, 1, kSwatchGrey);
    }
}

}  // namespace

GtkWidget* ColorFieldWidget(const SchemeEditor& editor, ColorField field) {
    switch (field) {
        case ColorField::kRed:
            return editor.widgets.redField;
        case ColorField::kGreen:
            return editor.widgets.greenField;
        case ColorField::kBlue:
            return editor.widgets.blueField;
    }
    return nullptr;
}

void SetColorFieldSilently(SchemeEditor& editor, ColorField field, int value) {
    GtkWidget* widget = ColorFieldWidget(editor, field);
    const ScopedSignalBlock block(widget, "changed", &editor);
    gtk_entry_set_text(GTK_ENTRY(widget), std::to_string(value).c_str());
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value);
}

void ConnectEditorViews(SchemeEditor& editor) {
    editor.model->AddView([&editor](const SchemeModel& model, const SchemeChange& change) {
        // Typed values stay as typed; everything else shows the slot anew.
        if (!change.fromColorFields) {
            ShowSlotComponents(editor);
        }
        if (editor.widgets.swatchRow != nullptr) {
            DrawSwatchRow(*editor.widgets.swatchRow, model);
        }
    });
}

void DrawSwatchRow(DrawingCanvas& row, const SchemeModel& model) {
    FillRect(row, 0, 0, kSwatchRowWidth, kSwatchRowHeight, kPanelBackground);
    FillRect(row, 0, kRailTop, kSwatchRowWidth, kRailHeight, kSwatchGrey);
    for (int i = 0; i < kSchemeSlots; ++i) {
        const int x0 = kSwatchPitch * i;
        if (i == model.SelectedSlot()) {
            FillRect(row, x0, kFrameTop, kSwatchSize, kFrameHeight, kSelectedFrame);
        } else {
            FillRect(row, x0, kFrameTop + 1, kSwatchSize, kSwatchSize, kSwatchGrey);
        }
        FillRect(row, x0 + kRingInset, kRingTop, kSwatchSize - 2 * kRingInset,
                 kSwatchSize - 2 * kRingInset, kPanelBackground);
        const std::uint32_t color = model.Scheme()[static_cast<std::size_t>(i)];
        if (SlotAlpha(color) != 0) {
            FillRect(row, x0 + kColorInset, kColorTop, kSwatchSize - 2 * kColorInset,
                     kSwatchSize - 2 * kColorInset,
                     {SlotRed(color), SlotGreen(color), SlotBlue(color)});
        } else {
            const int crossBottom = kColorTop + kCrossLength - 1;
            for (int k = 0; k < kCrossLength; ++k) {
                SetPixel(row, x0 + kColorInset + k, kColorTop + k, kSwatchGrey);
                SetPixel(row, x0 + kColorInset + k, crossBottom - k, kSwatchGrey);
            }
        }
    }
}

void OnSwatchRowEvent(SchemeEditor& editor, const PointerEvent& event) {
    DrawingCanvas& row = *editor.widgets.swatchRow;
    switch (event.kind) {
        case PointerEventKind::kMotion: {
            // While a button is held the row keeps reporting motion outside
            // itself; nothing is under the pointer then.
            const std::optional<int> slot = SwatchClickSlot(event.x, event.y);
            DrawHoverMarker(row, slot.value_or(-1));
            break;
        }
        case PointerEventKind::kLeave:
            DrawHoverMarker(row, -1);
            break;
        case PointerEventKind::kLeftClick:
        case PointerEventKind::kRightClick:
            if (const std::optional<int> slot = SwatchClickSlot(event.x, event.y)) {
                if (event.kind == PointerEventKind::kLeftClick) {
                    editor.model->SelectSlot(*slot);
                } else {
                    editor.model->ClearSlot(*slot);
                }
            }
            break;
        case PointerEventKind::kOther:
            break;
    }
}

void DrawPalette(DrawingCanvas& palette) {
    for (int y = 0; y < kPaletteHeight; y += kPaletteCell) {
        for (int x = 0; x < kPaletteWidth; x += kPaletteCell) {
            const std::uint32_t c = PaletteColorAt(x, y).value_or(0);
            FillRect(palette, x, y, kPaletteCell, kPaletteCell,
                     {SlotRed(c), SlotGreen(c), SlotBlue(c)});
        }
    }
}

void OnPaletteClick(SchemeEditor& editor, double x, double y) {
    if (const std::optional<std::uint32_t> color = PaletteColorAt(x, y)) {
        editor.model->SetSelectedColor(*color);
    }
}

void ShowSlotComponents(SchemeEditor& editor) {
    const std::uint32_t color = editor.model->SelectedColor();
    for (ColorField f : {ColorField::kRed, ColorField::kGreen, ColorField::kBlue}) {
        if (ColorFieldWidget(editor, f) != nullptr) {
            SetColorFieldSilently(editor, f, ComponentOf(color, f));
        }
    }
}

void OnComponentEdited(SchemeEditor& editor, ColorField field) {
    const ColorFieldReading reading =
        ReadColorField(gtk_entry_get_text(GTK_ENTRY(ColorFieldWidget(editor, field))));
    if (reading.rewrite) {
        SetColorFieldSilently(editor, field, *reading.rewrite);
    } else {
        SyncSpinValue(editor, field, reading.value);
    }
    editor.model->SetSelectedComponents(FieldValue(editor, ColorField::kRed),
                                        FieldValue(editor, ColorField::kGreen),
                                        FieldValue(editor, ColorField::kBlue));
}

void PickRandomColor(SchemeEditor& editor) {
    if (!editor.random) {
        editor.random = ClockSeededRandom();
    }
    editor.model->SetSelectedColor(kOpaqueAlpha |
                                   ChooseRandomColor(editor.model->SelectedSlot(), editor.random));
}

void FillPresetList(GtkWidget* presetList, const PresetTable& presets) {
    GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(presetList)));
    for (const Preset& preset : presets.rows) {
        if (preset.name[0] == '\0') {
            break;  // the walk ends at the first record without a name
        }
        const std::string name(preset.name.data(), preset.name.size());
        GtkTreeIter iter;
        gtk_list_store_append(store, &iter);
        gtk_list_store_set(store, &iter, 0, name.c_str(), -1);
    }
}

void ApplySelectedPreset(SchemeEditor& editor) {
    GtkTreeSelection* selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(editor.widgets.presetList));
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) {
        return;  // no row selected: nothing to copy, the scheme stays
    }
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    const int row = path != nullptr ? gtk_tree_path_get_indices(path)[0] : -1;
    gtk_tree_path_free(path);
    editor.model->ApplyPreset(row);
}

}  // namespace corvanta
