#include "app/batch_window.h"

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
constexpr const char* kClosingNoticeStyle = "window { background-color: #FFC0C0; }";
constexpr std::chrono::milliseconds kShutDownPoll{100};
// Window events handled per round of the shut-down wait: enough for the
// notice to be mapped and painted at once, bounded so that a busy source
// cannot keep the wait from looking at the worker.
constexpr int kShutDownEventsPerRound = 16;

// ---- message boxes ------------------------------------------------------------

struct InfoMessage {
    const char* title;
    const char* text;
};

constexpr InfoMessage kBusyMessage{kBusyTitle, kBusyText};
constexpr InfoMessage kNoFolderMessage{kNoFolderTitle, kNoFolderText};

struct PendingMessage {
    std::weak_ptr<AppState*> owner;
    const InfoMessage* message = nullptr;
};

gboolean ShowInfoMessage(gpointer data) {
    const std::unique_ptr<PendingMessage> pending(static_cast<PendingMessage*>(data));
    const std::shared_ptr<AppState*> owner = pending->owner.lock();
    // Shut-down never waits for an answer.
    if (!owner || (*owner)->batch.closing) {
        return G_SOURCE_REMOVE;
    }
    ShowNotice(pending->message->title, pending->message->text);
    return G_SOURCE_REMOVE;
}

// A refused drop is answered once the drop itself has finished: a modal box
// run inside the drop handler would keep the drag source waiting for its
// answer until the user clicks OK.
void ShowInfoMessageAfterDrop(AppState& state, const InfoMessage& message) {
    auto pending = std::make_unique<PendingMessage>();
    pending->owner = state.aliveToken;
    pending->message = &message;
    g_idle_add(ShowInfoMessage, pending.release());
}

// ---- the batch layout ---------------------------------------------------------

GtkTextView* Log(AppState& state) {
    return GTK_TEXT_VIEW(state.widgets.progressLog);
}

void EnterBatchLayout(AppState& state) {
    SetBatchLayout(state, true);
    gtk_button_set_label(GTK_BUTTON(state.widgets.stopButton), kStopLabel);
    gtk_widget_set_sensitive(state.widgets.stopButton, TRUE);
    DrawingCanvas& thumbnail = state.widgets.thumbnailCanvas;
    FillRect(thumbnail, 0, 0, CanvasWidth(thumbnail), CanvasHeight(thumbnail),
             kThumbnailBackground);
}

DropSettings ReadDropSettings(const AppState& state) {
    const MainWidgets& w = state.widgets;
    DropSettings settings;
    settings.outputFolder = gtk_entry_get_text(GTK_ENTRY(w.outputFolderField));
    settings.maxWidthText = gtk_entry_get_text(GTK_ENTRY(w.maxWidthField));
    settings.maxHeightText = gtk_entry_get_text(GTK_ENTRY(w.maxHeightField));
    settings.qualityIndex = gtk_combo_box_get_active(GTK_COMBO_BOX(w.jpegQualityCombo));
    return settings;
}

// ---- progress -----------------------------------------------------------------

// Every file gets its own line when its first event arrives, appended below
// the lines already there, and keeps it: later events find it through the
// file number instead of computing its place, so a file that posts no event
// cannot shift the lines of the files behind it.
void SetFileLine(AppState& state, std::int64_t number, std::string_view text) {
    GtkTextView* log = Log(state);
    auto& lines = state.batch.fileLines;
    const auto known = lines.find(number);
    if (known != lines.end()) {
        ReplaceLogLine(log, known->second, text);
        return;
    }
    AddLogLine(log, -1, text);
    lines.emplace(number, LogLineCount(log) - 1);
    ScrollLogToEnd(log);
}

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

void FinishBatch(AppState& state, std::int64_t elapsedMs) {
    BatchSession& batch = state.batch;
    SetBatchLayout(state, false);
    GtkTextView* log = Log(state);
    AddLogLine(log, -1, "");
    AddLogLine(log, -1, TotalTimeLine(elapsedMs));
    ScrollLogToEnd(log);
    batch.fileLines.clear();
    batch.shared.stop.store(false);
    batch.active = false;
}

// ---- the closing notice -------------------------------------------------------

