// Drops that travel the whole way through the X server: a drag source in a
// second process offers a file URI list, xdotool presses, moves and releases
// the pointer, and the XDND exchange delivers the list to the window. Then
// the real program: closed during a batch, and closed with none.
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/batch_controller.h"
#include "batch_helpers.h"
#include "gui_harness.h"
#include "support/test_images.h"
#include "x_clients.h"

namespace corvanta::testing {
namespace {

namespace ts = test_support;

constexpr int kDragSourceX = 10;
constexpr int kDragSourceY = 10;
constexpr int kDragSteps = 8;
constexpr const char* kDragSourceTitle = "corvanta-drag-source";
// Where things are in the main window (window coordinates, minimum size).
constexpr int kLogCentreX = 6 + 450 / 2;
constexpr int kLogCentreY = 6 + 354 / 2;
constexpr int kBrowseButtonX = 6 + 410 + 20;
constexpr int kBrowseButtonY = 370 + 11;
constexpr int kNoticeWidth = 300;
constexpr int kNoticeHeight = 50;

bool FindTopLevel(const std::string& title, TopLevel* out) {
    for (const TopLevel& top : TopLevels()) {
        if (top.title == title) {
            *out = top;
            return true;
        }
    }
    return false;
}

bool WaitForTopLevel(const std::string& title, TopLevel* out, int timeoutMs = 20000) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    while (g_get_monotonic_time() < end) {
        if (FindTopLevel(title, out)) {
            return true;
        }
        PumpFor(20);
    }
    return false;
}

bool NoticeShown() {
    for (const TopLevel& top : TopLevels()) {
        if (top.width == kNoticeWidth && top.height == kNoticeHeight) {
            return true;
        }
    }
    return false;
}

// A window of some other dialog (the folder chooser) of at least this size.
bool FindDialog(TopLevel* out) {
    for (const TopLevel& top : TopLevels()) {
        if (top.title != "Corvanta" && top.title != kDragSourceTitle && top.width > 300 &&
            top.height > 200) {
            *out = top;
            return true;
        }
    }
    return false;
}

class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ != 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }

    bool Start(const std::vector<std::string>& args, gchar** env = nullptr) {
        std::vector<gchar*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<gchar*>(a.c_str()));
        }
        argv.push_back(nullptr);
        GPid pid = 0;
        if (!g_spawn_async(nullptr, argv.data(), env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                           &pid, nullptr)) {
            return false;
        }
        pid_ = pid;
        return true;
    }

    // The exit status once the process has ended within timeoutMs, else -1.
    int WaitForExit(int timeoutMs, const std::function<void()>& whileWaiting = {}) {
        const gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
        while (pid_ != 0 && g_get_monotonic_time() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (whileWaiting) {
                whileWaiting();
            }
            PumpFor(10);
        }
        return -1;
    }

  private:
    GPid pid_ = 0;
};

std::vector<std::string> FileUris(const std::vector<std::string>& paths) {
    std::vector<std::string> uris;
    for (const std::string& path : paths) {
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        uris.emplace_back(uri != nullptr ? uri : "");
        g_free(uri);
    }
    return uris;
}

// Drags the files from a new drag source process to (x, y) on the screen,
// in small steps, as a hand would. Returns once the source saw the drag end.
void DragFiles(const std::vector<std::string>& paths, int x, int y) {
    std::vector<std::string> args = {CORVANTA_DRAG_SOURCE, std::to_string(kDragSourceX),
                                     std::to_string(kDragSourceY)};
    for (const std::string& uri : FileUris(paths)) {
        args.push_back(uri);
    }
    Child source;
    ASSERT_TRUE(source.Start(args));
    TopLevel window;
    ASSERT_TRUE(WaitForTopLevel(kDragSourceTitle, &window));
    PumpFor(200);
    const int fromX = window.x + window.width / 2;
    const int fromY = window.y + window.height / 2;
    Xdo({"mousemove", std::to_string(fromX), std::to_string(fromY)});
    Xdo({"mousedown", "1"});
    for (int step = 1; step <= kDragSteps; ++step) {
        Xdo({"mousemove", std::to_string(fromX + (x - fromX) * step / kDragSteps),
             std::to_string(fromY + (y - fromY) * step / kDragSteps)});
    }
    Xdo({"mousemove", std::to_string(x + 1), std::to_string(y + 1)});
    Xdo({"mouseup", "1"}, 300);
    EXPECT_EQ(source.WaitForExit(10000), 0) << "the drag did not end";
}

// The batch window with its output folder set.
class DropTest : public BatchTest {};

TEST_F(DropTest, FilesDraggedFromAnotherProgramOntoTheLogAreConverted) {
    const std::string a = temp_.File("a.jpg");
    const std::string b = temp_.File("b b.png");  // a blank, escaped in the URI
    ASSERT_TRUE(ts::WriteFile(a, ts::MakeJpeg(200, 150)));
    ASSERT_TRUE(ts::WriteFile(b, ts::MakePng(90, 60, true)));
    int x = 0;
    int y = 0;
    ScreenOrigin(Widgets().progressLogScroll, &x, &y);
    DragFiles({a, b}, x + 225, y + 177);
    ASSERT_TRUE(WaitForBatchEnd(State()));
    const std::vector<std::string> lines = LogLines(Widgets().progressLog);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "[Done]  a.jpg");
    EXPECT_EQ(lines[3], "[Done]  b b.png");
    EXPECT_EQ(ts::ListFolder(out_), (std::vector<std::string>{"a.jpg", "b b.png"}));
}

