// What screen readers hear of the main window: a role and a name for every
// widget the user works with, and descriptions that follow the state (the
// selected slot and its colour, the chosen preset). The preview describes
// its own source (see preview_image.h).
#pragma once

#include "app/app_state.h"

namespace corvanta {

// Roles, names and fixed descriptions; once, after the widgets exist.
void NameMainWidgets(MainWidgets& widgets);

// The preset rows' names, without the blanks that pad the list's text.
void NamePresetRows(GtkWidget* presetList, const PresetTable& presets);

// The descriptions of the swatch row and the preset list for the model as
// it stands.
void DescribeScheme(MainWidgets& widgets, const SchemeModel& model);

}  // namespace corvanta
