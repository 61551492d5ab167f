// Other X clients beside the test: xclip on the CLIPBOARD selection,
// xdotool for input, and the real corvanta program run from a directory of
// the test's choosing. While any of them runs the test's own main loop keeps
// going, because the window under test may be the one they talk to.
#pragma once

#include <string>
#include <vector>

#include <glib.h>

namespace corvanta::testing {

// An X window id (Xlib's Window), spelt out so that this header need not
// pull Xlib's macros into every test.
using XWindowId = unsigned long;

// Runs argv (searched in PATH) to its end, serving the main loop meanwhile.
// Returns what it wrote to stdout unless captureOutput is false (needed for
// commands that leave a background process holding stdout open); its exit
// status goes to *exitStatus when given, -1 when it did not exit.
std::string RunPumping(const std::vector<std::string>& argv, bool captureOutput = true,
                       int* exitStatus = nullptr);

// The CLIPBOARD text as another client (xclip) reads it.
std::string ReadClipboard();

// Makes xclip the owner of the CLIPBOARD with text (as UTF8_STRING, or as
// the given target), and waits until it serves it.
void OfferClipboard(const std::string& text, const std::string& scratchDir,
                    const std::string& target = "UTF8_STRING");

// A viewable top-level window, its position on the screen and its size.
struct TopLevel {
    XWindowId window = 0;
    std::string title;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The viewable top-level windows on the screen, bottom to top. Windows of
// other programs may vanish while they are looked at: their errors are
// expected and ignored, and such a window is simply left out.
std::vector<TopLevel> TopLevels();

// A viewable top-level window with exactly this title, or 0.
XWindowId FindTopLevel(const std::string& title);

// Asks a top-level window to close, as a window manager's close button does.
void SendDeleteWindow(XWindowId window);

// Runs xdotool with args, then lets the window handle what arrived for
// pumpMs milliseconds.
void Xdo(const std::vector<std::string>& args, int pumpMs = 150);

// The real corvanta executable, copied into a directory so that the
// directory is its program directory (and holds its Corvanta.dat).
class ProgramRun {
  public:
    explicit ProgramRun(std::string directory);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Copies the executable; starts it and waits for its main window.
    bool Start();
    // Types keys (xdotool key syntax) into the main window.
    void Keys(const std::vector<std::string>& keys);
    // Clicks at (x, y) of the main window's client area.
    void Click(int x, int y, int button);
    // Waits for the dialog titled title, types key into it and waits until
    // it is gone. False when no such dialog appeared.
    bool Answer(const std::string& title, const std::string& key);
    // Sends the window manager's close request (or the signal, or closes
    // the program's connection to the X server as a server going away
    // would); returns the exit status, or -1 if the program did not end in
    // time (it is killed then) or a signal ended it.
    static constexpr int kLoseDisplay = -1;
    int Close(int signal = 0);

  private:
    std::string directory_;
    GPid pid_ = 0;
    unsigned long window_ = 0;
};

}  // namespace corvanta::testing
