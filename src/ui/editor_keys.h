// The scheme editor from the keyboard: the palette's cursor cell (arrows
// move it, Enter or Space picks its colour), the swatch row (Left and Right
// select a slot, Delete clears it, Enter or Space opens the toolkit's colour
// chooser for it). Every change goes through the scheme model.
#pragma once

#include <gtk/gtk.h>

#include "ui/scheme_editor.h"

namespace corvanta {

constexpr int kPaletteColumns = kPaletteWidth / kPaletteCell;
constexpr int kPaletteRows = kPaletteHeight / kPaletteCell;

// The palette's cursor cell and the key handling; binds to the editor's
// palette and swatch row, which must exist.
void BindEditorKeys(SchemeEditor& editor);

// The cursor cell after key moves it (unchanged for other keys), kept
// inside the palette.
int MovePaletteCursor(int cell, guint key);

// Opens the colour chooser for the selected slot and, on OK, sets the
// slot's colour. Modal; a program closing answers it as cancelled.
void ChooseSlotColor(SchemeEditor& editor, GtkWindow* parent);

}  // namespace corvanta
