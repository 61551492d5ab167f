// What the window looks like under the theme, text scale and language the
// test program was started with (see gui.cmake): every text readable on
// screen, the window's own colours kept.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "app/batch_controller.h"
#include "app/progress_log.h"
#include "common/pixbuf_ptr.h"
#include "gui_harness.h"
#include "ui/folder_chooser.h"
#include "ui/help_windows.h"

namespace corvanta::testing {
namespace {

using LookTest = MainWindowTest;

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const Rgb& p) {
    return 0.2126 * Linear(p.red) + 0.7152 * Linear(p.green) + 0.0722 * Linear(p.blue);
}

double Contrast(const Rgb& a, const Rgb& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct Reading {
    Rgb background;
    double contrast;  // of the pixel that differs most from the background
};

// The most common colour of the box is its background; the text's strokes
// reach their full colour somewhere inside it.
Reading Read(GdkPixbuf* shot, const WidgetBox& box) {
    std::map<std::uint32_t, int> counts;
    const int stride = gdk_pixbuf_get_rowstride(shot);
    const int channels = gdk_pixbuf_get_n_channels(shot);
    const guint8* pixels = gdk_pixbuf_read_pixels(shot);
    const auto at = [&](int x, int y) {
        const guint8* p = pixels + y * stride + x * channels;
        return Rgb{p[0], p[1], p[2]};
    };
    for (int y = box.y; y < box.y + box.height; ++y) {
        for (int x = box.x; x < box.x + box.width; ++x) {
            const Rgb p = at(x, y);
            ++counts[(p.red << 16) | (p.green << 8) | p.blue];
        }
    }
    std::uint32_t common = 0;
    int most = 0;
    for (const auto& [color, n] : counts) {
        if (n > most) {
            most = n;
            common = color;
        }
    }
    Reading reading{{static_cast<std::uint8_t>(common >> 16),
                     static_cast<std::uint8_t>(common >> 8), static_cast<std::uint8_t>(common)},
                    1.0};
    for (const auto& [color, n] : counts) {
        const Rgb p{static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                    static_cast<std::uint8_t>(color)};
        reading.contrast = std::max(reading.contrast, Contrast(p, reading.background));
    }
    return reading;
}

// Where the entry draws its text, in the toplevel's coordinates.
WidgetBox TextArea(GtkWidget* entry) {
    GdkRectangle area{};
    gtk_entry_get_text_area(GTK_ENTRY(entry), &area);
    const WidgetBox box = BoxIn(entry);
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
    gtk_entry_set_text(GTK_ENTRY(w.redField), "128");
    gtk_entry_set_text(GTK_ENTRY(w.greenField), "64");
    gtk_entry_set_text(GTK_ENTRY(w.blueField), "255");
    AddLogLine(GTK_TEXT_VIEW(w.progressLog), 0, "[Done]  picture.jpg");
    gtk_widget_hide(w.dropHint.area);
    const PixbufPtr shot = Screenshot(w.mainWindow);
    ASSERT_TRUE(shot);

    const std::pair<const char*, WidgetBox> texts[] = {
        {"OutputFolderLabel", BoxIn(w.outputFolderLabel)},
        {"MaxSizeLabel", BoxIn(w.maxSizeLabel)},
        {"SizeSeparatorLabel", BoxIn(w.sizeSeparatorLabel)},
        {"JpegQualityLabel", BoxIn(w.jpegQualityLabel)},
        {"OutputFolderField", TextArea(w.outputFolderField)},
        {"MaxWidthField", TextArea(w.maxWidthField)},
        {"MaxHeightField", TextArea(w.maxHeightField)},
        {"RedField", TextArea(w.redField)},
        {"GreenField", TextArea(w.greenField)},
        {"BlueField", TextArea(w.blueField)},
        {"BrowseButton", BoxIn(gtk_bin_get_child(GTK_BIN(w.browseButton)))},
        {"JpegQualityCombo", BoxIn(w.jpegQualityCombo)},
        {"ProgressLog", BoxIn(w.progressLog)},
    };
    for (const auto& [name, box] : texts) {
        EXPECT_GE(Read(shot.get(), box).contrast, 4.5) << name;
    }
    // The rows below the selected first one.
    WidgetBox rows = BoxIn(w.presetList);
    GdkRectangle first{};
    GtkTreePath* top = gtk_tree_path_new_first();
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(w.presetList), top, nullptr, &first);
    gtk_tree_path_free(top);
    rows.y += first.height + 2;
    rows.height -= first.height + 2;
    const Reading list = Read(shot.get(), rows);
    EXPECT_GE(list.contrast, 4.5) << "PresetList";

    // The window's own colours, whatever the theme.
    EXPECT_EQ(list.background, (Rgb{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Read(shot.get(), TextArea(w.redField)).background, (Rgb{0xFF, 0xC0, 0xC0}));
    EXPECT_EQ(Read(shot.get(), TextArea(w.greenField)).background, (Rgb{0xC0, 0xFF, 0xC0}));
    EXPECT_EQ(Read(shot.get(), TextArea(w.blueField)).background, (Rgb{0xC0, 0xC0, 0xFF}));
    EXPECT_EQ(Read(shot.get(), BoxIn(w.progressLog)).background, (Rgb{0xF8, 0xF8, 0xF8}));
    const WidgetBox panel = BoxIn(w.schemePanel);
    EXPECT_EQ(Read(shot.get(), {panel.x, panel.y, 4, panel.height}).background,
              (Rgb{0xE8, 0xE8, 0xE8}));
}

// Every label shown inside widget (buttons' and combo boxes' own included)
// has at least its natural size, so none wraps or is cut; every entry's text
// fits its text area.
void ExpectNothingClipped(GtkWidget* widget) {
    if (!gtk_widget_get_mapped(widget)) {
        return;
    }
    const char* name = gtk_widget_get_name(widget);
    if (GTK_IS_LABEL(widget) && *gtk_label_get_text(GTK_LABEL(widget)) != '\0') {
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        int natural = 0;
        gtk_widget_get_preferred_width(widget, nullptr, &natural);
        EXPECT_GE(a.width, natural)
            << name << " \"" << gtk_label_get_text(GTK_LABEL(widget)) << '"';
        int height = 0;
        gtk_widget_get_preferred_height_for_width(widget, a.width, nullptr, &height);
        EXPECT_GE(a.height, height) << name;
    }
    if (GTK_IS_ENTRY(widget)) {
        int textWidth = 0;
        pango_layout_get_pixel_size(gtk_entry_get_layout(GTK_ENTRY(widget)), &textWidth, nullptr);
        GdkRectangle area{};
        gtk_entry_get_text_area(GTK_ENTRY(widget), &area);
        EXPECT_LE(textWidth, area.width)
            << name << " \"" << gtk_entry_get_text(GTK_ENTRY(widget)) << '"';
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

// The credits window's children, top to bottom, never overlap.
TEST_F(LookTest, TheCreditsWindowsPartsDoNotOverlap) {
    OwnedToplevel credits;
    ShowCreditsWindow(credits, State().images.appIconSmall.get());
    ASSERT_NE(credits.Get(), nullptr);
    PumpUntil([&] { return gtk_widget_get_mapped(credits.Get()); });
    PumpFor(100);
    ExpectNothingClipped(credits.Get());
    GList* parts =
        gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(credits.Get()))));
    std::vector<WidgetBox> boxes;
    for (GList* item = parts; item != nullptr; item = item->next) {
        boxes.push_back(BoxIn(GTK_WIDGET(item->data)));
    }
    g_list_free(parts);
    std::sort(boxes.begin(), boxes.end(),
              [](const WidgetBox& a, const WidgetBox& b) { return a.y < b.y; });
    ASSERT_EQ(boxes.size(), 4U);
    for (std::size_t i = 1; i < boxes.size(); ++i) {
        EXPECT_LE(boxes[i - 1].y + boxes[i - 1].height, boxes[i].y) << i;
    }
}

std::string LabelText(GtkWidget* label) {
    return gtk_label_get_text(GTK_LABEL(label));
}

// The labels of GTK's own buttons in the folder chooser, read while it is open.
gboolean ReadChooserButtons(gpointer out) {
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) &&
            gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
            GtkDialog* dialog = GTK_DIALOG(item->data);
            auto* labels = static_cast<std::pair<std::string, std::string>*>(out);
            labels->first = gtk_button_get_label(
                GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_CANCEL)));
            labels->second = gtk_button_get_label(
                GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_ACCEPT)));
            gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
        }
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
}

