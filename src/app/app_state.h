// The program's state: one instance, owned by the entry point and handed to
// every handler through its user_data. Everything in it belongs to the
// window thread unless marked otherwise.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "app/batch_session.h"
#include "batch/image_loader.h"  // PixbufPtr
#include "batch/shared_gradient.h"
#include "common/gobject_ptr.h"
#include "scheme/color_scheme.h"
#include "scheme/gradient_table.h"
#include "ui/drawing_canvas.h"
#include "ui/owned_toplevel.h"

namespace corvanta {

// Returns a uniform integer in 0 .. 16777215 (a random 24-bit colour).
using RandomSource = std::function<std::uint32_t()>;

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
};

// A left or right click is raised on release, and only on the widget that
// received the press; this remembers the pressed button per widget.
struct ClickTracker {
    guint pressedButton = 0;
};

struct ClickTrackers {
    ClickTracker swatchRow;
    ClickTracker palette;
    ClickTracker preview;
    ClickTracker helpIcon;
    ClickTracker infoIcon;
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

struct PreviewState {
    PixbufPtr source;         // previewSource: 256 x 192 RGB, never mapped
    unsigned latestLoad = 0;  // number of the newest preview drop
    int pendingLoads = 0;     // preview loads still running on a helper thread
};

struct AppState {
    // Work finishing on another thread (a preview load) checks this before
    // touching the state: it expires when the state is destroyed.
    std::shared_ptr<AppState*> aliveToken;
    std::string programDirectory;  // ends with '/'
    EmbeddedImages images;
    MainWidgets widgets;
    GObjectPtr<GtkCssProvider> css;
    GObjectPtr<GtkAccelGroup> accelerators;
    std::array<ShortcutBinding, kShortcutCount> shortcuts{};
    ClickTrackers clicks;
    // The help and credits windows, each open at most once, and whether a
    // clipboard paste is waiting for the clipboard's owner or the user.
    OwnedToplevel helpWindow;
    OwnedToplevel creditsWindow;
    bool pasteInProgress = false;

    // The scheme being edited and everything derived from it.
    ColorScheme scheme{};
    int selectedSlot = 0;
    PresetTable presets = MakePresetTable();
    // The gradient table the conversion worker maps with (it takes a
    // snapshot under a lock for each image), and the window thread's own
    // copy of it for the preview. Both change only through
    // RebuildGradientTable.
    SharedGradientTable sharedGradient;
    GradientTable gradient{};
    RandomSource random;

    PreviewState preview;
    BatchSession batch;           // the conversion worker and its progress
    bool closeRequested = false;  // the main window asked to close
};

// Rebuilds the gradient table from the current scheme.
void RebuildGradientTable(AppState& state);

// The table the preview maps with.
const GradientTable& CurrentGradient(const AppState& state);

}  // namespace corvanta
