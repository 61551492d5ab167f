// Input through the X server: xdotool moves the pointer, clicks and types,
// so these tests prove the event routing itself, not only the handlers.
// The last test starts the real program and closes its window.
#include <string>
#include <vector>

#include <cstring>

#include <sys/wait.h>

#include "dialog_answerer.h"
#include "gui_harness.h"
#include "ui/scheme_editor.h"
#include "x_clients.h"

// Xlib's macros (None, Bool, Status) would break gtest: included last.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace corvanta::testing {
namespace {

class InputTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        const Window xid = GDK_WINDOW_XID(gtk_widget_get_window(Widgets().mainWindow));
        Xdo({"windowfocus", "--sync", std::to_string(xid)});
    }

    // Moves the pointer to (x, y) inside widget.
    void MoveTo(GtkWidget* widget, int x, int y) {
        int sx = 0;
        int sy = 0;
        ScreenOrigin(widget, &sx, &sy);
        // No --sync: it waits for a movement that never comes when the
        // pointer already stands there. The server keeps the order anyway.
        Xdo({"mousemove", std::to_string(sx + x), std::to_string(sy + y)});
    }

    void ClickAt(GtkWidget* widget, int x, int y, int button = 1) {
        MoveTo(widget, x, y);
        Xdo({"click", std::to_string(button)});
    }

    void TypeInto(GtkWidget* field, const std::string& text) {
        ClickAt(field, 12, 12);
        Xdo({"key", "ctrl+a"});
        if (!text.empty()) {
            Xdo({"type", "--delay", "30", text});
        }
    }
};

std::string EntryText(GtkWidget* entry) {
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

TEST_F(InputTest, PointerOnTheSwatchRowHoversSelectsAndClears) {
    MoveTo(Widgets().swatchRow.area, 19 * 5 + 3, 12);
    MoveTo(Widgets().swatchRow.area, 19 * 5 + 4, 10);
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 5, 0), (Rgb{176, 176, 176}));
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 4, 0), (Rgb{232, 232, 232}));
    ClickAt(Widgets().swatchRow.area, 19 * 3 + 8, 10);
    EXPECT_EQ(Model().SelectedSlot(), 3);
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 3, 1), (Rgb{240, 144, 144}));
    ClickAt(Widgets().swatchRow.area, 19 * 8 + 8, 10, 3);
    EXPECT_EQ(Model().SelectedSlot(), 8);
    EXPECT_EQ(Scheme()[8], 0u);
    // Pressed on the row, released beside it: nothing happens.
    MoveTo(Widgets().swatchRow.area, 19 * 1 + 8, 10);
    Xdo({"mousedown", "3"});
    MoveTo(Widgets().swatchRow.area, 19 * 1 + 8, 60);
    Xdo({"mouseup", "3"});
    EXPECT_EQ(Model().SelectedSlot(), 8);
    EXPECT_EQ(Scheme()[0], 0xFF000000u);
}

TEST_F(InputTest, TypingInAColourFieldEditsTheSelectedSlot) {
    ClickAt(Widgets().swatchRow.area, 19 * 2 + 8, 10);
    TypeInto(Widgets().redField, "300");
    EXPECT_EQ(EntryText(Widgets().redField), "255");
    EXPECT_EQ(Scheme()[2], MakeOpaqueColor(255, 0, 0));
    TypeInto(Widgets().greenField, "007");
    EXPECT_EQ(EntryText(Widgets().greenField), "007");
    EXPECT_EQ(Scheme()[2], MakeOpaqueColor(255, 7, 0));
    TypeInto(Widgets().blueField, "");
    Xdo({"key", "minus", "4"});
    EXPECT_EQ(EntryText(Widgets().blueField), "0");
    EXPECT_EQ(Scheme()[2], MakeOpaqueColor(255, 7, 0));
    Xdo({"key", "BackSpace"});  // the field may be emptied: it counts as 0
    TypeInto(Widgets().greenField, "1");
    Xdo({"key", "BackSpace"});
    EXPECT_EQ(EntryText(Widgets().greenField), "");
    EXPECT_EQ(Scheme()[2], MakeOpaqueColor(255, 0, 0));
    TypeInto(Widgets().maxWidthField, "12a3");
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "123");
    Xdo({"type", "--delay", "30", "456"});
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "12345");
}

