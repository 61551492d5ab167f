// The window's side of a batch conversion: taking a drop on the drop area,
// starting the worker, showing its progress (log lines, the stop button's
// counter, the thumbnail, the total time), stopping it, and waiting for it
// when the program closes. Window thread only, unless marked otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <gtk/gtk.h>

#include "app/drop_intake.h"
#include "app/window_progress_sink.h"
#include "batch/batch_engine.h"
#include "common/i18n.h"
#include "ui/drawing_canvas.h"
#include "ui/lifetime.h"

namespace corvanta {

constexpr const char* kProcessingLine = N_("Processing ...");
constexpr const char* kNotStartedLine = N_("The conversion could not be started.");

constexpr const char* kBusyTitle = N_("Processing");
constexpr const char* kBusyText = N_("Sorry but you can't drop files while processing!");
constexpr const char* kNoFolderTitle = N_("Output folder");
constexpr const char* kNoFolderText = N_("Please select an output folder!");

constexpr const char* kStopLabel = N_("STOP CONVERSION");
constexpr const char* kStoppingLabel = N_("PLEASE WAIT");
constexpr const char* kClosingText = N_("PLEASE WAIT WHILE CLOSING DOWN");
constexpr const char* kClosingNoticeName = "ClosingNotice";

// A batch that ran longer than this and ends while the window is not the
// active one sets the window's urgency hint, so the desktop can say so.
constexpr std::int64_t kUrgentBatchMs = 3000;

// "The folder you dropped doesn't contain any files."
std::string EmptyFolderLine();

// The widgets a batch reads its settings from and shows itself in; the
// window owns them.
struct BatchWidgets {
    GtkWidget* window = nullptr;  // the closing notice's parent, frozen at shut-down
    GtkTextView* log = nullptr;
    GtkWidget* dropHint = nullptr;
    GtkWidget* stopButton = nullptr;
    DrawingCanvas* thumbnail = nullptr;
    GtkEntry* outputFolder = nullptr;
    GtkEntry* maxWidth = nullptr;
    GtkEntry* maxHeight = nullptr;
    GtkComboBox* quality = nullptr;
    // Shows the stop button and the thumbnail in place of the editing
    // controls (true), or the other way round.
    std::function<void(bool)> showBatchLayout;
};

class BatchController {
  public:
    BatchController();
    // A worker is always waited for: it maps with the scheme's gradient
    // table and posts into the sink below.
    ~BatchController();
    BatchController(const BatchController&) = delete;
    BatchController& operator=(const BatchController&) = delete;

    void Connect(BatchWidgets widgets, const SharedGradientTable& gradient);

    // A file drop on the progress log or the drop hint. Refuses it (with a
    // message box) while a batch runs or when no output folder is chosen;
    // otherwise queues the files and starts the worker. A single dropped
    // item (perhaps a folder to expand) is looked at on a helper thread, so
    // a slow file system never holds up the window; the batch starts once
    // it is done, and drops are refused meanwhile.
    void HandleDrop(const std::vector<std::string>& dropped);

    // The stop button: the worker finishes the file in hand as cancelled.
    void RequestStop();

    // True while a conversion worker has not made its last report.
    bool WorkerAlive() const { return shared.running.load(); }

    // One progress event from the worker, on the window thread.
    void HandleProgress(ProgressEvent event);

    // Shut-down, after the stop flag is set: while the worker is alive,
    // shows the closing notice over the insensitive main window and services
    // the window until the worker has ended. Progress arriving meanwhile is
    // dropped.
    void WaitForWorkerAtShutDown();

    BatchState shared;  // the stop flag and the worker's "running" mark (any thread)
    std::thread worker;
    WindowProgressSink sink{shared};
    // True from the start of a batch until its final event has been
    // handled: the worker clears shared.running just before posting that
    // event, and a drop in between must still be refused. Also true while a
    // single dropped item is being looked at off the window thread.
    bool active = false;
    bool closing = false;  // shut-down has begun: no more message boxes
    // Files converted at once; 0 is the command line's default (one per
    // processor, bounded by the memory budget).
    int jobs = 0;
    // Tests only: runs on the helper thread that looks at a single dropped
    // item, before it does, so a test can hold the drop at that point. Set
    // it while no drop is being looked at.
    std::function<void()> beforeListing;

  private:
    void StartBatch(const DropSettings& settings, FileQueue queue);
    bool ListQueueOffThread(const DropSettings& settings, const std::vector<std::string>& dropped);
    void EnterBatchLayout();
    void FinishBatch(std::int64_t elapsedMs);
    void SetFileLine(std::int64_t number, std::string_view text);
    void ShowMessageAfterDrop(const char* title, const char* text);
    DropSettings ReadDropSettings() const;

    BatchWidgets widgets_;
    const SharedGradientTable* gradient_ = nullptr;
    // The log line of each file, recorded when its first event arrives.
    std::unordered_map<std::int64_t, int> fileLines_;
    Lifetime<BatchController> lifetime_{this};
};

}  // namespace corvanta
