// What outlives a run: the eight user presets and the output settings typed
// or chosen in the window, kept in Corvanta.dat. The file is read once at
// start-up. Ctrl+1 .. Ctrl+8 store the current scheme into a user preset,
// and the file gets that preset at once; the close adds the output
// settings. Every write runs on a helper thread and changes in the file only
// what this window changed, so windows side by side keep each other's
// presets.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "common/i18n.h"
#include "scheme/color_scheme.h"
#include "scheme/preset_store.h"
#include "ui/lifetime.h"
#include "ui/scheme_model.h"

namespace corvanta {

// The items of the quality combo box: "Medium" (80) and "High" (95).
constexpr int kMediumQualityIndex = 0;
constexpr int kHighQualityIndex = 1;

constexpr const char* kUserPresetsTitle = N_("User presets");
// Followed by the reason, in the run's one message about the store.
constexpr const char* kStoreProblemText = N_("Presets will not be saved: ");

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
    GtkWidget* quality = nullptr;       // GtkComboBoxText
    GtkWidget* outputFolder = nullptr;  // GtkEntry; remembered in the key file beside the store
};

// The window's side of the store: where the file is, whether this run may
// write it, and what it has to write. Writes go to a helper thread one at a
// time; what is confirmed while one runs waits here and goes with the next,
// so the file sees the changes in the order they were made. Window thread
// only.
struct PresetStoreSession {
    PresetStoreSession() = default;
    PresetStoreSession(const PresetStoreSession&) = delete;
    PresetStoreSession& operator=(const PresetStoreSession&) = delete;

    // Ends with the session: a write ending later changes nothing here.
    Lifetime<PresetStoreSession> lifetime{this};
    std::string path;           // Corvanta.dat, chosen once at start-up; empty: nothing is kept
    bool writable = true;       // false when the file could not be read at start-up
    bool told = false;          // the run's one message about the store has been shown
    bool closing = false;       // shut-down has begun: no more questions or message boxes
    bool writing = false;       // a write is on its helper thread
    PresetStoreChange pending;  // confirmed here, not yet handed to a write
    std::string loadedFolder;   // the output folder the key file held at start-up
};

// Reads the store into the size fields, the quality choice and the user
// presets, and the key file beside it into the output folder field; a
// missing or foreign file changes nothing. The fields are set
// from the program, so no change events are raised. A file that cannot be
// opened or read is never written over in this run, and a message box says
// so once the window runs.
void LoadPresetStore(PresetStoreSession& store, OutputFields& fields, PresetTable& presets);

// Ctrl+N: asks "Overwrite user preset N ?" and on Yes copies the current
// scheme's nine slots into user preset N (1 .. 8) and hands them to a write.
// Nothing else changes. A write that fails is said once per run.
void StoreUserPreset(SchemeModel& model, PresetStoreSession& store, int number);

// The close: hands the size fields, the quality choice, an output folder
// other than the one read at start-up (and any stored preset not yet in the
// file) to a write. A non-empty file of another kind
// is never overwritten.
void SavePresetStore(PresetStoreSession& store, const OutputFields& fields);

// Runs the main loop until no write is on its way, or until limit has
// passed; true when none is.
bool WaitForPresetStore(PresetStoreSession& store, std::chrono::milliseconds limit);

// The last chance when the window cannot be served any more (its display is
// gone): writes the output settings and whatever is still to be written,
// and waits up to limit for it. True when the file holds them.
bool SavePresetStoreBeforeExit(PresetStoreSession& store, const OutputFields& fields,
                               std::chrono::milliseconds limit);

}  // namespace corvanta
