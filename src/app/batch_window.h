// The window's side of a batch conversion: taking a drop on the drop area,
// starting the worker, showing its progress (log lines, the stop button's
// counter, the thumbnail, the total time), stopping it, choosing the output
// folder, and waiting for it when the program closes. Window thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "batch/batch_engine.h"

namespace corvanta {

constexpr std::string_view kProcessingLine = "Processing ...";
constexpr std::string_view kNotStartedLine = "The conversion could not be started.";

constexpr const char* kBusyTitle = "Processing";
constexpr const char* kBusyText = "Sorry but you can't drop files while processing!";
constexpr const char* kNoFolderTitle = "Output folder";
constexpr const char* kNoFolderText = "Please select an output folder!";

constexpr const char* kStopLabel = "STOP CONVERSION";
constexpr const char* kStoppingLabel = "PLEASE WAIT";
constexpr const char* kClosingText = "PLEASE WAIT WHILE CLOSING DOWN";
constexpr const char* kClosingNoticeName = "ClosingNotice";

// A file drop on the progress log or the drop hint. Refuses it (with a
// message box) while a batch runs or when no output folder is chosen;
// otherwise queues the files and starts the worker. A single dropped item
// (perhaps a folder to expand) is looked at on a helper thread, so a slow
// file system never holds up the window; the batch starts once it is done,
// and drops are refused meanwhile.
void HandleFileDrop(AppState& state, const std::vector<std::string>& dropped);

// The "..." button: a folder chooser; the chosen folder, ending in "/",
// replaces the output folder field's text.
void ChooseOutputFolder(AppState& state);

// The stop button: the worker finishes the file in hand as cancelled.
void RequestStop(AppState& state);

// True while a conversion worker has not made its last report.
bool WorkerAlive(const AppState& state);

// One progress event from the worker, on the window thread.
void HandleProgressEvent(AppState& state, ProgressEvent event);

// "The folder you dropped doesn't contain any files."
std::string EmptyFolderLine();

// Shut-down, after the stop flag is set: while the worker is alive, shows the
// closing notice over the insensitive main window and services the window
// until the worker has ended. Progress arriving meanwhile is dropped.
void WaitForWorkerAtShutDown(AppState& state);

}  // namespace corvanta
