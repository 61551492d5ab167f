#include "gui_harness.h"

#include <cstdlib>
#include <vector>

#include <glib/gstdio.h>

#include "app/program.h"

namespace corvanta::testing {

void PumpFor(int ms) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    while (g_get_monotonic_time() < end) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        g_usleep(2000);
    }
}

namespace {

// Under valgrind every thread and decoder runs many times slower; the runner
// of those tests says by how much through CORVANTA_TEST_TIME_SCALE, so that
// waits keep their meaning there instead of failing on the clock.
gint64 TimeScale() {
    static const gint64 scale = [] {
        const char* text = std::getenv("CORVANTA_TEST_TIME_SCALE");
        const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
        return static_cast<gint64>(value >= 1 && value <= 100 ? value : 1);
    }();
    return scale;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000 * TimeScale();
    while (!done()) {
        if (g_get_monotonic_time() >= end) {
            return false;
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        g_usleep(2000);
    }
    return true;
}

std::string TextOf(GtkTextBuffer* buffer) {
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string copy = text != nullptr ? text : "";
    g_free(text);
    return copy;
}

std::string TextOf(GtkWidget* textView) {
    return TextOf(gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView)));
}

WidgetBox BoxIn(GtkWidget* widget, GtkWidget* ancestor) {
    if (ancestor == nullptr) {
        ancestor = gtk_widget_get_toplevel(widget);
    }
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(widget, ancestor, 0, 0, &x, &y);
    return {x, y, a.width, a.height};
}

void ScreenOrigin(GtkWidget* widget, int* x, int* y) {
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int wx = 0;
    int wy = 0;
    gdk_window_get_origin(gtk_widget_get_window(top), &wx, &wy);
    const WidgetBox box = BoxIn(widget, top);
    *x = wx + box.x;
    *y = wy + box.y;
}

void MainWindowTest::SetUp() {
    state_ = StartProgram("/nonexistent/corvanta");
    ASSERT_TRUE(state_);
    // Window tests keep no Corvanta.dat: the save at the end of each test
    // goes nowhere. Tests of the store give it a folder of their own.
    state_->presetStore.path.clear();
    ShowMainWindow(*state_);
    GtkWidget* window = state_->widgets.mainWindow;
    ASSERT_TRUE(PumpUntil([&] {
        GtkAllocation a;
        gtk_widget_get_allocation(state_->widgets.schemePanel, &a);
        return gtk_widget_get_mapped(window) &&
               a.height == MinWindowHeight(state_->widgets.textScale);
    }));
    PumpFor(50);
}

void MainWindowTest::TearDown() {
    if (state_) {
        PumpUntil([&] { return state_->preview.pendingLoads == 0; });
        ShutDown(*state_);
        state_.reset();
    }
    PumpFor(20);
}

void MainWindowTest::ResizeWindow(int width, int height) {
    gtk_window_resize(GTK_WINDOW(state_->widgets.mainWindow), width, height);
    PumpUntil(
        [&] {
            GtkAllocation a;
            gtk_widget_get_allocation(state_->widgets.schemePanel, &a);
            const WidgetBox panel = BoxIn(state_->widgets.schemePanel);
            const double scale = state_->widgets.textScale;
            return a.height == std::max(height, MinWindowHeight(scale)) &&
                   panel.x == std::max(width, MinWindowWidth(scale)) -
                                  ScaledLength(kSchemePanelWidth, scale);
        },
        3000);
    PumpFor(50);
}

RandomSource MainWindowTest::Replay(std::vector<std::uint32_t> values) {
    auto next = std::make_shared<std::size_t>(0);
    return [values = std::move(values), next] {
        const std::size_t i = std::min(*next, values.size() - 1);
        ++*next;
        return values[i];
    };
}

}  // namespace corvanta::testing