TEST_F(LookTest, TheWindowOfAGermanSessionIsGerman) {
    const char* language = std::setlocale(LC_MESSAGES, nullptr);
    if (language == nullptr || std::string(language).rfind("de", 0) != 0) {
        GTEST_SKIP() << "not a German session";
    }
    MainWidgets& w = Widgets();
    EXPECT_EQ(LabelText(w.outputFolderLabel), "Zielordner");
    EXPECT_EQ(LabelText(w.maxSizeLabel), "Höchstmaß");
    EXPECT_EQ(LabelText(w.jpegQualityLabel), "JPEG-Qualität");
    gchar* quality = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(w.jpegQualityCombo));
    EXPECT_STREQ(quality, "Hoch");
    g_free(quality);
    // The hint is drawn from its text: grey letters, not the English bitmap.
    int letters = 0;
    for (int y = 0; y < CanvasHeight(w.dropHint); ++y) {
        for (int x = 0; x < CanvasWidth(w.dropHint); ++x) {
            const Rgb p = PixelAt(w.dropHint, x, y);
            EXPECT_TRUE(p.red == p.green && p.green == p.blue);
            letters += p.red < 0xC0 ? 1 : 0;
        }
    }
    EXPECT_GT(letters, 200);

    std::pair<std::string, std::string> buttons;
    const guint reader = g_timeout_add(50, ReadChooserButtons, &buttons);
    ChooseOutputFolder(GTK_WINDOW(w.mainWindow), GTK_ENTRY(w.outputFolderField));
    g_source_remove(reader);
    EXPECT_EQ(buttons.first, "_Abbrechen");
    EXPECT_EQ(buttons.second, "Aus_wählen");
}

