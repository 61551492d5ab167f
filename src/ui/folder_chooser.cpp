#include "ui/folder_chooser.h"

#include <string>

#include "common/i18n.h"

namespace corvanta {

void ChooseOutputFolder(GtkWindow* parent, GtkEntry* field) {
    std::string start = gtk_entry_get_text(field);
    if (start.empty()) {
        const char* home = g_getenv("HOME");
        start = home != nullptr ? home : g_get_home_dir();
        start.push_back('/');
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "", parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, g_dgettext(kGtkTextDomain, "_Cancel"),
        GTK_RESPONSE_CANCEL, g_dgettext(kGtkTextDomain, "_Select"), GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (gchar* folder = g_filename_from_utf8(start.c_str(), -1, nullptr, nullptr, nullptr)) {
        gtk_file_chooser_set_current_folder(chooser, folder);
        g_free(folder);
    }

    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* chosen = gtk_file_chooser_get_filename(chooser);
        gchar* text =
            chosen != nullptr ? g_filename_to_utf8(chosen, -1, nullptr, nullptr, nullptr) : nullptr;
        if (text != nullptr) {
            // The worker puts folder and file name together as they are.
            std::string folder = text;
            if (folder.empty() || folder.back() != '/') {
                folder.push_back('/');
            }
            gtk_entry_set_text(field, folder.c_str());
        }
        g_free(text);
        g_free(chosen);
    }
    gtk_widget_destroy(dialog);
}

std::vector<std::string> ChooseInputsToConvert(GtkWindow* parent, InputChoice choice) {
    const bool folder = choice == InputChoice::kFolder;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        folder ? _("Convert a folder") : _("Convert files"), parent,
        folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
        g_dgettext(kGtkTextDomain, "_Cancel"), GTK_RESPONSE_CANCEL, _("_Convert"),
        GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, folder ? FALSE : TRUE);
    std::vector<std::string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* item = names; item != nullptr; item = item->next) {
            chosen.emplace_back(static_cast<const char*>(item->data));
        }
        g_slist_free_full(names, g_free);
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace corvanta
