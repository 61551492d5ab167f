#include "app/routing.h"

#include <algorithm>
#include <array>

#include "app/batch_controller.h"
#include "app/main_window.h"
#include "ui/clipboard_exchange.h"
#include "ui/confirm_dialog.h"
#include "ui/editor_keys.h"
#include "ui/folder_chooser.h"
#include "ui/help_windows.h"
#include "ui/icon_button.h"
#include "ui/keyboard_focus.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"
#include "ui/shortcuts_window.h"
#include "ui/user_presets.h"

namespace corvanta {
namespace {

constexpr const char* kUriListTarget = "text/uri-list";

AppState& StateOf(gpointer data) {
    return *static_cast<AppState*>(data);
}

// The editor's widgets report to the editor itself (see SchemeEditor).
SchemeEditor& EditorOf(gpointer data) {
    return *static_cast<SchemeEditor*>(data);
}

// ---- drops -----------------------------------------------------------------

void OnDropReceived(GtkSelectionData* data, AppState& state, DropTarget target) {
    const std::vector<std::string> dropped = DroppedList(data);
    if (!dropped.empty()) {
        RouteFileDrop(state, target, dropped);
    }
}

void OnPreviewDrop(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint, guint,
                   gpointer user) {
    OnDropReceived(data, StateOf(user), DropTarget::kPreview);
}

void OnBatchDrop(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint, guint,
                 gpointer user) {
    OnDropReceived(data, StateOf(user), DropTarget::kBatch);
}

// A text view that goes away with a screen reader's object on it hands its
// drop target list to itself once more; an empty target keeps that quiet.
void OnLogDestroy(GtkWidget* log, gpointer) {
    gtk_drag_dest_set(log, static_cast<GtkDestDefaults>(0), nullptr, 0, GDK_ACTION_COPY);
}

void MakeDropTarget(GtkWidget* widget, GCallback handler, AppState& state) {
    static GtkTargetEntry uriList{const_cast<gchar*>(kUriListTarget), 0, 0};
    gtk_drag_dest_set(widget, GTK_DEST_DEFAULT_ALL, &uriList, 1, GDK_ACTION_COPY);
    g_signal_connect(widget, "drag-data-received", handler, &state);
}

// ---- swatch row, palette, preview, icons ------------------------------------

gboolean OnSwatchMotion(GtkWidget*, GdkEventMotion* event, gpointer user) {
    OnSwatchRowEvent(StateOf(user).editor, {PointerEventKind::kMotion, event->x, event->y});
    return FALSE;
}

gboolean OnSwatchLeave(GtkWidget*, GdkEventCrossing* event, gpointer user) {
    OnSwatchRowEvent(StateOf(user).editor, {PointerEventKind::kLeave, event->x, event->y});
    return FALSE;
}

// Wires the clicks of the widgets that are not buttons to what they do.
void BindClickActions(AppState& state) {
    ClickBindings& clicks = state.clicks;
    SchemeEditor& editor = state.editor;
    clicks.swatchRow.everyRelease = true;
    clicks.swatchRow.onPress = [&editor](double x, double y) {
        OnSwatchRowEvent(editor, {PointerEventKind::kOther, x, y});
    };
    clicks.swatchRow.onRelease = [&editor](guint button, double x, double y) {
        const PointerEventKind kind = button == kLeftButton    ? PointerEventKind::kLeftClick
                                      : button == kRightButton ? PointerEventKind::kRightClick
                                                               : PointerEventKind::kOther;
        OnSwatchRowEvent(editor, {kind, x, y});
    };
    clicks.palette.onRelease = [&editor](guint button, double x, double y) {
        if (button == kLeftButton) {
            OnPaletteClick(editor, x, y);
        }
    };
    clicks.preview.whenInside = true;
    clicks.preview.onRelease = [&preview = state.preview](guint button, double, double) {
        if (button == kRightButton) {
            RestoreDefaultPreview(preview);
        }
    };
    clicks.helpIcon.whenInside = true;
    clicks.helpIcon.onRelease = [&help = state.helpWindow](guint button, double, double) {
        if (button == kLeftButton) {
            ShowHelpWindow(help);
        }
    };
    clicks.infoIcon.whenInside = true;
    clicks.infoIcon.onRelease = [&state](guint button, double, double) {
        if (button == kLeftButton) {
            ShowCreditsWindow(state.creditsWindow, state.images.appIconSmall.get());
        } else if (button == kRightButton) {
            CopySchemeToClipboard(state.clipboard);
        }
    };
}

void OnBrowseClicked(GtkButton*, gpointer user) {
    MainWidgets& w = StateOf(user).widgets;
    ChooseOutputFolder(GTK_WINDOW(w.mainWindow), GTK_ENTRY(w.outputFolderField));
}
void OnStopClicked(GtkButton*, gpointer user) {
    StateOf(user).batch.RequestStop();
}

// ---- colour fields ----------------------------------------------------------

int ClampedFieldNumber(GtkSpinButton* spin) {
    return ReadColorField(gtk_entry_get_text(GTK_ENTRY(spin))).value;
}

void OnColorFieldChanged(GtkEditable* editable, gpointer user) {
    SchemeEditor& editor = EditorOf(user);
    const auto* widget = GTK_WIDGET(editable);
    for (ColorField field : {ColorField::kRed, ColorField::kGreen, ColorField::kBlue}) {
        if (widget == ColorFieldWidget(editor, field)) {
            OnComponentEdited(editor, field);
        }
    }
}

// The field reads its text the way every number of the program is read.
gint OnColorFieldInput(GtkSpinButton* spin, gdouble* value, gpointer) {
    *value = ClampedFieldNumber(spin);
    return TRUE;
}

// The spin button rewrites its text from its value after every change of
// the value. A text that already means that value stays as typed ("007",
// an emptied field); only an arrow step writes new digits.
gboolean OnColorFieldOutput(GtkSpinButton* spin, gpointer) {
    const int value = static_cast<int>(gtk_spin_button_get_value(spin));
    return ClampedFieldNumber(spin) == value ? TRUE : FALSE;
}

void BindColorField(GtkWidget* field, SchemeEditor& editor) {
    g_signal_connect(field, "input", G_CALLBACK(OnColorFieldInput), &editor);
    g_signal_connect(field, "output", G_CALLBACK(OnColorFieldOutput), &editor);
    g_signal_connect(field, "changed", G_CALLBACK(OnColorFieldChanged), &editor);
}

// ---- size fields: digits only ----------------------------------------------

void OnSizeFieldInsert(GtkEditable* editable, const gchar* text, gint length, gint* position,
                       gpointer user) {
    const std::string typed =
        length < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(length));
    std::string digits;
    std::copy_if(typed.begin(), typed.end(), std::back_inserter(digits),
                 [](char c) { return c >= '0' && c <= '9'; });
    if (digits == typed) {
        return;  // the entry inserts it as it is, within its maximum length
    }
    g_signal_stop_emission_by_name(editable, "insert-text");
    if (!digits.empty()) {
        g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(OnSizeFieldInsert),
                                        user);
        gtk_editable_insert_text(editable, digits.c_str(), static_cast<gint>(digits.size()),
                                 position);
        g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(OnSizeFieldInsert),
                                          user);
    }
}

