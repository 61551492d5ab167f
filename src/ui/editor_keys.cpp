#include "ui/editor_keys.h"

#include <algorithm>
#include <cmath>

#include "common/i18n.h"

#include "ui/keyboard_focus.h"

namespace corvanta {
namespace {

// The cursor's mark: a dark ring inside a light one, seen on every colour.
constexpr double kMarkWidth = 1.0;

void OnPaletteCellChosen(SchemeEditor& editor) {
    const int column = editor.paletteCursor % kPaletteColumns;
    const int row = editor.paletteCursor / kPaletteColumns;
    OnPaletteClick(editor, column * kPaletteCell + kPaletteCell / 2,
                   row * kPaletteCell + kPaletteCell / 2);
}

gboolean OnPaletteKey(GtkWidget* area, GdkEventKey* event, gpointer data) {
    SchemeEditor& editor = *static_cast<SchemeEditor*>(data);
    if (IsActivateKey(event)) {
        OnPaletteCellChosen(editor);
        return TRUE;
    }
    const int moved = MovePaletteCursor(editor.paletteCursor, event->keyval);
    if (moved == editor.paletteCursor) {
        return FALSE;  // Tab and the rest go on to the window
    }
    editor.paletteCursor = moved;
    gtk_widget_queue_draw(area);
    return TRUE;
}

gboolean DrawPaletteCursor(GtkWidget* area, cairo_t* cr, gpointer data) {
    if (!gtk_widget_has_visible_focus(area)) {
        return FALSE;
    }
    const int cell = static_cast<SchemeEditor*>(data)->paletteCursor;
    const double x = (cell % kPaletteColumns) * kPaletteCell;
    const double y = (cell / kPaletteColumns) * kPaletteCell;
    cairo_set_line_width(cr, kMarkWidth);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, x + 0.5, y + 0.5, kPaletteCell - 1, kPaletteCell - 1);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, x + 1.5, y + 1.5, kPaletteCell - 3, kPaletteCell - 3);
    cairo_stroke(cr);
    return FALSE;
}

gboolean OnSwatchKey(GtkWidget* row, GdkEventKey* event, gpointer data) {
    SchemeEditor& editor = *static_cast<SchemeEditor*>(data);
    const int slot = editor.model->SelectedSlot();
    switch (event->keyval) {
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left:
            editor.model->SelectSlot(std::max(slot - 1, 0));
            return TRUE;
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right:
            editor.model->SelectSlot(std::min(slot + 1, kSchemeSlots - 1));
            return TRUE;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete:
        case GDK_KEY_BackSpace:
            editor.model->ClearSlot(slot);
            return TRUE;
        default:
            break;
    }
    if (IsActivateKey(event)) {
        ChooseSlotColor(editor, GTK_WINDOW(gtk_widget_get_toplevel(row)));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int MovePaletteCursor(int cell, guint key) {
    int column = cell % kPaletteColumns;
    int row = cell / kPaletteColumns;
    switch (key) {
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left:
            column = std::max(column - 1, 0);
            break;
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right:
            column = std::min(column + 1, kPaletteColumns - 1);
            break;
        case GDK_KEY_Up:
        case GDK_KEY_KP_Up:
            row = std::max(row - 1, 0);
            break;
        case GDK_KEY_Down:
        case GDK_KEY_KP_Down:
            row = std::min(row + 1, kPaletteRows - 1);
            break;
        default:
            break;
    }
    return row * kPaletteColumns + column;
}

void BindEditorKeys(SchemeEditor& editor) {
    GtkWidget* palette = editor.widgets.palette->area;
    GtkWidget* swatches = editor.widgets.swatchRow->area;
    MakeFocusableWithMark(palette);
    MakeFocusableWithMark(swatches);
    g_signal_connect(palette, "key-press-event", G_CALLBACK(OnPaletteKey), &editor);
    g_signal_connect_after(palette, "draw", G_CALLBACK(DrawPaletteCursor), &editor);
    g_signal_connect(swatches, "key-press-event", G_CALLBACK(OnSwatchKey), &editor);
}

void ChooseSlotColor(SchemeEditor& editor, GtkWindow* parent) {
    const int slot = editor.model->SelectedSlot() + 1;
    gchar* title = g_strdup_printf(_("Colour of slot %d"), slot);
    GtkWidget* dialog = gtk_color_chooser_dialog_new(title, parent);
    g_free(title);
    gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(dialog), FALSE);
    const std::uint32_t color = editor.model->SelectedColor();
    const GdkRGBA start{SlotRed(color) / double{kComponentMax},
                        SlotGreen(color) / double{kComponentMax},
                        SlotBlue(color) / double{kComponentMax}, 1.0};
    gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(dialog), &start);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
        GdkRGBA chosen{};
        gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(dialog), &chosen);
        const auto level = [](double v) {
            return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * kComponentMax));
        };
        editor.model->SetSelectedColor(
            MakeOpaqueColor(level(chosen.red), level(chosen.green), level(chosen.blue)));
    }
    gtk_widget_destroy(dialog);
}

}  // namespace corvanta
