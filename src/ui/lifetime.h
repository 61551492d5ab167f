// Work that finishes after the part of the window that asked for it may be
// gone (a helper thread's result, an answer from the clipboard's owner, a
// message box put off to the main loop) reaches the part only while it
// lives: the part holds a Lifetime, the work a Watch of it.
#pragma once

#include <memory>
#include <utility>

#include <glib.h>

namespace corvanta {

template <typename Part>
using Watch = std::weak_ptr<Part*>;

template <typename Part>
class Lifetime {
  public:
    explicit Lifetime(Part* part) : token_(std::make_shared<Part*>(part)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    corvanta::Watch<Part> Watch() const { return token_; }

  private:
    std::shared_ptr<Part*> token_;
};

// The part, or null once it is gone.
template <typename Part>
Part* Alive(const Watch<Part>& watch) {
    const std::shared_ptr<Part*> token = watch.lock();
    return token ? *token : nullptr;
}

namespace lifetime_detail {

template <typename Part, typename Work>
struct Deferred {
    Watch<Part> watch;
    Work work;
};

template <typename Part, typename Work>
gboolean RunDeferred(gpointer data) {
    const std::unique_ptr<Deferred<Part, Work>> deferred(static_cast<Deferred<Part, Work>*>(data));
    if (Part* part = Alive(deferred->watch)) {
        deferred->work(*part);
    }
    return G_SOURCE_REMOVE;
}

}  // namespace lifetime_detail

// Runs work(part) on the window thread once the main loop is idle, unless the
// part is gone by then.
template <typename Part, typename Work>
void WhenIdle(const Watch<Part>& watch, Work work) {
    using Deferred = lifetime_detail::Deferred<Part, Work>;
    auto deferred = std::make_unique<Deferred>(Deferred{watch, std::move(work)});
    g_idle_add(lifetime_detail::RunDeferred<Part, Work>, deferred.release());
}

}  // namespace corvanta
