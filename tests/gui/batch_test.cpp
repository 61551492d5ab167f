// Batches started from the window: drops on the drop area, the progress log
// line by line, the stop button, refusals, the thumbnail, the folder chooser
// and the closing notice. The worker is held at chosen events where a test
// needs a moment in the middle of a batch, so no test races the clock.
#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/batch_controller.h"
#include "app/program.h"
#include "app/progress_log.h"
#include "app/routing.h"
#include "batch_helpers.h"
#include "dialog_answerer.h"
#include "gui_harness.h"
#include "scheme/color_scheme.h"
#include "support/test_images.h"
#include "ui/folder_chooser.h"
#include "ui/preview_image.h"

namespace corvanta::testing {
namespace {

namespace ts = test_support;

constexpr auto kLoading = ProgressKind::kLoading;
constexpr auto kThumbnail = ProgressKind::kThumbnail;
constexpr auto kFinished = ProgressKind::kFinished;
constexpr Rgb kLightGrey{242, 242, 242};

TEST_F(BatchTest, ThreeFilesGoFromLoadingToDoneWithCounterTotalTimeAndThumbnail) {
    const std::string a = Jpeg("a.jpg", 640, 480);
    const std::string b = Png("b.png", 300, 200, false);
    const std::string c = Png("c.png", 120, 60, true);
    BatchRecorder recorder(Widgets().progressLog, Widgets().stopButton);
    // Two files at a time; the last one's thumbnail waits until the others
    // are done, so that it is the picture mapped last.
    State().batch.jobs = 2;
    WorkerGate& last = Gate(At(kThumbnail, 3));
    Drop({a, b, c});
    EXPECT_TRUE(InBatchLayout());
    EXPECT_FALSE(gtk_widget_get_visible(Widgets().dropHint.area));
    ASSERT_TRUE(PumpUntil([&] {
        return last.Reached() && Line(2) == "[Done]  a.jpg" && Line(3) == "[Done]  b.png";
    }));
    last.Release();
    ASSERT_TRUE(WaitForBatchEnd(State()));

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Processing ...");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "[Done]  a.jpg");
    EXPECT_EQ(lines[3], "[Done]  b.png");
    EXPECT_EQ(lines[4], "[Done]  c.png");
    EXPECT_EQ(lines[5], "");
    EXPECT_TRUE(IsTotalTimeLine(lines[6])) << lines[6];
    for (const std::string name : {"a.jpg", "b.png", "c.png"}) {
        const int line = 2 + (name[0] - 'a');
        EXPECT_EQ(recorder.LineHistory(line),
                  (std::vector<std::string>{"[Loading]  " + name, "[Saving]  " + name,
                                            "[Done]  " + name}));
    }
    EXPECT_EQ(recorder.Labels(),
              (std::vector<std::string>{"STOP CONVERSION", "STOP CONVERSION [2]",
                                        "STOP CONVERSION [1]", "STOP CONVERSION [0]"}));
    EXPECT_FALSE(InBatchLayout());
    EXPECT_TRUE(gtk_widget_get_visible(Widgets().presetListScroll));
    EXPECT_FALSE(State().batch.shared.stop.load());
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"a.jpg", "b.png", "c.png"}));

    // The last thumbnail, 120 x 60 with alpha, sits blended in the middle of
    // the light grey canvas. The written PNG holds the same mapped pixels.
    const DrawingCanvas& canvas = Widgets().thumbnailCanvas;
    GObjectPtr<GdkPixbuf> written(gdk_pixbuf_new_from_file((out_ + "/c.png").c_str(), nullptr));
    ASSERT_TRUE(written);
    ASSERT_EQ(gdk_pixbuf_get_n_channels(written.get()), 4);
    EXPECT_EQ(PixelAt(canvas, 0, 0), kLightGrey);
    EXPECT_EQ(PixelAt(canvas, 255, 95), kLightGrey);
    EXPECT_EQ(PixelAt(canvas, 67, 48), kLightGrey);
    EXPECT_EQ(PixelAt(canvas, 188, 48), kLightGrey);
    const int stride = gdk_pixbuf_get_rowstride(written.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(written.get());
    int mismatches = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 120; ++x) {
            const guint8* p = pixels + y * stride + x * 4;
            const auto blend = [a = unsigned{p[3]}](unsigned over) {
                return static_cast<std::uint8_t>((over * a + 242 * (255 - a) + 127) / 255);
            };
            if (PixelAt(canvas, 68 + x, 18 + y) != Rgb{blend(p[0]), blend(p[1]), blend(p[2])}) {
                ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(BatchTest, ThumbnailOfALargeImageIsItsMiddle) {
    const std::string big = Png("big.png", 600, 300, false);
    Drop({big});
    ASSERT_TRUE(WaitForBatchEnd(State()));
    GObjectPtr<GdkPixbuf> written(gdk_pixbuf_new_from_file((out_ + "/big.png").c_str(), nullptr));
    ASSERT_TRUE(written);
    const int stride = gdk_pixbuf_get_rowstride(written.get());
    const guint8* pixels = gdk_pixbuf_read_pixels(written.get());
    int mismatches = 0;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 256; ++x) {
            const guint8* p = pixels + (102 + y) * stride + (172 + x) * 3;
            if (PixelAt(Widgets().thumbnailCanvas, x, y) != Rgb{p[0], p[1], p[2]}) {
                ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(BatchTest, OneFolderIsExpandedInDirectoryOrderWithoutHiddenFilesOrSubfolders) {
    const std::string album = Folder("album");
    ASSERT_TRUE(ts::WriteFile(album + "/one.jpg", ts::MakeJpeg(64, 48)));
    ASSERT_TRUE(ts::WriteFile(album + "/two.jpg", ts::MakeJpeg(48, 64)));
    ASSERT_TRUE(ts::WriteFile(album + "/notes.txt", std::string_view("not a picture\n")));
    ASSERT_TRUE(ts::WriteFile(album + "/.hidden.jpg", ts::MakeJpeg(16, 16)));
    ASSERT_EQ(mkdir((album + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(ts::WriteFile(album + "/sub/inner.jpg", ts::MakeJpeg(16, 16)));

    // The order the file system lists them in, not sorted.
    std::vector<std::string> expected;
    DIR* dir = opendir(album.c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "one.jpg" || name == "two.jpg") {
            expected.push_back("[Done]  " + name);
        } else if (name == "notes.txt") {
            expected.push_back("[Error]  " + name + " (not a readable image)");
        }
    }
    closedir(dir);

    Drop({album});
    ASSERT_TRUE(WaitForBatchEnd(State()));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 5), expected);
    EXPECT_TRUE(IsTotalTimeLine(lines[6]));
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"one.jpg", "two.jpg"}));
}

TEST_F(BatchTest, TwoFoldersAreQueuedAsThemselvesAndBothFail) {
    const std::string first = Folder("first");
    const std::string second = Folder("second");
    ASSERT_TRUE(ts::WriteFile(first + "/a.jpg", ts::MakeJpeg(16, 16)));
    // A folder URI may end in a slash; such a path has no file name part.
    Drop({first, second + "/"});
    ASSERT_TRUE(WaitForBatchEnd(State()));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "[Error]  first (is a folder)");
    EXPECT_EQ(lines[3], "[Error]  " + second + "/ (no file name)");
    EXPECT_TRUE(IsTotalTimeLine(lines[5]));
    EXPECT_TRUE(ts::ListFolder(out_).empty());
}

