// A secondary top-level window (help, credits) that the program keeps at most
// once. The window may go away on its own (its close button destroys it);
// the holder notices and forgets it, and destroys what is still open when the
// holder itself goes.
#pragma once

#include <gtk/gtk.h>

namespace corvanta {

class OwnedToplevel {
  public:
    OwnedToplevel() = default;
    ~OwnedToplevel() { Close(); }
    OwnedToplevel(const OwnedToplevel&) = delete;
    OwnedToplevel& operator=(const OwnedToplevel&) = delete;

    // The open window, or null.
    GtkWidget* Get() const { return window_; }

    // Destroys the window held so far, then holds window (may be null).
    void Replace(GtkWidget* window) {
        Close();
        window_ = window;
        if (window_ != nullptr) {
            destroyHandler_ =
                g_signal_connect(window_, "destroy", G_CALLBACK(&OwnedToplevel::OnDestroy), this);
        }
    }

    // Destroys the open window, if any.
    void Close() {
        GtkWidget* window = window_;
        if (window == nullptr) {
            return;
        }
        g_signal_handler_disconnect(window, destroyHandler_);
        window_ = nullptr;
        destroyHandler_ = 0;
        gtk_widget_destroy(window);
    }

  private:
    static void OnDestroy(GtkWidget*, gpointer self) {
        auto* holder = static_cast<OwnedToplevel*>(self);
        holder->window_ = nullptr;
        holder->destroyHandler_ = 0;
    }

    GtkWidget* window_ = nullptr;
    gulong destroyHandler_ = 0;
};

}  // namespace corvanta
