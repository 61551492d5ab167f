// The window without a mouse and for a screen reader: real key presses
// through the X server (xdotool), the accessible tree as a screen reader
// walks it, and batches started from the keyboard and the command line.
#include <cstdio>
#include <string>
#include <vector>

#include <atk/atk.h>

#include "app/program.h"
#include "batch_helpers.h"
#include "dialog_answerer.h"
#include "x_clients.h"

// Xlib's macros (None, Bool, Status) would break gtest: included last.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace corvanta::testing {
namespace {

class KeyboardTest : public BatchTest {
  protected:
    void SetUp() override {
        BatchTest::SetUp();
        FocusWindow(Widgets().mainWindow);
    }

    // Gives a window the X input focus, as a window manager does for a new one.
    static void FocusWindow(GtkWidget* window) {
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(window) != 0; }));
        const Window xid = GDK_WINDOW_XID(gtk_widget_get_window(window));
        Xdo({"windowfocus", "--sync", std::to_string(xid)});
    }

    GtkWidget* Focus() { return gtk_window_get_focus(GTK_WINDOW(Widgets().mainWindow)); }
    bool HasFocusIn(GtkWidget* widget) {
        GtkWidget* focus = Focus();
        return focus != nullptr && (focus == widget || gtk_widget_is_ancestor(focus, widget));
    }
    void Keys(const std::string& key, int times = 1) {
        for (int i = 0; i < times; ++i) {
            Xdo({"key", key}, 60);
        }
    }
    void ClickAt(GtkWidget* widget, int x, int y, int button = 1) {
        int sx = 0;
        int sy = 0;
        ScreenOrigin(widget, &sx, &sy);
        Xdo({"mousemove", std::to_string(sx + x), std::to_string(sy + y)});
        Xdo({"click", std::to_string(button)});
    }
};

// A mapped top-level window of type, or null.
GtkWidget* OpenToplevel(GType type) {
    GtkWidget* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type) &&
            gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
            found = GTK_WIDGET(item->data);
        }
    }
    g_list_free(windows);
    return found;
}

// The widget's pixel at (x, y) as the widget draws itself, marks included.
Rgb DrawnPixel(GtkWidget* widget, int x, int y) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, gtk_widget_get_allocated_width(widget),
                                   gtk_widget_get_allocated_height(widget));
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(widget, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const auto* row = cairo_image_surface_get_data(surface) +
                      static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface);
    const guint32 pixel = reinterpret_cast<const guint32*>(row)[x];
    cairo_surface_destroy(surface);
    return {static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
            static_cast<std::uint8_t>(pixel)};
}

TEST_F(KeyboardTest, TabVisitsEveryControlInReadingOrderAndShowsFocusOnlyAfterAKey) {
    MainWidgets& w = Widgets();
    EXPECT_EQ(Focus(), w.schemePanel);
    EXPECT_FALSE(gtk_window_get_focus_visible(GTK_WINDOW(w.mainWindow)));
    const std::vector<std::pair<const char*, GtkWidget*>> order{
        {"preview", w.previewCanvas.area},
        {"presets", w.presetList},
        {"palette", w.paletteCanvas.area},
        {"red", w.redField},
        {"green", w.greenField},
        {"blue", w.blueField},
        {"swatches", w.swatchRow.area},
        {"help", w.helpIcon},
        {"info", w.infoIcon},
        {"log", w.progressLog},
        {"folder", w.outputFolderField},
        {"browse", w.browseButton},
        {"width", w.maxWidthField},
        {"height", w.maxHeightField},
        {"quality", w.jpegQualityCombo},
        {"preview again", w.previewCanvas.area}};
    for (const auto& [name, widget] : order) {
        Keys("Tab");
        EXPECT_TRUE(HasFocusIn(widget)) << name;
    }
    EXPECT_TRUE(gtk_window_get_focus_visible(GTK_WINDOW(w.mainWindow)));
    Keys("shift+Tab");
    EXPECT_TRUE(HasFocusIn(w.jpegQualityCombo));
}

