#include "batch_helpers.h"

#include <chrono>
#include <sstream>

#include "gui_harness.h"

namespace corvanta::testing {
namespace {

constexpr int kDialogPollMs = 20;
constexpr auto kGateTimeout = std::chrono::seconds(60);

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    if (!text.empty() && text.back() == '\n') {
        lines.emplace_back();
    }
    return lines;
}

std::string BufferText(GtkTextBuffer* buffer) {
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string copy = text;
    g_free(text);
    return copy;
}

}  // namespace

std::vector<std::string> LogLines(GtkWidget* progressLog) {
    return SplitLines(BufferText(gtk_text_view_get_buffer(GTK_TEXT_VIEW(progressLog))));
}

BatchRecorder::BatchRecorder(GtkWidget* progressLog, GtkWidget* stopButton)
    : buffer_(gtk_text_view_get_buffer(GTK_TEXT_VIEW(progressLog))), button_(stopButton) {
    g_signal_connect(buffer_, "changed", G_CALLBACK(OnChanged), this);
    g_signal_connect(button_, "notify::label", G_CALLBACK(OnLabel), this);
}

BatchRecorder::~BatchRecorder() {
    g_signal_handlers_disconnect_by_data(buffer_, this);
    g_signal_handlers_disconnect_by_data(button_, this);
}

void BatchRecorder::OnChanged(GtkTextBuffer* buffer, gpointer self) {
    static_cast<BatchRecorder*>(self)->snapshots_.push_back(SplitLines(BufferText(buffer)));
}

void BatchRecorder::OnLabel(GObject* button, GParamSpec*, gpointer self) {
    static_cast<BatchRecorder*>(self)->labels_.emplace_back(
        gtk_button_get_label(GTK_BUTTON(button)));
}

std::vector<std::string> BatchRecorder::LineHistory(int index) const {
    std::vector<std::string> history;
    for (const std::vector<std::string>& lines : snapshots_) {
        const auto i = static_cast<std::size_t>(index);
        if (i < lines.size() && !lines[i].empty() &&
            (history.empty() || history.back() != lines[i])) {
            history.push_back(lines[i]);
        }
    }
    return history;
}

DialogAnswerer::DialogAnswerer() : source_(g_timeout_add(kDialogPollMs, Poll, this)) {}

DialogAnswerer::~DialogAnswerer() {
    g_source_remove(source_);
}

gboolean DialogAnswerer::Poll(gpointer self) {
    auto* answerer = static_cast<DialogAnswerer*>(self);
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (!GTK_IS_MESSAGE_DIALOG(window) || !gtk_widget_get_mapped(window)) {
            continue;
        }
        SeenDialog seen;
        const gchar* title = gtk_window_get_title(GTK_WINDOW(window));
        seen.title = title != nullptr ? title : "";
        gchar* text = nullptr;
        g_object_get(window, "text", &text, "message-type", &seen.type, nullptr);
        seen.text = text != nullptr ? text : "";
        g_free(text);
        seen.modal = gtk_window_get_modal(GTK_WINDOW(window));
        seen.hasParent = gtk_window_get_transient_for(GTK_WINDOW(window)) != nullptr;
        answerer->seen_.push_back(seen);
        gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
    }
    g_list_free(toplevels);
    return G_SOURCE_CONTINUE;
}

void WorkerGate::Arrive(const ProgressEvent& event) {
    if (used_ || !match_(event)) {
        return;
    }
    used_ = true;
    std::unique_lock lock(mutex_);
    reached_.store(true);
    // Bounded, so that a failing test ends instead of hanging.
    open_.wait_for(lock, kGateTimeout, [this] { return released_; });
}

void WorkerGate::Release() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    open_.notify_all();
}

WorkerGate::Match At(ProgressKind kind, std::int64_t object) {
    return [kind, object](const ProgressEvent& event) {
        return event.kind == kind && event.object == object;
    };
}

bool WaitForBatchEnd(AppState& state, int timeoutMs) {
    return PumpUntil([&] { return !state.batch.active; }, timeoutMs);
}

}  // namespace corvanta::testing
