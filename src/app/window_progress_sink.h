// How the conversion worker's progress reaches the window. Post runs on the
// worker: it queues the event and adds one idle source to the GTK main loop
// for it. Each source hands the oldest queued event to the window thread, so
// events are handled in the order posted whatever order the sources run in,
// and the event's file name and thumbnail are freed on the window thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "batch/batch_engine.h"

namespace corvanta {

class BatchController;

// The queue between the worker and the window. It outlives the sink while
// idle sources for it still wait in the main loop: the last of them frees
// it. The count is kept under the channel's own mutex rather than in a
// shared_ptr handed through GLib, so the hand-over stays visible to
// ThreadSanitizer, which cannot see GLib's own locking.
struct ProgressChannel {
    std::mutex mutex;
    std::deque<ProgressEvent> queue;  // guarded by mutex
    int waitingSources = 0;           // guarded by mutex
    bool sinkGone = false;            // guarded by mutex
    // Window thread only: where events go, or null once detached.
    BatchController* window = nullptr;
    bool discard = false;  // set at shut-down: events are freed unseen
};

class WindowProgressSink final : public ProgressSink {
  public:
    explicit WindowProgressSink(const BatchState& batch);
    ~WindowProgressSink() override;
    WindowProgressSink(const WindowProgressSink&) = delete;
    WindowProgressSink& operator=(const WindowProgressSink&) = delete;

    // Window thread: events are handled by the window's batch controller.
    void Attach(BatchController& window);
    // Window thread: events still queued or posted later are freed unseen.
    void Discard();

    void Post(ProgressEvent event) override;

    // Window thread: waits at most timeout for the worker's last report
    // (BatchState::running cleared). True once it has come.
    bool WaitForWorkerEnd(std::chrono::milliseconds timeout);

    // Tests only: runs on the worker for every event before it is queued,
    // so a test can hold the worker at a chosen point of the batch. Set it
    // while no worker runs.
    std::function<void(const ProgressEvent&)> beforePost;

  private:
    const BatchState& batch_;
    ProgressChannel* channel_;  // see ProgressChannel for who frees it
    std::mutex endMutex_;
    std::condition_variable ended_;
};

}  // namespace corvanta
