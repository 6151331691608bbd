#include "platform/console.h"

#include <atomic>

#include "platform/win32/gui_source.h"
#include "platform/win32/windows_headers.h"

namespace plat {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_watching{false};

// Runs on a thread of its own: the message wakes the pump of the thread that joined the
// watch, wherever it waits, and its dispatch runs the console's hook.
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_interrupted.store(true);
            win32::PostGuiInput();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// No descriptor stands for the interrupts on Windows: they arrive as a message to the
// window of the joined source, so 0 only says that the watch is set.
int WatchConsoleInterrupts() {
    if (!g_watching.load()) {
        if (!::SetConsoleCtrlHandler(&OnConsoleControl, TRUE)) return -1;
        g_watching.store(true);
    }
    return 0;
}

bool ConsoleInterrupted() {
    return g_interrupted.load();
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

// Every Windows session has its desktop.
bool HasDisplay() {
    return true;
}

}  // namespace plat
