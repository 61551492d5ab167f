// The window program's composition: one instance, owned by the entry point.
// It holds each room's part (the scheme model, the editor, the preview, the
// clipboard exchange, the output fields, the batch session) and the
// widgets; app/ decides who holds which part and who is told about what.
// Everything in it belongs to the window thread unless marked otherwise.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/batch_controller.h"
#include "common/gobject_ptr.h"
#include "common/pixbuf_ptr.h"
#include "ui/click_gesture.h"
#include "ui/clipboard_exchange.h"
#include "ui/drawing_canvas.h"
#include "ui/lifetime.h"
#include "ui/owned_toplevel.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"
#include "ui/scheme_model.h"
#include "ui/user_presets.h"

namespace corvanta {

// The images built into the program (decoded from the GResource bundle).
struct EmbeddedImages {
    PixbufPtr defaultPreview;  // 256 x 192 RGB
    PixbufPtr previewFrame;    // 256 x 192 RGB
    PixbufPtr dropHint;        // 319 x 25 RGBA
    PixbufPtr helpIcon;        // 24 x 24 RGBA
    PixbufPtr infoIcon;        // 24 x 24 RGBA
    PixbufPtr appIcon;         // 192 x 192
    PixbufPtr appIconSmall;    // 96 x 96, bilinear, for the credits window
};

// The device scale the embedded images' @2x versions (638 x 50 and
// 48 x 48, see embedded_images.h) are drawn for.
constexpr int kFineImageScale = 2;

// Every widget of the main window. The window owns them; these are borrowed.
struct MainWidgets {
    GtkWidget* mainWindow = nullptr;
    GtkWidget* root = nullptr;  // GtkLayout: places children without asking for their extent
    GtkWidget* progressLogScroll = nullptr;
    GtkWidget* progressLog = nullptr;  // GtkTextView
    DrawingCanvas dropHint;
    GtkWidget* outputPanel = nullptr;  // GtkFixed
    GtkWidget* outputFolderLabel = nullptr;
    GtkWidget* outputFolderField = nullptr;
    GtkWidget* browseButton = nullptr;
    GtkWidget* maxSizeLabel = nullptr;
    GtkWidget* maxWidthField = nullptr;
    GtkWidget* sizeSeparatorLabel = nullptr;
    GtkWidget* maxHeightField = nullptr;
    GtkWidget* jpegQualityLabel = nullptr;
    GtkWidget* jpegQualityCombo = nullptr;
    GtkWidget* schemePanel = nullptr;  // GtkEventBox with the panel colour
    GtkWidget* schemeFixed = nullptr;  // its GtkFixed
    GtkWidget* previewFrame = nullptr;
    DrawingCanvas previewCanvas;
    GtkWidget* paletteFrame = nullptr;
    DrawingCanvas paletteCanvas;
    GtkWidget* redField = nullptr;  // GtkSpinButton
    GtkWidget* greenField = nullptr;
    GtkWidget* blueField = nullptr;
    GtkWidget* presetListScroll = nullptr;
    GtkWidget* presetList = nullptr;  // GtkTreeView over a one-column GtkListStore
    DrawingCanvas swatchRow;
    GtkWidget* stopButton = nullptr;
    DrawingCanvas thumbnailCanvas;
    GtkWidget* helpIcon = nullptr;  // GtkEventBox around a GtkImage
    GtkWidget* infoIcon = nullptr;
    double textScale = 1.0;  // the layout's factor, see TextScaleOf
};

// The clicks of the widgets that are not buttons.
struct ClickBindings {
    ClickBinding swatchRow;
    ClickBinding palette;
    ClickBinding preview;
    ClickBinding helpIcon;
    ClickBinding infoIcon;
};

// Keyboard shortcuts of the main window carry a number: Ctrl+R is 99,
// Ctrl+1 .. Ctrl+8 are 100 .. 107 and Ctrl+9 is 108.
constexpr int kShortcutRandomColor = 99;
constexpr int kShortcutFirstUserPreset = 100;
constexpr int kShortcutPaste = 108;
constexpr int kShortcutCount = kShortcutPaste - kShortcutRandomColor + 1;

struct AppState;
struct ShortcutBinding {
    AppState* state = nullptr;
    int number = 0;
};

// The window's other keys: F1, Ctrl+Q, Ctrl+O, Ctrl+Shift+O and Ctrl+?.
enum class WindowCommand { kHelp, kClose, kConvertFiles, kConvertFolder, kShortcuts };
constexpr int kWindowCommandCount = 5;
struct CommandBinding {
    AppState* state = nullptr;
    WindowCommand command = WindowCommand::kHelp;
};

struct AppState {
    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    std::string programDirectory;  // ends with '/'
    EmbeddedImages images;
    MainWidgets widgets;
    GObjectPtr<GtkCssProvider> css;
    GObjectPtr<GtkAccelGroup> accelerators;
    std::array<ShortcutBinding, kShortcutCount> shortcuts{};
    std::array<CommandBinding, kWindowCommandCount> commands{};
    ClickBindings clicks;
    // The help and credits windows, each open at most once.
    OwnedToplevel helpWindow;
    OwnedToplevel creditsWindow;
    OwnedToplevel shortcutsWindow;

    // The scheme being edited, and the parts that show or change it; wired
    // together by ConnectParts once the widgets exist.
    SchemeModel scheme;
    SchemeEditor editor;
    PreviewState preview;
    ClipboardExchange clipboard;
    OutputFields output;
    PresetStoreSession presetStore;  // Corvanta.dat and the writes on their way to it

    BatchController batch;                // the conversion worker and its progress
    bool closeRequested = false;          // the main window asked to close
    std::vector<std::string> startFiles;  // named on the command line, handed over once shown
    Lifetime<AppState> lifetime{this};    // last: gone before any other part
};

// Hands each part the widgets and the other parts it works with, and tells
// the preview and the editor about every change of the scheme. Once, after
// the widgets are created.
void ConnectParts(AppState& state);

}  // namespace corvanta
