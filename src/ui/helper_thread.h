// File work the window thread must not wait for (reading a dropped picture,
// listing a dropped folder on a slow share) runs on a short-lived helper
// thread. The helper touches no widget and no state; its result comes back
// to the window thread through an idle callback, and only while its owner
// (the part of the program that asked) is still alive: an owner keeps a
// shared_ptr to a pointer to itself and hands out weak references to it.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include <glib.h>

namespace corvanta {

namespace helper_thread_detail {

template <typename Owner, typename Work, typename Finish>
struct Task {
    using Result = std::invoke_result_t<Work&>;

    std::weak_ptr<Owner*> owner;  // gone once the owner has been destroyed
    Work work;
    Finish finish;

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
    const auto owner = task->owner.lock();
    if (owner && result) {
        task->finish(**owner, std::move(*result));
    }
    return G_SOURCE_REMOVE;
}

template <typename TaskType>
gpointer RunOnHelper(gpointer data) {
    auto* task = static_cast<TaskType*>(data);
    typename TaskType::Result result = task->work();
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
bool RunOnHelperThread(const std::weak_ptr<Owner*>& owner, const char* name, Work work,
                       Finish finish) {
    using TaskType = helper_thread_detail::Task<Owner, Work, Finish>;
    auto task = std::make_unique<TaskType>(owner, std::move(work), std::move(finish));
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