TEST_F(BatchTest, AFolderWithoutFilesSaysSoAndStartsNothing) {
    const std::string empty = Folder("empty");
    ASSERT_EQ(mkdir((empty + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(ts::WriteFile(empty + "/.hidden.jpg", ts::MakeJpeg(16, 16)));
    DialogAnswerer answerer;
    Drop({empty});
    ASSERT_TRUE(PumpUntil([&] { return !State().batch.active; }));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Processing ...", "",
                                                 "The folder you dropped doesn't contain any "
                                                 "files."}));
    EXPECT_FALSE(State().batch.active);
    EXPECT_FALSE(State().batch.WorkerAlive());
    EXPECT_FALSE(InBatchLayout());
    EXPECT_FALSE(gtk_widget_get_visible(Widgets().dropHint.area));
    EXPECT_TRUE(answerer.Answered().empty());
}

// Looking at a single dropped item may wait on a slow file system. The
// window goes on meanwhile, refuses a second drop, and can be closed without
// waiting for it.
TEST_F(BatchTest, ASingleDroppedItemIsLookedAtOffTheWindowThread) {
    const std::string album = Folder("album");
    Jpeg("album/a.jpg", 64, 48);
    auto held = std::make_shared<std::atomic<int>>(0);
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> opened = gate->get_future().share();
    State().batch.beforeListing = [held, opened] {
        ++*held;
        opened.wait();
    };
    DialogAnswerer answerer;
    Drop({album});
    ASSERT_TRUE(PumpUntil([&] { return held->load() == 1; }));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Processing ...", ""}));
    EXPECT_FALSE(InBatchLayout());
    Drop({album});
    ASSERT_TRUE(PumpUntil([&] { return answerer.Answered().size() == 1; }));
    EXPECT_EQ(answerer.Answered()[0].title, "Processing");
    gate->set_value();
    ASSERT_TRUE(WaitForBatchEnd(State()));
    EXPECT_EQ(Line(2), "[Done]  a.jpg");

    // Closed while the next drop is still being looked at: no notice, no
    // wait, and the late result starts nothing.
    gate = std::make_shared<std::promise<void>>();
    opened = gate->get_future().share();
    State().batch.beforeListing = [held, opened] {
        ++*held;
        opened.wait();
    };
    SetFolderField(out_ + "/second/");
    Drop({album});
    ASSERT_TRUE(PumpUntil([&] { return held->load() == 2; }));
    ShutDown(State());
    EXPECT_FALSE(State().batch.WorkerAlive());
    state_.reset();
    gate->set_value();
    PumpFor(200);
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"a.jpg"}));
}

