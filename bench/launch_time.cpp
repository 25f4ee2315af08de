// Launch time: from starting a program to its first top-level window being mapped, on the X display
// in DISPLAY (run it on a private display with no window manager, so the map is the program's own).
// Usage: launch_time RUNS PROGRAM [ARGS...]; prints the median and every run in milliseconds.

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: launch_time RUNS PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        XSync(display, True);
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            execv(argv[2], argv + 2);
            _exit(127);
        }
        XEvent event;
        for (;;) {
            XNextEvent(display, &event);
            if (event.type == MapNotify) break;
        }
        const auto mapped = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(mapped - start).count());
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("median %.1f ms over %d runs:", sorted[sorted.size() / 2], runs);
    for (double t : times) std::printf(" %.1f", t);
    std::printf("\n");
    XCloseDisplay(display);
    return 0;
}