// ---- preset list ------------------------------------------------------------

void OnPresetSelectionChanged(GtkTreeSelection*, gpointer user) {
    ApplySelectedPreset(EditorOf(user));
}

gboolean OnPresetListRelease(GtkWidget*, GdkEventButton*, gpointer user) {
    // A click on the row that is already selected applies it again, which
    // discards the edits made since.
    ApplySelectedPreset(EditorOf(user));
    return FALSE;
}

void OnPresetRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer user) {
    ApplySelectedPreset(EditorOf(user));
}

// ---- shortcuts and the window -------------------------------------------------

gboolean OnShortcut(GtkAccelGroup*, GObject*, guint, GdkModifierType, gpointer user) {
    const auto* binding = static_cast<const ShortcutBinding*>(user);
    RouteShortcut(*binding->state, binding->number);
    return TRUE;
}

gboolean OnCommandKey(GtkAccelGroup*, GObject*, guint, GdkModifierType, gpointer user) {
    const auto* binding = static_cast<const CommandBinding*>(user);
    RouteWindowCommand(*binding->state, binding->command);
    return TRUE;
}

void InstallCommandKeys(AppState& state, GtkAccelGroup* group) {
    struct Key {
        guint key;
        GdkModifierType modifiers;
        WindowCommand command;
    };
    constexpr std::array<Key, kWindowCommandCount> kKeys{{
        {GDK_KEY_F1, static_cast<GdkModifierType>(0), WindowCommand::kHelp},
        {GDK_KEY_q, GDK_CONTROL_MASK, WindowCommand::kClose},
        {GDK_KEY_o, GDK_CONTROL_MASK, WindowCommand::kConvertFiles},
        {GDK_KEY_o, static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK),
         WindowCommand::kConvertFolder},
        {GDK_KEY_question, GDK_CONTROL_MASK, WindowCommand::kShortcuts},
    }};
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        CommandBinding& binding = state.commands[i];
        binding = {&state, kKeys[i].command};
        gtk_accel_group_connect(group, kKeys[i].key, kKeys[i].modifiers,
                                static_cast<GtkAccelFlags>(0),
                                g_cclosure_new(G_CALLBACK(OnCommandKey), &binding, nullptr));
    }
}

