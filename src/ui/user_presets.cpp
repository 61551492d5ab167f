#include "ui/user_presets.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

#include "common/parse_integer.h"
#include "scheme/folder_key_file.h"
#include "ui/confirm_dialog.h"
#include "ui/helper_thread.h"
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

StoredSettings SettingsOf(const OutputFields& fields) {
    StoredSettings settings;
    settings.maxWidth = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(fields.maxWidth)));
    settings.maxHeight = StoredSizeOf(gtk_entry_get_text(GTK_ENTRY(fields.maxHeight)));
    settings.qualityIndex = gtk_combo_box_get_active(GTK_COMBO_BOX(fields.quality));
    return settings;
}

// ---- the run's one message about the store ------------------------------------

// Shown from the main loop, like the other message boxes: a problem found
// during start-up waits for the window, and one found by a write does not
// hold up the hand-over that reported it.
void ReportStoreProblem(PresetStoreSession& store, const std::string& reason) {
    if (store.told || store.closing) {
        return;
    }
    store.told = true;
    WhenIdle(store.lifetime.Watch(),
             [text = _(kStoreProblemText) + reason](PresetStoreSession& owner) {
                 if (!owner.closing) {  // shut-down never waits for an answer
                     ShowNotice(_(kUserPresetsTitle), text.c_str());
                 }
             });
}

// ---- writes on the helper thread ----------------------------------------------

// A write that did not happen goes with the next one, behind whatever was
// confirmed meanwhile.
void KeepForNextWrite(PresetStoreChange& pending, const PresetStoreChange& failed) {
    for (std::size_t i = 0; i < pending.userPresets.size(); ++i) {
        if (!pending.userPresets[i]) {
            pending.userPresets[i] = failed.userPresets[i];
        }
    }
    if (!pending.settings) {
        pending.settings = failed.settings;
    }
    if (!pending.outputFolder) {
        pending.outputFolder = failed.outputFolder;
    }
}

// The output folder, when this window changed it: an empty field or the
// folder read at start-up leaves another window's choice in the file.
void TakeOutputFolder(PresetStoreSession& store, const OutputFields& fields,
                      PresetStoreChange& change) {
    if (fields.outputFolder == nullptr) {
        return;
    }
    const std::string folder = gtk_entry_get_text(GTK_ENTRY(fields.outputFolder));
    if (!folder.empty() && folder != store.loadedFolder) {
        change.outputFolder = folder;
    }
}

void LoadOutputFolder(PresetStoreSession& store, OutputFields& fields) {
    if (fields.outputFolder == nullptr) {
        return;
    }
    if (std::optional<std::string> folder = ReadRememberedFolder(FolderKeyFilePath(store.path))) {
        store.loadedFolder = *folder;
        gtk_entry_set_text(GTK_ENTRY(fields.outputFolder), folder->c_str());
    }
}

void StartNextWrite(PresetStoreSession& store) {
    if (store.writing || IsEmpty(store.pending)) {
        return;
    }
    if (store.path.empty() || !store.writable) {
        store.pending = {};  // nothing is kept in this run
        return;
    }
    PresetStoreChange change = std::exchange(store.pending, {});
    auto write = [path = store.path, change] { return UpdatePresetStoreFile(path, change); };
    auto done = [change](PresetStoreSession& owner, StoreResult result) {
        owner.writing = false;
        if (result.status != StoreStatus::kDone) {
            // Tried again with the next store or the close, not at once: what
            // just failed would most likely fail again.
            KeepForNextWrite(owner.pending, change);
            ReportStoreProblem(owner, result.reason);
            return;
        }
        StartNextWrite(owner);
    };
    store.writing = RunOnHelperThread(store.lifetime.Watch(), "preset-store", std::move(write),
                                      std::move(done));
    if (!store.writing) {
        KeepForNextWrite(store.pending, change);
    }
}

// ---- the last write, when the main loop cannot run any more ---------------------

struct FinalWrite {
    std::string path;
    PresetStoreChange change;
    struct Outcome {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool written = false;
    };
    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();
};

