// The output folder's "..." button: GTK's folder chooser, started at the
// folder the field names (the home folder when it names none). And the
// choosers for pictures to convert (Ctrl+O, Ctrl+Shift+O).
#pragma once

#include <string>
#include <vector>

#include <gtk/gtk.h>

namespace corvanta {

// The chosen folder, ending in "/", replaces the field's text; Cancel
// leaves it as it was.
void ChooseOutputFolder(GtkWindow* parent, GtkEntry* field);

// What to convert: several files, or one folder (GTK 3's chooser offers
// both in no single mode). The chosen names in the file system's encoding,
// in the chooser's order; empty when cancelled.
enum class InputChoice { kFiles, kFolder };
std::vector<std::string> ChooseInputsToConvert(GtkWindow* parent, InputChoice choice);

}  // namespace corvanta
