#include "app/main_window.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "app/embedded_images.h"
#include "common/i18n.h"
#include "tone/pixbuf_format.h"
#include "ui/icon_button.h"
#include "ui/keyboard_focus.h"

namespace corvanta {
namespace {

constexpr Rgb kLogBackground{0xF8, 0xF8, 0xF8};
constexpr int kSpinFieldChars = 1;
constexpr int kNarrowEntryChars = 1;
// The drop hint drawn from its text: the bitmap's face, grey and height.
constexpr const char* kDropHintFont = "Sans Bold";
constexpr double kDropHintFontShare = 0.68;  // of the hint's height
constexpr int kDropHintGrey = 150;

// Widget names double as CSS selectors. Sizes in the table are exact, so the
// theme's minimum heights and paddings are taken off our own widgets. Where
// the window has colours of its own it sets their text colour too (the
// light theme's, backdrop included), so a dark or high-contrast theme
// leaves them as they are; selected rows keep the theme's selection.
constexpr const char* kStyleSheet = R"css(
#MainWindow entry, #MainWindow spinbutton, #MainWindow spinbutton entry {
    min-height: 0; min-width: 0; padding-top: 0; padding-bottom: 0;
}
#MainWindow entry { padding-left: 4px; padding-right: 4px; }
#MainWindow spinbutton entry { padding-left: 4px; padding-right: 0; }
#MainWindow button { min-height: 0; min-width: 0; padding: 0 4px; }
#MainWindow spinbutton button { min-width: 0; padding: 0; }
#ProgressLog, #ProgressLog text { background-color: #F8F8F8; color: #202020; }
#SchemePanel { background-color: #E8E8E8; color: #2E3436; }
#RedField, #RedField entry { background-color: #FFC0C0; background-image: none; }
#GreenField, #GreenField entry { background-color: #C0FFC0; background-image: none; }
#BlueField, #BlueField entry { background-color: #C0C0FF; background-image: none; }
#RedField, #RedField entry, #GreenField, #GreenField entry, #BlueField, #BlueField entry,
#PresetList:not(:selected) { color: #000000; }
#PresetList:not(:selected) { background-color: #FFFFFF; }
#RedField:backdrop, #RedField entry:backdrop, #GreenField:backdrop, #GreenField entry:backdrop,
#BlueField:backdrop, #BlueField entry:backdrop, #PresetList:backdrop:not(:selected) {
    color: #323232;
}
#PresetList:backdrop:not(:selected) { background-color: #FCFCFC; }
#SchemePanel spinbutton button { color: #43484A; border-color: rgba(205, 199, 194, 0.3); }
#SchemePanel spinbutton button:hover { color: #2E3436; background-color: rgba(46, 52, 54, 0.05); }
#SchemePanel spinbutton button:disabled { color: rgba(146, 149, 149, 0.3); background-color: transparent; }
#SchemePanel spinbutton button:active {
    background-color: rgba(0, 0, 0, 0.1); box-shadow: inset 0 2px 3px -1px rgba(0, 0, 0, 0.2);
}
#SchemePanel spinbutton button:backdrop {
    color: #9D9F9F; background-color: transparent; border-color: rgba(213, 208, 204, 0.3);
}
#SchemePanel spinbutton button:backdrop:disabled { color: rgba(212, 207, 202, 0.3); }
#PreviewFrame > border, #PaletteFrame > border {
    border-width: 1px; border-style: solid; border-radius: 0;
    border-color: #8C8C8C #FFFFFF #FFFFFF #8C8C8C;
}
)css";

GtkWidget* Named(GtkWidget* widget, const char* name) {
    gtk_widget_set_name(widget, name);
    return widget;
}

GtkWidget* StyleLabel(GtkWidget* label, bool centred) {
    gtk_label_set_xalign(GTK_LABEL(label), centred ? 0.5F : 0.0F);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0F);
    gtk_label_set_justify(GTK_LABEL(label), centred ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    return label;
}

GtkWidget* MakeLabel(const char* text, const char* name, bool centred) {
    return StyleLabel(Named(gtk_label_new(text), name), centred);
}

