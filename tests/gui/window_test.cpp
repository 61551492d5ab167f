// The main window: start-up state, layout, bounds, styles and routing.
#include <string>

#include "app/progress_log.h"
#include "app/routing.h"
#include "common/program_directory.h"
#include "dialog_answerer.h"
#include "gui_harness.h"
#include "ui/scheme_editor.h"

namespace corvanta::testing {
namespace {

using WindowTest = MainWindowTest;

std::string EntryText(GtkWidget* entry) {
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

void ExpectBox(GtkWidget* widget, GtkWidget* parent, const WidgetBox& want, const char* what) {
    const WidgetBox got = BoxIn(widget, parent);
    EXPECT_EQ(got.x, want.x) << what;
    EXPECT_EQ(got.y, want.y) << what;
    EXPECT_EQ(got.width, want.width) << what;
    EXPECT_EQ(got.height, want.height) << what;
}

GdkRGBA Background(GtkWidget* widget) {
    GdkRGBA* color = nullptr;
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    gtk_style_context_get(style, gtk_style_context_get_state(style), "background-color", &color,
                          nullptr);
    const GdkRGBA copy = *color;
    gdk_rgba_free(color);
    return copy;
}

std::string Hex(const GdkRGBA& c) {
    char text[8];
    g_snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<int>(c.red * 255 + 0.5),
               static_cast<int>(c.green * 255 + 0.5), static_cast<int>(c.blue * 255 + 0.5));
    return text;
}

TEST_F(WindowTest, StartsCentredAtMinimumSizeWithItsStartValues) {
    GtkWindow* window = GTK_WINDOW(Widgets().mainWindow);
    EXPECT_STREQ(gtk_window_get_title(window), "Corvanta");
    int w = 0;
    int h = 0;
    gtk_window_get_size(window, &w, &h);
    EXPECT_EQ(w, 740);
    EXPECT_EQ(h, 444);
    int x = 0;
    int y = 0;
    gdk_window_get_origin(gtk_widget_get_window(Widgets().mainWindow), &x, &y);
    EXPECT_EQ(x, (1280 - 740) / 2);  // the Xvfb screen is 1280 x 1024
    EXPECT_EQ(y, (1024 - 444) / 2);
    EXPECT_TRUE(gtk_window_get_resizable(window));
    GdkPixbuf* icon = gtk_window_get_icon(window);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 192);

    // "Gray" selected, "High", "8192" twice, an empty read-only folder field.
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    ASSERT_TRUE(gtk_tree_selection_get_selected(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(Widgets().presetList)), &model, &iter));
    gchar* name = nullptr;
    gtk_tree_model_get(model, &iter, 0, &name, -1);
    EXPECT_EQ(std::string(name), "Gray                    ");  // the whole 24-byte name field
    g_free(name);
    EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 29);
    gchar* quality =
        gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(Widgets().jpegQualityCombo));
    EXPECT_STREQ(quality, "High");
    g_free(quality);
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "8192");
    EXPECT_EQ(EntryText(Widgets().maxHeightField), "8192");
    EXPECT_EQ(EntryText(Widgets().outputFolderField), "");
    EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(Widgets().outputFolderField)));
    EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(Widgets().browseButton)), std::string("..."));

    // The scheme is "Gray", slot 0 selected, its components in the fields.
    EXPECT_EQ(Scheme(), MakePresetTable().rows[0].slots);
    EXPECT_EQ(Model().SelectedSlot(), 0);
    for (GtkWidget* field : {Widgets().redField, Widgets().greenField, Widgets().blueField}) {
        EXPECT_EQ(EntryText(field), "0");
    }
    // Editing layout: the batch widgets are hidden, the drop hint shows.
    EXPECT_TRUE(gtk_widget_get_visible(Widgets().presetListScroll));
    EXPECT_TRUE(gtk_widget_get_visible(Widgets().swatchRow.area));
    EXPECT_FALSE(gtk_widget_get_visible(Widgets().stopButton));
    EXPECT_FALSE(gtk_widget_get_visible(Widgets().thumbnailCanvas.area));
    EXPECT_TRUE(gtk_widget_get_mapped(Widgets().dropHint.area));
    EXPECT_TRUE(gtk_widget_has_focus(Widgets().schemePanel));
}

