// Helpers for the batch tests: a window with folders of its own, reading the
// progress log, recording what the window showed over time and holding the
// worker at a chosen event.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/app_state.h"
#include "app/routing.h"
#include "batch/batch_engine.h"
#include "gui_harness.h"
#include "scheme/color_scheme.h"
#include "support/test_images.h"

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

// Holds the worker inside Post at the first event that matches, until
// Release. The sink's beforePost hook calls Arrive for every event.
class WorkerGate {
  public:
    using Match = std::function<bool(const ProgressEvent&)>;
    explicit WorkerGate(Match match) : match_(std::move(match)) {}
    ~WorkerGate() { Release(); }

    // Worker threads.
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
    std::atomic<bool> used_{false};
};

// Matches kind for file (or count) number object.
WorkerGate::Match At(ProgressKind kind, std::int64_t object);

// Pumps until the batch's final event has been handled.
bool WaitForBatchEnd(AppState& state, int timeoutMs = 60000);

// "Total time : " and a time shaped like 00h 01m 05s.
bool IsTotalTimeLine(const std::string& line);

// Every pixel of the image file is the colour.
bool AllPixelsAre(const std::string& path, Rgb color);

// The main window with an input and an output folder of its own, the output
// field set, and the worker passing each event through the gates a test
// sets up.
class BatchTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(temp_.Valid());
        in_ = temp_.File("in");
        out_ = temp_.File("out");
        ASSERT_EQ(mkdir(in_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(out_.c_str(), 0755), 0);
        SetFolderField(out_ + "/");
        State().batch.sink.beforePost = [this](const ProgressEvent& event) {
            for (const auto& gate : gates_) {
                gate->Arrive(event);
            }
        };
    }

    void TearDown() override {
        for (const auto& gate : gates_) {
            gate->Release();
        }
        MainWindowTest::TearDown();
    }

    // Only while no worker runs: the worker walks the gates.
    WorkerGate& Gate(WorkerGate::Match match) {
        gates_.push_back(std::make_unique<WorkerGate>(std::move(match)));
        return *gates_.back();
    }

    void SetFolderField(const std::string& text) {
        gtk_entry_set_text(GTK_ENTRY(Widgets().outputFolderField), text.c_str());
    }

    std::string Jpeg(const std::string& name, int width, int height) {
        const std::string path = in_ + "/" + name;
        EXPECT_TRUE(test_support::WriteFile(path, test_support::MakeJpeg(width, height)));
        return path;
    }

    std::string Png(const std::string& name, int width, int height, bool alpha) {
        const std::string path = in_ + "/" + name;
        EXPECT_TRUE(test_support::WriteFile(path, test_support::MakePng(width, height, alpha)));
        return path;
    }

    std::string Folder(const std::string& name) {
        const std::string path = in_ + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
        return path;
    }

    void Drop(const std::vector<std::string>& dropped) {
        RouteFileDrop(State(), DropTarget::kBatch, dropped);
    }

    std::vector<std::string> Lines() { return LogLines(Widgets().progressLog); }
    std::string Line(std::size_t index) {
        const std::vector<std::string> lines = Lines();
        return index < lines.size() ? lines[index] : std::string("<no line>");
    }

    bool InBatchLayout() {
        const MainWidgets& w = Widgets();
        return gtk_widget_get_visible(w.stopButton) &&
               gtk_widget_get_visible(w.thumbnailCanvas.area) &&
               !gtk_widget_get_visible(w.presetListScroll) &&
               !gtk_widget_get_visible(w.paletteFrame) && !gtk_widget_get_visible(w.swatchRow.area);
    }

    std::string StopLabel() { return gtk_button_get_label(GTK_BUTTON(Widgets().stopButton)); }

    test_support::TempDir temp_;
    std::string in_;
    std::string out_;
    std::vector<std::unique_ptr<WorkerGate>> gates_;
};

}  // namespace corvanta::testing
