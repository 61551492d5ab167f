// What the window looks like under the theme, text scale, device scale and
// language the test program was started with (see gui.cmake).
#include <algorithm>
#include <clocale>
#include <cmath>
#include <map>
#include <string>

#include "app/batch_controller.h"
#include "app/progress_log.h"
#include "gui_harness.h"

namespace corvanta::testing {
namespace {

using LookTest = MainWindowTest;

double Luminance(const Rgb& p) {
    const auto linear = [](int v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(p.red) + 0.7152 * linear(p.green) + 0.0722 * linear(p.blue);
}

Rgb At(GdkPixbuf* shot, int x, int y) {
    const guint8* p = gdk_pixbuf_read_pixels(shot) + y * gdk_pixbuf_get_rowstride(shot) +
                      x * gdk_pixbuf_get_n_channels(shot);
    return {p[0], p[1], p[2]};
}

// The box's most common colour is its background; the text's strokes reach
// their full colour somewhere inside it: the contrast is that pixel's.
std::pair<Rgb, double> Read(GdkPixbuf* shot, const WidgetBox& box) {
    std::map<std::uint32_t, std::pair<int, Rgb>> counts;
    for (int y = box.y; y < box.y + box.height; ++y) {
        for (int x = box.x; x < box.x + box.width; ++x) {
            const Rgb p = At(shot, x, y);
            auto& entry = counts[(p.red << 16) | (p.green << 8) | p.blue];
            entry = {entry.first + 1, p};
        }
    }
    const auto most = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
        return a.second.first < b.second.first;
    });
    const double lb = Luminance(most->second.second);
    double contrast = 1.0;
    for (const auto& [key, entry] : counts) {
        const double l = Luminance(entry.second);
        contrast = std::max(contrast, (std::max(l, lb) + 0.05) / (std::min(l, lb) + 0.05));
    }
    return {most->second.second, contrast};
}

// Labels and buttons by their allocation, entries by where they draw text.
WidgetBox TextBox(GtkWidget* widget) {
    const WidgetBox box = BoxIn(widget);
    if (!GTK_IS_ENTRY(widget)) {
        return box;
    }
    GdkRectangle area{};
    gtk_entry_get_text_area(GTK_ENTRY(widget), &area);
    return {box.x + area.x, box.y + area.y, area.width, area.height};
}

PixbufPtr Screenshot(GtkWidget* window) {
    gtk_widget_queue_draw(window);
    PumpFor(200);
    GdkWindow* gdk = gtk_widget_get_window(window);
    return PixbufPtr(gdk_pixbuf_get_from_window(gdk, 0, 0, gdk_window_get_width(gdk),
                                                gdk_window_get_height(gdk)));
}

TEST_F(LookTest, EveryTextReadsWithAContrastOfAtLeastFourAndAHalf) {
    MainWidgets& w = Widgets();
    gtk_entry_set_text(GTK_ENTRY(w.outputFolderField), "/home/user/Pictures/out");
    gtk_entry_set_text(GTK_ENTRY(w.blueField), "255");
    AddLogLine(GTK_TEXT_VIEW(w.progressLog), 0, "[Done]  picture.jpg");
    gtk_widget_hide(w.dropHint.area);
    const PixbufPtr shot = Screenshot(w.mainWindow);
    ASSERT_TRUE(shot);
    for (GtkWidget* text :
         {w.outputFolderLabel, w.maxSizeLabel, w.sizeSeparatorLabel, w.jpegQualityLabel,
          w.outputFolderField, w.maxWidthField, w.maxHeightField, w.redField, w.greenField,
          w.blueField, gtk_bin_get_child(GTK_BIN(w.browseButton)), w.jpegQualityCombo,
          w.progressLog}) {
        EXPECT_GE(Read(shot.get(), TextBox(text)).second, 4.5) << gtk_widget_get_name(text);
    }
    // The preset rows below the selected first one, on the list's own white.
    WidgetBox rows = BoxIn(w.presetList);
    rows.y += rows.height / 3;
    rows.height -= rows.height / 3;
    EXPECT_GE(Read(shot.get(), rows).second, 4.5) << "PresetList";
    EXPECT_EQ(Read(shot.get(), rows).first, (Rgb{0xFF, 0xFF, 0xFF}));
    // The window's own colours, whatever the theme.
    const WidgetBox panel = BoxIn(w.schemePanel);
    const std::pair<WidgetBox, Rgb> own[] = {{TextBox(w.redField), {0xFF, 0xC0, 0xC0}},
                                             {TextBox(w.greenField), {0xC0, 0xFF, 0xC0}},
                                             {TextBox(w.blueField), {0xC0, 0xC0, 0xFF}},
                                             {BoxIn(w.progressLog), {0xF8, 0xF8, 0xF8}},
                                             {{panel.x, 0, 4, panel.height}, {0xE8, 0xE8, 0xE8}}};
    for (const auto& [box, colour] : own) {
        EXPECT_EQ(Read(shot.get(), box).first, colour);
    }
}

// Every label shown inside widget (buttons' and combo boxes' own included)
// has at least its natural size, so none wraps or is cut; every entry's text
// fits where the entry draws it.
void ExpectNothingClipped(GtkWidget* widget) {
    if (!gtk_widget_get_mapped(widget)) {
        return;
    }
    const char* name = gtk_widget_get_name(widget);
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    int natural = 0;
    if (GTK_IS_LABEL(widget) && *gtk_label_get_text(GTK_LABEL(widget)) != '\0') {
        gtk_widget_get_preferred_width(widget, nullptr, &natural);
        EXPECT_GE(a.width, natural) << name << " " << gtk_label_get_text(GTK_LABEL(widget));
        gtk_widget_get_preferred_height_for_width(widget, a.width, nullptr, &natural);
        EXPECT_GE(a.height, natural) << name;
    }
    if (GTK_IS_ENTRY(widget)) {
        pango_layout_get_pixel_size(gtk_entry_get_layout(GTK_ENTRY(widget)), &natural, nullptr);
        EXPECT_LE(natural, TextBox(widget).width) << name;
    }
    if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(
            GTK_CONTAINER(widget), [](GtkWidget* child, gpointer) { ExpectNothingClipped(child); },
            nullptr);
    }
}