TEST_F(WindowTest, EveryWidgetSitsAtItsPlaceAtTheMinimumSize) {
    MainWidgets& w = Widgets();
    GtkWidget* top = w.mainWindow;
    ExpectBox(w.schemePanel, top, {472, 0, 268, 444}, "SchemePanel");
    ExpectBox(w.outputPanel, top, {6, 370, 450, 68}, "OutputPanel");
    ExpectBox(w.progressLogScroll, top, {6, 6, 450, 354}, "ProgressLog");
    ExpectBox(w.dropHint.area, top, {71, 88, 319, 25}, "DropHint");

    GtkWidget* out = w.outputPanel;
    ExpectBox(w.outputFolderLabel, out, kOutputFolderLabelBox, "OutputFolderLabel");
    ExpectBox(w.outputFolderField, out, {98, 0, 306, 22}, "OutputFolderField");
    ExpectBox(w.browseButton, out, {410, 0, 40, 22}, "BrowseButton");
    ExpectBox(w.maxSizeLabel, out, kMaxSizeLabelBox, "MaxSizeLabel");
    ExpectBox(w.maxWidthField, out, kMaxWidthFieldBox, "MaxWidthField");
    ExpectBox(w.sizeSeparatorLabel, out, kSizeSeparatorLabelBox, "SizeSeparatorLabel");
    ExpectBox(w.maxHeightField, out, kMaxHeightFieldBox, "MaxHeightField");
    ExpectBox(w.jpegQualityLabel, out, {264, 33, 85, 22}, "JpegQualityLabel");
    ExpectBox(w.jpegQualityCombo, out, {350, 30, 100, 24}, "JpegQualityCombo");

    GtkWidget* panel = w.schemePanel;
    ExpectBox(w.previewCanvas.area, panel, kPreviewCanvasBox, "PreviewCanvas");
    ExpectBox(w.paletteCanvas.area, panel, kPaletteCanvasBox, "PaletteCanvas");
    ExpectBox(w.redField, panel, kRedFieldBox, "RedField");
    ExpectBox(w.greenField, panel, kGreenFieldBox, "GreenField");
    ExpectBox(w.blueField, panel, kBlueFieldBox, "BlueField");
    ExpectBox(w.presetListScroll, panel, kPresetListBox, "PresetList");
    ExpectBox(w.swatchRow.area, panel, kSwatchRowBox, "SwatchRow");
    ExpectBox(w.helpIcon, panel, kHelpIconBox, "HelpIcon");
    ExpectBox(w.infoIcon, panel, kInfoIconBox, "InfoIcon");

    SetBatchLayout(Widgets(), true);
    PumpFor(100);
    ExpectBox(w.stopButton, panel, kStopButtonBox, "StopButton");
    ExpectBox(w.thumbnailCanvas.area, panel, kThumbnailCanvasBox, "ThumbnailCanvas");
    for (GtkWidget* editing : {w.presetListScroll, w.paletteFrame, w.redField, w.greenField,
                               w.blueField, w.swatchRow.area}) {
        EXPECT_FALSE(gtk_widget_get_visible(editing));
    }
    SetBatchLayout(Widgets(), false);
    EXPECT_TRUE(gtk_widget_get_visible(w.paletteFrame));
    EXPECT_FALSE(gtk_widget_get_visible(w.stopButton));
}

TEST_F(WindowTest, LayoutFollowsALargerWindowAndShrinksBack) {
    MainWidgets& w = Widgets();
    ResizeWindow(1000, 600);
    GtkWidget* top = w.mainWindow;
    ExpectBox(w.schemePanel, top, {732, 0, 268, 600}, "SchemePanel");
    ExpectBox(w.outputPanel, top, {6, 526, 710, 68}, "OutputPanel");
    ExpectBox(w.progressLogScroll, top, {6, 6, 710, 510}, "ProgressLog");
    ExpectBox(w.dropHint.area, top, {(1000 - 290) / 2 - 154, (600 - 90) / 4, 319, 25}, "DropHint");
    ExpectBox(w.outputFolderField, w.outputPanel, {98, 0, 566, 22}, "OutputFolderField");
    ExpectBox(w.browseButton, w.outputPanel, {670, 0, 40, 22}, "BrowseButton");
    ExpectBox(w.jpegQualityLabel, w.outputPanel, {524, 33, 85, 22}, "JpegQualityLabel");
    ExpectBox(w.jpegQualityCombo, w.outputPanel, {610, 30, 100, 24}, "JpegQualityCombo");
    ExpectBox(w.swatchRow.area, w.schemePanel, kSwatchRowBox, "SwatchRow");

    ResizeWindow(740, 444);
    ExpectBox(w.schemePanel, top, {472, 0, 268, 444}, "SchemePanel after shrinking");
    ExpectBox(w.progressLogScroll, top, {6, 6, 450, 354}, "ProgressLog after shrinking");
}

