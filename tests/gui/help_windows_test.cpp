// The help and credits windows, and the icons that open them.
#include <png.h>

#include <string>
#include <vector>

#include "gui_harness.h"
#include "scheme/scheme_text.h"
#include "ui/help_text.h"
#include "ui/help_windows.h"
#include "x_clients.h"

// Xlib's macros (None, Bool, Status) would break gtest: included last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

namespace corvanta::testing {
namespace {

using HelpWindowsTest = MainWindowTest;

std::vector<GtkWidget*> Children(GtkWidget* container) {
    std::vector<GtkWidget*> found;
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* item = list; item != nullptr; item = item->next) {
        found.push_back(GTK_WIDGET(item->data));
    }
    g_list_free(list);
    return found;
}

void ExpectBox(GtkWidget* widget, const WidgetBox& want, const char* what) {
    const WidgetBox got = BoxIn(widget);
    EXPECT_EQ(got.x, want.x) << what;
    EXPECT_EQ(got.y, want.y) << what;
    EXPECT_EQ(got.width, want.width) << what;
    EXPECT_EQ(got.height, want.height) << what;
}

bool Mapped(GtkWidget* window) {
    return window != nullptr && gtk_widget_get_mapped(window);
}

// The size hints and the frame a window manager would apply.
struct FrameHints {
    XSizeHints size{};
    unsigned long functions = 0;
    unsigned long decorations = 0;
};

FrameHints HintsOf(GtkWidget* window) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const Window xid = GDK_WINDOW_XID(gtk_widget_get_window(window));
    FrameHints hints;
    long supplied = 0;
    XGetWMNormalHints(display, xid, &hints.size, &supplied);
    const Atom motif = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, xid, motif, 0, 5, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && count >= 3) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        hints.functions = values[1];
        hints.decorations = values[2];
    }
    if (data != nullptr) {
        XFree(data);
    }
    return hints;
}

TEST(HelpText, IsTheManualOf2047AsciiCharactersWithItsHeadings) {
    const std::string text(kHelpText);
    EXPECT_EQ(text.size(), 2047u);
    EXPECT_EQ(text.substr(0, 2), "\n\n");
    EXPECT_EQ(text.substr(2, 9), "Corvanta ");
    EXPECT_NE(text.back(), '\n');
    for (const std::string heading :
         {"Overview", "Drop area", "Output settings", "Color settings"}) {
        EXPECT_NE(text.find("\n\n\n" + heading + "\n" + std::string(heading.size(), '=') + "\n"),
                  std::string::npos)
            << heading;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << "character " << i;
        ASSERT_FALSE(c == ' ' && (i + 1 == text.size() || text[i + 1] == '\n'))
            << "trailing blank at " << i;
    }
    EXPECT_EQ(text.find("\n\n\n\n"), std::string::npos);  // single line feeds, two at most empty
}

