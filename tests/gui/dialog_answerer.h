// Answers the program's modal message dialogs from inside their own nested
// main loop, the way a user would, and records what each one showed.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtk/gtk.h>

namespace corvanta::testing {

class DialogAnswerer {
  public:
    struct Seen {
        std::string title;
        std::string text;
        GtkMessageType type = GTK_MESSAGE_OTHER;
        bool modal = false;
        bool hasParent = true;
    };

    // Answers every message dialog titled title with response while this
    // object lives; GTK_RESPONSE_DELETE_EVENT closes the dialog instead.
    DialogAnswerer(std::string title, GtkResponseType response)
        : title_(std::move(title)), anyTitle_(false), response_(response) {
        source_ = g_timeout_add(kPollMs, &DialogAnswerer::Poll, this);
    }
    // Answers every message dialog, whatever its title, with OK.
    DialogAnswerer() : anyTitle_(true), response_(GTK_RESPONSE_OK) {
        source_ = g_timeout_add(kPollMs, &DialogAnswerer::Poll, this);
    }
    ~DialogAnswerer() { g_source_remove(source_); }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    const std::vector<Seen>& Answered() const { return seen_; }

  private:
    static constexpr guint kPollMs = 20;

    static gboolean Poll(gpointer self) {
        static_cast<DialogAnswerer*>(self)->AnswerOpenDialogs();
        return G_SOURCE_CONTINUE;
    }

    void AnswerOpenDialogs() {
        GList* windows = gtk_window_list_toplevels();
        for (GList* item = windows; item != nullptr; item = item->next) {
            GtkWidget* widget = GTK_WIDGET(item->data);
            const char* title = gtk_window_get_title(GTK_WINDOW(widget));
            if (!GTK_IS_MESSAGE_DIALOG(widget) || !gtk_widget_get_mapped(widget) ||
                (!anyTitle_ && (title == nullptr || title_ != title)) ||
                g_object_get_data(G_OBJECT(widget), kAnsweredKey) != nullptr) {
                continue;
            }
            Seen seen;
            seen.title = title != nullptr ? title : "";
            gchar* text = nullptr;
            GtkMessageType type = GTK_MESSAGE_OTHER;
            g_object_get(widget, "text", &text, "message-type", &type, nullptr);
            seen.text = text != nullptr ? text : "";
            g_free(text);
            seen.type = type;
            seen.modal = gtk_window_get_modal(GTK_WINDOW(widget)) != FALSE;
            seen.hasParent = gtk_window_get_transient_for(GTK_WINDOW(widget)) != nullptr;
            seen_.push_back(seen);
            g_object_set_data(G_OBJECT(widget), kAnsweredKey, GINT_TO_POINTER(1));
            if (response_ == GTK_RESPONSE_DELETE_EVENT) {
                gtk_window_close(GTK_WINDOW(widget));
            } else {
                gtk_dialog_response(GTK_DIALOG(widget), response_);
            }
        }
        g_list_free(windows);
    }

    static constexpr const char* kAnsweredKey = "corvanta-test-answered";
    std::string title_;
    bool anyTitle_;
    GtkResponseType response_;
    guint source_ = 0;
    std::vector<Seen> seen_;
};

}  // namespace corvanta::testing
