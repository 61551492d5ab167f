// The main window: creating every widget at its place, the layout that
// follows the window size, and switching between editing and batch layouts.
#pragma once

#include "app/app_state.h"
#include "common/i18n.h"
#include "ui/widget_box.h"

namespace corvanta {

constexpr int kMinWindowWidth = 740;
constexpr int kMinWindowHeight = 444;
constexpr int kSchemePanelWidth = 268;
constexpr const char* kWindowTitle = "Corvanta";
// What the drop hint says; in English its embedded bitmap shows it.
constexpr const char* kDropHintText = N_("Drop your image files here");

// Positions in the parent's coordinates. The drawing areas with a sunken
// frame sit at these places; their frame lies one border width outside.
constexpr int kCanvasFrameBorder = 1;
constexpr WidgetBox kProgressLogStartBox{0, 0, 10, 10};  // LayoutMainWindow sizes both
constexpr WidgetBox kOutputPanelStartBox{6, 6, 6, 6};
constexpr WidgetBox kDropHintBox{0, 0, 319, 25};
constexpr WidgetBox kOutputFolderLabelBox{2, 3, 100, 22};
constexpr WidgetBox kOutputFolderFieldBox{98, 0, 312, 22};
constexpr WidgetBox kBrowseButtonBox{416, 0, 40, 22};
constexpr WidgetBox kMaxSizeLabelBox{2, 33, 60, 22};
constexpr WidgetBox kMaxWidthFieldBox{98, 30, 50, 24};
constexpr WidgetBox kSizeSeparatorLabelBox{148, 33, 20, 22};
constexpr WidgetBox kMaxHeightFieldBox{168, 30, 50, 24};
constexpr WidgetBox kJpegQualityLabelBox{270, 33, 85, 22};
constexpr WidgetBox kJpegQualityComboBox{356, 30, 100, 24};
constexpr WidgetBox kPreviewCanvasBox{6, 6, 256, 192};
constexpr WidgetBox kPaletteCanvasBox{6, 294, 168, 96};
constexpr WidgetBox kRedFieldBox{196, 299, 60, 24};
constexpr WidgetBox kGreenFieldBox{196, 329, 60, 24};
constexpr WidgetBox kBlueFieldBox{196, 359, 60, 24};
constexpr WidgetBox kPresetListBox{6, 204, 256, 80};
constexpr WidgetBox kSwatchRowBox{6, 406, 168, 20};
constexpr WidgetBox kStopButtonBox{6, 204, 256, 80};
constexpr WidgetBox kThumbnailCanvasBox{6, 294, 256, 96};
constexpr WidgetBox kHelpIconBox{208, 404, 24, 24};
constexpr WidgetBox kInfoIconBox{234, 404, 24, 24};

constexpr int kSizeFieldMaxChars = 5;
constexpr const char* kStartMaxSize = "8192";

// The light grey the thumbnail canvas shows around a small thumbnail.
constexpr Rgb kThumbnailBackground{242, 242, 242};

// The places that follow the window's client size. The left column (log
// above the output panel) fills what the scheme panel leaves, inside the
// window's margin; the output panel's folder field stretches and its right
// edge keeps the browse button and the quality choice.
constexpr int kWindowMargin = 6;
constexpr int kColumnGap = 16;  // between the left column and the scheme panel
constexpr int kRowGap = 10;     // between the log and the output panel
constexpr int kOutputPanelHeight = 68;

struct MainLayout {
    int schemePanelX;
    WidgetBox progressLog;
    WidgetBox outputPanel;
    WidgetBox dropHint;
    // In the output panel's coordinates.
    int folderFieldWidth;
    int browseButtonX;
    int qualityLabelX;
    int qualityComboX;
};

// The layout for a client size of width x height (never below the minimum)
// at a text scale.
MainLayout ComputeMainLayout(int width, int height, double scale = 1.0);

// The window's minimum client size at a text scale.
int MinWindowWidth(double scale);
int MinWindowHeight(double scale);

// Creates the hidden main window with every widget, its texts, options and
// colours, and paints the drop hint. Returns false when a backing image
// cannot be allocated.
bool CreateMainWindow(AppState& state);

// Places the widgets that follow the client size (width x height, never
// below the minimum) at the widgets' text scale.
void LayoutMainWindow(MainWidgets& widgets, int width, int height);

// On: the stop button and the thumbnail replace the editing controls.
void SetBatchLayout(MainWidgets& widgets, bool on);

}  // namespace corvanta