// A label whose underlined letter (shown while Alt is held) moves the focus
// to field; screen readers hear the label as the field's name.
GtkWidget* MakeFieldLabel(const char* text, const char* name, GtkWidget* field) {
    GtkWidget* label = StyleLabel(Named(gtk_label_new_with_mnemonic(text), name), false);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), field);
    return label;
}

GtkWidget* MakeEntry(const char* name, const char* text) {
    GtkWidget* entry = Named(gtk_entry_new(), name);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), kNarrowEntryChars);
    gtk_entry_set_text(GTK_ENTRY(entry), text);
    return entry;
}

GtkWidget* MakeSpinField(const char* name) {
    GtkWidget* spin = Named(gtk_spin_button_new_with_range(0, kComponentMax, 1), name);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), 0);
    // The typed text stays as typed and is read with ParseInteger, so the
    // "$1f" and "%101" forms work as they do everywhere else; the editor
    // clamps the number.
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), FALSE);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), kSpinFieldChars);
    return spin;
}

// A drawing area in a sunken frame; box is the area's own place.
GtkWidget* FramedCanvas(GtkWidget* parent, DrawingCanvas& canvas, const WidgetBox& box,
                        const char* frameName) {
    // box is where the area goes, already moved for the text scale.
    GtkWidget* frame = Named(gtk_frame_new(nullptr), frameName);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(frame), canvas.area);
    PlaceWidget(parent, frame,
                {box.x - kCanvasFrameBorder, box.y - kCanvasFrameBorder,
                 box.width + 2 * kCanvasFrameBorder, box.height + 2 * kCanvasFrameBorder});
    return frame;
}

// fineResource is the image drawn for screens of kFineImageScale device
// pixels to a pixel, decoded only for such a screen and shown there at the
// same size.
GtkWidget* ClickableImage(const char* name, GdkPixbuf* image, const char* fineResource,
                          int deviceScale) {
    GtkWidget* picture = nullptr;
    const PixbufPtr fine =
        deviceScale == kFineImageScale ? DecodeEmbeddedImage(fineResource) : PixbufPtr();
    if (fine) {
        cairo_surface_t* surface =
            gdk_cairo_surface_create_from_pixbuf(fine.get(), deviceScale, nullptr);
        picture = gtk_image_new_from_surface(surface);
        cairo_surface_destroy(surface);
    } else {
        picture = gtk_image_new_from_pixbuf(image);
    }
    return Named(NewIconButton(picture), name);
}

// Paints the drop hint: the log colour, then the hint image blended over it.
void PaintDropHint(DrawingCanvas& hint, const GdkPixbuf* image) {
    FillRect(hint, 0, 0, CanvasWidth(hint), CanvasHeight(hint), kLogBackground);
    if (image == nullptr || gdk_pixbuf_get_n_channels(image) != 4 ||
        !gdk_pixbuf_get_has_alpha(image)) {
        return;
    }
    const int w = std::min(gdk_pixbuf_get_width(image), CanvasWidth(hint));
    const int h = std::min(gdk_pixbuf_get_height(image), CanvasHeight(hint));
    const int stride = gdk_pixbuf_get_rowstride(image);
    const guint8* pixels = gdk_pixbuf_read_pixels(image);
    for (int y = 0; y < h; ++y) {
        const guint8* p = pixels + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < w; ++x, p += 4) {
            const Rgb under = PixelAt(hint, x, y);
            SetPixel(hint, x, y,
                     {BlendChannel(p[0], under.red, p[3]), BlendChannel(p[1], under.green, p[3]),
                      BlendChannel(p[2], under.blue, p[3])});
        }
    }
}