TEST_F(KeyboardTest, EditingByKeysEqualsTheSameEditByMouse) {
    MainWidgets& w = Widgets();
    // Keys only: the third preset, slot 3, red 200, slot 5 cleared.
    Keys("Tab", 2);
    ASSERT_TRUE(HasFocusIn(w.presetList));
    Keys("Down", 2);
    Keys("Tab", 5);
    ASSERT_TRUE(HasFocusIn(w.swatchRow.area));
    Keys("Left", 8);
    Keys("Right", 3);
    Keys("shift+Tab", 3);
    ASSERT_TRUE(HasFocusIn(w.redField));
    Keys("ctrl+a");
    Xdo({"type", "--delay", "30", "200"});
    Keys("Tab", 3);
    Keys("Right", 2);
    Keys("Delete");
    const ColorScheme byKeys = Scheme();
    EXPECT_EQ(Model().SelectedSlot(), 5);
    EXPECT_EQ(SlotRed(byKeys[3]), 200);
    EXPECT_EQ(byKeys[5], 0u);

    // The mouse: a click on the same row applies it afresh.
    GdkRectangle row{};
    GtkTreePath* path = gtk_tree_path_new_from_indices(2, -1);
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(w.presetList), path, nullptr, &row);
    gtk_tree_path_free(path);
    ClickAt(w.presetList, row.x + 20, row.y + row.height / 2);
    EXPECT_NE(Scheme(), byKeys);
    ClickAt(w.swatchRow.area, kSwatchPitch * 3 + 8, 10);
    ClickAt(w.redField, 12, 12);
    Keys("ctrl+a");
    Xdo({"type", "--delay", "30", "200"});
    ClickAt(w.swatchRow.area, kSwatchPitch * 5 + 8, 10, 3);
    EXPECT_EQ(Scheme(), byKeys);
    EXPECT_EQ(Model().SelectedSlot(), 5);
}

TEST_F(KeyboardTest, PaletteCursorPicksAndTheWindowKeysOpenAndCloseTheirWindows) {
    MainWidgets& w = Widgets();
    // Focus given without a key shows no mark; the cursor's mark follows the keys.
    gtk_widget_grab_focus(w.paletteCanvas.area);
    EXPECT_EQ(DrawnPixel(w.paletteCanvas.area, 0, 0), PixelAt(w.paletteCanvas, 0, 0));
    Keys("Right", 2);
    Keys("Down");
    EXPECT_EQ(DrawnPixel(w.paletteCanvas.area, 2 * kPaletteCell, kPaletteCell),
              (Rgb{255, 255, 255}));
    Keys("Return");
    EXPECT_EQ(Model().SelectedColor(), *PaletteColorAt(2 * kPaletteCell + 1, kPaletteCell + 1));

    Keys("F1");
    FocusWindow(State().helpWindow.Get());
    Keys("Escape");
    EXPECT_EQ(State().helpWindow.Get(), nullptr);
    FocusWindow(w.mainWindow);
    Keys("Tab", 6);  // red, green, blue, swatches, help: on to the info icon
    ASSERT_TRUE(HasFocusIn(w.infoIcon));
    Keys("space");
    FocusWindow(State().creditsWindow.Get());
    Keys("ctrl+w");
    EXPECT_EQ(State().creditsWindow.Get(), nullptr);
    FocusWindow(w.mainWindow);
    Keys("ctrl+question");
    FocusWindow(OpenToplevel(GTK_TYPE_SHORTCUTS_WINDOW));
    Keys("Escape");
    EXPECT_TRUE(PumpUntil([] { return OpenToplevel(GTK_TYPE_SHORTCUTS_WINDOW) == nullptr; }));
    FocusWindow(w.mainWindow);
    EXPECT_FALSE(State().closeRequested);
    Keys("ctrl+q");
    EXPECT_TRUE(State().closeRequested);
}

// ---- batches from the keyboard and the command line -------------------------------

// Plays the user in the chooser: goes to folder and accepts, or cancels
// when there is none; records what kind of chooser it was.
struct ChooserPick {
    std::string folder;
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_SAVE;
    bool multiple = false;
    bool answered = false;
};

