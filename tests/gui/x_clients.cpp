#include "x_clients.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "gui_harness.h"

// Xlib's macros (None, Bool, Status) would break gtest: included last.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace corvanta::testing {
namespace {

constexpr gint64 kCommandTimeoutUs = 30 * G_USEC_PER_SEC;
constexpr gint64 kWindowTimeoutUs = 30 * G_USEC_PER_SEC;
constexpr gulong kPollUs = 10000;

std::vector<gchar*> ArgvOf(const std::vector<std::string>& args) {
    std::vector<gchar*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<gchar*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

void ServeMainLoop() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

Display* TestDisplay() {
    return gdk_x11_display_get_xdisplay(gdk_display_get_default());
}

// A window with this title that is not among those already on the screen.
Window WaitForTopLevel(const std::string& title, const std::vector<TopLevel>& before = {}) {
    const auto find = [&] {
        for (const TopLevel& top : TopLevels()) {
            if (top.title == title && std::none_of(before.begin(), before.end(), [&](auto& old) {
                    return old.window == top.window;
                })) {
                return top.window;
            }
        }
        return XWindowId{0};
    };
    const gint64 end = g_get_monotonic_time() + kWindowTimeoutUs;
    Window window = find();
    while (window == 0 && g_get_monotonic_time() < end) {
        ServeMainLoop();
        g_usleep(kPollUs);
        window = find();
    }
    return window;
}

bool WaitUntilGone(const std::string& title) {
    const gint64 end = g_get_monotonic_time() + kWindowTimeoutUs;
    while (FindTopLevel(title) != 0) {
        if (g_get_monotonic_time() >= end) {
            return false;
        }
        g_usleep(kPollUs);
    }
    return true;
}

}  // namespace

std::vector<TopLevel> TopLevels() {
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    Display* display = TestDisplay();
    gdk_x11_display_error_trap_push(gdkDisplay);
    XSync(display, False);
    Window root = DefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<TopLevel> found;
    if (XQueryTree(display, root, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
                attributes.map_state != IsViewable || attributes.c_class == InputOnly) {
                continue;
            }
            TopLevel top;
            top.window = children[i];
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
                top.title = name;
                XFree(name);
            }
            Window child = 0;
            XTranslateCoordinates(display, children[i], root, 0, 0, &top.x, &top.y, &child);
            top.width = attributes.width;
            top.height = attributes.height;
            found.push_back(top);
        }
        XFree(children);
    }
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
    return found;
}

Window FindTopLevel(const std::string& title) {
    for (const TopLevel& top : TopLevels()) {
        if (top.title == title) {
            return top.window;
        }
    }
    return 0;
}

void SendDeleteWindow(Window window) {
    Display* display = TestDisplay();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    // A window that is already gone makes an error that does not matter.
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    gdk_x11_display_error_trap_push(gdkDisplay);
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
}

std::string RunPumping(const std::vector<std::string>& args, bool captureOutput, int* exitStatus) {
    std::vector<gchar*> argv = ArgvOf(args);
    GPid pid = 0;
    gint out = -1;
    GError* error = nullptr;
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
    if (!captureOutput) {
        flags = static_cast<GSpawnFlags>(flags | G_SPAWN_STDOUT_TO_DEV_NULL |
                                         G_SPAWN_STDERR_TO_DEV_NULL);
    }
    if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &pid,
                                  nullptr, captureOutput ? &out : nullptr, nullptr, &error)) {
        ADD_FAILURE() << args.front() << ": " << (error != nullptr ? error->message : "");
        g_clear_error(&error);
        return {};
    }
    if (out >= 0) {
        fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
    }
    std::string output;
    int status = -1;
    bool exited = false;
    bool closed = out < 0;
    const gint64 end = g_get_monotonic_time() + kCommandTimeoutUs;
    char buffer[65536];
    while (!(exited && closed) && g_get_monotonic_time() < end) {
        ServeMainLoop();
        bool progress = false;
        while (!closed) {
            const ssize_t n = read(out, buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, static_cast<std::size_t>(n));
                progress = true;
            } else {
                closed = n == 0;
                break;
            }
        }
        if (!exited) {
            exited = waitpid(pid, &status, WNOHANG) == pid;
        }
        if (!progress) {
            g_usleep(1000);
        }
    }
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ADD_FAILURE() << args.front() << " did not finish";
    }
    if (out >= 0) {
        close(out);
    }
    g_spawn_close_pid(pid);
    if (exitStatus != nullptr) {
        *exitStatus = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return output;
}

