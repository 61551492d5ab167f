#include "app/progress_log.h"

#include <string>

namespace corvanta {
namespace {

constexpr const char* kEndMark = "end_mark";

int Length(std::string_view text) {
    return static_cast<int>(text.size());
}

}  // namespace

void SetLogText(GtkTextView* log, std::string_view text) {
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(log), text.data(), Length(text));
}

int LogLineCount(GtkTextView* log) {
    return gtk_text_buffer_get_line_count(gtk_text_view_get_buffer(log));
}

void AddLogLine(GtkTextView* log, int index, std::string_view text) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(log);
    if (gtk_text_buffer_get_char_count(buffer) == 0) {
        SetLogText(log, text);
        return;
    }
    const int lines = gtk_text_buffer_get_line_count(buffer);
    GtkTextIter at;
    if (index < 0 || index >= lines - 1) {
        std::string line = "\n";
        line.append(text);
        gtk_text_buffer_get_end_iter(buffer, &at);
        gtk_text_buffer_insert(buffer, &at, line.data(), Length(line));
        return;
    }
    std::string line(text);
    line.push_back('\n');
    gtk_text_buffer_get_iter_at_line(buffer, &at, index);
    gtk_text_buffer_insert(buffer, &at, line.data(), Length(line));
}

void ReplaceLogLine(GtkTextView* log, int index, std::string_view text) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(log);
    if (index < 0 || index >= gtk_text_buffer_get_line_count(buffer)) {
        return;
    }
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_iter_at_line(buffer, &start, index);
    end = start;
    if (!gtk_text_iter_ends_line(&end)) {
        gtk_text_iter_forward_to_line_end(&end);
    }
    gtk_text_buffer_delete(buffer, &start, &end);
    gtk_text_buffer_insert(buffer, &start, text.data(), Length(text));
}

void ScrollLogToEnd(GtkTextView* log) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(log);
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    GtkTextMark* mark = gtk_text_buffer_get_mark(buffer, kEndMark);
    if (mark == nullptr) {
        mark = gtk_text_buffer_create_mark(buffer, kEndMark, &end, FALSE);
    } else {
        gtk_text_buffer_move_mark(buffer, mark, &end);
    }
    gtk_text_view_scroll_mark_onscreen(log, mark);
}

}  // namespace corvanta
