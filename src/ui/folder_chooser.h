// The output folder's "..." button: GTK's folder chooser, started at the
// folder the field names (the home folder when it names none).
#pragma once

#include <gtk/gtk.h>

namespace corvanta {

// The chosen folder, ending in "/", replaces the field's text; Cancel
// leaves it as it was.
void ChooseOutputFolder(GtkWindow* parent, GtkEntry* field);

}  // namespace corvanta
