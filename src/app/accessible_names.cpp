#include "app/accessible_names.h"

#include <string>

#include "common/i18n.h"

namespace corvanta {
namespace {

void Describe(GtkWidget* widget, AtkRole role, const char* name, const char* description) {
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (role != ATK_ROLE_INVALID) {
        atk_object_set_role(accessible, role);
    }
    atk_object_set_name(accessible, name);
    if (description != nullptr) {
        atk_object_set_description(accessible, description);
    }
}

// The selected preset's name, or empty when no row is selected.
std::string SelectedPresetName(GtkWidget* presetList, const PresetTable& presets) {
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(presetList));
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) {
        return {};
    }
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    const int row = path != nullptr ? gtk_tree_path_get_indices(path)[0] : -1;
    gtk_tree_path_free(path);
    if (row < 0 || static_cast<std::size_t>(row) >= presets.rows.size()) {
        return {};
    }
    return std::string(TrimmedPresetName(presets.rows[static_cast<std::size_t>(row)]));
}

void NameOutputPanel(MainWidgets& w) {
    Describe(w.outputPanel, ATK_ROLE_PANEL, _("Output settings"), nullptr);
    Describe(w.outputFolderField, ATK_ROLE_INVALID, _("Output folder"),
             _("The folder the converted pictures are written to"));
    Describe(w.browseButton, ATK_ROLE_INVALID, _("Choose the output folder"), nullptr);
    Describe(w.maxWidthField, ATK_ROLE_INVALID, _("Maximum width"),
             _("Larger pictures are scaled down to fit; empty or 0: no limit"));
    Describe(w.maxHeightField, ATK_ROLE_INVALID, _("Maximum height"),
             _("Larger pictures are scaled down to fit; empty or 0: no limit"));
    Describe(w.jpegQualityCombo, ATK_ROLE_INVALID, _("JPEG quality"), nullptr);
    // The "x" between the size fields says nothing a screen reader needs.
    atk_object_set_role(gtk_widget_get_accessible(w.sizeSeparatorLabel), ATK_ROLE_REDUNDANT_OBJECT);
}

void NameSchemePanel(MainWidgets& w) {
    Describe(w.schemePanel, ATK_ROLE_PANEL, _("Scheme editor"), nullptr);
    Describe(w.previewCanvas.area, ATK_ROLE_IMAGE, _("Preview"),
             _("Shows the built-in picture through the scheme"));
    Describe(w.presetListScroll, ATK_ROLE_INVALID, _("Presets"), nullptr);
    Describe(w.presetList, ATK_ROLE_INVALID, _("Presets"), nullptr);
    Describe(w.paletteCanvas.area, ATK_ROLE_COLOR_CHOOSER, _("Palette"),
             _("Arrow keys move the cursor cell; Enter or Space gives its colour to the "
               "selected slot"));
    Describe(w.redField, ATK_ROLE_INVALID, _("Red"), nullptr);
    Describe(w.greenField, ATK_ROLE_INVALID, _("Green"), nullptr);
    Describe(w.blueField, ATK_ROLE_INVALID, _("Blue"), nullptr);
    Describe(w.swatchRow.area, ATK_ROLE_LIST_BOX, _("Scheme slots"), nullptr);
    Describe(w.stopButton, ATK_ROLE_INVALID, _("Stop the conversion"), nullptr);
    Describe(w.thumbnailCanvas.area, ATK_ROLE_IMAGE, _("Picture being converted"), nullptr);
    Describe(w.helpIcon, ATK_ROLE_PUSH_BUTTON, _("Help"), _("Opens the manual (F1)"));
    Describe(w.infoIcon, ATK_ROLE_PUSH_BUTTON, _("Credits"),
             _("Opens the credits; the Menu key or a right click copies the scheme"));
}

}  // namespace

void NameMainWidgets(MainWidgets& w) {
    const char* dropText = _("Drop pictures or a folder of pictures here to convert them");
    Describe(w.progressLog, ATK_ROLE_INVALID, _("Drop area and log"), dropText);
    Describe(w.progressLogScroll, ATK_ROLE_INVALID, _("Drop area"), dropText);
    Describe(w.dropHint.area, ATK_ROLE_LABEL, _("Drop area"), dropText);
    NameOutputPanel(w);
    NameSchemePanel(w);
}

void NamePresetRows(GtkWidget* presetList, const PresetTable& presets) {
    AtkObject* list = gtk_widget_get_accessible(presetList);
    if (!ATK_IS_TABLE(list)) {
        return;
    }
    // The rows the list was filled with: up to the first without a name.
    gint row = 0;
    for (const Preset& preset : presets.rows) {
        if (preset.name[0] == '\0') {
            break;
        }
        if (AtkObject* cell = atk_table_ref_at(ATK_TABLE(list), row, 0)) {
            atk_object_set_name(cell, std::string(TrimmedPresetName(preset)).c_str());
            g_object_unref(cell);
        }
        ++row;
    }
}

void DescribeScheme(MainWidgets& w, const SchemeModel& model) {
    const int slot = model.SelectedSlot();
    const std::uint32_t color = model.SelectedColor();
    gchar* text =
        SlotAlpha(color) == 0
            ? g_strdup_printf(_("Slot %d of %d selected, empty"), slot + 1, kSchemeSlots)
            : g_strdup_printf(_("Slot %d of %d selected: red %d, green %d, blue %d"), slot + 1,
                              kSchemeSlots, SlotRed(color), SlotGreen(color), SlotBlue(color));
    atk_object_set_description(gtk_widget_get_accessible(w.swatchRow.area), text);
    g_free(text);
    const std::string preset = SelectedPresetName(w.presetList, model.Presets());
    gchar* chosen = preset.empty() ? g_strdup(_("No preset chosen"))
                                   : g_strdup_printf(_("Chosen preset: %s"), preset.c_str());
    atk_object_set_description(gtk_widget_get_accessible(w.presetList), chosen);
    g_free(chosen);
}

}  // namespace corvanta
