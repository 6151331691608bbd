#include "platform/posix/socket_internal.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>

#include "platform/winsock_errors.h"

namespace plat {

namespace {

constexpr size_t kSetCapacity = sizeof(fd_set::fd_array) / sizeof(fd_set::fd_array[0]);

// Readable also means a closed connection, a pending error or a queued ICMP error, so
// that the receive that follows reports it; writable is plain POLLOUT.
constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
constexpr short kWritable = POLLOUT;

bool IsStream(int fd) {
    int type = 0;
    socklen_t n = sizeof type;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &n) == 0 && type == SOCK_STREAM;
}

// Windows lists a failed connection attempt among the exceptions; on Linux that is an
// error on a stream socket.
bool Exceptional(int fd, short happened) {
    if ((happened & POLLPRI) != 0) return true;
    return (happened & POLLERR) != 0 && IsStream(fd);
}

}  // namespace

int select(int /*ignored*/, fd_set* read, fd_set* write, fd_set* except, const timeval* timeout) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    fd_set* sets[3] = {read, write, except};
    const short wanted[3] = {POLLIN, POLLOUT, POLLPRI};
    pollfd fds[3 * kSetCapacity];
    bool stashed[3 * kSetCapacity] = {};  // a peeked datagram waits outside the kernel
    bool anyKept = false;
    size_t used = 0;
    for (int which = 0; which < 3; ++which) {
        const fd_set* set = sets[which];
        if (set == nullptr) continue;
        if (set->fd_count > kSetCapacity) return posix::Fail(kWsaEinval);
        for (uint32_t i = 0; i < set->fd_count; ++i) {
            const int fd = posix::DescriptorOf(set->fd_array[i]);
            if (fd < 0) return SOCKET_ERROR;
            if (which == 0 && (posix::SocketFlags(fd) & posix::kStashed) != 0) {
                stashed[used] = true;
                anyKept = true;
            }
            fds[used++] = pollfd{fd, wanted[which], 0};
        }
    }
    // Windows refuses a call without any socket to wait for.
    if (used == 0) return posix::Fail(kWsaEinval);

    int millis = -1;
    if (timeout != nullptr) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return posix::Fail(kWsaEinval);
        // Rounded up, so that a short wait does not turn into a busy loop.
        const int64_t ms = static_cast<int64_t>(timeout->tv_sec) * 1000 +
                           (static_cast<int64_t>(timeout->tv_usec) + 999) / 1000;
        millis = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }
    if (anyKept) millis = 0;
    const int rc = ::poll(fds, used, millis);
    if (rc < 0) {
        posix::FailWithErrno(errno);  // EINTR becomes 10004
        return SOCKET_ERROR;
    }
    for (size_t i = 0; i < used; ++i) {
        if ((fds[i].revents & POLLNVAL) != 0) return posix::Fail(kWsaEnotsock);
    }

    // Only the ready sockets stay in each set.
    int ready = 0;
    size_t next = 0;
    for (int which = 0; which < 3; ++which) {
        fd_set* set = sets[which];
        if (set == nullptr) continue;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < set->fd_count; ++i) {
            const bool keeps = stashed[next];
            const pollfd& p = fds[next++];
            bool hit;
            if (which == 0) {
                hit = keeps || (p.revents & kReadable) != 0;
            } else if (which == 1) {
                hit = (p.revents & kWritable) != 0;
            } else {
                hit = Exceptional(p.fd, p.revents);
            }
            if (hit) set->fd_array[kept++] = set->fd_array[i];
        }
        set->fd_count = kept;
        ready += static_cast<int>(kept);
    }
    return ready;
}

}  // namespace plat