// Paints the drop hint from its text, for a language the bitmap does not
// speak: the bitmap's grey and bold face on the log colour, shrunk to fit.
void PaintDropHintText(DrawingCanvas& hint, GtkWidget* widget, const char* text) {
    const int w = CanvasWidth(hint);
    const int h = CanvasHeight(hint);
    FillRect(hint, 0, 0, w, h, kLogBackground);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, kLogBackground.red / 255.0, kLogBackground.green / 255.0,
                         kLogBackground.blue / 255.0);
    cairo_paint(cr);
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
    cairo_font_options_destroy(options);
    PangoFontDescription* font = pango_font_description_from_string(kDropHintFont);
    pango_font_description_set_absolute_size(font, h * kDropHintFontShare * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    int tw = 0;
    int th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    if (tw > w) {
        pango_font_description_set_absolute_size(font,
                                                 h * kDropHintFontShare * w / tw * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        pango_layout_get_pixel_size(layout, &tw, &th);
    }
    pango_font_description_free(font);
    const double grey = kDropHintGrey / 255.0;
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_move_to(cr, (w - tw) / 2, (h - th) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_destroy(cr);
    if (const PixbufPtr drawn = RgbPixbufFromSurface(surface)) {
        gdk_pixbuf_copy_area(drawn.get(), 0, 0, w, h, hint.image.get(), 0, 0);
    }
    cairo_surface_destroy(surface);
}

GtkWidget* MakePresetList() {
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* list = Named(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store)), "PresetList");
    g_object_unref(store);  // the view holds it
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(list), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(list), FALSE);
    // The title is never shown (no headers); screen readers hear it.
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(list), -1, _("Presets"),
                                                gtk_cell_renderer_text_new(), "text", 0, nullptr);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)),
                                GTK_SELECTION_SINGLE);
    return list;
}

void SetWindowBounds(GtkWindow* window, double scale) {
    GdkGeometry geometry{};
    geometry.min_width = MinWindowWidth(scale);
    geometry.min_height = MinWindowHeight(scale);
    geometry.max_width = kMaxWindowSize;
    geometry.max_height = kMaxWindowSize;
    gtk_window_set_geometry_hints(
        window, nullptr, &geometry,
        static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

void CreateOutputPanel(MainWidgets& w) {
    w.outputPanel = Named(gtk_fixed_new(), "OutputPanel");
    PlaceWidget(w.root, w.outputPanel, kOutputPanelStartBox);
    GtkWidget* panel = w.outputPanel;
    const double s = w.textScale;

    w.outputFolderField = MakeEntry("OutputFolderField", "");
    gtk_editable_set_editable(GTK_EDITABLE(w.outputFolderField), FALSE);
    w.outputFolderLabel =
        MakeFieldLabel(_("_Output folder"), "OutputFolderLabel", w.outputFolderField);
    PlaceWidget(panel, w.outputFolderLabel, ScaledBox(kOutputFolderLabelBox, s));
    PlaceWidget(panel, w.outputFolderField, ScaledBox(kOutputFolderFieldBox, s));
    w.browseButton = Named(gtk_button_new_with_label("..."), "BrowseButton");
    PlaceWidget(panel, w.browseButton, ScaledBox(kBrowseButtonBox, s));
    w.maxWidthField = MakeEntry("MaxWidthField", kStartMaxSize);
    gtk_entry_set_max_length(GTK_ENTRY(w.maxWidthField), kSizeFieldMaxChars);
    w.maxSizeLabel = MakeFieldLabel(_("_Max size"), "MaxSizeLabel", w.maxWidthField);
    PlaceWidget(panel, w.maxSizeLabel, ScaledBox(kMaxSizeLabelBox, s));
    PlaceWidget(panel, w.maxWidthField, ScaledBox(kMaxWidthFieldBox, s));
    w.sizeSeparatorLabel =
        MakeLabel(C_("between width and height", "x"), "SizeSeparatorLabel", true);
    PlaceWidget(panel, w.sizeSeparatorLabel, ScaledBox(kSizeSeparatorLabelBox, s));
    w.maxHeightField = MakeEntry("MaxHeightField", kStartMaxSize);
    gtk_entry_set_max_length(GTK_ENTRY(w.maxHeightField), kSizeFieldMaxChars);
    PlaceWidget(panel, w.maxHeightField, ScaledBox(kMaxHeightFieldBox, s));
    w.jpegQualityCombo = Named(gtk_combo_box_text_new(), "JpegQualityCombo");
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w.jpegQualityCombo), _("Medium"));
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w.jpegQualityCombo), _("High"));
    w.jpegQualityLabel = MakeFieldLabel(_("_Jpeg quality"), "JpegQualityLabel", w.jpegQualityCombo);
    PlaceWidget(panel, w.jpegQualityLabel, ScaledBox(kJpegQualityLabelBox, s));
    PlaceWidget(panel, w.jpegQualityCombo, ScaledBox(kJpegQualityComboBox, s));
}

