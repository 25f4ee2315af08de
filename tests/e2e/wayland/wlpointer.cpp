// A pointer for the end-to-end tests on a headless Wayland compositor, which has no input device of its
// own: a virtual pointer that lives as long as this program, driven by lines on standard input, one
// command per line, each answered with "ok" once the compositor has taken it:
//   move X Y          the pointer to output pixel X,Y (of a WIDTHxHEIGHT layout given as the argument)
//   press BUTTON      BUTTON is left, right or middle
//   release BUTTON
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "virtual-pointer-client.h"

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// Milliseconds, as the protocol's event times are; only their order matters to a client.
std::uint32_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int ButtonCode(const std::string& name) {
    if (name == "left") {
        return BTN_LEFT;
    }
    if (name == "right") {
        return BTN_RIGHT;
    }
    if (name == "middle") {
        return BTN_MIDDLE;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned width = 0;
    unsigned height = 0;
    if (argc != 2 || std::sscanf(argv[1], "%ux%u", &width, &height) != 2 || width == 0 || height == 0) {
        std::cerr << "usage: wlpointer WIDTHxHEIGHT (the output layout's size), commands on stdin\n";
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::cerr << "wlpointer: no Wayland display\n";
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip(display);
    if (globals.manager == nullptr) {
        std::cerr << "wlpointer: the compositor offers no virtual pointer\n";
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    wl_display_roundtrip(display);

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            unsigned x = 0;
            unsigned y = 0;
            if (!(words >> x >> y)) {
                std::cout << "error: move X Y" << std::endl;
                continue;
            }
            zwlr_virtual_pointer_v1_motion_absolute(pointer, Now(), x, y, width, height);
        } else if (command == "press" || command == "release") {
            std::string name;
            words >> name;
            const int button = ButtonCode(name);
            if (button < 0) {
                std::cout << "error: no button " << name << std::endl;
                continue;
            }
            zwlr_virtual_pointer_v1_button(
                pointer, Now(), static_cast<std::uint32_t>(button),
                command == "press" ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            std::cout << "error: unknown command " << command << std::endl;
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            std::cerr << "wlpointer: the compositor went away\n";
            return 1;
        }
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(globals.manager);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
