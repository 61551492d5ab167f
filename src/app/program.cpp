#include "app/program.h"

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <utility>

#include <gtk/gtk.h>

#include "app/accessible_names.h"
#include "app/batch_controller.h"
#include "app/close_signals.h"
#include "app/drop_intake.h"
#include "app/embedded_images.h"
#include "app/main_window.h"
#include "app/routing.h"
#include "common/i18n.h"
#include "common/program_directory.h"
#include "install_names.h"
#include "scheme/preset_store.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"
#include "ui/signal_block.h"
#include "ui/user_presets.h"

namespace corvanta {
namespace {

constexpr int kFirstPresetRow = 0;
// How long the close waits for the store's writes: longer than a write
// waits for another program's, short enough that a hung file system does
// not keep the program from ending.
constexpr std::chrono::milliseconds kLastWriteLimit{5000};

void SelectFirstPreset(AppState& state) {
    GtkTreeSelection* selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(state.widgets.presetList));
    const ScopedSignalBlock block(selection, "changed", &state.editor);
    GtkTreePath* path = gtk_tree_path_new_from_indices(kFirstPresetRow, -1);
    gtk_tree_selection_select_path(selection, path);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(state.widgets.presetList), path, nullptr, FALSE);
    gtk_tree_path_free(path);
}

std::string StorePath(const std::string& programDirectory) {
    return PresetStorePath(
        {.programDirectory = programDirectory,
         .installedProgramDirectory = std::string(CORVANTA_INSTALLED_BINDIR) + "/",
         .configDirectory = UserConfigDirectory()});
}

// After the map itself: a message box about the drop comes up over a
// window already on the screen. Shut-down, once begun, takes no drop.
void HandOverFiles(AppState& state, std::vector<std::string> files) {
    WhenIdle(state.lifetime.Watch(), [files = std::move(files)](AppState& owner) {
        if (!owner.closeRequested && !owner.presetStore.closing) {
            RouteFileDrop(owner, DropTarget::kBatch, files);
        }
    });
}

gboolean OnFirstMap(GtkWidget* window, GdkEvent*, gpointer data) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(OnFirstMap), data);
    AppState& state = *static_cast<AppState*>(data);
    HandOverFiles(state, std::exchange(state.startFiles, {}));
    return FALSE;
}

}  // namespace

std::vector<std::string> CommandLineFiles(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        GFile* file = g_file_new_for_commandline_arg(argv[i]);
        if (gchar* path = g_file_get_path(file)) {
            files.emplace_back(path);
            g_free(path);
        }
        g_object_unref(file);
    }
    return files;
}

void HandOverWhenShown(AppState& state, std::vector<std::string> files) {
    if (gtk_widget_get_mapped(state.widgets.mainWindow)) {
        HandOverFiles(state, std::move(files));
    } else {
        state.startFiles = std::move(files);
        g_signal_connect(state.widgets.mainWindow, "map-event", G_CALLBACK(OnFirstMap), &state);
    }
}

std::unique_ptr<AppState> StartProgram(const char* argv0) {
    auto state = std::make_unique<AppState>();
    if (!LoadEmbeddedImages(state->images)) {
        std::fprintf(stderr, "corvanta: the built-in images cannot be decoded\n");
        return nullptr;
    }
    state->preview.source.reset(gdk_pixbuf_copy(state->images.defaultPreview.get()));
    state->programDirectory = FindProgramDirectory(argv0);
    state->presetStore.path = StorePath(state->programDirectory);
    state->editor.random = ClockSeededRandom();

    if (!state->preview.source || !CreateMainWindow(*state)) {
        std::fprintf(stderr, "corvanta: out of memory while building the window\n");
        return nullptr;
    }
    ConnectParts(*state);
    SetBatchLayout(state->widgets, false);
    LayoutMainWindow(state->widgets, MinWindowWidth(state->widgets.textScale),
                     MinWindowHeight(state->widgets.textScale));
    DrawPalette(state->widgets.paletteCanvas);
    FillPresetList(state->widgets.presetList, state->scheme.Presets());
    NameMainWidgets(state->widgets);
    NamePresetRows(state->widgets.presetList, state->scheme.Presets());
    gtk_combo_box_set_active(GTK_COMBO_BOX(state->widgets.jpegQualityCombo), kHighQualityIndex);
    SelectFirstPreset(*state);
    ApplySelectedPreset(state->editor);
    RegisterDropTargets(*state);
    InstallShortcuts(*state);
    BindWidgetEvents(*state);
    LoadPresetStore(state->presetStore, state->output, state->scheme.Presets());
    BindWindowEvents(*state);
    return state;
}

void ShowMainWindow(AppState& state) {
    gtk_widget_show(state.widgets.mainWindow);
    gtk_window_present(GTK_WINDOW(state.widgets.mainWindow));
    gtk_widget_grab_focus(state.widgets.schemePanel);
}

void ShutDown(AppState& state) {
    state.batch.shared.stop.store(true);
    state.presetStore.closing = true;
    SavePresetStore(state.presetStore, state.output);
    state.batch.WaitForWorkerAtShutDown();
    if (state.widgets.mainWindow != nullptr) {
        // Gone from the screen while the last write ends, and no more input.
        gtk_widget_hide(state.widgets.mainWindow);
    }
    WaitForPresetStore(state.presetStore, kLastWriteLimit);
    if (state.widgets.mainWindow != nullptr) {
        if (state.css) {
            gtk_style_context_remove_provider_for_screen(
                gtk_widget_get_screen(state.widgets.mainWindow),
                GTK_STYLE_PROVIDER(state.css.get()));
        }
        gtk_widget_destroy(state.widgets.mainWindow);
        state.widgets.mainWindow = nullptr;
    }
}

int RunProgram(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    InitTranslations();
    // A full disk or a file-size limit fails the one output being written
    // (its write returns EFBIG) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // One name for the program, its window class and its icon: the desktop
    // ties the window to its launcher entry by it.
    g_set_prgname(CORVANTA_APP_ID);
    gtk_init(&argc, &argv);
    // Numbers the program writes or parses keep a decimal point whatever
    // the user's language.
    std::setlocale(LC_NUMERIC, "C");
    gdk_set_program_class(CORVANTA_APP_ID);
    gtk_window_set_default_icon_name(CORVANTA_APP_ID);
    std::unique_ptr<AppState> state = StartProgram(argc > 0 ? argv[0] : nullptr);
    if (!state) {
        return 1;
    }
    const CloseSignals signals(*state);
    const DisplayLossSave displayLoss(*state);
    std::vector<std::string> files = CommandLineFiles(argc, argv);
    if (!files.empty()) {
        HandOverWhenShown(*state, std::move(files));
    }
    ShowMainWindow(*state);
    gtk_main();
    ShutDown(*state);
    return 0;
}

}  // namespace corvanta
