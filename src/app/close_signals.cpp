#include "app/close_signals.h"

#include <glib-unix.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "app/routing.h"
#include "ui/user_presets.h"

// Xlib's macros (None, Bool, Status) would clash with ours: included last.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace corvanta {
namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGHUP, SIGINT};
// A little longer than a write may wait for another program's.
constexpr std::chrono::milliseconds kDisplayLostWriteLimit{3000};

gboolean OnCloseSignal(gpointer data) {
    RequestClose(*static_cast<AppState*>(data));
    return G_SOURCE_CONTINUE;  // a second signal while closing changes nothing
}

// GDK's own handler ends the program at once; returning lets Xlib go on to
// the exit handler, which knows the state. Once that is reset, Xlib's own
// exit handler ends the program much as GDK's would.
int ContinueToExitHandler(Display*) {
    return 0;
}

void SaveAndExit(Display*, void* data) {
    AppState& state = *static_cast<AppState*>(data);
    state.batch.shared.stop.store(true);
    // Widgets are only read here (their text lives in this process); the
    // main loop cannot run again, so the write is waited for right here.
    // Once the window is gone, the shut-down has saved already.
    if (state.widgets.mainWindow != nullptr) {
        SavePresetStoreBeforeExit(state.presetStore, state.output, kDisplayLostWriteLimit);
    }
    // No exit(): the worker threads still run, and nothing of theirs is
    // half-published (outputs appear whole or not at all).
    ::_exit(kDisplayLostStatus);
}

}  // namespace

CloseSignals::CloseSignals(AppState& state) {
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i) {
        sources_[i] = g_unix_signal_add(kCloseSignals[i], OnCloseSignal, &state);
    }
}

CloseSignals::~CloseSignals() {
    for (const guint source : sources_) {
        if (source != 0) {
            g_source_remove(source);
        }
    }
}

DisplayLossSave::DisplayLossSave(AppState& state) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) {
        return;
    }
    Display* x = gdk_x11_display_get_xdisplay(display);
    display_ = x;
    XSetIOErrorHandler(ContinueToExitHandler);
    XSetIOErrorExitHandler(x, SaveAndExit, &state);
}

DisplayLossSave::~DisplayLossSave() {
    if (display_ != nullptr) {
        // Xlib's own exit handler again: the state is about to go.
        XSetIOErrorExitHandler(static_cast<Display*>(display_), nullptr, nullptr);
    }
}

}  // namespace corvanta
