#include "ui/help_windows.h"

#include <png.h>

#include <algorithm>
#include <string_view>

#include "ui/help_text.h"

namespace corvanta {
namespace {

// libjpeg-turbo has no run-time copyright call; its holders and years as
// its own licence file states them, with the acknowledgement the IJG
// licence asks of programs that ship its code.
constexpr std::string_view kJpegNotice =
    "libjpeg-turbo, Copyright (C) 2009-2023 D. R. Commander; based in part on the work of the "
    "Independent JPEG Group, Copyright (C) 1991-2020 Thomas G. Lane, Guido Vollbeding.";
constexpr std::string_view kParagraphEnd = "\n\n";  // a line feed and an empty line

GtkWidget* TextInScrolledWindow(std::string_view text, GtkWidget** view) {
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_ETCHED_IN);
    *view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(*view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(*view), GTK_WRAP_WORD);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(*view)), text.data(),
                             static_cast<gint>(text.size()));
    gtk_container_add(GTK_CONTAINER(scroll), *view);
    return scroll;
}

// The window manager's frame: which buttons and which operations it offers.
void SetFrame(GtkWidget* window, GdkWMDecoration decorations, GdkWMFunction functions) {
    gtk_widget_realize(window);
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (gdkWindow != nullptr) {
        gdk_window_set_decorations(gdkWindow, decorations);
        gdk_window_set_functions(gdkWindow, functions);
    }
}

gboolean OnHelpConfigure(GtkWidget*, GdkEventConfigure* event, gpointer textScroll) {
    LayoutHelpWindow(static_cast<GtkWidget*>(textScroll), event->width, event->height);
    return FALSE;
}

GtkWidget* CentredLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.5F);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0F);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    return label;
}

// Escape and Ctrl+W close the window as its close button does.
gboolean OnWindowKey(GtkWidget* window, GdkEventKey* event, gpointer) {
    const bool control =
        (event->state & gtk_accelerator_get_default_mod_mask()) == GDK_CONTROL_MASK;
    if (event->keyval == GDK_KEY_Escape ||
        (control && (event->keyval == GDK_KEY_w || event->keyval == GDK_KEY_W))) {
        gtk_widget_destroy(window);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void ShowHelpWindow(OwnedToplevel& holder) {
    holder.Close();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (window == nullptr) {
        return;
    }
    gtk_window_set_title(GTK_WINDOW(window), _(kHelpWindowTitle));
    const double scale = TextScaleOf(gtk_widget_get_screen(window));
    const int width = ScaledLength(kHelpWindowWidth, scale);
    const int height = ScaledLength(kHelpWindowHeight, scale);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    GdkGeometry bounds{};
    bounds.min_width = ScaledLength(kHelpWindowMinWidth, scale);
    bounds.min_height = ScaledLength(kHelpWindowMinHeight, scale);
    bounds.max_width = kMaxWindowSize;
    bounds.max_height = kMaxWindowSize;
    gtk_window_set_geometry_hints(
        GTK_WINDOW(window), nullptr, &bounds,
        static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));

    // A GtkLayout does not take its minimum size from the text, so the
    // window can shrink down to its own bounds.
    GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(window), layout);
    GtkWidget* view = nullptr;
    GtkWidget* scroll = TextInScrolledWindow(_(kHelpText), &view);
    const int margin = ScaledLength(kHelpMargin, scale);
    gtk_layout_put(GTK_LAYOUT(layout), scroll, margin, margin);
    LayoutHelpWindow(scroll, width, height);
    g_signal_connect(window, "configure-event", G_CALLBACK(OnHelpConfigure), scroll);

    SetFrame(window,
             static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_RESIZEH | GDK_DECOR_TITLE |
                                          GDK_DECOR_MENU | GDK_DECOR_MINIMIZE),
             static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_RESIZE | GDK_FUNC_MINIMIZE |
                                        GDK_FUNC_CLOSE));
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnWindowKey), nullptr);
    holder.Replace(window);
    gtk_widget_show_all(window);
}