TEST_F(WindowTest, CannotBeMadeSmallerThanTheMinimum) {
    ResizeWindow(500, 300);
    int w = 0;
    int h = 0;
    gtk_window_get_size(GTK_WINDOW(Widgets().mainWindow), &w, &h);
    EXPECT_EQ(w, 740);
    EXPECT_EQ(h, 444);
    ExpectBox(Widgets().schemePanel, Widgets().mainWindow, {472, 0, 268, 444}, "SchemePanel");
}

TEST_F(WindowTest, ColoursOfThePanelTheLogAndTheFields) {
    EXPECT_EQ(Hex(Background(Widgets().schemePanel)), "#E8E8E8");
    EXPECT_EQ(Hex(Background(Widgets().redField)), "#FFC0C0");
    EXPECT_EQ(Hex(Background(Widgets().greenField)), "#C0FFC0");
    EXPECT_EQ(Hex(Background(Widgets().blueField)), "#C0C0FF");
    // The drop hint is painted on the log colour with grey letters over it.
    EXPECT_EQ(PixelAt(Widgets().dropHint, 0, 0), (Rgb{0xF8, 0xF8, 0xF8}));
    int letterPixels = 0;
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 319; ++x) {
            const Rgb p = PixelAt(Widgets().dropHint, x, y);
            EXPECT_TRUE(p.red == p.green && p.green == p.blue) << x << "," << y;
            letterPixels += p.red < 0xC0 ? 1 : 0;
        }
    }
    EXPECT_GT(letterPixels, 300);
    for (GtkWidget* field : {Widgets().redField, Widgets().greenField, Widgets().blueField}) {
        GtkAdjustment* range = gtk_spin_button_get_adjustment(GTK_SPIN_BUTTON(field));
        EXPECT_EQ(gtk_adjustment_get_lower(range), 0);
        EXPECT_EQ(gtk_adjustment_get_upper(range), 255);
    }
}

TEST_F(WindowTest, SizeFieldsTakeAtMostFiveDigits) {
    GtkEditable* field = GTK_EDITABLE(Widgets().maxWidthField);
    gtk_editable_delete_text(field, 0, -1);
    gint position = 0;
    gtk_editable_insert_text(field, "12a3", -1, &position);
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "123");
    position = 3;
    gtk_editable_insert_text(field, "4x5", -1, &position);
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "12345");
    position = 5;
    gtk_editable_insert_text(field, "6", -1, &position);
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "12345");
    gtk_editable_delete_text(GTK_EDITABLE(Widgets().maxHeightField), 0, -1);
    position = 0;
    gtk_editable_insert_text(GTK_EDITABLE(Widgets().maxHeightField), "-7 ", -1, &position);
    EXPECT_EQ(EntryText(Widgets().maxHeightField), "7");
}