std::string ReadClipboard() {
    return RunPumping({"xclip", "-selection", "clipboard", "-o"});
}

void OfferClipboard(const std::string& text, const std::string& scratchDir,
                    const std::string& target) {
    const std::string file = scratchDir + "/clipboard.txt";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
    }
    // xclip stays in the background as the owner until someone else takes
    // the selection; its output must not be waited for.
    RunPumping({"xclip", "-selection", "clipboard", "-t", target, "-i", file}, false);
    // The owner is in place once the clipboard serves what was offered.
    const auto served = [&] {
        if (target == "UTF8_STRING") {
            return ReadClipboard() == text;
        }
        const std::string targets =
            RunPumping({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"});
        return targets.find(target) != std::string::npos;
    };
    const gint64 end = g_get_monotonic_time() + kCommandTimeoutUs;
    while (!served()) {
        ASSERT_LT(g_get_monotonic_time(), end) << "xclip did not take the clipboard";
        g_usleep(kPollUs);
    }
}

void Xdo(const std::vector<std::string>& args, int pumpMs) {
    std::vector<std::string> command{"xdotool"};
    command.insert(command.end(), args.begin(), args.end());
    int status = -1;
    RunPumping(command, false, &status);
    EXPECT_EQ(status, 0) << "xdotool " << (args.empty() ? "" : args.front()) << " failed";
    gdk_display_sync(gdk_display_get_default());
    PumpFor(pumpMs);
}

ProgramRun::ProgramRun(std::string directory) : directory_(std::move(directory)) {}

ProgramRun::~ProgramRun() {
    if (pid_ != 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        g_spawn_close_pid(pid_);
    }
}

bool ProgramRun::Start() {
    const std::string program = directory_ + "/corvanta";
    if (!g_file_test(program.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
        gchar* bytes = nullptr;
        gsize length = 0;
        if (!g_file_get_contents(CORVANTA_PROGRAM, &bytes, &length, nullptr)) {
            return false;
        }
        const bool written = g_file_set_contents(program.c_str(), bytes,
                                                 static_cast<gssize>(length), nullptr) != FALSE;
        g_free(bytes);
        if (!written || chmod(program.c_str(), 0755) != 0) {
            return false;
        }
    }
    gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
    const std::vector<TopLevel> before = TopLevels();  // another run's window is not ours
    if (!g_spawn_async(directory_.c_str(), argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                       nullptr, &pid_, nullptr)) {
        pid_ = 0;
        return false;
    }
    window_ = WaitForTopLevel("Corvanta", before);
    return window_ != 0;
}

void ProgramRun::Keys(const std::vector<std::string>& keys) {
    std::vector<std::string> args{"windowfocus", "--sync", std::to_string(window_), "key"};
    args.insert(args.end(), keys.begin(), keys.end());
    Xdo(args);
}

void ProgramRun::Click(int x, int y, int button) {
    Xdo({"mousemove", "--window", std::to_string(window_), std::to_string(x), std::to_string(y),
         "click", std::to_string(button)});
}

bool ProgramRun::Answer(const std::string& title, const std::string& key) {
    const Window dialog = WaitForTopLevel(title);
    if (dialog == 0) {
        return false;
    }
    Xdo({"windowfocus", "--sync", std::to_string(dialog), "key", key});
    return WaitUntilGone(title);
}

int ProgramRun::Close(int signal) {
    if (pid_ != 0 && signal == kLoseDisplay) {
        XKillClient(TestDisplay(), window_);
        XSync(TestDisplay(), False);
    } else if (pid_ != 0) {
        signal == 0 ? SendDeleteWindow(window_) : static_cast<void>(kill(pid_, signal));
    }
    if (pid_ == 0) {
        return -1;
    }
    const gint64 end = g_get_monotonic_time() + kCommandTimeoutUs;
    int status = 0;
    pid_t done = 0;
    while (done == 0 && g_get_monotonic_time() < end) {
        done = waitpid(pid_, &status, WNOHANG);
        g_usleep(kPollUs);
    }
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    g_spawn_close_pid(pid_);
    pid_ = 0;
    return done != 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace corvanta::testing
