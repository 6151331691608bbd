// Inside the Linux backend: the tables behind window classes, windows, per-thread queues and
// socket notifications. One process-wide mutex guards every table and every queue's
// messages; nothing calls out (window procedures, GUI hooks) while holding it, so a
// procedure may post, peek or destroy freely.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/window.h"

namespace plat::posix {

// The thread's queue. Its descriptors live as long as the queue; only the owner thread
// closes them, at its exit, after every window and registration pointing here is gone.
struct Queue {
    std::deque<MSG> messages;
    bool quitPending = false;  // WM_QUIT is a flag, taken when nothing else matches
    int quitCode = 0;
    // Input arrived since a peek last came back empty. The waits return at once while it is
    // set, so messages a filtered peek leaves behind do not keep a wait from sleeping.
    bool attention = false;
    bool attentionSignalled = false;
    bool pendingSignalled = false;
    int attentionFd = -1;  // eventfd, readable while attention is set: the waits watch it
    int pendingFd = -1;    // eventfd, readable while anything is queued
    int socketEpoll = -1;  // sockets with an armed event; readable when one is due
    int wakeEpoll = -1;    // pendingFd + socketEpoll: what the GUI's own loop watches
    int armedSockets = 0;  // members of socketEpoll, to skip servicing when none

    // Touched by the owner thread only.
    GuiSource gui{-1, nullptr, nullptr};
    int guiNesting = 0;  // processPending calls running, one inside the other
    // A filtered peek left the GUI's input alone: the waits do not wake for it until an
    // unfiltered peek has let the GUI handle it, as Windows wakes only for new input.
    bool guiLeftAlone = false;
};

struct WindowClass {
    std::string foldedName;
    uint16_t atom = 0;
    WNDPROC proc = nullptr;
    int extraBytes = 0;
    void* instance = nullptr;
    int liveWindows = 0;
};

struct Window {
    uintptr_t handle = 0;
    Queue* queue = nullptr;
    WindowClass* windowClass = nullptr;
    WNDPROC proc = nullptr;
    std::unique_ptr<uint8_t[]> extra;
    int extraBytes = 0;
};

struct SocketRegistration {
    int fd = -1;
    uintptr_t socket = 0;
    HWND window = nullptr;
    Queue* queue = nullptr;
    uint32_t message = 0;
    int32_t events = 0;
    bool writePending = false;  // FD_WRITE not yet delivered since registration
    bool readArmed = false;     // no FD_READ posted since the last receive
    uint32_t epollMask = 0;     // what socketEpoll currently watches for fd
};

struct State {
    std::mutex mutex;
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::unordered_map<uintptr_t, std::unique_ptr<Window>> windows;
    std::unordered_map<int, SocketRegistration> sockets;
    uintptr_t nextHandle = 0x10000;
    uint16_t nextAtom = 0xC000;
};

// Never destroyed (see its definition).
State& GetState();

// The calling thread's queue, created on first use; null when it cannot be created or the
// thread is already tearing it down.
Queue* CurrentQueue();
// The calling thread's queue if it exists; never creates one.
Queue* ExistingQueue();

// The rest expect the state mutex held.
Window* FindWindowLocked(HWND window);
void PostLocked(Queue* queue, HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// Brings the two eventfds in line with the queue's contents and attention flag.
void SyncSignalsLocked(Queue* queue);
// Removes the window from every table, with its queued messages and socket registrations.
void DestroyWindowLocked(Window* window);
void ForgetWindowSocketsLocked(HWND window);
// Posts the socket notifications that are due on the queue's sockets.
void ServiceSocketsLocked(Queue* queue);

}  // namespace plat::posix