// Names that would break a log that finds a file's line by counting: a line
// feed inside a name, bytes that are not UTF-8, and a path without a name.
// They show escaped, as the command line shows them.
TEST_F(BatchTest, EveryFileEndsOnItsOwnLineWhateverItsName) {
    const std::string feed = Jpeg("x\ny.jpg", 32, 32);
    const std::string bytes = Png("\xff.png", 32, 32, false);
    const std::string nameless = Folder("sub") + "/";
    const std::string last = Jpeg("z.jpg", 32, 32);
    Drop({feed, bytes, nameless, last});
    ASSERT_TRUE(WaitForBatchEnd(State()));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2], "[Done]  x\\ny.jpg");
    EXPECT_EQ(lines[3], "[Done]  \\xff.png");
    EXPECT_EQ(lines[4], "[Error]  " + nameless + " (no file name)");
    EXPECT_EQ(lines[5], "[Done]  z.jpg");
    EXPECT_TRUE(IsTotalTimeLine(lines[7]));
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"x\ny.jpg", "z.jpg", "\xff.png"}));
}

// A file number that never posts an event must not leave the files behind
// it writing over each other's lines.
TEST_F(BatchTest, AFileNumberWithoutEventsShiftsNoOtherLine) {
    const auto post = [&](ProgressKind kind, std::int64_t number, const std::string& name) {
        ProgressEvent event;
        event.kind = kind;
        event.fileNumber = number;
        event.elapsedMs = number;
        event.fileName = name;
        State().batch.HandleProgress(std::move(event));
    };
    SetLogText(GTK_TEXT_VIEW(Widgets().progressLog), "Processing ...\n");
    post(kLoading, 1, "a.jpg");
    post(ProgressKind::kDone, 1, "a.jpg");
    post(kLoading, 3, "c.jpg");
    post(ProgressKind::kSaving, 3, "c.jpg");
    post(ProgressKind::kFailed, 4, "d.jpg");  // a final event without its start still shows
    post(ProgressKind::kDone, 3, "c.jpg");
    post(kFinished, 1000, "");
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"Processing ...", "", "[Done]  a.jpg", "[Done]  c.jpg",
                                        "[Error]  d.jpg", "", "Total time : 00h 00m 01s"}));
}

