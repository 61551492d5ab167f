#include "ui/shortcuts_window.h"

#include <array>

#include "common/i18n.h"

namespace corvanta {
namespace {

struct ShortcutLine {
    const char* accelerator;
    const char* title;
};

GtkWidget* Group(const char* title, const ShortcutLine* lines, std::size_t count) {
    GtkWidget* group = GTK_WIDGET(g_object_new(GTK_TYPE_SHORTCUTS_GROUP, "title", title, nullptr));
    for (std::size_t i = 0; i < count; ++i) {
        GtkWidget* line =
            GTK_WIDGET(g_object_new(GTK_TYPE_SHORTCUTS_SHORTCUT, "accelerator",
                                    lines[i].accelerator, "title", lines[i].title, nullptr));
        gtk_container_add(GTK_CONTAINER(group), line);
    }
    return group;
}

}  // namespace

void ShowShortcutsWindow(OwnedToplevel& holder, GtkWindow* parent) {
    holder.Close();
    const std::array<ShortcutLine, 6> window{{
        {"<ctrl>o", _("Convert files")},
        {"<ctrl><shift>o", _("Convert a folder")},
        {"F1", _("Help")},
        {"<ctrl>question", _("Keyboard shortcuts")},
        {"Escape <ctrl>w", _("Close the help or credits window")},
        {"<ctrl>q", _("Close the main window")},
    }};
    const std::array<ShortcutLine, 8> scheme{{
        {"Tab <shift>Tab", _("Move between controls")},
        {"Up Down", _("Choose a preset")},
        {"Left Right Up Down", _("Move in the palette")},
        {"Return space", _("Pick the palette colour; open a slot's colour chooser")},
        {"Left Right", _("Select a slot in the swatch row")},
        {"Delete", _("Clear the selected slot")},
        {"<ctrl>r", _("Random colour for the selected slot")},
        {"<ctrl>9", _("Paste a scheme")},
    }};
    const std::array<ShortcutLine, 1> presets{{
        {"<ctrl>1...<ctrl>8", _("Store the scheme as user preset 1 to 8")},
    }};
    GtkWidget* section = GTK_WIDGET(
        g_object_new(GTK_TYPE_SHORTCUTS_SECTION, "section-name", "main", "visible", TRUE, nullptr));
    gtk_container_add(GTK_CONTAINER(section), Group(_("Window"), window.data(), window.size()));
    gtk_container_add(GTK_CONTAINER(section), Group(_("Scheme"), scheme.data(), scheme.size()));
    gtk_container_add(GTK_CONTAINER(section),
                      Group(_("User presets"), presets.data(), presets.size()));
    GtkWidget* shortcuts = GTK_WIDGET(
        g_object_new(GTK_TYPE_SHORTCUTS_WINDOW, "modal", TRUE, "transient-for", parent, nullptr));
    gtk_container_add(GTK_CONTAINER(shortcuts), section);
    holder.Replace(shortcuts);
    gtk_widget_show_all(shortcuts);
}

}  // namespace corvanta
