// Every handler the event routing and the start-up and shut-down sequence
// call, gathered from the rooms that implement them: the batch (drop intake,
// folder chooser, stop), the user preset store, the clipboard exchange and
// the help and credits windows.
#pragma once

#include "app/batch_window.h"      // HandleFileDrop, ChooseOutputFolder, RequestStop, WorkerAlive
#include "ui/clipboard_exchange.h"  // CopySchemeToClipboard, PasteSchemeFromClipboard
#include "ui/help_windows.h"        // ShowHelpWindow, ShowCreditsWindow
#include "ui/user_presets.h"        // LoadPresetStore, SavePresetStore, StoreUserPreset