TEST_F(BatchTest, DropsAreRefusedWithoutAFolderAndUntilTheBatchHasEnded) {
    const std::string a = Jpeg("a.jpg", 64, 64);
    const std::string b = Jpeg("b.jpg", 64, 64);
    DialogAnswerer answerer;
    const auto seen = [&](std::size_t n) {
        return PumpUntil([&] { return answerer.Answered().size() >= n; });
    };

    SetFolderField("");
    Drop({a});
    ASSERT_TRUE(seen(1));
    const DialogAnswerer::Seen& noFolder = answerer.Answered()[0];
    EXPECT_EQ(noFolder.title, "Output folder");
    EXPECT_EQ(noFolder.text, "Please select an output folder!");
    EXPECT_EQ(noFolder.type, GTK_MESSAGE_INFO);
    EXPECT_TRUE(noFolder.modal);
    EXPECT_FALSE(noFolder.hasParent);
    EXPECT_TRUE(Lines().empty());
    EXPECT_TRUE(gtk_widget_get_visible(Widgets().dropHint.area));
    EXPECT_FALSE(State().batch.active);

    SetFolderField(out_ + "/");
    WorkerGate& loading = Gate(At(kLoading, 1));
    WorkerGate& finished = Gate([](const ProgressEvent& e) { return e.kind == kFinished; });
    Drop({a, b});
    ASSERT_TRUE(PumpUntil([&] { return loading.Reached(); }));
    const std::vector<std::string> running = Lines();
    Drop({b});
    ASSERT_TRUE(seen(2));
    EXPECT_EQ(answerer.Answered()[1].title, "Processing");
    EXPECT_EQ(answerer.Answered()[1].text, "Sorry but you can't drop files while processing!");
    EXPECT_EQ(answerer.Answered()[1].type, GTK_MESSAGE_INFO);
    EXPECT_FALSE(answerer.Answered()[1].hasParent);
    EXPECT_EQ(Lines(), running);

    // Stopping: the button says so, and drops are still refused.
    gtk_button_clicked(GTK_BUTTON(Widgets().stopButton));
    EXPECT_EQ(StopLabel(), "PLEASE WAIT");
    EXPECT_FALSE(gtk_widget_get_sensitive(Widgets().stopButton));
    Drop({b});
    ASSERT_TRUE(seen(3));
    EXPECT_EQ(answerer.Answered()[2].title, "Processing");

    // The worker has made its last report but the window has not yet seen
    // it: still refused, or the late final event would end the new batch.
    loading.Release();
    ASSERT_TRUE(PumpUntil([&] { return finished.Reached(); }));
    EXPECT_FALSE(State().batch.WorkerAlive());
    Drop({b});
    ASSERT_TRUE(seen(4));
    EXPECT_EQ(answerer.Answered()[3].title, "Processing");
    finished.Release();
    ASSERT_TRUE(WaitForBatchEnd(State()));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "[Cancelled]  a.jpg");
    EXPECT_TRUE(IsTotalTimeLine(lines[4]));
    EXPECT_FALSE(State().batch.shared.stop.load());

    // Now a drop starts the next batch.
    Drop({b});
    ASSERT_TRUE(WaitForBatchEnd(State()));
    EXPECT_EQ(Line(2), "[Done]  b.jpg");
    EXPECT_EQ(answerer.Answered().size(), 4u);
}

TEST_F(BatchTest, StopWithTwoFilesInHandCancelsBothAndLeavesTheRest) {
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i) {
        files.push_back(Jpeg(std::to_string(i) + ".jpg", 320, 240));
    }
    State().batch.jobs = 2;
    // Files 2 and 3 are loaded and mapped; their jobs wait before they decide
    // whether to write.
    WorkerGate& second = Gate(At(kThumbnail, 2));
    WorkerGate& third = Gate(At(kThumbnail, 3));
    BatchRecorder recorder(Widgets().progressLog, Widgets().stopButton);
    Drop(files);
    ASSERT_TRUE(PumpUntil(
        [&] { return second.Reached() && third.Reached() && Line(4) == "[Loading]  3.jpg"; }));
    gtk_button_clicked(GTK_BUTTON(Widgets().stopButton));
    third.Release();
    second.Release();
    ASSERT_TRUE(WaitForBatchEnd(State()));

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "[Done]  1.jpg");
    EXPECT_EQ(lines[3], "[Cancelled]  2.jpg");
    EXPECT_EQ(lines[4], "[Cancelled]  3.jpg");
    EXPECT_EQ(lines[5], "");
    EXPECT_TRUE(IsTotalTimeLine(lines[6]));
    EXPECT_EQ(recorder.Labels(),
              (std::vector<std::string>{"STOP CONVERSION", "STOP CONVERSION [4]", "PLEASE WAIT"}));
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"1.jpg"}));
    EXPECT_FALSE(State().batch.shared.stop.load());
    EXPECT_FALSE(InBatchLayout());
}