GtkWidget* OpenClosingNotice(AppState& state) {
    GtkWidget* notice = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(notice, kClosingNoticeName);
    GtkWindow* window = GTK_WINDOW(notice);
    gtk_window_set_title(window, "");
    gtk_window_set_decorated(window, FALSE);
    gtk_widget_set_size_request(notice, kClosingNoticeWidth, kClosingNoticeHeight);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_transient_for(window, GTK_WINDOW(state.widgets.mainWindow));
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);

    GObjectPtr<GtkCssProvider> style(gtk_css_provider_new());
    gtk_css_provider_load_from_data(style.get(), kClosingNoticeStyle, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(notice),
                                   GTK_STYLE_PROVIDER(style.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(notice), fixed);
    GtkWidget* label = gtk_label_new(kClosingText);
    gtk_label_set_xalign(GTK_LABEL(label), 0.5F);
    gtk_label_set_yalign(GTK_LABEL(label), 0.5F);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_widget_set_size_request(label, kClosingLabelBox.width, kClosingLabelBox.height);
    gtk_fixed_put(GTK_FIXED(fixed), label, kClosingLabelBox.x, kClosingLabelBox.y);
    gtk_widget_show_all(notice);
    return notice;
}

// The main window ignores input and keeps its size while the program waits
// for the worker.
void FreezeMainWindow(AppState& state) {
    GtkWindow* window = GTK_WINDOW(state.widgets.mainWindow);
    gtk_widget_set_sensitive(state.widgets.mainWindow, FALSE);
    GdkGeometry geometry{};
    gtk_window_get_size(window, &geometry.min_width, &geometry.min_height);
    geometry.max_width = geometry.min_width;
    geometry.max_height = geometry.min_height;
    gtk_window_set_geometry_hints(
        window, nullptr, &geometry,
        static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

// ---- starting a batch ------------------------------------------------------------

// The rest of a drop once the queue is known: the empty-folder line, or the
// batch layout and the worker.
void StartBatch(AppState& state, const DropSettings& settings, FileQueue queue) {
    BatchSession& batch = state.batch;
    GtkTextView* log = Log(state);
    if (queue.files.empty()) {
        AddLogLine(log, -1, EmptyFolderLine());
        return;
    }
    EnterBatchLayout(state);
    ConversionJob job;
    batch.fileLines.clear();
    batch.sink.Attach(state);
    if (!BuildConversionJob(settings, std::move(queue.files), job) ||
        !StartConversionWorker(std::move(job), state.scheme.Shared(), batch.shared, batch.sink,
                               batch.worker, batch.jobs)) {
        SetBatchLayout(state, false);
        AddLogLine(log, -1, kNotStartedLine);
        return;
    }
    batch.active = true;
}

// A single dropped item is looked at on a helper thread: it may be a folder
// on a slow or unreachable network share, where even a stat can wait for
// seconds. Until the queue has come the drop counts as a running batch, so
// a second drop is refused. False when no thread could be had.
bool ListQueueOffThread(AppState& state, const DropSettings& settings,
                        const std::vector<std::string>& dropped) {
    auto list = [dropped, beforeListing = state.batch.beforeListing] {
        if (beforeListing) {
            beforeListing();
        }
        return BuildFileQueue(dropped, FolderExpansion::kSingleDroppedFolder);
    };
    auto start = [settings](AppState& owner, FileQueue queue) {
        owner.batch.active = false;  // the listing is over; StartBatch sets it again
        if (!owner.batch.closing) {
            StartBatch(owner, settings, std::move(queue));
        }
    };
    if (!RunOnHelperThread(std::weak_ptr<AppState*>(state.aliveToken), "drop-listing",
                           std::move(list), std::move(start))) {
        return false;
    }
    state.batch.active = true;
    return true;
}

}  // namespace

std::string EmptyFolderLine() {
    return "The folder you dropped " + std::string(kEmptyFolderWords) + ".";
}

bool WorkerAlive(const AppState& state) {
    return state.batch.shared.running.load();
}

void HandleFileDrop(AppState& state, const std::vector<std::string>& dropped) {
    BatchSession& batch = state.batch;
    if (dropped.empty()) {
        return;
    }
    if (batch.active || WorkerAlive(state)) {
        ShowInfoMessageAfterDrop(state, kBusyMessage);
        return;
    }
    DropSettings settings = ReadDropSettings(state);
    if (settings.outputFolder.empty()) {
        ShowInfoMessageAfterDrop(state, kNoFolderMessage);
        return;
    }

    gtk_widget_hide(state.widgets.dropHint.area);
    GtkTextView* log = Log(state);
    SetLogText(log, kProcessingLine);
    AddLogLine(log, -1, "");

    if (dropped.size() == 1 && ListQueueOffThread(state, settings, dropped)) {
        return;  // StartBatch follows when the listing is done
    }
    StartBatch(state, settings, BuildFileQueue(dropped, FolderExpansion::kSingleDroppedFolder));
}

void RequestStop(AppState& state) {
    if (!state.batch.active) {
        return;
    }
    gtk_button_set_label(GTK_BUTTON(state.widgets.stopButton), kStoppingLabel);
    gtk_widget_set_sensitive(state.widgets.stopButton, FALSE);
    state.batch.shared.stop.store(true);
}

void ChooseOutputFolder(AppState& state) {
    GtkEntry* field = GTK_ENTRY(state.widgets.outputFolderField);
    std::string start = gtk_entry_get_text(field);
    if (start.empty()) {
        const char* home = g_getenv("HOME");
        start = home != nullptr ? home : g_get_home_dir();
        start.push_back('/');
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "", GTK_WINDOW(state.widgets.mainWindow), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
        GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (gchar* folder = g_filename_from_utf8(start.c_str(), -1, nullptr, nullptr, nullptr)) {
        gtk_file_chooser_set_current_folder(chooser, folder);
        g_free(folder);
    }

    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* chosen = gtk_file_chooser_get_filename(chooser);
        gchar* text =
            chosen != nullptr ? g_filename_to_utf8(chosen, -1, nullptr, nullptr, nullptr) : nullptr;
        if (text != nullptr) {
            // The worker puts folder and file name together as they are.
            std::string folder = text;
            if (folder.empty() || folder.back() != '/') {
                folder.push_back('/');
            }
            gtk_entry_set_text(field, folder.c_str());
        }
        g_free(text);
        g_free(chosen);
    }
    gtk_widget_destroy(dialog);
}

void HandleProgressEvent(AppState& state, ProgressEvent event) {
    BatchSession& batch = state.batch;
    switch (event.kind) {
        case ProgressKind::kLoading:
        case ProgressKind::kSaving:
        case ProgressKind::kDone:
        case ProgressKind::kFailed:
        case ProgressKind::kCancelled:
            SetFileLine(state, event.fileNumber,
                        FileStatusLine(event.kind, event.fileName, event.reason));
            break;
        case ProgressKind::kThumbnail:
            DrawThumbnail(state.widgets.thumbnailCanvas, event.thumbnail.get());
            break;
        case ProgressKind::kRemaining:
            // Once stop is pressed the button keeps saying so until the end.
            if (!batch.shared.stop.load()) {
                const std::string label =
                    std::string(kStopLabel) + " [" + std::to_string(event.remaining) + "]";
                gtk_button_set_label(GTK_BUTTON(state.widgets.stopButton), label.c_str());
            }
            break;
        case ProgressKind::kFinished:
            FinishBatch(state, event.elapsedMs);
            break;
    }
}

void WaitForWorkerAtShutDown(AppState& state) {
    BatchSession& batch = state.batch;
    batch.closing = true;
    batch.sink.Discard();
    if (WorkerAlive(state)) {
        GtkWidget* notice = OpenClosingNotice(state);
        FreezeMainWindow(state);
        while (WorkerAlive(state)) {
            for (int i = 0; i < kShutDownEventsPerRound && gtk_events_pending(); ++i) {
                gtk_main_iteration_do(FALSE);
            }
            batch.sink.WaitForWorkerEnd(kShutDownPoll);
        }
        gtk_widget_destroy(notice);
    }
    if (batch.worker.joinable()) {
        batch.worker.join();  // it has made its last report and is returning
    }
    batch.active = false;
    batch.fileLines.clear();
}

}  // namespace corvanta
