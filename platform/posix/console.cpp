#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/console.h"

namespace plat {

namespace {

std::atomic<bool> g_interrupted{false};
int g_pipe[2] = {-1, -1};

void OnSignal(int) {
    g_interrupted.store(true);
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    }
}

}  // namespace

int WatchConsoleInterrupts() {
    if (g_pipe[0] >= 0) return g_pipe[0];
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return g_pipe[0];
}

bool ConsoleInterrupted() {
    return g_interrupted.load();
}

void Sleep(uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
        if (g_interrupted.load()) return;
    }
}

bool HasDisplay() {
    const char* x11 = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

}  // namespace plat