gpointer RunFinalWrite(gpointer data) {
    const std::unique_ptr<FinalWrite> write(static_cast<FinalWrite*>(data));
    const bool written =
        UpdatePresetStoreFile(write->path, write->change).status == StoreStatus::kDone;
    const std::lock_guard<std::mutex> lock(write->outcome->mutex);
    write->outcome->done = true;
    write->outcome->written = written;
    write->outcome->ended.notify_all();
    return nullptr;
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

void LoadPresetStore(PresetStoreSession& store, OutputFields& fields, PresetTable& presets) {
    if (!HasSettingWidgets(fields) || store.path.empty()) {
        return;
    }
    LoadOutputFolder(store, fields);
    StoredSettings settings;
    const StoreResult read = LoadPresetStoreFile(store.path, settings, presets);
    if (read.status == StoreStatus::kFailed) {
        // The file may hold good presets this run could not see: writing
        // the defaults over them would lose them.
        store.writable = false;
        ReportStoreProblem(store, read.reason);
    }
    if (read.status != StoreStatus::kDone) {
        return;  // the start-up values stay
    }
    SetSizeFieldSilently(fields, fields.maxWidth, settings.maxWidth);
    SetSizeFieldSilently(fields, fields.maxHeight, settings.maxHeight);
    const ScopedSignalBlock changed(fields.quality, "changed", &fields);
    gtk_combo_box_set_active(GTK_COMBO_BOX(fields.quality), QualityItemFor(settings.qualityIndex));
    // The preset list was filled before the load and keeps the built-in
    // names; the file keeps its own.
}

void StoreUserPreset(SchemeModel& model, PresetStoreSession& store, int number) {
    if (number < 1 || number > kUserPresetCount || store.closing) {
        return;
    }
    // TRANSLATORS: %d is the user preset's number, 1 to 8.
    gchar* asked = g_strdup_printf(_("Overwrite user preset %d ?"), number);
    const std::string question = asked;
    g_free(asked);
    if (!AskYesNo(_(kUserPresetsTitle), question.c_str())) {
        return;
    }
    model.StoreUserPreset(number);
    store.pending.userPresets[static_cast<std::size_t>(number - 1)] =
        model.Presets().rows[static_cast<std::size_t>(kFirstUserPresetRow - 1 + number)].slots;
    StartNextWrite(store);
}

void SavePresetStore(PresetStoreSession& store, const OutputFields& fields) {
    if (!HasSettingWidgets(fields)) {
        return;
    }
    store.pending.settings = SettingsOf(fields);
    TakeOutputFolder(store, fields, store.pending);
    StartNextWrite(store);
}

bool WaitForPresetStore(PresetStoreSession& store, std::chrono::milliseconds limit) {
    constexpr guint kWakeMs = 20;  // a wait for the main loop never outlasts the limit by more
    const gint64 end = g_get_monotonic_time() +
                       std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
    const guint wake = g_timeout_add(
        kWakeMs, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (store.writing && g_get_monotonic_time() < end) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(wake);
    return !store.writing;
}

bool SavePresetStoreBeforeExit(PresetStoreSession& store, const OutputFields& fields,
                               std::chrono::milliseconds limit) {
    store.closing = true;
    if (store.path.empty() || !store.writable || !HasSettingWidgets(fields)) {
        return false;
    }
    auto write = std::make_unique<FinalWrite>();
    write->path = store.path;
    write->change = std::exchange(store.pending, {});
    write->change.settings = SettingsOf(fields);
    TakeOutputFolder(store, fields, write->change);
    const std::shared_ptr<FinalWrite::Outcome> outcome = write->outcome;
    GThread* thread = g_thread_try_new("preset-store-last", RunFinalWrite, write.get(), nullptr);
    if (thread == nullptr) {
        return false;
    }
    write.release();  // RunFinalWrite takes it back
    g_thread_unref(thread);
    std::unique_lock<std::mutex> lock(outcome->mutex);
    return outcome->ended.wait_for(lock, limit, [&] { return outcome->done; }) && outcome->written;
}

}  // namespace corvanta