TEST_F(LookTest, NoTextIsCutOrWrapped) {
    ExpectNothingClipped(Widgets().mainWindow);
    SetBatchLayout(Widgets(), true);
    gtk_button_set_label(GTK_BUTTON(Widgets().stopButton), _(kStopLabel));
    PumpFor(100);
    ExpectNothingClipped(Widgets().mainWindow);
}

TEST_F(LookTest, TheWindowOfAGermanSessionIsGerman) {
    if (std::string(std::setlocale(LC_MESSAGES, nullptr)).rfind("de", 0) != 0) {
        GTEST_SKIP() << "not a German session";
    }
    MainWidgets& w = Widgets();
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.outputFolderLabel)), "Zielordner");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.maxSizeLabel)), "Höchstmaß");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.jpegQualityLabel)), "JPEG-Qualität");
    gchar* quality = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(w.jpegQualityCombo));
    EXPECT_STREQ(quality, "Hoch");
    g_free(quality);
    // The chooser's buttons come from GTK's own catalogue.
    EXPECT_STREQ(g_dgettext(kGtkTextDomain, "_Cancel"), "_Abbrechen");
    EXPECT_STREQ(g_dgettext(kGtkTextDomain, "_Select"), "Aus_wählen");
}

TEST_F(LookTest, DrawingsAreSharpAtTwoDevicePixelsToAPixel) {
    MainWidgets& w = Widgets();
    if (gtk_widget_get_scale_factor(w.mainWindow) != 2) {
        GTEST_SKIP() << "not a screen of two device pixels to a pixel";
    }
    // On screen the hint shows its fine copy pixel for pixel, and every
    // palette pixel is a sharp 2 x 2 block of its colour.
    const PixbufPtr shot = Screenshot(w.mainWindow);
    ASSERT_TRUE(shot && w.dropHint.fine);
    DrawingCanvas fine;
    fine.image.reset(GDK_PIXBUF(g_object_ref(w.dropHint.fine.get())));
    for (const auto& [canvas, scale] : {std::pair<DrawingCanvas*, int>{&fine, 1},
                                        std::pair<DrawingCanvas*, int>{&w.paletteCanvas, 2}}) {
        const WidgetBox box = BoxIn(scale == 1 ? w.dropHint.area : w.paletteCanvas.area);
        int mismatches = 0;
        for (int y = 0; y < CanvasHeight(*canvas) * scale; ++y) {
            for (int x = 0; x < CanvasWidth(*canvas) * scale; ++x) {
                mismatches += At(shot.get(), 2 * box.x + x, 2 * box.y + y) ==
                                      PixelAt(*canvas, x / scale, y / scale)
                                  ? 0
                                  : 1;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

}  // namespace
}  // namespace corvanta::testing
