// Start-up, the main loop and shut-down of the window program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace corvanta {

// Steps after GTK is initialised, up to a window ready to be shown:
// gradient table, embedded images, program directory, the hidden main window
// with every widget, palette, preset list, the first preset, drop targets,
// shortcuts, widget events and the preset store. Null when the window
// cannot be built (an embedded image or a backing image is missing).
std::unique_ptr<AppState> StartProgram(const char* argv0);

// Shows and presents the window and gives the focus to the scheme panel.
void ShowMainWindow(AppState& state);

// The files named on the command line (paths or file URIs; other URIs are
// left out), as absolute local names in the order given.
std::vector<std::string> CommandLineFiles(int argc, char** argv);

// Hands files to the batch as a drop on the drop area, once the window is
// mapped (at once when it is), with the drop's refusals.
void HandOverWhenShown(AppState& state, std::vector<std::string> files);

// After the main loop: stops the worker, saves the presets, waits for the
// worker while servicing the window, and destroys the window.
void ShutDown(AppState& state);

// The whole program: locale, GTK, start-up, main loop, shut-down. Returns
// the exit status (0, or 1 when start-up itself failed).
int RunProgram(int argc, char** argv);

}  // namespace corvanta
