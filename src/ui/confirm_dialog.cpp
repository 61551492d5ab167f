#include "ui/confirm_dialog.h"

#include <gtk/gtk.h>

namespace corvanta {
namespace {

gint RunMessageBox(const char* title, const char* text, GtkButtonsType buttons,
                   GtkWindowPosition position) {
    GtkWidget* dialog =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, buttons, "%s", text);
    if (dialog == nullptr) {
        return GTK_RESPONSE_NONE;
    }
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    gtk_window_set_position(GTK_WINDOW(dialog), position);
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer;
}

}  // namespace

bool AskYesNo(const char* title, const char* text) {
    // Without a parent there is nothing to centre on but the screen.
    return RunMessageBox(title, text, GTK_BUTTONS_YES_NO, GTK_WIN_POS_CENTER) == GTK_RESPONSE_YES;
}

void ShowNotice(const char* title, const char* text) {
    RunMessageBox(title, text, GTK_BUTTONS_OK, GTK_WIN_POS_NONE);
}

void CloseOpenDialogs() {
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        if (GTK_IS_DIALOG(item->data)) {
            gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_DELETE_EVENT);
        }
    }
    g_list_free(windows);
}

}  // namespace corvanta
