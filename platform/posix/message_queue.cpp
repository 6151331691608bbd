// Per-thread message queues and the waits on them. Each queue has an eventfd the waits
// sleep on (written by posts from any thread), an epoll set of the sockets with an armed
// notification, and a wake-up epoll set a GUI main loop can watch. Nothing here spins: a
// wait sleeps in ppoll until one of those descriptors, or the GUI's own, is readable.
#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/posix/queue_state.h"
#include "platform/window.h"

namespace plat {

namespace posix {

namespace {

constexpr size_t kPostQuota = 10000;  // Windows' default per-queue limit

void CloseQueueDescriptors(Queue* queue) {
    for (int fd : {queue->wakeEpoll, queue->socketEpoll, queue->pendingFd, queue->attentionFd}) {
        if (fd >= 0) close(fd);
    }
}

Queue* CreateQueue() {
    Queue* queue = new (std::nothrow) Queue;
    if (queue == nullptr) return nullptr;
    queue->attentionFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    queue->pendingFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    queue->socketEpoll = epoll_create1(EPOLL_CLOEXEC);
    queue->wakeEpoll = epoll_create1(EPOLL_CLOEXEC);
    bool ok = queue->attentionFd >= 0 && queue->pendingFd >= 0 && queue->socketEpoll >= 0 &&
              queue->wakeEpoll >= 0;
    for (int member : {queue->pendingFd, queue->socketEpoll}) {
        if (!ok) break;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = member;
        ok = epoll_ctl(queue->wakeEpoll, EPOLL_CTL_ADD, member, &event) == 0;
    }
    if (!ok) {
        CloseQueueDescriptors(queue);
        delete queue;
        return nullptr;
    }
    return queue;
}

// Runs at thread exit: the thread's windows go with it, so nothing can post here later.
void DestroyQueue(Queue* queue) {
    State& state = GetState();
    {
        std::lock_guard lock(state.mutex);
        for (auto it = state.windows.begin(); it != state.windows.end();) {
            Window* window = it->second.get();
            ++it;  // DestroyWindowLocked erases the entry
            if (window->queue == queue) DestroyWindowLocked(window);
        }
        // Registrations always name a window of this queue, but be certain.
        std::erase_if(state.sockets,
                      [queue](const auto& entry) { return entry.second.queue == queue; });
    }
    CloseQueueDescriptors(queue);
    delete queue;
}

struct QueueHolder {
    Queue* queue = nullptr;
    ~QueueHolder();
};

thread_local QueueHolder t_holder;
thread_local bool t_queueGone = false;  // trivially destructible: readable during teardown

QueueHolder::~QueueHolder() {
    t_queueGone = true;
    if (queue != nullptr) DestroyQueue(queue);
    queue = nullptr;
}

void SetSignal(int fd, bool& signalled, bool wanted) {
    if (signalled == wanted) return;
    uint64_t value = 1;
    ssize_t done = wanted ? write(fd, &value, sizeof value) : read(fd, &value, sizeof value);
    (void)done;  // non-blocking eventfds of our own: neither call can fail here
    signalled = wanted;
}

bool Matches(const MSG& msg, HWND filter, uint32_t min, uint32_t max) {
    // A filter of -1 takes only the thread's own messages, those without a window.
    if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
        if (msg.hwnd != nullptr) return false;
    } else if (filter != nullptr && msg.hwnd != filter) {
        return false;
    }
    if (min == 0 && max == 0) return true;
    return msg.message >= min && msg.message <= max;
}

bool TakeLocked(Queue* queue, MSG* msg, HWND filter, uint32_t min, uint32_t max, bool remove) {
    for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
        if (!Matches(*it, filter, min, max)) continue;
        *msg = *it;
        if (remove) {
            queue->messages.erase(it);
            SyncSignalsLocked(queue);
        }
        return true;
    }
    // The quit flag counts only once the queue holds nothing else that matches.
    const MSG quit{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, GetTickCount()};
    if (queue->quitPending && Matches(quit, filter, min, max)) {
        *msg = quit;
        if (remove) {
            queue->quitPending = false;
            SyncSignalsLocked(queue);
        }
        return true;
    }
    return false;
}

int64_t MonotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

State& GetState() {
    // Constructed in place and never destroyed, so that windows and classes can still be
    // torn down from other libraries' exit paths. At exit, once nothing uses them, the
    // tables give their memory back.
    alignas(State) static unsigned char storage[sizeof(State)];
    static State* const state = new (storage) State;
    struct Reaper {
        ~Reaper() {
            std::lock_guard lock(state->mutex);
            if (!state->windows.empty() || !state->sockets.empty()) return;
            decltype(state->classes)().swap(state->classes);
            decltype(state->windows)().swap(state->windows);
            decltype(state->sockets)().swap(state->sockets);
        }
    };
    static Reaper reaper;
    return *state;
}

Queue* CurrentQueue() {
    if (t_queueGone) return nullptr;
    QueueHolder& holder = t_holder;
    if (holder.queue == nullptr) holder.queue = CreateQueue();
    return holder.queue;
}

Queue* ExistingQueue() {
    if (t_queueGone) return nullptr;
    return t_holder.queue;
}

void SyncSignalsLocked(Queue* queue) {
    const bool pending = !queue->messages.empty() || queue->quitPending;
    if (!pending) queue->attention = false;
    SetSignal(queue->pendingFd, queue->pendingSignalled, pending);
    SetSignal(queue->attentionFd, queue->attentionSignalled, queue->attention);
}

void PostLocked(Queue* queue, HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    queue->messages.push_back(MSG{window, message, wParam, lParam, GetTickCount()});
    queue->attention = true;
    SyncSignalsLocked(queue);
}

}  // namespace posix

