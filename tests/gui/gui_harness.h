// Helpers for tests that run the real window under Xvfb.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "support/test_images.h"

namespace corvanta::testing {

// Runs the main loop for about ms milliseconds.
void PumpFor(int ms);

// Runs the main loop until done() holds or timeoutMs passes; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// The widget's allocation in the coordinates of ancestor (by default its
// toplevel window).
WidgetBox BoxIn(GtkWidget* widget, GtkWidget* ancestor = nullptr);

// The whole text of a GtkTextBuffer or of a GtkTextView's buffer.
std::string TextOf(GtkTextBuffer* buffer);
std::string TextOf(GtkWidget* textView);

// The widget's top-left corner on the screen.
void ScreenOrigin(GtkWidget* widget, int* x, int* y);

// A started, shown and drawn main window, destroyed after each test.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    AppState& State() { return *state_; }
    MainWidgets& Widgets() { return state_->widgets; }
    SchemeModel& Model() { return state_->scheme; }
    const ColorScheme& Scheme() { return state_->scheme.Scheme(); }
    SchemeEditor& Editor() { return state_->editor; }

    // Resizes the window and waits until the layout has followed.
    void ResizeWindow(int width, int height);

    // A random source that replays values, then repeats the last one.
    static RandomSource Replay(std::vector<std::uint32_t> values);

    std::unique_ptr<AppState> state_;
};

// A folder of the test's own, removed with everything in it at the end.
using TempDir = test_support::TempDir;

}  // namespace corvanta::testing