TEST_F(HelpWindowsTest, HelpWindowShowsTheTextAndFollowsItsSize) {
    ShowHelpWindow(State().helpWindow);
    GtkWidget* help = State().helpWindow.Get();
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Mapped(help); }));
    PumpFor(100);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(help)), "Corvanta help");
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(help)), nullptr);
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(help)));
    int w = 0;
    int h = 0;
    gtk_window_get_size(GTK_WINDOW(help), &w, &h);
    EXPECT_EQ(w, 520);
    EXPECT_EQ(h, 350);

    const std::vector<GtkWidget*> layout = Children(help);
    ASSERT_EQ(layout.size(), 1u);
    const std::vector<GtkWidget*> inLayout = Children(layout[0]);
    ASSERT_EQ(inLayout.size(), 1u);
    GtkWidget* scroll = inLayout[0];
    ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(scroll));
    EXPECT_EQ(gtk_scrolled_window_get_shadow_type(GTK_SCROLLED_WINDOW(scroll)),
              GTK_SHADOW_ETCHED_IN);
    GtkWidget* view = gtk_bin_get_child(GTK_BIN(scroll));
    ASSERT_TRUE(GTK_IS_TEXT_VIEW(view));
    EXPECT_EQ(TextOf(view), std::string(kHelpText));
    EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(view)));
    EXPECT_EQ(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(view)), GTK_WRAP_WORD);
    ExpectBox(scroll, {10, 10, 500, 330}, "text at the start");

    const FrameHints hints = HintsOf(help);
    EXPECT_EQ(hints.size.min_width, 300);
    EXPECT_EQ(hints.size.min_height, 200);
    EXPECT_EQ(hints.size.max_width, 16000);
    EXPECT_EQ(hints.decorations,
              static_cast<unsigned long>(GDK_DECOR_BORDER | GDK_DECOR_RESIZEH | GDK_DECOR_TITLE |
                                         GDK_DECOR_MENU | GDK_DECOR_MINIMIZE));
    EXPECT_EQ(hints.functions, static_cast<unsigned long>(GDK_FUNC_MOVE | GDK_FUNC_RESIZE |
                                                          GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));

    // Never smaller than 300 x 200; the margins stay 10 on every side.
    gtk_window_resize(GTK_WINDOW(help), 100, 50);
    ASSERT_TRUE(PumpUntil([&] { return BoxIn(scroll).width == 280; }));
    PumpFor(100);
    gtk_window_get_size(GTK_WINDOW(help), &w, &h);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    ExpectBox(scroll, {10, 10, 280, 180}, "text at the minimum");
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), &end);
    int narrowY = 0;
    int lineHeight = 0;
    gtk_text_view_get_line_yrange(GTK_TEXT_VIEW(view), &end, &narrowY, &lineHeight);

    gtk_window_resize(GTK_WINDOW(help), 900, 640);
    ASSERT_TRUE(PumpUntil([&] { return BoxIn(scroll).width == 880; }));
    PumpFor(200);
    ExpectBox(scroll, {10, 10, 880, 620}, "text in a larger window");
    int wideY = 0;
    gtk_text_buffer_get_end_iter(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), &end);
    gtk_text_view_get_line_yrange(GTK_TEXT_VIEW(view), &end, &wideY, &lineHeight);
    EXPECT_LT(wideY, narrowY);  // the paragraphs rewrapped into fewer lines
}

TEST_F(HelpWindowsTest, OpeningAgainReplacesAndClosingLeavesTheProgramRunning) {
    ShowHelpWindow(State().helpWindow);
    GtkWidget* first = State().helpWindow.Get();
    ASSERT_TRUE(PumpUntil([&] { return Mapped(first); }));
    bool firstGone = false;
    g_signal_connect(first, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer gone) {
                         *static_cast<bool*>(gone) = true;
                     }),
                     &firstGone);
    gtk_window_resize(GTK_WINDOW(first), 800, 600);
    PumpFor(100);

    ShowHelpWindow(State().helpWindow);
    EXPECT_TRUE(firstGone);
    GtkWidget* second = State().helpWindow.Get();
    ASSERT_TRUE(PumpUntil([&] { return Mapped(second); }));
    PumpFor(100);
    int w = 0;
    int h = 0;
    gtk_window_get_size(GTK_WINDOW(second), &w, &h);
    EXPECT_EQ(w, 520);  // a fresh window at its initial size
    EXPECT_EQ(h, 350);

    ShowCreditsWindow(State().creditsWindow, State().images.appIconSmall.get());
    GtkWidget* credits = State().creditsWindow.Get();
    ASSERT_TRUE(PumpUntil([&] { return Mapped(credits); }));
    EXPECT_TRUE(Mapped(second));  // both can be open at once

    // The close button destroys each window; the main window stays.
    gtk_window_close(GTK_WINDOW(second));
    gtk_window_close(GTK_WINDOW(credits));
    EXPECT_TRUE(PumpUntil([&] {
        return State().helpWindow.Get() == nullptr && State().creditsWindow.Get() == nullptr;
    }));
    EXPECT_FALSE(State().closeRequested);
    EXPECT_TRUE(Mapped(Widgets().mainWindow));
    // A window left open goes with the state at the end (TearDown).
    ShowHelpWindow(State().helpWindow);
}