// The panel takes the first focus so that no control shows focus at the
// start; the first Tab goes on into its children, and from then on the
// panel is only their container.
gboolean OnSchemePanelFocus(GtkWidget* panel, GtkDirectionType, gpointer) {
    gtk_widget_set_can_focus(panel, FALSE);
    return FALSE;
}

// Reading order: the left column, then the scheme panel from top to bottom.
void SetMainTabOrder(MainWidgets& w) {
    SetTabOrder(w.root, {w.progressLogScroll, w.outputPanel, w.schemePanel});
    SetTabOrder(w.schemeFixed,
                {w.previewFrame, w.stopButton, w.presetListScroll, w.paletteFrame, w.redField,
                 w.greenField, w.blueField, w.swatchRow.area, w.helpIcon, w.infoIcon});
    g_signal_connect(w.schemePanel, "focus", G_CALLBACK(OnSchemePanelFocus), nullptr);
    MakeFocusableWithMark(w.previewCanvas.area);
}

bool CreateSchemePanel(MainWidgets& w, const EmbeddedImages& images) {
    w.schemePanel = Named(gtk_event_box_new(), "SchemePanel");
    gtk_widget_set_can_focus(w.schemePanel, TRUE);
    w.schemeFixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(w.schemePanel), w.schemeFixed);
    const double s = w.textScale;
    PlaceWidget(w.root, w.schemePanel,
                {0, 0, ScaledLength(kSchemePanelWidth, s), MinWindowHeight(s)});
    GtkWidget* panel = w.schemeFixed;

    if (!CreateDrawingCanvas(w.previewCanvas, kPreviewCanvasBox.width, kPreviewCanvasBox.height,
                             {}) ||
        !CreateDrawingCanvas(w.paletteCanvas, kPaletteCanvasBox.width, kPaletteCanvasBox.height,
                             {}) ||
        !CreateDrawingCanvas(w.swatchRow, kSwatchRowBox.width, kSwatchRowBox.height,
                             kPanelBackground) ||
        !CreateDrawingCanvas(w.thumbnailCanvas, kThumbnailCanvasBox.width,
                             kThumbnailCanvasBox.height, kThumbnailBackground)) {
        return false;
    }
    gtk_widget_set_name(w.previewCanvas.area, "PreviewCanvas");
    w.previewFrame =
        FramedCanvas(panel, w.previewCanvas, MovedBox(kPreviewCanvasBox, s), "PreviewFrame");
    gtk_widget_set_name(w.paletteCanvas.area, "PaletteCanvas");
    w.paletteFrame =
        FramedCanvas(panel, w.paletteCanvas, MovedBox(kPaletteCanvasBox, s), "PaletteFrame");
    w.redField = MakeSpinField("RedField");
    PlaceWidget(panel, w.redField, ScaledBox(kRedFieldBox, s));
    w.greenField = MakeSpinField("GreenField");
    PlaceWidget(panel, w.greenField, ScaledBox(kGreenFieldBox, s));
    w.blueField = MakeSpinField("BlueField");
    PlaceWidget(panel, w.blueField, ScaledBox(kBlueFieldBox, s));

    w.presetListScroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(w.presetListScroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    w.presetList = MakePresetList();
    gtk_container_add(GTK_CONTAINER(w.presetListScroll), w.presetList);
    PlaceWidget(panel, w.presetListScroll, ScaledBox(kPresetListBox, s));

    gtk_widget_set_name(w.swatchRow.area, "SwatchRow");
    PlaceWidget(panel, w.swatchRow.area, MovedBox(kSwatchRowBox, s));
    w.stopButton = Named(gtk_button_new_with_label(""), "StopButton");
    PlaceWidget(panel, w.stopButton, ScaledBox(kStopButtonBox, s));
    gtk_widget_set_name(w.thumbnailCanvas.area, "ThumbnailCanvas");
    PlaceWidget(panel, w.thumbnailCanvas.area, MovedBox(kThumbnailCanvasBox, s));
    const int device = gtk_widget_get_scale_factor(w.mainWindow);
    w.helpIcon = ClickableImage("HelpIcon", images.helpIcon.get(), kHelpIconFineResource, device);
    PlaceWidget(panel, w.helpIcon, MovedBox(kHelpIconBox, s));
    w.infoIcon = ClickableImage("InfoIcon", images.infoIcon.get(), kInfoIconFineResource, device);
    PlaceWidget(panel, w.infoIcon, MovedBox(kInfoIconBox, s));
    return true;
}