using posix::GetState;
using posix::Queue;
using posix::State;

namespace {

constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorNotEnoughQuota = 1816;

}  // namespace

bool PostMessageA(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    Queue* own = window == nullptr ? posix::CurrentQueue() : nullptr;
    if (window == nullptr && own == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return false;
    }
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    Queue* queue = own;
    if (window != nullptr) {
        posix::Window* target = posix::FindWindowLocked(window);
        if (target == nullptr) {
            SetLastError(kErrorInvalidWindowHandle);
            return false;
        }
        queue = target->queue;
    }
    if (queue->messages.size() >= posix::kPostQuota) {
        SetLastError(kErrorNotEnoughQuota);
        return false;
    }
    posix::PostLocked(queue, window, message, wParam, lParam);
    return true;
}

void PostQuitMessage(int exitCode) {
    Queue* queue = posix::CurrentQueue();
    if (queue == nullptr) return;
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    queue->quitPending = true;
    queue->quitCode = exitCode;
    queue->attention = true;
    posix::SyncSignalsLocked(queue);
}

bool PeekMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max, uint32_t remove) {
    if (msg == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    Queue* queue = posix::CurrentQueue();
    if (queue == nullptr) return false;
    const bool take = (remove & PM_REMOVE) != 0;
    State& state = GetState();
    {
        std::lock_guard lock(state.mutex);
        posix::ServiceSocketsLocked(queue);
        if (posix::TakeLocked(queue, msg, filter, min, max, take)) return true;
    }
    // Nothing matches: the GUI may handle its pending input, which is input for the
    // thread's other windows, so a peek filtered to one window leaves it alone. A GUI
    // handler may wait in its turn (a run started inside a run) and the GUI then nests, to
    // a bound that stops a handler that peeks on every call from recursing without end.
    if (queue->gui.processPending != nullptr) {
        if (filter != nullptr || queue->guiNesting >= kMaxGuiNesting) {
            queue->guiLeftAlone = true;
        } else {
            const GuiSource gui = queue->gui;
            ++queue->guiNesting;
            gui.processPending(gui.context);
            --queue->guiNesting;
            queue->guiLeftAlone = false;  // the GUI has had its turn
        }
    }
    std::lock_guard lock(state.mutex);
    if (posix::TakeLocked(queue, msg, filter, min, max, take)) return true;
    // The caller has seen all it wants; the next wait sleeps until something new arrives.
    queue->attention = false;
    posix::SyncSignalsLocked(queue);
    return false;
}

int GetMessageA(MSG* msg, HWND filter, uint32_t min, uint32_t max) {
    if (msg == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return -1;
    }
    if (filter != nullptr && filter != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) &&
        !IsWindow(filter)) {
        SetLastError(kErrorInvalidWindowHandle);
        return -1;
    }
    for (;;) {
        if (PeekMessageA(msg, filter, min, max, PM_REMOVE)) return msg->message == WM_QUIT ? 0 : 1;
        if (MsgWaitForMultipleObjects(0, nullptr, false, INFINITE, QS_ALLINPUT) == WAIT_FAILED) {
            return -1;
        }
        // The filter window may have gone meanwhile; Windows then fails the call.
        if (filter != nullptr && filter != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) &&
            !IsWindow(filter)) {
            SetLastError(kErrorInvalidWindowHandle);
            return -1;
        }
    }
}