TEST_F(InputTest, CtrlRPutsTheClosestRandomColourIntoTheSelectedSlot) {
    std::vector<std::uint32_t> candidates(32, 0x808080);
    candidates[4] = 0x020100;  // the darkest of them
    Editor().random = Replay(candidates);
    ClickAt(Widgets().swatchRow.area, 19 * 0 + 8, 10);
    Xdo({"key", "ctrl+r"});
    EXPECT_EQ(Scheme()[0], 0xFF020100u);
    EXPECT_EQ(EntryText(Widgets().blueField), "2");
    // Also while a colour field has the keyboard focus.
    Editor().random = Replay({0xFFFFFF});
    ClickAt(Widgets().swatchRow.area, 19 * 8 + 8, 10);
    ClickAt(Widgets().redField, 12, 12);
    Xdo({"key", "ctrl+r"});
    EXPECT_EQ(Scheme()[8], 0xFFFFFFFFu);
    // The user preset shortcuts ask first; No keeps everything.
    const ColorScheme before = Scheme();
    {
        DialogAnswerer no("User presets", GTK_RESPONSE_NO);
        Xdo({"key", "ctrl+1"});
        PumpUntil([&] { return !no.Answered().empty(); });
        ASSERT_EQ(no.Answered().size(), 1u);
        EXPECT_EQ(no.Answered()[0].text, "Overwrite user preset 1 ?");
    }
    EXPECT_EQ(Scheme(), before);
    EXPECT_EQ(Model().Presets().rows[21].slots, MakePresetTable().rows[21].slots);
}

TEST_F(InputTest, ClickingAPresetRowAppliesItAndClickingAgainDiscardsEdits) {
    GtkTreeView* list = GTK_TREE_VIEW(Widgets().presetList);
    GtkTreePath* path = gtk_tree_path_new_from_indices(6, -1);  // "Deep green"
    gtk_tree_view_scroll_to_cell(list, path, nullptr, TRUE, 0.5F, 0.0F);
    PumpFor(200);
    GdkRectangle cell;
    gtk_tree_view_get_background_area(list, path, gtk_tree_view_get_column(list, 0), &cell);
    gtk_tree_path_free(path);
    int wx = 0;
    int wy = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(list, cell.x + 40, cell.y + cell.height / 2,
                                                      &wx, &wy);
    ClickAt(Widgets().presetList, wx, wy);
    EXPECT_EQ(Scheme(), MakePresetTable().rows[6].slots);
    ClickAt(Widgets().swatchRow.area, 19 * 4 + 8, 10, 3);
    EXPECT_EQ(Scheme()[4], 0u);
    ClickAt(Widgets().presetList, wx, wy);
    EXPECT_EQ(Scheme(), MakePresetTable().rows[6].slots);
}

TEST_F(InputTest, PaletteAndPreviewClicks) {
    ClickAt(Widgets().swatchRow.area, 19 * 1 + 8, 10);
    ClickAt(Widgets().paletteCanvas.area, 164, 4);  // the top grey: black
    EXPECT_EQ(Scheme()[1], 0xFF000000u);
    ClickAt(Widgets().paletteCanvas.area, 3, 45);  // block 0, red row 5, blue 0
    EXPECT_EQ(Scheme()[1], MakeOpaqueColor(255, 0, 0));
    // A left click on the preview does nothing; a right click restores it.
    PixbufPtr other(gdk_pixbuf_copy(State().images.previewFrame.get()));
    State().preview.source = std::move(other);
    ClickAt(Widgets().previewCanvas.area, 100, 100, 1);
    EXPECT_EQ(State().preview.source.get() == nullptr, false);
    EXPECT_EQ(gdk_pixbuf_read_pixels(State().preview.source.get())[768 * 100 + 300], 216);
    ClickAt(Widgets().previewCanvas.area, 100, 100, 3);
    EXPECT_EQ(std::memcmp(gdk_pixbuf_read_pixels(State().preview.source.get()),
                          gdk_pixbuf_read_pixels(State().images.defaultPreview.get()), 768 * 192),
              0);
}

// ---- the real program ---------------------------------------------------------

TEST(Program, StartsShowsItsWindowAndExitsWithZeroWhenClosed) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    gchar* argv[] = {const_cast<gchar*>(CORVANTA_PROGRAM), nullptr};
    GPid pid = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                              &pid, nullptr));
    Window window = 0;
    const gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (window == 0 && g_get_monotonic_time() < end) {
        g_usleep(20000);
        window = FindTopLevel("Corvanta");
    }
    ASSERT_NE(window, 0u) << "the window did not appear";
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    EXPECT_EQ(attributes.width, 740);
    EXPECT_EQ(attributes.height, 444);
    SendDeleteWindow(window);
    int status = -1;
    pid_t done = 0;
    while (done == 0 && g_get_monotonic_time() < end + 10 * G_USEC_PER_SEC) {
        done = waitpid(pid, &status, WNOHANG);
        g_usleep(20000);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the program did not end after its window was closed";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace corvanta::testing
