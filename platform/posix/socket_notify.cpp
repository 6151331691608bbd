// WSAAsyncSelect-style notifications. A registered descriptor sits in its queue's socket
// epoll set only while one of its events is armed, so a socket whose FD_READ is already
// queued does not keep the queue's descriptors readable. Level-triggered: whatever epoll
// reports is due, and servicing it disarms that event, so a report never repeats unserved.
#include <errno.h>
#include <sys/epoll.h>

#include "platform/posix/queue_state.h"
#include "platform/posix/socket_notify.h"
#include "platform/sockets.h"

namespace plat::posix {

namespace {

uint32_t WantedMask(const SocketRegistration& reg) {
    uint32_t mask = 0;
    if (reg.writePending) mask |= EPOLLOUT;
    if ((reg.events & FD_READ) != 0 && reg.readArmed) mask |= EPOLLIN;
    return mask;
}

// Brings the epoll membership in line with the armed events; false when fd cannot be
// watched at all (not a descriptor, or not one epoll accepts).
bool UpdateMembershipLocked(SocketRegistration& reg) {
    const uint32_t wanted = WantedMask(reg);
    if (wanted == reg.epollMask) return true;
    Queue* queue = reg.queue;
    epoll_event event{};
    event.events = wanted;
    event.data.fd = reg.fd;
    if (wanted == 0) {
        epoll_ctl(queue->socketEpoll, EPOLL_CTL_DEL, reg.fd, nullptr);
        queue->armedSockets -= 1;
        reg.epollMask = 0;
        return true;
    }
    int rc;
    if (reg.epollMask == 0) {
        rc = epoll_ctl(queue->socketEpoll, EPOLL_CTL_ADD, reg.fd, &event);
        // A member we had lost track of: take it over.
        if (rc != 0 && errno == EEXIST)
            rc = epoll_ctl(queue->socketEpoll, EPOLL_CTL_MOD, reg.fd, &event);
        if (rc != 0) return false;
        queue->armedSockets += 1;
    } else {
        rc = epoll_ctl(queue->socketEpoll, EPOLL_CTL_MOD, reg.fd, &event);
        // Dropped by the kernel when its last descriptor closed.
        if (rc != 0 && errno == ENOENT)
            rc = epoll_ctl(queue->socketEpoll, EPOLL_CTL_ADD, reg.fd, &event);
        if (rc != 0) {
            // Out of the set for certain, so it cannot report readiness nobody serves.
            epoll_ctl(queue->socketEpoll, EPOLL_CTL_DEL, reg.fd, nullptr);
            queue->armedSockets -= 1;
            reg.epollMask = 0;
            return false;
        }
    }
    reg.epollMask = wanted;
    return true;
}

void RemoveLocked(SocketRegistration& reg) {
    reg.writePending = false;
    reg.readArmed = false;
    UpdateMembershipLocked(reg);
}

LPARAM EventParam(int32_t event) {
    return static_cast<LPARAM>(static_cast<uint32_t>(event) & 0xFFFF);  // error 0 above
}

}  // namespace

void ForgetWindowSocketsLocked(HWND window) {
    State& state = GetState();
    for (auto it = state.sockets.begin(); it != state.sockets.end();) {
        if (it->second.window == window) {
            RemoveLocked(it->second);
            it = state.sockets.erase(it);
        } else {
            ++it;
        }
    }
}

void ServiceSocketsLocked(Queue* queue) {
    if (queue->armedSockets <= 0) return;
    State& state = GetState();
    constexpr int kBatch = 16;
    epoll_event events[kBatch];
    // Each reported descriptor loses the events just delivered, so rounds make progress.
    for (int round = 0; round < 64; ++round) {
        const int ready = epoll_wait(queue->socketEpoll, events, kBatch, 0);
        if (ready <= 0) return;
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            const uint32_t happened = events[i].events;
            auto it = state.sockets.find(fd);
            if (it == state.sockets.end() || it->second.queue != queue ||
                it->second.epollMask == 0) {
                epoll_ctl(queue->socketEpoll, EPOLL_CTL_DEL, fd, nullptr);  // a stray member
                continue;
            }
            SocketRegistration& reg = it->second;
            // An error or hang-up is due for both: the next send or receive reports it (an
            // ICMP error pending on a raw socket is read through recv).
            const uint32_t trouble = EPOLLERR | EPOLLHUP;
            if (reg.writePending && (happened & (EPOLLOUT | trouble)) != 0) {
                reg.writePending = false;
                PostLocked(queue, reg.window, reg.message, reg.socket, EventParam(FD_WRITE));
            }
            if ((reg.events & FD_READ) != 0 && reg.readArmed &&
                (happened & (EPOLLIN | trouble)) != 0) {
                reg.readArmed = false;
                PostLocked(queue, reg.window, reg.message, reg.socket, EventParam(FD_READ));
            }
            UpdateMembershipLocked(reg);
        }
        if (ready < kBatch) return;
    }
}

bool RegisterSocketNotification(int fd, uintptr_t socket, HWND window, uint32_t message,
                                int32_t events) {
    if (fd < 0) return false;
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    if (auto it = state.sockets.find(fd); it != state.sockets.end()) {
        RemoveLocked(it->second);
        state.sockets.erase(it);
    }
    if (events == 0) return true;
    Window* target = FindWindowLocked(window);
    if (target == nullptr) return false;
    SocketRegistration reg;
    reg.fd = fd;
    reg.socket = socket;
    reg.window = window;
    reg.queue = target->queue;
    reg.message = message;
    reg.events = events;
    reg.writePending = (events & FD_WRITE) != 0;
    reg.readArmed = true;
    auto [it, inserted] = state.sockets.emplace(fd, reg);
    (void)inserted;
    if (!UpdateMembershipLocked(it->second)) {
        state.sockets.erase(it);
        return false;
    }
    return true;
}

void RearmSocketRead(int fd) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    auto it = state.sockets.find(fd);
    if (it == state.sockets.end() || it->second.readArmed) return;
    it->second.readArmed = true;
    UpdateMembershipLocked(it->second);
}

void ForgetSocket(int fd) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    auto it = state.sockets.find(fd);
    if (it == state.sockets.end()) return;
    RemoveLocked(it->second);
    state.sockets.erase(it);
}

}  // namespace plat::posix
