#include "ui/icon_button.h"

#include <gtk/gtk-a11y.h>

#include "common/i18n.h"
#include "ui/keyboard_focus.h"

namespace corvanta {
namespace {

// ---- the widget: an event box with an action signal -------------------------------

struct IconButton {
    GtkEventBox parent;
};
struct IconButtonClass {
    GtkEventBoxClass parent_class;
};

// ---- its accessible: the event box's, with one action ------------------------------

struct IconButtonAccessible {
    GtkContainerAccessible parent;
};
struct IconButtonAccessibleClass {
    GtkContainerAccessibleClass parent_class;
};

gboolean DoAction(AtkAction* action, gint index) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (index != 0 || widget == nullptr || !gtk_widget_is_sensitive(widget)) {
        return FALSE;
    }
    g_signal_emit_by_name(widget, kIconButtonActivate);
    return TRUE;
}

gint ActionCount(AtkAction*) {
    return 1;
}

const gchar* ActionName(AtkAction*, gint index) {
    return index == 0 ? "click" : nullptr;
}

const gchar* ActionLocalizedName(AtkAction*, gint index) {
    return index == 0 ? _("Click") : nullptr;
}

void InitAction(gpointer interface, gpointer) {
    auto* iface = static_cast<AtkActionIface*>(interface);
    iface->do_action = DoAction;
    iface->get_n_actions = ActionCount;
    iface->get_name = ActionName;
    iface->get_localized_name = ActionLocalizedName;
}

GType IconButtonAccessibleType() {
    static const GType type = [] {
        const GType made = g_type_register_static_simple(
            GTK_TYPE_CONTAINER_ACCESSIBLE, "CorvantaIconButtonAccessible",
            sizeof(IconButtonAccessibleClass), nullptr, sizeof(IconButtonAccessible), nullptr,
            static_cast<GTypeFlags>(0));
        const GInterfaceInfo action{InitAction, nullptr, nullptr};
        g_type_add_interface_static(made, ATK_TYPE_ACTION, &action);
        return made;
    }();
    return type;
}

void InitIconButtonClass(gpointer klass, gpointer) {
    auto* widgetClass = GTK_WIDGET_CLASS(klass);
    widgetClass->activate_signal =
        g_signal_new(kIconButtonActivate, G_TYPE_FROM_CLASS(klass),
                     static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION), 0, nullptr,
                     nullptr, nullptr, G_TYPE_NONE, 0);
    gtk_widget_class_set_accessible_type(widgetClass, IconButtonAccessibleType());
    gtk_widget_class_set_accessible_role(widgetClass, ATK_ROLE_PUSH_BUTTON);
}

GType IconButtonType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_EVENT_BOX, "CorvantaIconButton", sizeof(IconButtonClass), InitIconButtonClass,
        sizeof(IconButton), nullptr, static_cast<GTypeFlags>(0));
    return type;
}

}  // namespace

GtkWidget* NewIconButton(GtkWidget* picture) {
    GtkWidget* box = GTK_WIDGET(g_object_new(IconButtonType(), nullptr));
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    gtk_container_add(GTK_CONTAINER(box), picture);
    gtk_widget_add_events(box, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    MakeFocusableWithMark(box);
    return box;
}

}  // namespace corvanta
