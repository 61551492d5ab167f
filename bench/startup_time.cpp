// Start-up figures of the window program under an X server: the time from
// starting the process to its main window being mapped (median of several
// runs) and its resident memory once the window is up. Each run closes the
// window the way a window manager would and expects exit status 0.
//   xvfb-run -a build/bench/corvanta_startup_time build/src/app/corvanta [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kTitle = "Corvanta";

bool IsProgramWindow(Display* display, Window window) {
    char* name = nullptr;
    bool match = false;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        match = std::string(name) == kTitle;
        XFree(name);
    }
    return match;
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

void Close(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    // Every request here is about the program's windows, any of which may be
    // gone by the time it arrives; Xlib's default handler would end the run.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    std::vector<double> millis;
    std::vector<long> resident;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execl(argv[1], argv[1], static_cast<char*>(nullptr));
            _exit(127);
        }
        Window window = 0;
        while (window == 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && IsProgramWindow(display, event.xmap.window)) {
                window = event.xmap.window;
            }
        }
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        usleep(500 * 1000);  // let it settle (first draw, idle)
        resident.push_back(ResidentKiB(pid));
        Close(display, window);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d: unexpected exit status\n", run);
            return 1;
        }
    }
    std::sort(millis.begin(), millis.end());
    std::sort(resident.begin(), resident.end());
    std::printf("start-up to mapped window: median %.1f ms (min %.1f, max %.1f, %d runs)\n",
                millis[millis.size() / 2], millis.front(), millis.back(), runs);
    std::printf("resident memory after start-up: median %ld KiB\n", resident[resident.size() / 2]);
    XCloseDisplay(display);
    return 0;
}