// Files chosen with Ctrl+O or Ctrl+Shift+O go where a drop on the drop
// area goes, with its refusals.
void ConvertChosen(AppState& state, InputChoice choice) {
    const std::vector<std::string> chosen =
        ChooseInputsToConvert(GTK_WINDOW(state.widgets.mainWindow), choice);
    if (!chosen.empty() && !state.closeRequested) {
        RouteFileDrop(state, DropTarget::kBatch, chosen);
    }
}

gboolean OnWindowConfigure(GtkWidget*, GdkEventConfigure* event, gpointer user) {
    LayoutMainWindow(StateOf(user).widgets, event->width, event->height);
    return FALSE;
}

// The user has come back to the window: the end of a batch is seen.
gboolean OnWindowFocusIn(GtkWidget* window, GdkEventFocus*, gpointer) {
    gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
    return FALSE;
}

gboolean OnWindowDelete(GtkWidget*, GdkEvent*, gpointer user) {
    RequestClose(StateOf(user));
    return TRUE;  // the window stays until the shut-down has run
}

}  // namespace

std::vector<std::string> DroppedList(GtkSelectionData* data) {
    std::vector<std::string> files;
    gchar** uris = data != nullptr ? gtk_selection_data_get_uris(data) : nullptr;
    for (gchar** uri = uris; uri != nullptr && *uri != nullptr; ++uri) {
        gchar* file = g_filename_from_uri(*uri, nullptr, nullptr);
        if (file != nullptr) {
            files.emplace_back(file);
            g_free(file);
        }
    }
    g_strfreev(uris);
    return files;
}

void RequestClose(AppState& state) {
    state.closeRequested = true;
    state.presetStore.closing = true;  // no question or notice opens from here on
    // A dialog still open would keep its own loop, and the program, waiting.
    CloseOpenDialogs();
    if (gtk_main_level() > 0) {
        gtk_main_quit();
    }
}

void RouteShortcut(AppState& state, int number) {
    if (number == kShortcutRandomColor) {
        PickRandomColor(state.editor);
    } else if (number >= kShortcutFirstUserPreset && number < kShortcutPaste) {
        StoreUserPreset(state.scheme, state.presetStore, number - kShortcutRandomColor);
    } else if (number == kShortcutPaste) {
        PasteSchemeFromClipboard(state.clipboard);
    }
}

void RouteWindowCommand(AppState& state, WindowCommand command) {
    switch (command) {
        case WindowCommand::kHelp:
            ShowHelpWindow(state.helpWindow);
            break;
        case WindowCommand::kClose:
            RequestClose(state);
            break;
        case WindowCommand::kConvertFiles:
            ConvertChosen(state, InputChoice::kFiles);
            break;
        case WindowCommand::kConvertFolder:
            ConvertChosen(state, InputChoice::kFolder);
            break;
        case WindowCommand::kShortcuts:
            ShowShortcutsWindow(state.shortcutsWindow, GTK_WINDOW(state.widgets.mainWindow));
            break;
    }
}

void RouteFileDrop(AppState& state, DropTarget target, const std::vector<std::string>& dropped) {
    if (target == DropTarget::kPreview) {
        LoadPreviewImage(state.preview, dropped);
    } else {
        state.batch.HandleDrop(dropped);
    }
}