TEST_F(WindowTest, ProgressLogLineOperations) {
    auto* log = GTK_TEXT_VIEW(Widgets().progressLog);
    auto text = [this] { return TextOf(Widgets().progressLog); };
    AddLogLine(log, -1, "Processing ...");
    EXPECT_EQ(text(), "Processing ...");
    AddLogLine(log, 1, "[Loading]  a.jpg");
    AddLogLine(log, -1, "[Loading]  b.png");
    EXPECT_EQ(text(), "Processing ...\n[Loading]  a.jpg\n[Loading]  b.png");
    ReplaceLogLine(log, 1, "[Done]  a.jpg");
    ReplaceLogLine(log, 3, "nothing");
    ReplaceLogLine(log, -1, "nothing");
    EXPECT_EQ(text(), "Processing ...\n[Done]  a.jpg\n[Loading]  b.png");
    EXPECT_EQ(LogLineCount(log), 3);
    ReplaceLogLine(log, 2, "");
    EXPECT_EQ(text(), "Processing ...\n[Done]  a.jpg\n");
    SetLogText(log, "");
    AddLogLine(log, 5, "only");
    EXPECT_EQ(text(), "only");

    for (int i = 0; i < 60; ++i) {
        AddLogLine(log, -1, "line " + std::to_string(i));
    }
    ScrollLogToEnd(log);
    ScrollLogToEnd(log);  // an existing mark is moved, not made twice
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(log);
    GtkTextMark* mark = gtk_text_buffer_get_mark(buffer, "end_mark");
    ASSERT_NE(mark, nullptr);
    EXPECT_FALSE(gtk_text_mark_get_left_gravity(mark));
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_mark(buffer, &at, mark);
    EXPECT_TRUE(gtk_text_iter_is_end(&at));
    PumpFor(200);
    GtkAdjustment* v =
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(Widgets().progressLogScroll));
    EXPECT_GT(gtk_adjustment_get_value(v), 0);
}

TEST_F(WindowTest, SettingWidgetsFromTheProgramRaisesNoEvent) {
    // If the fields' change handler ran, the empty slot would be filled.
    Model().SelectSlot(0);
    Model().SetSelectedColor(0);
    EXPECT_EQ(Scheme()[0], 0u);
    EXPECT_EQ(EntryText(Widgets().redField), "0");
    // Selecting from the program at start-up did not apply twice either:
    // the fields and the scheme are set by exactly one apply of "Gray".
    SetColorFieldSilently(Editor(), ColorField::kBlue, 9);
    EXPECT_EQ(Scheme()[0], 0u);
}

TEST_F(WindowTest, ShortcutsReachTheirHandlers) {
    Editor().random = Replay({0x00FFFFFF});
    Model().SelectSlot(4);
    const ColorScheme before = Scheme();
    {
        // Ctrl+1 .. Ctrl+8 each ask about their own user preset.
        DialogAnswerer no("User presets", GTK_RESPONSE_NO);
        for (int n = kShortcutFirstUserPreset; n < kShortcutPaste; ++n) {
            RouteShortcut(State(), n);
        }
        ASSERT_EQ(no.Answered().size(), 8u);
        EXPECT_EQ(no.Answered()[7].text, "Overwrite user preset 8 ?");
    }
    RouteShortcut(State(), kShortcutPaste);  // nothing on the clipboard here
    PumpUntil([&] { return !State().clipboard.pasteInProgress; });
    EXPECT_EQ(Scheme(), before);
    RouteShortcut(State(), kShortcutRandomColor);
    EXPECT_EQ(Scheme()[4], 0xFFFFFFFFu);
}

TEST_F(WindowTest, PreviewLogAndHintTakeFileDropsOnly) {
    for (GtkWidget* target :
         {Widgets().previewCanvas.area, Widgets().progressLogScroll, Widgets().dropHint.area}) {
        GtkTargetList* targets = gtk_drag_dest_get_target_list(target);
        ASSERT_NE(targets, nullptr);
        guint info = 0;
        EXPECT_TRUE(
            gtk_target_list_find(targets, gdk_atom_intern_static_string("text/uri-list"), &info));
        EXPECT_FALSE(
            gtk_target_list_find(targets, gdk_atom_intern_static_string("text/plain"), &info));
    }
    // The read-only text view itself would refuse every drop.
    EXPECT_EQ(gtk_drag_dest_get_target_list(Widgets().progressLog), nullptr);
    EXPECT_EQ(DirectoryPart("/opt/corvanta/bin/corvanta"), "/opt/corvanta/bin/");
    EXPECT_EQ(DirectoryPart("corvanta"), "./");
    EXPECT_EQ(State().programDirectory.back(), '/');
}

TEST_F(WindowTest, CloseRequestEndsTheLoopButKeepsTheWindowForShutDown) {
    EXPECT_FALSE(State().closeRequested);
    gtk_window_close(GTK_WINDOW(Widgets().mainWindow));
    PumpUntil([&] { return State().closeRequested; });
    EXPECT_TRUE(State().closeRequested);
    EXPECT_TRUE(gtk_widget_get_visible(Widgets().mainWindow));
}

}  // namespace
}  // namespace corvanta::testing
