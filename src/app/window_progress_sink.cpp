#include "app/window_progress_sink.h"

#include <optional>
#include <utility>

#include <glib.h>

#include "app/batch_window.h"

namespace corvanta {
namespace {

using ChannelRef = std::shared_ptr<ProgressChannel>;

// One idle source per posted event. It takes the oldest queued event, not
// necessarily "its own": the queue alone fixes the order.
gboolean DeliverOldest(gpointer data) {
    ProgressChannel& channel = **static_cast<ChannelRef*>(data);
    std::optional<ProgressEvent> event;
    {
        const std::lock_guard lock(channel.mutex);
        if (!channel.queue.empty()) {
            event.emplace(std::move(channel.queue.front()));
            channel.queue.pop_front();
        }
    }
    if (event && channel.window != nullptr && !channel.discard) {
        HandleProgressEvent(*channel.window, std::move(*event));
    }
    return G_SOURCE_REMOVE;  // whatever the event held is freed here, on this thread
}

void ReleaseChannelRef(gpointer data) {
    std::unique_ptr<ChannelRef> ref(static_cast<ChannelRef*>(data));
}

}  // namespace

WindowProgressSink::WindowProgressSink(const BatchState& batch)
    : batch_(batch), channel_(std::make_shared<ProgressChannel>()) {}

WindowProgressSink::~WindowProgressSink() {
    // Sources still waiting in the main loop keep the channel alive and free
    // its events when they run; they must no longer reach the window.
    channel_->window = nullptr;
    const std::lock_guard lock(channel_->mutex);
    channel_->queue.clear();
}

void WindowProgressSink::Attach(AppState& window) {
    channel_->window = &window;
    channel_->discard = false;
}

void WindowProgressSink::Discard() {
    channel_->discard = true;
}

void WindowProgressSink::Post(ProgressEvent event) {
    if (beforePost) {
        beforePost(event);
    }
    const bool last = event.kind == ProgressKind::kFinished;
    {
        const std::lock_guard lock(channel_->mutex);
        channel_->queue.push_back(std::move(event));
    }
    // Below the priorities of input, layout and drawing: a burst of events
    // never holds up the window's own work.
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, DeliverOldest,
                    std::make_unique<ChannelRef>(channel_).release(), ReleaseChannelRef);
    if (last) {
        const std::lock_guard lock(endMutex_);
        ended_.notify_all();
    }
}

bool WindowProgressSink::WaitForWorkerEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(endMutex_);
    return ended_.wait_for(lock, timeout, [this] { return !batch_.running.load(); });
}

}  // namespace corvanta