void RegisterDropTargets(AppState& state) {
    MainWidgets& w = state.widgets;
    MakeDropTarget(w.previewCanvas.area, G_CALLBACK(OnPreviewDrop), state);
    // The text view would refuse a drop where it cannot insert text (it is
    // read-only), so its scrolled window takes the log's drops.
    gtk_drag_dest_unset(w.progressLog);
    g_signal_connect(w.progressLog, "destroy", G_CALLBACK(OnLogDestroy), nullptr);
    MakeDropTarget(w.progressLogScroll, G_CALLBACK(OnBatchDrop), state);
    MakeDropTarget(w.dropHint.area, G_CALLBACK(OnBatchDrop), state);
}

void InstallShortcuts(AppState& state) {
    state.accelerators.reset(gtk_accel_group_new());
    GtkAccelGroup* group = state.accelerators.get();
    for (int i = 0; i < kShortcutCount; ++i) {
        ShortcutBinding& binding = state.shortcuts[static_cast<std::size_t>(i)];
        binding.state = &state;
        binding.number = kShortcutRandomColor + i;
        // 99 is Ctrl+R; 100 .. 108 are the digit keys 1 .. 9.
        const guint key = i == 0 ? GDK_KEY_r : static_cast<guint>(GDK_KEY_1 + (i - 1));
        gtk_accel_group_connect(group, key, GDK_CONTROL_MASK, static_cast<GtkAccelFlags>(0),
                                g_cclosure_new(G_CALLBACK(OnShortcut), &binding, nullptr));
    }
    InstallCommandKeys(state, group);
    gtk_window_add_accel_group(GTK_WINDOW(state.widgets.mainWindow), group);
}

void BindWidgetEvents(AppState& state) {
    MainWidgets& w = state.widgets;
    gtk_widget_add_events(w.swatchRow.area, GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(w.swatchRow.area, "motion-notify-event", G_CALLBACK(OnSwatchMotion), &state);
    g_signal_connect(w.swatchRow.area, "leave-notify-event", G_CALLBACK(OnSwatchLeave), &state);
    BindClickActions(state);
    BindClicks(w.swatchRow.area, state.clicks.swatchRow);
    BindClicks(w.paletteCanvas.area, state.clicks.palette);
    BindClicks(w.previewCanvas.area, state.clicks.preview);
    BindClicks(w.helpIcon, state.clicks.helpIcon);
    BindClicks(w.infoIcon, state.clicks.infoIcon);
    BindClickKeys(w.previewCanvas.area, state.clicks.preview);
    BindClickKeys(w.helpIcon, state.clicks.helpIcon);
    BindClickKeys(w.infoIcon, state.clicks.infoIcon);
    BindActivation(w.helpIcon, kIconButtonActivate, state.clicks.helpIcon);
    BindActivation(w.infoIcon, kIconButtonActivate, state.clicks.infoIcon);
    BindEditorKeys(state.editor);
    g_signal_connect(w.browseButton, "clicked", G_CALLBACK(OnBrowseClicked), &state);
    g_signal_connect(w.stopButton, "clicked", G_CALLBACK(OnStopClicked), &state);

    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(w.presetList));
    SchemeEditor* editor = &state.editor;
    g_signal_connect(selection, "changed", G_CALLBACK(OnPresetSelectionChanged), editor);
    g_signal_connect(w.presetList, "button-release-event", G_CALLBACK(OnPresetListRelease), editor);
    g_signal_connect(w.presetList, "row-activated", G_CALLBACK(OnPresetRowActivated), editor);

    for (GtkWidget* field : {w.redField, w.greenField, w.blueField}) {
        BindColorField(field, *editor);
    }
    for (GtkWidget* field : {w.maxWidthField, w.maxHeightField}) {
        g_signal_connect(field, "insert-text", G_CALLBACK(OnSizeFieldInsert), &state.output);
    }
}

void BindWindowEvents(AppState& state) {
    g_signal_connect(state.widgets.mainWindow, "configure-event", G_CALLBACK(OnWindowConfigure),
                     &state);
    g_signal_connect(state.widgets.mainWindow, "delete-event", G_CALLBACK(OnWindowDelete), &state);
    g_signal_connect(state.widgets.mainWindow, "focus-in-event", G_CALLBACK(OnWindowFocusIn),
                     nullptr);
}

}  // namespace corvanta
