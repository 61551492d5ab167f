// Helpers for the batch tests: reading the progress log, recording what the
// window showed over time, answering message boxes and holding the worker
// at a chosen event.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/app_state.h"
#include "batch/conversion_worker.h"

namespace corvanta::testing {

// The log's lines as they stand.
std::vector<std::string> LogLines(GtkWidget* progressLog);

// Records every text the log held and every label the stop button got.
class BatchRecorder {
  public:
    BatchRecorder(GtkWidget* progressLog, GtkWidget* stopButton);
    ~BatchRecorder();
    BatchRecorder(const BatchRecorder&) = delete;
    BatchRecorder& operator=(const BatchRecorder&) = delete;

    // The distinct non-empty texts line index held, in order of appearance.
    std::vector<std::string> LineHistory(int index) const;
    const std::vector<std::string>& Labels() const { return labels_; }

  private:
    static void OnChanged(GtkTextBuffer* buffer, gpointer self);
    static void OnLabel(GObject* button, GParamSpec*, gpointer self);

    GtkTextBuffer* buffer_;
    GtkWidget* button_;
    std::vector<std::vector<std::string>> snapshots_;
    std::vector<std::string> labels_;
};

// What a message box showed before it was answered.
struct SeenDialog {
    std::string title;
    std::string text;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    bool modal = false;
    bool hasParent = true;
};

// Answers every message box that appears with OK, keeping what it showed.
class DialogAnswerer {
  public:
    DialogAnswerer();
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;
    const std::vector<SeenDialog>& Seen() const { return seen_; }

  private:
    static gboolean Poll(gpointer self);
    guint source_ = 0;
    std::vector<SeenDialog> seen_;
};

// Holds the worker inside Post at the first event that matches, until
// Release. The sink's beforePost hook calls Arrive for every event.
class WorkerGate {
  public:
    using Match = std::function<bool(const ProgressEvent&)>;
    explicit WorkerGate(Match match) : match_(std::move(match)) {}
    ~WorkerGate() { Release(); }

    // Worker thread.
    void Arrive(const ProgressEvent& event);
    // Window thread: true once the worker waits at the gate.
    bool Reached() const { return reached_.load(); }
    void Release();

  private:
    Match match_;
    std::atomic<bool> reached_{false};
    std::mutex mutex_;
    std::condition_variable open_;
    bool released_ = false;
    bool used_ = false;  // worker thread only
};

// Matches kind for file (or count) number object.
WorkerGate::Match At(ProgressKind kind, std::int64_t object);

// Pumps until the batch's final event has been handled.
bool WaitForBatchEnd(AppState& state, int timeoutMs = 60000);

}  // namespace corvanta::testing