gboolean Pick(gpointer data) {
    auto* pick = static_cast<ChooserPick*>(data);
    auto* chooser = reinterpret_cast<GtkFileChooser*>(OpenToplevel(GTK_TYPE_FILE_CHOOSER_DIALOG));
    if (chooser == nullptr) {
        return G_SOURCE_CONTINUE;
    }
    pick->action = gtk_file_chooser_get_action(chooser);
    pick->multiple = gtk_file_chooser_get_select_multiple(chooser);
    gchar* now = gtk_file_chooser_get_filename(chooser);
    const bool there = now != nullptr && pick->folder == now;
    g_free(now);
    if (!there && !pick->folder.empty()) {
        gtk_file_chooser_set_current_folder(chooser, pick->folder.c_str());
        return G_SOURCE_CONTINUE;
    }
    gtk_dialog_response(GTK_DIALOG(chooser), there ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
    pick->answered = true;
    return G_SOURCE_REMOVE;
}

TEST_F(KeyboardTest, CtrlShiftOWithAChosenFolderStartsTheBatchAndCtrlOChoosesFiles) {
    Jpeg("a.jpg", 32, 24);
    Jpeg("b.jpg", 32, 24);
    ChooserPick folder{in_};
    g_timeout_add(50, Pick, &folder);
    Keys("ctrl+shift+o");
    ASSERT_TRUE(PumpUntil([&] { return folder.answered; }));
    EXPECT_EQ(folder.action, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    ASSERT_TRUE(WaitForBatchEnd(State()));
    EXPECT_TRUE(g_file_test((out_ + "/a.jpg").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_TRUE(g_file_test((out_ + "/b.jpg").c_str(), G_FILE_TEST_EXISTS));

    ChooserPick cancel;
    g_timeout_add(50, Pick, &cancel);
    Keys("ctrl+o");
    ASSERT_TRUE(PumpUntil([&] { return cancel.answered; }));
    EXPECT_EQ(cancel.action, GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_TRUE(cancel.multiple);
    EXPECT_FALSE(State().batch.active);
}

TEST_F(KeyboardTest, FilesNamedOnTheCommandLineStartABatchOnceShownWithTheDropsRefusals) {
    Jpeg("c.jpg", 32, 24);
    std::vector<std::string> args{"corvanta", "file://" + in_ + "/c.jpg", "http://example.org/x"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    const std::vector<std::string> files =
        CommandLineFiles(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(files, std::vector<std::string>{in_ + "/c.jpg"});
    HandOverWhenShown(State(), files);
    // One small picture may start and end between two looks.
    const std::string output = out_ + "/c.jpg";
    ASSERT_TRUE(PumpUntil([&] {
        return State().batch.active || g_file_test(output.c_str(), G_FILE_TEST_EXISTS);
    }));
    ASSERT_TRUE(WaitForBatchEnd(State()));
    EXPECT_TRUE(g_file_test(output.c_str(), G_FILE_TEST_EXISTS));

    // Without an output folder the hand-over is refused like a drop.
    SetFolderField("");
    DialogAnswerer answerer;
    HandOverWhenShown(State(), files);
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Answered().empty(); }));
    EXPECT_EQ(answerer.Answered()[0].text, kNoFolderText);
}

TEST_F(KeyboardTest, ALongBatchEndingBehindAnotherWindowAsksForAttention) {
    GtkWindow* window = GTK_WINDOW(Widgets().mainWindow);
    const auto finish = [this](std::int64_t ms) {
        ProgressEvent event;
        event.kind = ProgressKind::kFinished;
        event.elapsedMs = ms;
        State().batch.HandleProgress(std::move(event));
    };
    finish(kUrgentBatchMs + 1);  // the window is the active one
    EXPECT_FALSE(gtk_window_get_urgency_hint(window));
    Keys("F1");
    FocusWindow(State().helpWindow.Get());
    ASSERT_TRUE(PumpUntil([&] { return !gtk_window_is_active(window); }));
    finish(kUrgentBatchMs / 2);
    EXPECT_FALSE(gtk_window_get_urgency_hint(window));
    finish(kUrgentBatchMs + 1);
    EXPECT_TRUE(gtk_window_get_urgency_hint(window));
    FocusWindow(Widgets().mainWindow);
    EXPECT_TRUE(PumpUntil([&] { return !gtk_window_get_urgency_hint(window); }));
}

// ---- the accessible tree --------------------------------------------------------------

struct TreeWalk {
    std::string dump;
    std::vector<std::string> unnamed;  // focusable objects a screen reader cannot name
};

void Walk(AtkObject* object, int depth, TreeWalk& walk) {
    AtkStateSet* states = atk_object_ref_state_set(object);
    const bool focusable = atk_state_set_contains_state(states, ATK_STATE_FOCUSABLE) &&
                           atk_state_set_contains_state(states, ATK_STATE_VISIBLE);
    g_object_unref(states);
    const char* name = atk_object_get_name(object);
    const AtkRole role = atk_object_get_role(object);
    const std::string line =
        std::string(atk_role_get_name(role)) + " \"" + (name != nullptr ? name : "") + "\"";
    walk.dump += std::string(2 * depth, ' ') + line + "\n";
    if (focusable && (name == nullptr || *name == '\0' || role == ATK_ROLE_UNKNOWN ||
                      role == ATK_ROLE_INVALID)) {
        walk.unnamed.push_back(line);
    }
    const int children = atk_object_get_n_accessible_children(object);
    for (int i = 0; i < children; ++i) {
        if (AtkObject* child = atk_object_ref_accessible_child(object, i)) {
            Walk(child, depth + 1, walk);
            g_object_unref(child);
        }
    }
}

std::string NameOf(GtkWidget* widget) {
    const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
    return name != nullptr ? name : "";
}

bool LabelledBy(GtkWidget* field, GtkWidget* label) {
    AtkRelationSet* relations = atk_object_ref_relation_set(gtk_widget_get_accessible(field));
    AtkRelation* by = atk_relation_set_get_relation_by_type(relations, ATK_RELATION_LABELLED_BY);
    const bool linked =
        by != nullptr && atk_relation_get_target(by)->len > 0 &&
        g_ptr_array_index(atk_relation_get_target(by), 0) == gtk_widget_get_accessible(label);
    g_object_unref(relations);
    return linked;
}

TEST_F(KeyboardTest, EveryInteractiveObjectHasARoleAndANameAndTheStateIsDescribed) {
    MainWidgets& w = Widgets();
    TreeWalk walk;
    Walk(gtk_widget_get_accessible(w.mainWindow), 0, walk);
    std::printf("%s", walk.dump.c_str());  // the tree as a screen reader sees it
    EXPECT_EQ(walk.unnamed, std::vector<std::string>{});
    EXPECT_NE(walk.dump.find("table cell \"Gray\"\n"), std::string::npos);
    EXPECT_EQ(NameOf(w.redField) + NameOf(w.greenField) + NameOf(w.blueField), "RedGreenBlue");
    AtkObject* help = gtk_widget_get_accessible(w.helpIcon);
    EXPECT_EQ(atk_object_get_role(help), ATK_ROLE_PUSH_BUTTON);
    ASSERT_TRUE(ATK_IS_ACTION(help));
    EXPECT_TRUE(atk_action_do_action(ATK_ACTION(help), 0));
    EXPECT_NE(State().helpWindow.Get(), nullptr);
    EXPECT_TRUE(LabelledBy(w.outputFolderField, w.outputFolderLabel));
    EXPECT_TRUE(LabelledBy(w.jpegQualityCombo, w.jpegQualityLabel));
    EXPECT_EQ(gtk_label_get_mnemonic_keyval(GTK_LABEL(w.maxSizeLabel)), GDK_KEY_m);

    ClickAt(w.swatchRow.area, kSwatchPitch * 2 + 8, 10);
    Model().SetSelectedComponents(10, 20, 30);
    EXPECT_STREQ(atk_object_get_description(gtk_widget_get_accessible(w.swatchRow.area)),
                 "Slot 3 of 9 selected: red 10, green 20, blue 30");
    EXPECT_STREQ(atk_object_get_description(gtk_widget_get_accessible(w.presetList)),
                 "Chosen preset: Gray");
    EXPECT_STREQ(atk_object_get_description(gtk_widget_get_accessible(w.previewCanvas.area)),
                 "Shows the built-in picture through the scheme");
}

}  // namespace
}  // namespace corvanta::testing
