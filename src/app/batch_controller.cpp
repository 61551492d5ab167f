#include "app/batch_controller.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/drop_intake.h"
#include "app/main_window.h"
#include "app/progress_log.h"
#include "batch/elapsed_time.h"
#include "tone/pixbuf_format.h"
#include "ui/confirm_dialog.h"
#include "ui/helper_thread.h"

namespace corvanta {
namespace {

constexpr int kClosingNoticeWidth = 300;
constexpr int kClosingNoticeHeight = 50;
constexpr WidgetBox kClosingLabelBox{10, 10, 280, 30};
// Its own background, and the light theme's text colours on it in any theme.
constexpr const char* kClosingNoticeStyle =
    "window { background-color: #FFC0C0; color: #2E3436; } window:backdrop { color: #929595; }";
constexpr std::chrono::milliseconds kShutDownPoll{100};
// Window events handled per round of the shut-down wait: enough for the
// notice to be mapped and painted at once, bounded so that a busy source
// cannot keep the wait from looking at the worker.
constexpr int kShutDownEventsPerRound = 16;

// Centres the thumbnail on the canvas; a smaller one sits on the light grey.
void DrawThumbnail(DrawingCanvas& canvas, const GdkPixbuf* thumbnail) {
    if (!IsRgb8(thumbnail)) {
        return;
    }
    const int canvasWidth = CanvasWidth(canvas);
    const int canvasHeight = CanvasHeight(canvas);
    const int width = std::min(gdk_pixbuf_get_width(thumbnail), canvasWidth);
    const int height = std::min(gdk_pixbuf_get_height(thumbnail), canvasHeight);
    if (width < canvasWidth || height < canvasHeight) {
        FillRect(canvas, 0, 0, canvasWidth, canvasHeight, kThumbnailBackground);
    }
    const int left = (canvasWidth - width) / 2;
    const int top = (canvasHeight - height) / 2;
    const bool alpha = gdk_pixbuf_get_has_alpha(thumbnail);
    const int channels = gdk_pixbuf_get_n_channels(thumbnail);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(thumbnail));
    const guint8* pixels = gdk_pixbuf_read_pixels(thumbnail);
    guint8* target = gdk_pixbuf_get_pixels(canvas.image.get());
    const auto targetStride =
        static_cast<std::size_t>(gdk_pixbuf_get_rowstride(canvas.image.get()));
    for (int y = 0; y < height; ++y) {
        const guint8* p = pixels + static_cast<std::size_t>(y) * stride;
        guint8* q = target + static_cast<std::size_t>(top + y) * targetStride +
                    static_cast<std::size_t>(left) * kRgbChannels;
        for (int x = 0; x < width; ++x, p += channels, q += kRgbChannels) {
            if (alpha) {
                q[0] = BlendChannel(p[0], q[0], p[3]);
                q[1] = BlendChannel(p[1], q[1], p[3]);
                q[2] = BlendChannel(p[2], q[2], p[3]);
            } else {
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            }
        }
    }
    ShowCanvas(canvas);
}

// ---- the closing notice -------------------------------------------------------

GtkWidget* OpenClosingNotice(GtkWidget* mainWindow) {
    GtkWidget* notice = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(notice, kClosingNoticeName);
    GtkWindow* window = GTK_WINDOW(notice);
    gtk_window_set_title(window, "");
    gtk_window_set_decorated(window, FALSE);
    const double scale = TextScaleOf(gtk_widget_get_screen(notice));
    gtk_widget_set_size_request(notice, ScaledLength(kClosingNoticeWidth, scale),
                                ScaledLength(kClosingNoticeHeight, scale));
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_transient_for(window, GTK_WINDOW(mainWindow));
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);

