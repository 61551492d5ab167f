// What outlives a run: the eight user presets and the output settings typed
// or chosen in the window, kept in Corvanta.dat beside the executable. The
// file is read once at start-up and written once at exit; Ctrl+1 .. Ctrl+8
// store the current scheme into a user preset in memory in between.
#pragma once

#include <cstdint>
#include <string>

#include <gtk/gtk.h>

#include "scheme/color_scheme.h"
#include "ui/scheme_model.h"

namespace corvanta {

constexpr const char* kUserPresetsTitle = "User presets";

// The largest and smallest numbers a five-character size field can show.
constexpr std::int32_t kSizeFieldLargest = 99999;
constexpr std::int32_t kSizeFieldSmallest = -9999;

// The text a size field shows for a number from the file (see the .cpp for
// numbers wider than the field).
std::string SizeFieldTextFor(std::int32_t stored);

// The quality item shown for an index from the file: 0 is "Medium",
// every other value "High".
int QualityItemFor(std::int32_t stored);

// The number written for a size field's text: ParseInteger, clamped into
// the signed 32-bit range of the file.
std::int32_t StoredSizeOf(const char* text);

// The output settings' widgets the store reads and fills. Every signal
// handler on them is connected with this object as its user data.
struct OutputFields {
    GtkWidget* maxWidth = nullptr;  // GtkEntry, digits only
    GtkWidget* maxHeight = nullptr;
    GtkWidget* quality = nullptr;   // GtkComboBoxText
};

// Reads the store at path into the size fields, the quality choice and the
// user presets; a missing or foreign file changes nothing. The fields are
// set from the program, so no change events are raised.
void LoadPresetStore(const std::string& path, OutputFields& fields, PresetTable& presets);

// Writes the size fields, the quality choice and the user presets to the
// store at path. A non-empty file of another kind is never overwritten;
// failures are silent.
void SavePresetStore(const std::string& path, const OutputFields& fields,
                     const PresetTable& presets);

// Ctrl+N: asks "Overwrite user preset N ?" and on Yes copies the current
// scheme's nine slots into user preset N (1 .. 8). Nothing else changes.
void StoreUserPreset(SchemeModel& model, int number);

}  // namespace corvanta
