#include "ui/user_presets.h"

#include <algorithm>
#include <limits>

#include "app/main_window.h"
#include "app/signal_block.h"
#include "common/parse_integer.h"
#include "scheme/preset_store.h"
#include "ui/confirm_dialog.h"

namespace corvanta {
namespace {

std::string StorePath(const AppState& state) {
    return state.programDirectory + kPresetStoreFileName;
}

// Program-set text: neither the digits-only filter nor any change handler
// of ours sees it.
void SetSizeFieldSilently(AppState& state, GtkWidget* field, std::int32_t stored) {
    const ScopedSignalBlock filter(field, "insert-text", &state);
    const ScopedSignalBlock changed(field, "changed", &state);
    gtk_entry_set_text(GTK_ENTRY(field), SizeFieldTextFor(stored).c_str());
}

bool HasSettingWidgets(const AppState& state) {
    const MainWidgets& w = state.widgets;
    return w.maxWidthField != nullptr && w.maxHeightField != nullptr &&
           w.jpegQualityCombo != nullptr;
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
    return stored == kQualityMedium ? kQualityMedium : kQualityHigh;
}

std::int32_t StoredSizeOf(const char* text) {
    const std::int64_t value = ParseInteger(text != nullptr ? text : "");
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void LoadPresetStore(AppState& state) {
    if (!HasSettingWidgets(state)) {
        return;
    }
    StoredSettings settings;
    if (!LoadPresetStoreFile(StorePath(state), settings, state.presets)) {
        return;  // missing, unreadable or foreign: the start-up values stay
    }
    MainWidgets& w = state.widgets;
    SetSizeFieldSilently(state, w.maxWidthField, settings.maxWidth);
    SetSizeFieldSilently(state, w.maxHeightField, settings.maxHeight);
    const ScopedSignalBlock changed(w.jpegQualityCombo, "changed", &state);
    gtk_combo_box_set_active(GTK_COMBO_BOX(w.jpegQualityCombo),
                             QualityItemFor(settings.qualityIndex));
    // The preset list was filled before the load and keeps the built-in
    // names; the records carry the file's names back to the file unchanged.
}

void SavePresetStore(AppState& state) {
    if (!HasSettingWidgets(state)) {
        return;
    }
    const MainWidgets& w = state.widgets;
    StoredSettings settings;
    settings.maxWidth = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(w.maxWidthField)));
    settings.maxHeight = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(w.maxHeightField)));
    settings.qualityIndex = gtk_combo_box_get_active(GTK_COMBO_BOX(w.jpegQualityCombo));
    SavePresetStoreFile(StorePath(state), settings, state.presets);  // failures are silent
}

void StoreUserPreset(AppState& state, int number) {
    if (number < 1 || number > kUserPresetCount) {
        return;
    }
    const std::string question = "Overwrite user preset " + std::to_string(number) + " ?";
    if (!AskYesNo(kUserPresetsTitle, question.c_str())) {
        return;
    }
    // The colours only; the name, the list and the current scheme stay.
    state.presets.rows[static_cast<std::size_t>(kFirstUserPresetRow - 1 + number)].slots =
        state.scheme;
}

}  // namespace corvanta
