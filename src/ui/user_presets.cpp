#include "ui/user_presets.h"

#include <algorithm>
#include <limits>

#include "batch/drop_intake.h"  // the quality items
#include "common/parse_integer.h"
#include "scheme/preset_store.h"
#include "ui/confirm_dialog.h"
#include "ui/signal_block.h"

namespace corvanta {
namespace {

// Program-set text: neither the digits-only filter nor any change handler
// of ours sees it.
void SetSizeFieldSilently(OutputFields& fields, GtkWidget* field, std::int32_t stored) {
    const ScopedSignalBlock filter(field, "insert-text", &fields);
    const ScopedSignalBlock changed(field, "changed", &fields);
    gtk_entry_set_text(GTK_ENTRY(field), SizeFieldTextFor(stored).c_str());
}

bool HasSettingWidgets(const OutputFields& fields) {
    return fields.maxWidth != nullptr && fields.maxHeight != nullptr && fields.quality != nullptr;
}

}  // namespace

// The file holds any 32-bit number, but the field takes five characters.
// Letting the entry cut the text would silently turn 123456 into 12345, a
// limit ten times smaller. Instead a number is clamped to the nearest one
// the field can show: anything above 99999 shows 99999, wider than any JPEG
// can be and beyond any practical picture, and anything below -9999 shows
// -9999, which keeps its meaning exactly: every number below 1 means "no
// limit".
std::string SizeFieldTextFor(std::int32_t stored) {
    return std::to_string(std::clamp(stored, kSizeFieldSmallest, kSizeFieldLargest));
}

// Only a hand-edited file holds an index other than 0 or 1. The conversion
// takes every item but the first as the high quality, so the combo shows
// what a batch would then use: "Medium" for 0, "High" for everything else.
int QualityItemFor(std::int32_t stored) {
    return stored == kMediumQualityIndex ? kMediumQualityIndex : kHighQualityIndex;
}

std::int32_t StoredSizeOf(const char* text) {
    return ParseInteger32(text != nullptr ? text : "");
}

void LoadPresetStore(const std::string& path, OutputFields& fields, PresetTable& presets) {
    if (!HasSettingWidgets(fields)) {
        return;
    }
    StoredSettings settings;
    if (!LoadPresetStoreFile(path, settings, presets)) {
        return;  // missing, unreadable or foreign: the start-up values stay
    }
    SetSizeFieldSilently(fields, fields.maxWidth, settings.maxWidth);
    SetSizeFieldSilently(fields, fields.maxHeight, settings.maxHeight);
    const ScopedSignalBlock changed(fields.quality, "changed", &fields);
    gtk_combo_box_set_active(GTK_COMBO_BOX(fields.quality), QualityItemFor(settings.qualityIndex));
    // The preset list was filled before the load and keeps the built-in
    // names; the records carry the file's names back to the file unchanged.
}

void SavePresetStore(const std::string& path, const OutputFields& fields,
                     const PresetTable& presets) {
    if (!HasSettingWidgets(fields)) {
        return;
    }
    StoredSettings settings;
    settings.maxWidth = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(fields.maxWidth)));
    settings.maxHeight = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(fields.maxHeight)));
    settings.qualityIndex = gtk_combo_box_get_active(GTK_COMBO_BOX(fields.quality));
    SavePresetStoreFile(path, settings, presets);  // failures are silent
}

void StoreUserPreset(SchemeModel& model, int number) {
    if (number < 1 || number > kUserPresetCount) {
        return;
    }
    const std::string question = "Overwrite user preset " + std::to_string(number) + " ?";
    if (!AskYesNo(kUserPresetsTitle, question.c_str())) {
        return;
    }
    model.StoreUserPreset(number);
}

}  // namespace corvanta