void CreateProgressLog(MainWidgets& w) {
    w.progressLogScroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(w.progressLogScroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(w.progressLogScroll),
                                        GTK_SHADOW_ETCHED_IN);
    w.progressLog = Named(gtk_text_view_new(), "ProgressLog");
    gtk_text_view_set_editable(GTK_TEXT_VIEW(w.progressLog), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(w.progressLog), GTK_WRAP_NONE);
    gtk_container_add(GTK_CONTAINER(w.progressLogScroll), w.progressLog);
    PlaceWidget(w.root, w.progressLogScroll, kProgressLogStartBox);
}

// The bitmap shows the English text at the base text size (its fine copy on
// a screen of that scale); any other language or size draws the text. On a
// screen of more device pixels to a pixel the hint has a fine copy.
bool CreateDropHint(MainWidgets& w, const EmbeddedImages& images) {
    const WidgetBox box = ScaledBox(kDropHintBox, w.textScale);
    if (!CreateDrawingCanvas(w.dropHint, box.width, box.height, kLogBackground)) {
        return false;
    }
    gtk_widget_set_name(w.dropHint.area, "DropHint");
    PlaceWidget(w.root, w.dropHint.area, box);
    const char* text = _(kDropHintText);
    const bool bitmap = std::strcmp(text, kDropHintText) == 0 && w.textScale == 1.0;
    if (bitmap) {
        PaintDropHint(w.dropHint, images.dropHint.get());
    } else {
        PaintDropHintText(w.dropHint, w.mainWindow, text);
    }
    const int device = gtk_widget_get_scale_factor(w.mainWindow);
    if (device > 1) {
        DrawingCanvas fine =
            OffscreenCanvas(box.width * device, box.height * device, kLogBackground);
        if (!fine.image) {
            return false;
        }
        if (bitmap && device == kFineImageScale) {
            PaintDropHint(fine, DecodeEmbeddedImage(kDropHintFineResource).get());
        } else {
            PaintDropHintText(fine, w.mainWindow, text);
        }
        w.dropHint.fine = std::move(fine.image);
        w.dropHint.fineScale = device;
    }
    return true;
}

}  // namespace

int MinWindowWidth(double scale) {
    return ScaledLength(kMinWindowWidth, scale);
}

int MinWindowHeight(double scale) {
    return ScaledLength(kMinWindowHeight, scale);
}

