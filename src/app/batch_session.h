// The window's side of a batch: the state shared with the worker, the worker
// thread itself, the sink its progress comes through, and what the window
// keeps between progress events. Part of AppState.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>
#include <unordered_map>

#include "app/window_progress_sink.h"
#include "batch/batch_engine.h"

namespace corvanta {

struct BatchSession {
    BatchSession() = default;
    BatchSession(const BatchSession&) = delete;
    BatchSession& operator=(const BatchSession&) = delete;
    // A worker is always waited for: it maps with the state's gradient table
    // and posts into the sink below.
    ~BatchSession() {
        if (worker.joinable()) {
            worker.join();
        }
    }

    BatchState shared;  // the stop flag and the worker's "running" mark
    std::thread worker;
    WindowProgressSink sink{shared};

    // Window thread only. True from the start of a batch until its final
    // event has been handled: the worker clears shared.running just before
    // posting that event, and a drop in between must still be refused. Also
    // true while a single dropped item is being looked at off the window
    // thread, before the batch starts.
    bool active = false;
    bool closing = false;  // shut-down has begun: no more message boxes
    // Files converted at once; 0 is the command line's default (one per
    // processor, bounded by the memory budget).
    int jobs = 0;
    // Tests only: runs on the helper thread that looks at a single dropped
    // item, before it does, so a test can hold the drop at that point. Set
    // it while no drop is being looked at.
    std::function<void()> beforeListing;
    // The log line of each file, recorded when its first event arrives.
    std::unordered_map<std::int64_t, int> fileLines;
};

}  // namespace corvanta