TEST_F(LookTest, DrawingsAreSharpAtTwoDevicePixelsToAPixel) {
    MainWidgets& w = Widgets();
    if (gtk_widget_get_scale_factor(w.mainWindow) != 2) {
        GTEST_SKIP() << "not a screen of two device pixels to a pixel";
    }
    // The icons come from their 2x bitmaps.
    for (GtkWidget* icon : {w.helpIcon, w.infoIcon}) {
        GtkImage* image = GTK_IMAGE(gtk_bin_get_child(GTK_BIN(icon)));
        ASSERT_EQ(gtk_image_get_storage_type(image), GTK_IMAGE_SURFACE);
        cairo_surface_t* surface = nullptr;
        g_object_get(image, "surface", &surface, nullptr);
        ASSERT_NE(surface, nullptr);
        double sx = 0;
        double sy = 0;
        cairo_surface_get_device_scale(surface, &sx, &sy);
        EXPECT_EQ(sx, 2.0);
        EXPECT_EQ(cairo_image_surface_get_width(surface), 48);
        cairo_surface_destroy(surface);
    }
    // On screen, the hint shows its fine copy pixel for pixel and every
    // palette pixel is a sharp 2 x 2 block of its colour.
    const PixbufPtr shot = Screenshot(w.mainWindow);
    ASSERT_TRUE(shot);
    const int stride = gdk_pixbuf_get_rowstride(shot.get());
    const int channels = gdk_pixbuf_get_n_channels(shot.get());
    const auto at = [&](int x, int y) {
        const guint8* p = gdk_pixbuf_read_pixels(shot.get()) + y * stride + x * channels;
        return Rgb{p[0], p[1], p[2]};
    };
    ASSERT_TRUE(w.dropHint.fine);
    DrawingCanvas fine;
    fine.image.reset(GDK_PIXBUF(g_object_ref(w.dropHint.fine.get())));
    const WidgetBox hint = BoxIn(w.dropHint.area);
    int mismatches = 0;
    for (int y = 0; y < CanvasHeight(fine); ++y) {
        for (int x = 0; x < CanvasWidth(fine); ++x) {
            mismatches += at(2 * hint.x + x, 2 * hint.y + y) == PixelAt(fine, x, y) ? 0 : 1;
        }
    }
    EXPECT_EQ(mismatches, 0);
    const WidgetBox palette = BoxIn(w.paletteCanvas.area);
    mismatches = 0;
    for (int y = 0; y < palette.height * 2; ++y) {
        for (int x = 0; x < palette.width * 2; ++x) {
            mismatches +=
                at(2 * palette.x + x, 2 * palette.y + y) == PixelAt(w.paletteCanvas, x / 2, y / 2)
                    ? 0
                    : 1;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace corvanta::testing