void LayoutHelpWindow(GtkWidget* textScroll, int width, int height) {
    const double scale = TextScaleOf(gtk_widget_get_screen(textScroll));
    const int w = std::max(width, ScaledLength(kHelpWindowMinWidth, scale));
    const int h = std::max(height, ScaledLength(kHelpWindowMinHeight, scale));
    const int margin = ScaledLength(kHelpMargin, scale);
    gtk_widget_set_size_request(textScroll, w - 2 * margin, h - 2 * margin);
}

void ShowCreditsWindow(OwnedToplevel& holder, const GdkPixbuf* iconImage) {
    holder.Close();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (window == nullptr) {
        return;
    }
    gtk_window_set_title(GTK_WINDOW(window), "");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);

    // Not resizable: the window takes exactly the size of its content.
    GtkWidget* fixed = gtk_fixed_new();
    const double scale = TextScaleOf(gtk_widget_get_screen(window));
    gtk_widget_set_size_request(fixed, ScaledLength(kCreditsWindowWidth, scale),
                                ScaledLength(kCreditsWindowHeight, scale));
    gtk_container_add(GTK_CONTAINER(window), fixed);
    GtkWidget* icon = iconImage != nullptr
                          ? gtk_image_new_from_pixbuf(const_cast<GdkPixbuf*>(iconImage))
                          : gtk_image_new();
    // The icon keeps its pixels and moves; the texts grow.
    const WidgetBox iconBox = MovedBox(kCreditsIconBox, scale);
    PlaceWidget(fixed, icon,
                {iconBox.x + (ScaledLength(kCreditsIconBox.width, scale) - iconBox.width) / 2,
                 iconBox.y, iconBox.width, iconBox.height});
    PlaceWidget(fixed, CentredLabel(kVersionLine), ScaledBox(kCreditsVersionBox, scale));
    PlaceWidget(fixed, CentredLabel(_(kAuthorLine)), ScaledBox(kCreditsAuthorBox, scale));
    GtkWidget* view = nullptr;
    GtkWidget* scroll = TextInScrolledWindow(CreditsText(), &view);
    // A text to read, not to work in: no cursor and no keyboard focus.
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_widget_set_can_focus(view, FALSE);
    PlaceWidget(fixed, scroll, ScaledBox(kCreditsTextBox, scale));

    SetFrame(window,
             static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU),
             static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnWindowKey), nullptr);
    holder.Replace(window);
    gtk_widget_show_all(window);
}

std::string PngNoticeLine(const char* copyright) {
    std::string line;
    std::string_view rest = copyright != nullptr ? copyright : "";
    constexpr std::string_view kBlanks = " \t\r";
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view piece = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::size_t first = piece.find_first_not_of(kBlanks);
        if (first == std::string_view::npos) {
            continue;
        }
        piece = piece.substr(first, piece.find_last_not_of(kBlanks) - first + 1);
        if (!line.empty()) {
            line += "; ";
        }
        line += piece;
    }
    if (line.empty()) {
        line = "libpng";
    }
    if (line.back() != '.') {
        line += '.';
    }
    return line;
}

std::string CreditsText() {
    std::string text;
    text += _("Credits:");
    text += kParagraphEnd;
    // TRANSLATORS: %s is the icon's author ("the Corvanta developers").
    gchar* iconLine = g_strdup_printf(_("App icon by %s."), _(kIconAuthor));
    text += iconLine;
    g_free(iconLine);
    text += kParagraphEnd;
    text += "~";
    text += kParagraphEnd;
    text += _("Acknowledgments:");
    text += kParagraphEnd;
    text += kJpegNotice;
    text += kParagraphEnd;
    // Asked of the library itself, so the line names the version linked.
    text += PngNoticeLine(png_get_copyright(nullptr));
    text += kParagraphEnd;
    return text;
}

}  // namespace corvanta
