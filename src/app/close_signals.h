// The ends of a run other than the close button. SIGTERM, SIGHUP and SIGINT
// (a logout, a closed terminal, Ctrl+C) take the close button's way out:
// stop, save, wait for the worker, exit 0. A lost display leaves no window
// to serve, so the output settings and what is still to be written are
// saved straight away before the program ends.
#pragma once

#include <array>

#include <glib.h>

#include "app/app_state.h"

namespace corvanta {

// Exit status after the display was lost: the run did not close as asked.
constexpr int kDisplayLostStatus = 1;

// Watches the three signals while it lives; each asks the window to close.
class CloseSignals {
  public:
    explicit CloseSignals(AppState& state);
    ~CloseSignals();
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

  private:
    std::array<guint, 3> sources_{};  // one for each signal
};

// While it lives, losing the X connection saves before the program ends
// (with status kDisplayLostStatus). Nothing on other displays than X11.
class DisplayLossSave {
  public:
    explicit DisplayLossSave(AppState& state);
    ~DisplayLossSave();
    DisplayLossSave(const DisplayLossSave&) = delete;
    DisplayLossSave& operator=(const DisplayLossSave&) = delete;

  private:
    void* display_ = nullptr;  // the X display, spelt so that Xlib stays out of this header
};

}  // namespace corvanta