// ---- the real program -----------------------------------------------------------

// The program in a folder of its own (it keeps its data file beside itself),
// with HOME pointing into the test's folder.
class ProgramRun {
  public:
    explicit ProgramRun(const ts::TempDir& temp)
        : bin_(temp.File("bin")), home_(temp.File("home")) {}

    bool Start() {
        if (mkdir(bin_.c_str(), 0755) != 0 || mkdir(home_.c_str(), 0755) != 0) {
            return false;
        }
        const std::string program = bin_ + "/corvanta";
        const ts::Bytes bytes = ts::ReadFile(CORVANTA_PROGRAM);
        if (bytes.empty() || !ts::WriteFile(program, bytes) || chmod(program.c_str(), 0755) != 0) {
            return false;
        }
        gchar** env = g_environ_setenv(g_get_environ(), "HOME", home_.c_str(), TRUE);
        const bool started = child_.Start({program}, env);
        g_strfreev(env);
        return started && WaitForTopLevel("Corvanta", &window_);
    }

    // Clicks at (x, y) in the main window.
    void Click(int x, int y) {
        Xdo({"mousemove", std::to_string(window_.x + x), std::to_string(window_.y + y)});
        Xdo({"click", "1"}, 200);
    }

    void Close() { SendDeleteWindow(window_.window); }

    std::vector<std::string> Outputs() const {
        std::vector<std::string> jpegs;
        for (const std::string& name : ts::ListFolder(home_)) {
            if (name.size() > 4 && name.substr(name.size() - 4) == ".jpg") {
                jpegs.push_back(name);
            }
        }
        return jpegs;
    }

    const TopLevel& Window() const { return window_; }
    const std::string& Home() const { return home_; }
    Child& Process() { return child_; }

  private:
    std::string bin_;
    std::string home_;
    Child child_;
    TopLevel window_;
};

TEST(Program, ClosingDuringABatchShowsTheNoticeAndEndsAfterTheFileInHand) {
    ts::TempDir temp;
    ASSERT_TRUE(temp.Valid());
    ProgramRun run(temp);
    ASSERT_TRUE(run.Start());

    // The output folder through the real folder chooser: it starts at HOME,
    // and Select takes the folder it shows.
    run.Click(kBrowseButtonX, kBrowseButtonY);
    TopLevel chooser;
    ASSERT_TRUE(PumpUntil([&] { return FindDialog(&chooser); }, 10000));
    PumpFor(300);
    Xdo({"windowfocus", "--sync", std::to_string(chooser.window)});
    Xdo({"key", "alt+s"}, 300);
    ASSERT_TRUE(PumpUntil([&] { return !FindDialog(&chooser); }, 10000));

    // Large photographs, so that each one takes a while.
    const ts::Bytes photo = ts::MakeJpeg(6000, 4000);
    std::vector<std::string> files;
    for (int i = 1; i <= 4; ++i) {
        files.push_back(temp.File("photo" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(ts::WriteFile(files.back(), photo));
    }
    DragFiles(files, run.Window().x + kLogCentreX, run.Window().y + kLogCentreY);
    ASSERT_TRUE(PumpUntil([&] { return !run.Outputs().empty(); }, 60000))
        << "the batch did not start";

    const std::size_t writtenAtClose = run.Outputs().size();
    run.Close();
    bool noticeSeen = false;
    bool chooserOpened = false;
    bool clickedWhileClosing = false;
    const int status = run.Process().WaitForExit(60000, [&] {
        if (!NoticeShown()) {
            return;
        }
        noticeSeen = true;
        if (!clickedWhileClosing) {
            // The main window is insensitive now: "..." opens nothing.
            clickedWhileClosing = true;
            run.Click(kBrowseButtonX, kBrowseButtonY);
        }
        TopLevel other;
        chooserOpened = chooserOpened || FindDialog(&other);
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(noticeSeen);
    EXPECT_FALSE(chooserOpened);
    // At most the file in hand was finished after the close.
    EXPECT_LE(run.Outputs().size(), writtenAtClose + 1);
    EXPECT_LT(run.Outputs().size(), files.size());
}

TEST(Program, ClosingWithoutABatchEndsAtOnceWithoutTheNotice) {
    ts::TempDir temp;
    ASSERT_TRUE(temp.Valid());
    ProgramRun run(temp);
    ASSERT_TRUE(run.Start());
    run.Close();
    bool noticeSeen = false;
    const int status =
        run.Process().WaitForExit(20000, [&] { noticeSeen = noticeSeen || NoticeShown(); });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(noticeSeen);
}

}  // namespace
}  // namespace corvanta::testing
