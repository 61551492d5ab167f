#include "ui/confirm_dialog.h"

#include <gtk/gtk.h>

namespace corvanta {

bool AskYesNo(const char* title, const char* text) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                               GTK_BUTTONS_YES_NO, "%s", text);
    if (dialog == nullptr) {
        return false;
    }
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    // Without a parent there is nothing to centre on but the screen.
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer == GTK_RESPONSE_YES;
}

}  // namespace corvanta
