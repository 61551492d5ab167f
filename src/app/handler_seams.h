// Handlers that the event routing already calls but whose work arrives with
// later parts of the program: the batch (drop intake, folder chooser, stop),
// the user preset store, the clipboard exchange and the help and credits
// windows. Each has a placeholder body in handler_seams.cpp that does
// nothing; a part that brings the real handler deletes its placeholder and
// defines the function in its own room with the same signature.
#pragma once

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/batch_window.h"  // HandleFileDrop, ChooseOutputFolder, RequestStop, WorkerAlive

namespace corvanta {

// Ctrl+1 .. Ctrl+8: number is 1 .. 8.
void StoreUserPreset(AppState& state, int number);
void LoadPresetStore(AppState& state);
void SavePresetStore(AppState& state);

void CopySchemeToClipboard(AppState& state);
void PasteSchemeFromClipboard(AppState& state);

void ShowHelpWindow(AppState& state);
void ShowCreditsWindow(AppState& state);

}  // namespace corvanta