    GObjectPtr<GtkCssProvider> style(gtk_css_provider_new());
    gtk_css_provider_load_from_data(style.get(), kClosingNoticeStyle, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(notice),
                                   GTK_STYLE_PROVIDER(style.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(notice), fixed);
    GtkWidget* label = gtk_label_new(_(kClosingText));
    gtk_label_set_xalign(GTK_LABEL(label), 0.5F);
    gtk_label_set_yalign(GTK_LABEL(label), 0.5F);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    PlaceWidget(fixed, label, ScaledBox(kClosingLabelBox, scale));
    gtk_widget_show_all(notice);
    return notice;
}

// The main window ignores input and keeps its size while the program waits
// for the worker.
void FreezeMainWindow(GtkWidget* mainWindow) {
    GtkWindow* window = GTK_WINDOW(mainWindow);
    gtk_widget_set_sensitive(mainWindow, FALSE);
    GdkGeometry geometry{};
    gtk_window_get_size(window, &geometry.min_width, &geometry.min_height);
    geometry.max_width = geometry.min_width;
    geometry.max_height = geometry.min_height;
    gtk_window_set_geometry_hints(
        window, nullptr, &geometry,
        static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

}  // namespace

std::string EmptyFolderLine() {
    // One sentence to translate; in English it reads as the command's words.
    const char* line = _("The folder you dropped doesn't contain any files.");
    return line;
}

BatchController::BatchController() = default;

BatchController::~BatchController() {
    if (worker.joinable()) {
        worker.join();
    }
}

void BatchController::Connect(BatchWidgets widgets, const SharedGradientTable& gradient) {
    widgets_ = std::move(widgets);
    gradient_ = &gradient;
}

// A refused drop is answered once the drop itself has finished: a modal box
// run inside the drop handler would keep the drag source waiting for its
// answer until the user clicks OK.
void BatchController::ShowMessageAfterDrop(const char* title, const char* text) {
    WhenIdle(lifetime_.Watch(), [title, text](BatchController& owner) {
        if (!owner.closing) {  // shut-down never waits for an answer
            ShowNotice(title, text);
        }
    });
}

void BatchController::EnterBatchLayout() {
    widgets_.showBatchLayout(true);
    gtk_button_set_label(GTK_BUTTON(widgets_.stopButton), _(kStopLabel));
    gtk_widget_set_sensitive(widgets_.stopButton, TRUE);
    DrawingCanvas& thumbnail = *widgets_.thumbnail;
    FillRect(thumbnail, 0, 0, CanvasWidth(thumbnail), CanvasHeight(thumbnail),
             kThumbnailBackground);
}

DropSettings BatchController::ReadDropSettings() const {
    DropSettings settings;
    settings.outputFolder = gtk_entry_get_text(widgets_.outputFolder);
    settings.maxWidthText = gtk_entry_get_text(widgets_.maxWidth);
    settings.maxHeightText = gtk_entry_get_text(widgets_.maxHeight);
    settings.qualityIndex = gtk_combo_box_get_active(widgets_.quality);
    return settings;
}

// Every file gets its own line when its first event arrives, appended below
// the lines already there, and keeps it: later events find it through the
// file number instead of computing its place, so a file that posts no event
// cannot shift the lines of the files behind it.
void BatchController::SetFileLine(std::int64_t number, std::string_view text) {
    const auto known = fileLines_.find(number);
    if (known != fileLines_.end()) {
        ReplaceLogLine(widgets_.log, known->second, text);
        return;
    }
    AddLogLine(widgets_.log, -1, text);
    fileLines_.emplace(number, LogLineCount(widgets_.log) - 1);
    ScrollLogToEnd(widgets_.log);
}

void BatchController::FinishBatch(std::int64_t elapsedMs) {
    widgets_.showBatchLayout(false);
    AddLogLine(widgets_.log, -1, "");
    AddLogLine(widgets_.log, -1, TotalTimeLine(elapsedMs));
    ScrollLogToEnd(widgets_.log);
    fileLines_.clear();
    shared.stop.store(false);
    active = false;
    GtkWindow* window = widgets_.window != nullptr ? GTK_WINDOW(widgets_.window) : nullptr;
    if (window != nullptr && elapsedMs > kUrgentBatchMs && !gtk_window_is_active(window)) {
        gtk_window_set_urgency_hint(window, TRUE);
    }
}

// The rest of a drop once the queue is known: the empty-folder line, or the
// batch layout and the worker.
void BatchController::StartBatch(const DropSettings& settings, FileQueue queue) {
    if (queue.files.empty()) {
        AddLogLine(widgets_.log, -1, EmptyFolderLine());
        return;
    }
    EnterBatchLayout();
    ConversionJob job;
    fileLines_.clear();
    sink.Attach(*this);
    if (!BuildConversionJob(settings, std::move(queue.files), job) ||
        !StartConversionWorker(std::move(job), *gradient_, shared, sink, worker, jobs)) {
        widgets_.showBatchLayout(false);
        AddLogLine(widgets_.log, -1, _(kNotStartedLine));
        return;
    }
    active = true;
}

// A single dropped item is looked at on a helper thread: it may be a folder
// on a slow or unreachable network share, where even a stat can wait for
// seconds. Until the queue has come the drop counts as a running batch, so
// a second drop is refused. False when no thread could be had.
bool BatchController::ListQueueOffThread(const DropSettings& settings,
                                         const std::vector<std::string>& dropped) {
    auto list = [dropped, before = beforeListing] {
        if (before) {
            before();
        }
        return BuildFileQueue(dropped, FolderExpansion::kSingleDroppedFolder);
    };
    auto start = [settings](BatchController& owner, FileQueue queue) {
        owner.active = false;  // the listing is over; StartBatch sets it again
        if (!owner.closing) {
            owner.StartBatch(settings, std::move(queue));
        }
    };
    if (!RunOnHelperThread(lifetime_.Watch(), "drop-listing", std::move(list), std::move(start))) {
        return false;
    }
    active = true;
    return true;
}

void BatchController::HandleDrop(const std::vector<std::string>& dropped) {
    if (dropped.empty()) {
        return;
    }
    if (active || WorkerAlive()) {
        ShowMessageAfterDrop(_(kBusyTitle), _(kBusyText));
        return;
    }
    const DropSettings settings = ReadDropSettings();
    if (settings.outputFolder.empty()) {
        ShowMessageAfterDrop(_(kNoFolderTitle), _(kNoFolderText));
        return;
    }
    gtk_widget_hide(widgets_.dropHint);
    SetLogText(widgets_.log, _(kProcessingLine));
    AddLogLine(widgets_.log, -1, "");
    if (dropped.size() == 1 && ListQueueOffThread(settings, dropped)) {
        return;  // StartBatch follows when the listing is done
    }
    StartBatch(settings, BuildFileQueue(dropped, FolderExpansion::kSingleDroppedFolder));
}

void BatchController::RequestStop() {
    if (!active) {
        return;
    }
    gtk_button_set_label(GTK_BUTTON(widgets_.stopButton), _(kStoppingLabel));
    gtk_widget_set_sensitive(widgets_.stopButton, FALSE);
    shared.stop.store(true);
}

void BatchController::HandleProgress(ProgressEvent event) {
    switch (event.kind) {
        case ProgressKind::kLoading:
        case ProgressKind::kSaving:
        case ProgressKind::kDone:
        case ProgressKind::kFailed:
        case ProgressKind::kCancelled:
            SetFileLine(event.fileNumber, FileStatusLine(event.kind, event.fileName, event.reason));
            break;
        case ProgressKind::kThumbnail:
            DrawThumbnail(*widgets_.thumbnail, event.thumbnail.get());
            break;
        case ProgressKind::kRemaining:
            // Once stop is pressed the button keeps saying so until the end.
            if (!shared.stop.load()) {
                const std::string label =
                    std::string(_(kStopLabel)) + " [" + std::to_string(event.remaining) + "]";
                gtk_button_set_label(GTK_BUTTON(widgets_.stopButton), label.c_str());
            }
            break;
        case ProgressKind::kFinished:
            FinishBatch(event.elapsedMs);
            break;
    }
}

void BatchController::WaitForWorkerAtShutDown() {
    closing = true;
    sink.Discard();
    if (WorkerAlive()) {
        GtkWidget* notice = OpenClosingNotice(widgets_.window);
        FreezeMainWindow(widgets_.window);
        while (WorkerAlive()) {
            for (int i = 0; i < kShutDownEventsPerRound && gtk_events_pending(); ++i) {
                gtk_main_iteration_do(FALSE);
            }
            sink.WaitForWorkerEnd(kShutDownPoll);
        }
        gtk_widget_destroy(notice);
    }
    if (worker.joinable()) {
        worker.join();  // it has made its last report and is returning
    }
    active = false;
    fileLines_.clear();
}

}  // namespace corvanta