TEST_F(BatchTest, SchemeChangesDuringABatchReachTheNextWholeImage) {
    const std::string first = Png("first.png", 64, 48, false);
    const std::string second = Png("second.png", 48, 64, false);
    ColorScheme red{};
    red.fill(MakeOpaqueColor(255, 0, 0));
    Model().Replace(red);
    WorkerGate& secondLoading = Gate(At(kLoading, 2));
    Drop({first, second});
    // The second file waits to start until the first, mapped by another job,
    // is written.
    ASSERT_TRUE(
        PumpUntil([&] { return secondLoading.Reached() && Line(2) == "[Done]  first.png"; }));

    // Shortcuts and preview drops still work while the batch runs.
    const ColorScheme before = Scheme();
    Editor().random = Replay({0x00FF00});
    RouteShortcut(State(), kShortcutRandomColor);
    EXPECT_NE(Scheme(), before);
    RouteFileDrop(State(), DropTarget::kPreview, {first});
    ASSERT_TRUE(PumpUntil([&] { return State().preview.pendingLoads == 0; }));
    EXPECT_NE(
        std::memcmp(gdk_pixbuf_read_pixels(State().preview.source.get()),
                    gdk_pixbuf_read_pixels(State().images.defaultPreview.get()), 256 * 192 * 3),
        0);

    ColorScheme blue{};
    blue.fill(MakeOpaqueColor(0, 0, 255));
    Model().Replace(blue);
    secondLoading.Release();
    ASSERT_TRUE(WaitForBatchEnd(State()));
    EXPECT_TRUE(AllPixelsAre(out_ + "/first.png", {255, 0, 0}));
    EXPECT_TRUE(AllPixelsAre(out_ + "/second.png", {0, 0, 255}));
}

// ---- the folder chooser -------------------------------------------------------

struct ChooserScript {
    std::string startedAt;
    std::string pick;  // empty: cancel
    bool navigated = false;
    bool answered = false;
};

GtkFileChooser* OpenChooser() {
    GtkFileChooser* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (GTK_IS_FILE_CHOOSER_DIALOG(window) && gtk_widget_get_mapped(window)) {
            found = GTK_FILE_CHOOSER(window);
        }
    }
    g_list_free(toplevels);
    return found;
}

std::string Take(gchar* text) {
    std::string copy = text != nullptr ? text : "";
    g_free(text);
    return copy;
}

// Plays the user: looks where the chooser starts, then cancels, or goes to
// the folder to pick and presses Select once the chooser shows it.
gboolean AnswerChooser(gpointer data) {
    auto* script = static_cast<ChooserScript*>(data);
    GtkFileChooser* chooser = OpenChooser();
    if (chooser == nullptr) {
        return G_SOURCE_CONTINUE;
    }
    if (!script->navigated) {
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "");
        script->startedAt = Take(gtk_file_chooser_get_current_folder(chooser));
        if (script->startedAt.empty()) {
            return G_SOURCE_CONTINUE;  // the chooser is still going there
        }
        script->navigated = true;
        if (script->pick.empty()) {
            gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
            script->answered = true;
            return G_SOURCE_REMOVE;
        }
        gtk_file_chooser_set_current_folder(chooser, script->pick.c_str());
        return G_SOURCE_CONTINUE;
    }
    if (Take(gtk_file_chooser_get_filename(chooser)) != script->pick) {
        return G_SOURCE_CONTINUE;
    }
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    script->answered = true;
    return G_SOURCE_REMOVE;
}

TEST_F(BatchTest, FolderChooserStartsAtTheFieldOrHomeAndEndsTheFolderWithASlash) {
    const std::string home = Folder("home");
    const std::string savedHome = g_getenv("HOME") != nullptr ? g_getenv("HOME") : "";
    g_setenv("HOME", home.c_str(), TRUE);

    SetFolderField("");
    ChooserScript pickOut{"", out_};
    g_timeout_add(50, AnswerChooser, &pickOut);
    ChooseOutputFolder(GTK_WINDOW(Widgets().mainWindow), GTK_ENTRY(Widgets().outputFolderField));
    EXPECT_TRUE(pickOut.answered);
    EXPECT_EQ(pickOut.startedAt, home);
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(Widgets().outputFolderField)), out_ + "/");

    ChooserScript cancel{"", ""};
    g_timeout_add(50, AnswerChooser, &cancel);
    ChooseOutputFolder(GTK_WINDOW(Widgets().mainWindow), GTK_ENTRY(Widgets().outputFolderField));
    EXPECT_TRUE(cancel.answered);
    EXPECT_EQ(cancel.startedAt, out_);
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(Widgets().outputFolderField)), out_ + "/");

    ChooserScript root{"", "/"};
    g_timeout_add(50, AnswerChooser, &root);
    ChooseOutputFolder(GTK_WINDOW(Widgets().mainWindow), GTK_ENTRY(Widgets().outputFolderField));
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(Widgets().outputFolderField)), std::string("/"));
    g_setenv("HOME", savedHome.c_str(), TRUE);
}

