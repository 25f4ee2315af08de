// Launch time: from starting a program to its first top-level window being mapped. On the X display in
// DISPLAY (run it on a private display with no window manager, so the map is the program's own), or,
// with SWAYSOCK set, on that sway compositor: its IPC reports a window when its first frame is shown.
// Usage: launch_time RUNS PROGRAM [ARGS...]; prints the median and every run in milliseconds.

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// sway's IPC (the i3 protocol): a message is "i3-ipc", a 32-bit length, a 32-bit type and the payload.
class SwayEvents {
  public:
    bool Connect(const char* path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || std::strlen(path) >= sizeof(address.sun_path)) {
            return false;
        }
        std::strcpy(address.sun_path, path);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            return false;
        }
        const std::string subscribe = R"(["window"])";
        return Send(kSubscribe, subscribe) && Read().find("\"success\": true") != std::string::npos;
    }

    // Waits for the next window shown; false if the compositor went away.
    bool WaitForNewWindow() {
        for (;;) {
            const std::string event = Read();
            if (event.empty()) {
                return false;
            }
            if (event.find("\"change\": \"new\"") != std::string::npos) {
                return true;
            }
        }
    }

  private:
    static constexpr std::uint32_t kSubscribe = 2;

    bool Send(std::uint32_t type, const std::string& payload) {
        std::string message = "i3-ipc";
        const std::uint32_t header[2] = {static_cast<std::uint32_t>(payload.size()), type};
        message.append(reinterpret_cast<const char*>(header), sizeof(header));
        message += payload;
        return write(fd_, message.data(), message.size()) == static_cast<ssize_t>(message.size());
    }

    bool ReadExactly(char* into, std::size_t size) {
        while (size > 0) {
            const ssize_t got = read(fd_, into, size);
            if (got <= 0) {
                return false;
            }
            into += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

    std::string Read() {
        char header[14];
        if (!ReadExactly(header, sizeof(header))) {
            return {};
        }
        std::uint32_t length = 0;
        std::memcpy(&length, header + 6, sizeof(length));
        std::string payload(length, '\0');
        if (!ReadExactly(payload.data(), length)) {
            return {};
        }
        return payload;
    }

    int fd_ = -1;
};

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: launch_time RUNS PROGRAM [ARGS...]\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::function<void()> before;
    std::function<bool()> waitForMap;
    Display* display = nullptr;
    SwayEvents sway;
    if (const char* socket = std::getenv("SWAYSOCK"); socket != nullptr && *socket != '\0') {
        if (!sway.Connect(socket)) {
            std::fprintf(stderr, "no sway IPC at %s\n", socket);
            return 2;
        }
        before = [] {};
        waitForMap = [&] { return sway.WaitForNewWindow(); };
    } else {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            std::fprintf(stderr, "no X display\n");
            return 2;
        }
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        before = [&] { XSync(display, True); };
        waitForMap = [&] {
            XEvent event;
            do {
                XNextEvent(display, &event);
            } while (event.type != MapNotify);
            return true;
        };
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        before();
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            execv(argv[2], argv + 2);
            _exit(127);
        }
        const bool mapped = waitForMap();
        const auto end = std::chrono::steady_clock::now();
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        if (!mapped) {
            std::fprintf(stderr, "the display went away\n");
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::printf("median %.1f ms over %d runs:", Median(times), runs);
    for (double t : times) {
        std::printf(" %.1f", t);
    }
    std::printf("\n");
    if (display != nullptr) {
        XCloseDisplay(display);
    }
    return 0;
}
