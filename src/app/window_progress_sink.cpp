#include "app/window_progress_sink.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include <glib.h>

#include "app/batch_controller.h"

namespace corvanta {
namespace {

void FreeChannel(ProgressChannel* channel) {
    std::unique_ptr<ProgressChannel> owned(channel);
}

// One idle source per posted event. It takes the oldest queued event, not
// necessarily "its own": the queue alone fixes the order.
gboolean DeliverOldest(gpointer data) {
    auto* channel = static_cast<ProgressChannel*>(data);
    std::optional<ProgressEvent> event;
    bool last = false;
    {
        const std::lock_guard lock(channel->mutex);
        if (!channel->queue.empty()) {
            event.emplace(std::move(channel->queue.front()));
            channel->queue.pop_front();
        }
        --channel->waitingSources;
        last = channel->sinkGone && channel->waitingSources == 0;
    }
    if (last) {
        FreeChannel(channel);
    } else if (event && channel->window != nullptr && !channel->discard) {
        channel->window->HandleProgress(std::move(*event));
    }
    return G_SOURCE_REMOVE;  // whatever the event held is freed here, on this thread
}

// A thumbnail still queued when the next one comes would only be drawn and
// at once drawn over. Taking it out bounds what a window that falls behind
// a fast batch holds to one thumbnail (about 70 KiB) instead of one per file.
// The window never saw it, so it may be freed on the worker. At most one is
// queued at any time, so the search stops at the first.
PixbufPtr TakeQueuedThumbnail(std::deque<ProgressEvent>& queue) {
    const auto found = std::find_if(queue.rbegin(), queue.rend(), [](const ProgressEvent& e) {
        return e.kind == ProgressKind::kThumbnail;
    });
    if (found == queue.rend()) {
        return {};
    }
    PixbufPtr thumbnail = std::move(found->thumbnail);
    queue.erase(std::next(found).base());
    return thumbnail;
}

}  // namespace

WindowProgressSink::WindowProgressSink(const BatchState& batch)
    : batch_(batch), channel_(std::make_unique<ProgressChannel>().release()) {}

WindowProgressSink::~WindowProgressSink() {
    // Sources still waiting in the main loop free the channel when the last
    // of them runs; they no longer reach the window. The worker has ended.
    channel_->window = nullptr;
    std::deque<ProgressEvent> unseen;
    bool last = false;
    {
        const std::lock_guard lock(channel_->mutex);
        unseen.swap(channel_->queue);
        channel_->sinkGone = true;
        last = channel_->waitingSources == 0;
    }
    if (last) {
        FreeChannel(channel_);
    }
}

void WindowProgressSink::Attach(BatchController& window) {
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
    const bool finished = event.kind == ProgressKind::kFinished;
    PixbufPtr superseded;
    {
        const std::lock_guard lock(channel_->mutex);
        if (event.kind == ProgressKind::kThumbnail) {
            superseded = TakeQueuedThumbnail(channel_->queue);
        }
        channel_->queue.push_back(std::move(event));
        ++channel_->waitingSources;
    }
    // Below the priorities of input, layout and drawing: a burst of events
    // never holds up the window's own work.
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, DeliverOldest, channel_, nullptr);
    if (finished) {
        const std::lock_guard lock(endMutex_);
        ended_.notify_all();
    }
}

bool WindowProgressSink::WaitForWorkerEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(endMutex_);
    return ended_.wait_for(lock, timeout, [this] { return !batch_.running.load(); });
}

}  // namespace corvanta