bool CreateMainWindow(AppState& state) {
    MainWidgets& w = state.widgets;
    w.mainWindow = Named(gtk_window_new(GTK_WINDOW_TOPLEVEL), "MainWindow");
    GtkWindow* window = GTK_WINDOW(w.mainWindow);
    w.textScale = TextScaleOf(gtk_widget_get_screen(w.mainWindow));
    gtk_window_set_title(window, kWindowTitle);
    gtk_window_set_default_size(window, MinWindowWidth(w.textScale), MinWindowHeight(w.textScale));
    gtk_window_set_resizable(window, TRUE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    SetWindowBounds(window, w.textScale);
    if (state.images.appIcon) {
        gtk_window_set_icon(window, state.images.appIcon.get());
    }

    state.css.reset(gtk_css_provider_new());
    gtk_css_provider_load_from_data(state.css.get(), kStyleSheet, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(w.mainWindow),
                                              GTK_STYLE_PROVIDER(state.css.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    // A GtkLayout does not grow its minimum size with its children, so the
    // window can shrink back after it was made larger.
    w.root = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(window), w.root);

    CreateProgressLog(w);
    if (!CreateDropHint(w, state.images)) {
        return false;
    }
    CreateOutputPanel(w);
    if (!CreateSchemePanel(w, state.images)) {
        return false;
    }
    SetMainTabOrder(w);
    gtk_widget_show_all(w.root);
    return true;
}

MainLayout ComputeMainLayout(int width, int height, double scale) {
    const int w = std::max(width, MinWindowWidth(scale));
    const int h = std::max(height, MinWindowHeight(scale));
    const auto at = [scale](int length) { return ScaledLength(length, scale); };
    const int margin = at(kWindowMargin);
    const int panelHeight = at(kOutputPanelHeight);
    MainLayout layout{};
    layout.schemePanelX = w - at(kSchemePanelWidth);
    const int columnWidth = layout.schemePanelX - at(kColumnGap) - margin;
    layout.outputPanel = {margin, h - margin - panelHeight, columnWidth, panelHeight};
    layout.progressLog = {margin, margin, columnWidth, layout.outputPanel.y - at(kRowGap) - margin};
    // Centred across the log, a quarter down it.
    const WidgetBox hint = ScaledBox(kDropHintBox, scale);
    layout.dropHint = {margin + columnWidth / 2 - (hint.width + 1) / 2,
                       layout.progressLog.height / 4, hint.width, hint.height};
    const WidgetBox button = ScaledBox(kBrowseButtonBox, scale);
    const WidgetBox field = ScaledBox(kOutputFolderFieldBox, scale);
    layout.browseButtonX = columnWidth - button.width;
    const int fieldToButton = button.x - (field.x + field.width);
    layout.folderFieldWidth = layout.browseButtonX - fieldToButton - field.x;
    const WidgetBox combo = ScaledBox(kJpegQualityComboBox, scale);
    layout.qualityComboX = columnWidth - combo.width;
    layout.qualityLabelX =
        layout.qualityComboX - (combo.x - ScaledBox(kJpegQualityLabelBox, scale).x);
    return layout;
}

void LayoutMainWindow(MainWidgets& w, int width, int height) {
    const double s = w.textScale;
    const int W = std::max(width, MinWindowWidth(s));
    const int H = std::max(height, MinWindowHeight(s));
    gtk_layout_set_size(GTK_LAYOUT(w.root), static_cast<guint>(W), static_cast<guint>(H));
    const MainLayout layout = ComputeMainLayout(W, H, s);

    MoveWidget(w.root, w.schemePanel, layout.schemePanelX, 0);
    gtk_widget_set_size_request(w.schemePanel, ScaledLength(kSchemePanelWidth, s), H);
    const auto put = [&w](GtkWidget* widget, const WidgetBox& box) {
        MoveWidget(w.root, widget, box.x, box.y);
        gtk_widget_set_size_request(widget, box.width, box.height);
    };
    put(w.outputPanel, layout.outputPanel);
    put(w.progressLogScroll, layout.progressLog);
    MoveWidget(w.root, w.dropHint.area, layout.dropHint.x, layout.dropHint.y);

    gtk_widget_set_size_request(w.outputFolderField, layout.folderFieldWidth,
                                ScaledLength(kOutputFolderFieldBox.height, s));
    MoveWidget(w.outputPanel, w.browseButton, layout.browseButtonX,
               ScaledLength(kBrowseButtonBox.y, s));
    // A longer text (another language) widens the quality label to the left.
    const WidgetBox label = ScaledBox(kJpegQualityLabelBox, s);
    int natural = 0;
    gtk_widget_get_preferred_width(w.jpegQualityLabel, nullptr, &natural);
    const int labelWidth = std::max(natural, label.width);
    gtk_widget_set_size_request(w.jpegQualityLabel, labelWidth, label.height);
    MoveWidget(w.outputPanel, w.jpegQualityLabel, layout.qualityLabelX + label.width - labelWidth,
               label.y);
    MoveWidget(w.outputPanel, w.jpegQualityCombo, layout.qualityComboX,
               ScaledLength(kJpegQualityComboBox.y, s));
}

void SetBatchLayout(MainWidgets& w, bool on) {
    for (GtkWidget* editing : {w.presetListScroll, w.paletteFrame, w.redField, w.greenField,
                               w.blueField, w.swatchRow.area}) {
        gtk_widget_set_visible(editing, !on);
    }
    gtk_widget_set_visible(w.stopButton, on);
    gtk_widget_set_visible(w.thumbnailCanvas.area, on);
}

}  // namespace corvanta