uint32_t MsgWaitForMultipleObjects(uint32_t count, const void* const*, bool, uint32_t millis,
                                   uint32_t wakeMask) {
    if (count != 0) {
        SetLastError(kErrorInvalidParameter);
        return WAIT_FAILED;
    }
    Queue* queue = posix::CurrentQueue();
    if (queue == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return WAIT_FAILED;
    }
    const bool watchInput = wakeMask != 0;
    const int64_t deadline =
        millis == INFINITE ? 0 : posix::MonotonicNanos() + static_cast<int64_t>(millis) * 1000000;
    int guiFd = queue->guiLeftAlone ? -1 : queue->gui.descriptor;
    State& state = GetState();
    for (;;) {
        if (watchInput) {
            std::lock_guard lock(state.mutex);
            posix::ServiceSocketsLocked(queue);
            if (queue->attention) return WAIT_OBJECT_0 + count;
        }
        timespec timeout{};
        timespec* timeoutArg = nullptr;
        if (millis != INFINITE) {
            const int64_t left = deadline - posix::MonotonicNanos();
            if (left > 0) {
                timeout.tv_sec = static_cast<time_t>(left / 1000000000);
                timeout.tv_nsec = static_cast<long>(left % 1000000000);
            }
            timeoutArg = &timeout;
        }
        pollfd fds[3]{};
        nfds_t used = 0;
        if (watchInput) {
            fds[used++] = pollfd{queue->attentionFd, POLLIN, 0};
            fds[used++] = pollfd{queue->socketEpoll, POLLIN, 0};
            if (guiFd >= 0) fds[used++] = pollfd{guiFd, POLLIN, 0};
        }
        const int ready = ppoll(fds, used, timeoutArg, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            SetLastError(static_cast<uint32_t>(errno));
            return WAIT_FAILED;
        }
        if (ready == 0) return WAIT_TIMEOUT;
        if (guiFd >= 0 && used == 3) {
            if ((fds[2].revents & POLLNVAL) != 0) {
                guiFd = -1;  // closed under us: stop watching it rather than wake forever
            } else if (fds[2].revents != 0) {
                return WAIT_OBJECT_0 + count;
            }
        }
        // A post or a socket event: the next round sees it as attention.
    }
}

void JoinGuiSource(const GuiSource* source) {
    Queue* queue = posix::CurrentQueue();
    if (queue == nullptr) return;
    queue->gui = source != nullptr ? *source : GuiSource{-1, nullptr, nullptr};
}

int QueueWakeDescriptor() {
    Queue* queue = posix::CurrentQueue();
    return queue != nullptr ? queue->wakeEpoll : -1;
}

}  // namespace plat
