#include "platform/console.h"

#include <atomic>
#include <cstdio>

#include "platform/win32/windows_headers.h"

namespace plat {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<DWORD> g_watchingThread{0};

// Runs on a thread of its own: wakes the watching thread's pump with a message.
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_interrupted.store(true);
            ::PostThreadMessageA(g_watchingThread.load(), WM_NULL, 0, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// The thread's message queue stands for the descriptor: the handler posts to it.
int WatchConsoleInterrupts() {
    if (g_watchingThread.load() == 0) {
        g_watchingThread.store(::GetCurrentThreadId());
        if (!::SetConsoleCtrlHandler(&OnConsoleControl, TRUE)) {
            g_watchingThread.store(0);
            return -1;
        }
    }
    return 0;
}

bool ConsoleInterrupted() {
    return g_interrupted.load();
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void UseCallerConsole() {
    // Output redirected to a file or pipe is already there.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    [[maybe_unused]] FILE* stream = std::freopen("CONOUT$", "w", stdout);
    stream = std::freopen("CONOUT$", "w", stderr);
}

// Every Windows session has its desktop.
bool HasDisplay() {
    return true;
}

}  // namespace plat