// ---- shut-down ------------------------------------------------------------------

struct NoticeProbe {
    std::vector<WorkerGate*> gates;  // released once the notice is seen
    GtkWidget* mainWindow = nullptr;
    bool found = false;
    int width = 0;
    int height = 0;
    bool decorated = true;
    bool resizable = true;
    std::string title = "<unset>";
    std::string label;
    bool transientForMain = false;
    std::string background;
    bool mainSensitive = true;
};

GtkWidget* FindLabel(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) {
        return widget;
    }
    GtkWidget* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* c = children; c != nullptr && found == nullptr; c = c->next) {
            found = FindLabel(GTK_WIDGET(c->data));
        }
        g_list_free(children);
    }
    return found;
}

gboolean ProbeNotice(gpointer data) {
    auto* probe = static_cast<NoticeProbe*>(data);
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (g_strcmp0(gtk_widget_get_name(window), kClosingNoticeName) != 0 ||
            !gtk_widget_get_mapped(window)) {
            continue;
        }
        probe->found = true;
        GtkAllocation a;
        gtk_widget_get_allocation(window, &a);
        probe->width = a.width;
        probe->height = a.height;
        probe->decorated = gtk_window_get_decorated(GTK_WINDOW(window));
        probe->resizable = gtk_window_get_resizable(GTK_WINDOW(window));
        const gchar* title = gtk_window_get_title(GTK_WINDOW(window));
        probe->title = title != nullptr ? title : "";
        GtkWidget* label = FindLabel(window);
        probe->label = label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "";
        probe->transientForMain =
            gtk_window_get_transient_for(GTK_WINDOW(window)) == GTK_WINDOW(probe->mainWindow);
        GdkRGBA* color = nullptr;
        GtkStyleContext* style = gtk_widget_get_style_context(window);
        gtk_style_context_get(style, gtk_style_context_get_state(style), "background-color", &color,
                              nullptr);
        gchar* background = gdk_rgba_to_string(color);
        probe->background = background;
        g_free(background);
        gdk_rgba_free(color);
        probe->mainSensitive = gtk_widget_is_sensitive(probe->mainWindow);
    }
    g_list_free(toplevels);
    if (probe->found) {
        for (WorkerGate* gate : probe->gates) {
            gate->Release();
        }
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

TEST_F(BatchTest, ClosingDuringABatchShowsTheNoticeUntilTheWorkerHasEnded) {
    const std::string first = Jpeg("first.jpg", 320, 240);
    const std::string second = Jpeg("second.jpg", 320, 240);
    const std::string third = Jpeg("third.jpg", 320, 240);
    State().batch.jobs = 2;
    WorkerGate& mapped = Gate(At(kThumbnail, 1));
    WorkerGate& alsoMapped = Gate(At(kThumbnail, 2));
    Drop({first, second, third});
    ASSERT_TRUE(PumpUntil([&] { return mapped.Reached() && alsoMapped.Reached(); }));

    NoticeProbe probe;
    probe.gates = {&mapped, &alsoMapped};
    probe.mainWindow = Widgets().mainWindow;
    const guint source = g_timeout_add(20, ProbeNotice, &probe);
    ShutDown(State());
    if (!probe.found) {
        g_source_remove(source);
    }
    EXPECT_TRUE(probe.found);
    EXPECT_EQ(probe.width, 300);
    EXPECT_EQ(probe.height, 50);
    EXPECT_FALSE(probe.decorated);
    EXPECT_FALSE(probe.resizable);
    EXPECT_EQ(probe.title, "");
    EXPECT_EQ(probe.label, "PLEASE WAIT WHILE CLOSING DOWN");
    EXPECT_TRUE(probe.transientForMain);
    EXPECT_EQ(probe.background, "rgb(255,192,192)");
    EXPECT_FALSE(probe.mainSensitive);
    EXPECT_FALSE(State().batch.WorkerAlive());
    EXPECT_FALSE(State().batch.worker.joinable());
    // Both files in hand were cancelled, the third never started.
    EXPECT_TRUE(ts::ListFolder(out_).empty());
    state_.reset();
    PumpFor(50);  // progress that arrived late is freed unseen
}

}  // namespace
}  // namespace corvanta::testing
