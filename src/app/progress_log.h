// Line operations on the progress log (a GtkTextView). Lines count from 0.
#pragma once

#include <string_view>

#include <gtk/gtk.h>

namespace corvanta {

void SetLogText(GtkTextView* log, std::string_view text);

// Adds a line at index: -1 or any index at or past the last line appends
// it at the end (in an empty log it becomes the only line); a smaller index
// inserts it before that line.
void AddLogLine(GtkTextView* log, int index, std::string_view text);

// Replaces the characters of line index (not its line feed); an index
// outside the log changes nothing.
void ReplaceLogLine(GtkTextView* log, int index, std::string_view text);

int LogLineCount(GtkTextView* log);

// Moves the "end_mark" to the end of the text and scrolls it into view.
void ScrollLogToEnd(GtkTextView* log);

}  // namespace corvanta
