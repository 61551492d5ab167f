#include "batch_helpers.h"

#include <chrono>
#include <sstream>

#include "gui_harness.h"

namespace corvanta::testing {
namespace {

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

}  // namespace

std::vector<std::string> LogLines(GtkWidget* progressLog) {
    return SplitLines(TextOf(progressLog));
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
    static_cast<BatchRecorder*>(self)->snapshots_.push_back(SplitLines(TextOf(buffer)));
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

void WorkerGate::Arrive(const ProgressEvent& event) {
    // Several jobs arrive at once: one of them takes the gate.
    if (!match_(event) || used_.exchange(true)) {
        return;
    }
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
        return event.kind == kind && event.fileNumber == object;
    };
}

bool WaitForBatchEnd(AppState& state, int timeoutMs) {
    return PumpUntil([&] { return !state.batch.active; }, timeoutMs);
}

bool IsTotalTimeLine(const std::string& line) {
    const std::string prefix = "Total time : ";
    const std::string shape = "00h 00m 00s";
    if (line.size() != prefix.size() + shape.size() ||
        line.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = line[prefix.size() + i];
        if (shape[i] == '0' ? (c < '0' || c > '9') : c != shape[i]) {
            return false;
        }
    }
    return true;
}

bool AllPixelsAre(const std::string& path, Rgb color) {
    GObjectPtr<GdkPixbuf> image(gdk_pixbuf_new_from_file(path.c_str(), nullptr));
    if (!image) {
        return false;
    }
    const int channels = gdk_pixbuf_get_n_channels(image.get());
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(image.get());
    for (int y = 0; y < gdk_pixbuf_get_height(image.get()); ++y) {
        for (int x = 0; x < gdk_pixbuf_get_width(image.get()); ++x) {
            const guint8* p = pixels + y * stride + x * channels;
            if (Rgb{p[0], p[1], p[2]} != color) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace corvanta::testing
