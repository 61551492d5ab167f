// The event routing: which handler each widget event, shortcut and drop
// reaches. All of it runs on the window thread from the GTK main loop.
#pragma once

#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/app_state.h"

namespace corvanta {

// The dropped list: each URI of the drag data turned into a local file name,
// URIs that are not local files left out, in the order of the drag data.
std::vector<std::string> DroppedList(GtkSelectionData* data);

// The window's close request (its close button, or a signal to end):
// answers any open message box as closed and ends the main loop, after
// which the shut-down runs.
void RequestClose(AppState& state);

// Runs the handler of shortcut number 99 .. 108 (see app_state.h).
void RouteShortcut(AppState& state, int number);

// Runs the handler of a window command (see app_state.h).
void RouteWindowCommand(AppState& state, WindowCommand command);

// The two kinds of drop target.
enum class DropTarget { kPreview, kBatch };
void RouteFileDrop(AppState& state, DropTarget target, const std::vector<std::string>& dropped);

void RegisterDropTargets(AppState& state);
void InstallShortcuts(AppState& state);
void BindWidgetEvents(AppState& state);
// Binds the window's size change to LayoutMainWindow and its close request
// to the end of the main loop.
void BindWindowEvents(AppState& state);

}  // namespace corvanta
