// File work the window thread must not wait for (reading a dropped picture,
// listing a dropped folder on a slow share) runs on a short-lived helper
// thread. The helper touches no widget and no state; its result comes back
// to the window thread through an idle callback, and only while its owner
// (the part of the program that asked) is still alive (lifetime.h).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include <glib.h>

#include "ui/lifetime.h"

namespace corvanta {

namespace helper_thread_detail {

template <typename Owner, typename Work, typename Finish>
struct Task {
    using Result = std::invoke_result_t<Work&>;

    Watch<Owner> owner;  // gone once the owner has been destroyed
    // Set once the task exists: lambdas cannot be assigned, only made.
    std::optional<Work> work;
    std::optional<Finish> finish;

    // The result is handed over under the mutex, so everything the helper
    // wrote is visible to the window thread.
    std::mutex mutex;
    std::optional<Result> result;
};

template <typename TaskType>
gboolean FinishOnWindowThread(gpointer data) {
    std::unique_ptr<TaskType> task(static_cast<TaskType*>(data));
    std::optional<typename TaskType::Result> result;
    {
        const std::lock_guard<std::mutex> lock(task->mutex);
        result = std::move(task->result);
    }
    auto* owner = Alive(task->owner);
    if (owner != nullptr && result) {
        (*task->finish)(*owner, std::move(*result));
    }
    return G_SOURCE_REMOVE;
}

template <typename TaskType>
gpointer RunOnHelper(gpointer data) {
    auto* task = static_cast<TaskType*>(data);
    typename TaskType::Result result = (*task->work)();
    {
        const std::lock_guard<std::mutex> lock(task->mutex);
        task->result = std::move(result);
    }
    // From here on the task belongs to the window thread again.
    g_idle_add(FinishOnWindowThread<TaskType>, task);
    return nullptr;
}

}  // namespace helper_thread_detail

// Runs work() on a helper thread named name, then finish(owner, result) on
// the window thread unless the owner is gone by then. Both are destroyed on
// the window thread. False when no thread could be had: neither runs.
template <typename Owner, typename Work, typename Finish>
bool RunOnHelperThread(const Watch<Owner>& owner, const char* name, Work work, Finish finish) {
    using TaskType = helper_thread_detail::Task<Owner, Work, Finish>;
    auto task = std::make_unique<TaskType>();
    task->owner = owner;
    task->work.emplace(std::move(work));
    task->finish.emplace(std::move(finish));
    GThread* thread =
        g_thread_try_new(name, helper_thread_detail::RunOnHelper<TaskType>, task.get(), nullptr);
    if (thread == nullptr) {
        return false;
    }
    task.release();  // FinishOnWindowThread takes it back
    g_thread_unref(thread);
    return true;
}

}  // namespace corvanta