TEST_F(HelpWindowsTest, CreditsWindowIsFixedAndNamesTheLibraries) {
    ShowCreditsWindow(State().creditsWindow, State().images.appIconSmall.get());
    GtkWidget* credits = State().creditsWindow.Get();
    ASSERT_NE(credits, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Mapped(credits); }));
    PumpFor(100);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(credits)), "");
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(credits)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(credits)), nullptr);
    int w = 0;
    int h = 0;
    gtk_window_get_size(GTK_WINDOW(credits), &w, &h);
    EXPECT_EQ(w, 260);
    EXPECT_EQ(h, 320);
    gtk_window_resize(GTK_WINDOW(credits), 500, 400);
    PumpFor(200);
    gtk_window_get_size(GTK_WINDOW(credits), &w, &h);
    EXPECT_EQ(w, 260);
    EXPECT_EQ(h, 320);
    const FrameHints hints = HintsOf(credits);
    EXPECT_EQ(hints.size.min_width, 260);
    EXPECT_EQ(hints.size.max_width, 260);
    EXPECT_EQ(hints.size.min_height, 320);
    EXPECT_EQ(hints.size.max_height, 320);
    EXPECT_EQ(hints.decorations,
              static_cast<unsigned long>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
    EXPECT_EQ(hints.functions, static_cast<unsigned long>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));

    const std::vector<GtkWidget*> fixed = Children(credits);
    ASSERT_EQ(fixed.size(), 1u);
    const std::vector<GtkWidget*> parts = Children(fixed[0]);
    ASSERT_EQ(parts.size(), 4u);
    ASSERT_TRUE(GTK_IS_IMAGE(parts[0]));
    EXPECT_EQ(gtk_image_get_pixbuf(GTK_IMAGE(parts[0])), State().images.appIconSmall.get());
    ExpectBox(parts[0], {82, 16, 96, 96}, "icon");
    ASSERT_TRUE(GTK_IS_LABEL(parts[1]));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(parts[1])), "Corvanta 1.0.0");
    EXPECT_EQ(gtk_label_get_xalign(GTK_LABEL(parts[1])), 0.5F);
    ExpectBox(parts[1], {0, 120, 260, 20}, "version");
    ASSERT_TRUE(GTK_IS_LABEL(parts[2]));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(parts[2])), "by the Corvanta developers");
    ExpectBox(parts[2], {0, 140, 260, 20}, "author");
    ExpectBox(parts[3], {10, 170, 240, 140}, "credits text");
    GtkWidget* view = gtk_bin_get_child(GTK_BIN(parts[3]));
    EXPECT_EQ(TextOf(view), CreditsText());
    EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(view)));
    EXPECT_EQ(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(view)), GTK_WRAP_WORD);

    const std::string text = CreditsText();
    const std::string head =
        "Credits:\n\nApp icon by the Corvanta developers.\n\n~\n\nAcknowledgments:\n\n"
        "libjpeg-turbo, Copyright (C) 2009-2023 D. R. Commander";
    EXPECT_EQ(text.substr(0, head.size()), head);
    const std::string png = std::string("libpng version ") + png_get_libpng_ver(nullptr) + ";";
    const std::size_t pngAt = text.find(png);
    ASSERT_NE(pngAt, std::string::npos);
    EXPECT_EQ(text.substr(pngAt - 3, 3), ".\n\n");  // the JPEG notice's end
    EXPECT_EQ(text.substr(text.size() - 3), ".\n\n");
    EXPECT_EQ(PngNoticeLine("\n libpng version 9.9\nCopyright (c) 2001 Some One\n  "),
              "libpng version 9.9; Copyright (c) 2001 Some One.");
    EXPECT_EQ(PngNoticeLine(nullptr), "libpng.");
}

TEST_F(HelpWindowsTest, IconClicksThroughTheXServerOpenTheWindowsAndCopy) {
    const Window xid = GDK_WINDOW_XID(gtk_widget_get_window(Widgets().mainWindow));
    Xdo({"windowfocus", "--sync", std::to_string(xid)});
    const auto clickIcon = [&](GtkWidget* icon, int button) {
        int x = 0;
        int y = 0;
        ScreenOrigin(icon, &x, &y);
        Xdo({"mousemove", std::to_string(x + 12), std::to_string(y + 12)});
        Xdo({"click", std::to_string(button)});
    };
    clickIcon(Widgets().helpIcon, 1);
    EXPECT_TRUE(PumpUntil([&] { return Mapped(State().helpWindow.Get()); }));
    clickIcon(Widgets().infoIcon, 1);
    EXPECT_TRUE(PumpUntil([&] { return Mapped(State().creditsWindow.Get()); }));
    Model().Replace(MakePresetTable().rows[9].slots);
    clickIcon(Widgets().infoIcon, 3);
    EXPECT_EQ(ReadClipboard(), FormatSchemeText(MakePresetTable().rows[9].slots));
}

}  // namespace
}  // namespace corvanta::testing
