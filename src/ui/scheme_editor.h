// The scheme editor in the right-hand column: the swatch row, the palette,
// the three colour fields, the random colour and the preset list. It reads
// the widgets' input into changes of the scheme model and shows the model
// in the swatch row and the colour fields.
#pragma once

#include <gtk/gtk.h>

#include "ui/drawing_canvas.h"
#include "ui/scheme_model.h"

namespace corvanta {

constexpr Rgb kPanelBackground{232, 232, 232};
constexpr Rgb kSwatchGrey{176, 176, 176};
constexpr Rgb kSelectedFrame{240, 144, 144};

// The editor's widgets; the main window owns them.
struct EditorWidgets {
    DrawingCanvas* swatchRow = nullptr;
    DrawingCanvas* palette = nullptr;
    GtkWidget* redField = nullptr;  // GtkSpinButton
    GtkWidget* greenField = nullptr;
    GtkWidget* blueField = nullptr;
    GtkWidget* presetList = nullptr;  // GtkTreeView over a one-column GtkListStore
};

// What the editor works on. Every signal handler on its widgets is
// connected with this object as its user data, which is how the editor
// blocks its own handlers while it writes into a widget.
struct SchemeEditor {
    EditorWidgets widgets;
    SchemeModel* model = nullptr;
    RandomSource random;
    int paletteCursor = 0;  // the palette cell the keyboard points at, row by row
};

enum class PointerEventKind { kMotion, kLeave, kLeftClick, kRightClick, kOther };

struct PointerEvent {
    PointerEventKind kind = PointerEventKind::kOther;
    double x = 0;  // in the drawing area's own coordinates
    double y = 0;
};

enum class ColorField { kRed, kGreen, kBlue };

// Tells the model's changes to the swatch row and the colour fields.
void ConnectEditorViews(SchemeEditor& editor);

void DrawSwatchRow(DrawingCanvas& row, const SchemeModel& model);
void OnSwatchRowEvent(SchemeEditor& editor, const PointerEvent& event);
void DrawPalette(DrawingCanvas& palette);
// A click released at (x, y) on the palette; outside it nothing happens.
void OnPaletteClick(SchemeEditor& editor, double x, double y);
void ShowSlotComponents(SchemeEditor& editor);
void OnComponentEdited(SchemeEditor& editor, ColorField field);
void PickRandomColor(SchemeEditor& editor);
void FillPresetList(GtkWidget* presetList, const PresetTable& presets);
void ApplySelectedPreset(SchemeEditor& editor);

// The spin field widget of a colour component.
GtkWidget* ColorFieldWidget(const SchemeEditor& editor, ColorField field);

// Writes value into a colour field from the program: the text and the
// spin value change, no change event is raised.
void SetColorFieldSilently(SchemeEditor& editor, ColorField field, int value);

}  // namespace corvanta
