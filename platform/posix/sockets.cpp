#include "platform/posix/socket_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/socket_notify.h"
#include "platform/winsock_errors.h"

namespace plat {

namespace {

constexpr int32_t kWsaEafnosupport = 10047;
constexpr int32_t kWsaEsocktnosupport = 10044;
constexpr int32_t kWsaEopnotsupp = 10045;
constexpr int32_t kWsaEmsgsize = 10040;

// Windows message flags.
constexpr int kWinMsgOob = 0x1;
constexpr int kWinMsgPeek = 0x2;
constexpr int kWinMsgDontRoute = 0x4;
constexpr int kWinMsgWaitAll = 0x8;

// Bounds the receives repeated after a socket error that stood for an ICMP answer
// delivered otherwise.
constexpr int kReceiveAttempts = 3;

bool ReceiveFlags(int windowsFlags, int* linuxFlags) {
    if ((windowsFlags & ~(kWinMsgOob | kWinMsgPeek | kWinMsgWaitAll)) != 0) return false;
    *linuxFlags = ((windowsFlags & kWinMsgOob) != 0 ? MSG_OOB : 0) |
                  ((windowsFlags & kWinMsgPeek) != 0 ? MSG_PEEK : 0) |
                  ((windowsFlags & kWinMsgWaitAll) != 0 ? MSG_WAITALL : 0);
    return true;
}

bool SendFlags(int windowsFlags, int* linuxFlags) {
    if ((windowsFlags & ~(kWinMsgOob | kWinMsgDontRoute)) != 0) return false;
    // Windows has no SIGPIPE: a send on a broken connection only fails.
    *linuxFlags = MSG_NOSIGNAL | ((windowsFlags & kWinMsgOob) != 0 ? MSG_OOB : 0) |
                  ((windowsFlags & kWinMsgDontRoute) != 0 ? MSG_DONTROUTE : 0);
    return true;
}

bool IsRawIcmp(int fd) {
    int type = 0;
    int protocol = 0;
    int domain = 0;
    socklen_t n = sizeof(int);
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &n) != 0 || type != SOCK_RAW) return false;
    n = sizeof(int);
    if (::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &n) != 0) return false;
    n = sizeof(int);
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &n) != 0) return false;
    return (domain == AF_INET && protocol == IPPROTO_ICMP) ||
           (domain == AF_INET6 && protocol == IPPROTO_ICMPV6);
}

// The error queue is what lets a connected raw socket see ICMP errors sent by routers;
// an unconnected one gets every ICMP datagram as data already.
void SetIcmpErrorQueue(int fd, sa_family_t family, bool on) {
    const int value = on ? 1 : 0;
    if (family == AF_INET) {
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &value, sizeof value);
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &value, sizeof value);
    }
}

// A datagram of length bytes is in buffer (at most capacity of them); completes recv.
int Deliver(size_t length, int capacity, const sockaddr_storage& source, void* from,
            int* fromLength) {
    if (from != nullptr) {
        const int size = posix::ToWindowsAddress(source, from, *fromLength);
        if (size < 0) return SOCKET_ERROR;
        *fromLength = size;
    }
    if (length > static_cast<size_t>(capacity)) return posix::Fail(kWsaEmsgsize);
    return static_cast<int>(length);
}

int ReceiveOn(int fd, void* buffer, int length, int flags, void* from, int* fromLength) {
    if (length < 0 || (buffer == nullptr && length > 0)) return posix::Fail(kWsaEfault);
    if (from != nullptr &&
        (fromLength == nullptr || *fromLength < static_cast<int>(sizeof(plat::sockaddr_in)))) {
        return posix::Fail(kWsaEfault);
    }
    int linuxFlags = 0;
    if (!ReceiveFlags(flags, &linuxFlags)) return posix::Fail(kWsaEopnotsupp);
    const bool peek = (linuxFlags & MSG_PEEK) != 0;
    const bool icmpErrors = (posix::SocketFlags(fd) & posix::kIcmpErrorQueue) != 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    const size_t capacity = static_cast<size_t>(length);
    sockaddr_storage source{};

    if (icmpErrors) {
        const size_t n = posix::TakeIcmpErrorDatagram(fd, peek, bytes, capacity, &source);
        if (n > 0) return Deliver(n, length, source, from, fromLength);
    }
    const bool datagram = posix::IsIcmpDatagram(fd);
    int err = EAGAIN;
    for (int attempt = 0; attempt < kReceiveAttempts; ++attempt) {
        if (datagram) {
            bool truncated = false;
            const ssize_t got =
                posix::ReceiveIcmpDatagram(fd, bytes, capacity, linuxFlags, &source, &truncated);
            if (got >= 0) {
                if (from != nullptr) {
                    const int size = posix::ToWindowsAddress(source, from, *fromLength);
                    if (size < 0) return SOCKET_ERROR;
                    *fromLength = size;
                }
                if (truncated) return posix::Fail(kWsaEmsgsize);
                return static_cast<int>(got);
            }
            err = errno;
            if (!posix::IsIcmpErrno(err)) break;
            const size_t n = posix::TakeIcmpErrorDatagram(fd, peek, bytes, capacity, &source);
            if (n > 0) return Deliver(n, length, source, from, fromLength);
            err = EAGAIN;
            continue;
        }
        iovec iov{buffer, capacity};
        msghdr msg{};
        msg.msg_name = &source;
        msg.msg_namelen = sizeof source;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t got = recvmsg(fd, &msg, linuxFlags);
        if (got >= 0) {
            if (from != nullptr && msg.msg_namelen > 0) {
                const int size = posix::ToWindowsAddress(source, from, *fromLength);
                if (size < 0) return SOCKET_ERROR;
                *fromLength = size;
            }
            // Windows drops the rest of a datagram that did not fit, and says so.
            if ((msg.msg_flags & MSG_TRUNC) != 0) return posix::Fail(kWsaEmsgsize);
            return static_cast<int>(got);
        }
        err = errno;
        if (!icmpErrors || !posix::IsIcmpErrno(err)) break;
        // The kernel's report of an ICMP error: the queue holds the answer itself.
        const size_t n = posix::TakeIcmpErrorDatagram(fd, peek, bytes, capacity, &source);
        if (n > 0) return Deliver(n, length, source, from, fromLength);
        // Its answer came as data already (the peer sent it); only the error was left.
        err = EAGAIN;
    }
    posix::FailWithErrno(err);
    return SOCKET_ERROR;
}

int Receive(SOCKET s, void* buffer, int length, int flags, void* from, int* fromLength) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    const int result = ReceiveOn(fd, buffer, length, flags, from, fromLength);
    posix::RearmSocketRead(fd);
    return result;
}

int SendOn(SOCKET s, const void* data, int length, int flags, const void* to, int toLength) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (length < 0 || (data == nullptr && length > 0)) return posix::Fail(kWsaEfault);
    int linuxFlags = 0;
    if (!SendFlags(flags, &linuxFlags)) return posix::Fail(kWsaEopnotsupp);
    sockaddr_storage address{};
    socklen_t addressLength = 0;
    if (to != nullptr && !posix::ToLinuxAddress(to, toLength, &address, &addressLength)) {
        return SOCKET_ERROR;
    }
    const sockaddr* target = to != nullptr ? reinterpret_cast<const sockaddr*>(&address) : nullptr;
    const bool icmpErrors = (posix::SocketFlags(fd) & posix::kIcmpErrorQueue) != 0;
    const bool datagram = posix::IsIcmpDatagram(fd);
    const auto* message = static_cast<const uint8_t*>(data);
    if (datagram) {
        if (const int32_t refused =
                posix::RefusedIcmpDatagramSend(fd, message, static_cast<size_t>(length));
            refused != 0) {
            return posix::Fail(refused);
        }
    }
    for (int attempt = 0;; ++attempt) {
        const ssize_t sent =
            ::sendto(fd, data, static_cast<size_t>(length), linuxFlags, target, addressLength);
        if (sent >= 0) {
            if (datagram) posix::NoteIcmpDatagramSent(fd, message, static_cast<size_t>(length));
            return static_cast<int>(sent);
        }
        // A pending socket error of an ICMP answer may fail one send; the answer
        // itself waits in the error queue for the next receive.
        if (attempt == 0 && icmpErrors && posix::IsIcmpErrno(errno)) continue;
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
}

// The size of the next datagram as a receive would give it; the kernel has no FIONREAD
// for ICMP datagram sockets.
int DatagramWaiting(int fd, uint32_t* argument) {
    constexpr size_t kLargest = 65535 + 20;
    auto* scratch = static_cast<uint8_t*>(malloc(kLargest));
    if (scratch == nullptr) return posix::Fail(10055);  // WSAENOBUFS
    sockaddr_storage source{};
    bool truncated = false;
    const ssize_t got = posix::ReceiveIcmpDatagram(fd, scratch, kLargest, MSG_PEEK | MSG_DONTWAIT,
                                                   &source, &truncated);
    const int err = errno;
    free(scratch);
    if (got < 0 && err != EAGAIN && err != EWOULDBLOCK && !posix::IsIcmpErrno(err)) {
        posix::FailWithErrno(err);
        return SOCKET_ERROR;
    }
    *argument = got > 0 ? static_cast<uint32_t>(got) : 0;
    return 0;
}

bool CheckDescriptor(int fd) {
    if (fcntl(fd, F_GETFL) >= 0) return true;
    posix::FailWithErrno(errno);
    return false;
}

}  // namespace

namespace posix {

int DescriptorOf(SOCKET s) {
    if (s > static_cast<SOCKET>(INT_MAX)) {
        WSASetLastError(kWsaEnotsock);
        return -1;
    }
    return static_cast<int>(s);
}

void FailWithErrno(int err) {
    int32_t code;
    switch (err) {
        case EBADF:  // Windows knows no closed handle, only a value that is no socket
            code = kWsaEnotsock;
            break;
        case ENOMEM:
            code = 10055;  // WSAENOBUFS
            break;
        case EPIPE:
            code = 10054;  // WSAECONNRESET
            break;
        default:
            code = WsaErrorFromErrno(err);
    }
    WSASetLastError(code);
}

int Fail(int32_t code) {
    WSASetLastError(code);
    return SOCKET_ERROR;
}

}  // namespace posix

SOCKET socket(int family, int type, int protocol) {
    if (!posix::RequireStarted()) return INVALID_SOCKET;
    int linuxFamily;
    if (family == posix::win::kAfInet) {
        linuxFamily = AF_INET;
    } else if (family == posix::win::kAfInet6) {
        linuxFamily = AF_INET6;
    } else {
        WSASetLastError(kWsaEafnosupport);
        return INVALID_SOCKET;
    }
    // The type numbers agree (stream, datagram, raw, rdm, seqpacket).
    if (type < SOCK_STREAM || type > 5) {
        WSASetLastError(kWsaEsocktnosupport);
        return INVALID_SOCKET;
    }
    int fd = ::socket(linuxFamily, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        const int refused = errno;
        // Without the privilege for raw sockets, echo requests may still be allowed.
        const bool icmp =
            type == SOCK_RAW && ((linuxFamily == AF_INET && protocol == IPPROTO_ICMP) ||
                                 (linuxFamily == AF_INET6 && protocol == IPPROTO_ICMPV6));
        if (icmp && (refused == EPERM || refused == EACCES)) {
            fd = posix::OpenIcmpDatagram(linuxFamily, protocol);
        }
        if (fd < 0) {
            posix::FailWithErrno(refused);
            return INVALID_SOCKET;
        }
    } else {
        posix::ForgetSocketFlags(fd);
    }
    if (linuxFamily == AF_INET6) {
        // Windows IPv6 sockets are IPv6 only unless asked otherwise.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const void* address, int length) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    sockaddr_storage local;
    socklen_t localLength;
    if (!posix::ToLinuxAddress(address, length, &local, &localLength)) return SOCKET_ERROR;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
    return 0;
}

int connect(SOCKET s, const void* address, int length) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    sockaddr_storage peer;
    socklen_t peerLength;
    if (!posix::ToLinuxAddress(address, length, &peer, &peerLength)) return SOCKET_ERROR;
    const bool datagram = posix::IsIcmpDatagram(fd);
    const bool rawIcmp = !datagram && IsRawIcmp(fd);
    const bool hadQueue = (posix::SocketFlags(fd) & posix::kIcmpErrorQueue) != 0;
    // Switched on before the connection exists, so no early answer is missed.
    if (rawIcmp && !hadQueue) SetIcmpErrorQueue(fd, peer.ss_family, true);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), peerLength) != 0) {
        const int err = errno;
        if (rawIcmp && !hadQueue) SetIcmpErrorQueue(fd, peer.ss_family, false);
        // Windows reports a connection under way as "would block".
        posix::FailWithErrno(err == EINPROGRESS ? EWOULDBLOCK : err);
        return SOCKET_ERROR;
    }
    if (rawIcmp) posix::UpdateSocketFlags(fd, posix::kIcmpErrorQueue, 0);
    if (rawIcmp || datagram) posix::KeepPeer(fd, peer);
    return 0;
}

int send(SOCKET s, const void* data, int length, int flags) {
    return SendOn(s, data, length, flags, nullptr, 0);
}

// Without an address it is a send on the connected socket, as on Windows.
int sendto(SOCKET s, const void* data, int length, int flags, const void* to, int toLength) {
    return SendOn(s, data, length, flags, to, toLength);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    return Receive(s, buffer, length, flags, nullptr, nullptr);
}

int recvfrom(SOCKET s, void* buffer, int length, int flags, void* from, int* fromLength) {
    return Receive(s, buffer, length, flags, from, fromLength);
}

int closesocket(SOCKET s) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    struct stat info;
    if (fstat(fd, &info) != 0) {
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
    if (!S_ISSOCK(info.st_mode)) return posix::Fail(kWsaEnotsock);
    posix::ForgetSocket(fd);
    posix::ForgetSocketFlags(fd);
    // The descriptor is gone after close even when it reports EINTR.
    if (::close(fd) != 0 && errno != EINTR) {
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
    return 0;
}

namespace {

int AddressOf(SOCKET s, void* address, int* length, int (*query)(int, sockaddr*, socklen_t*)) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (address == nullptr || length == nullptr) return posix::Fail(kWsaEfault);
    sockaddr_storage native{};
    socklen_t nativeLength = sizeof native;
    if (query(fd, reinterpret_cast<sockaddr*>(&native), &nativeLength) != 0) {
        // A connected raw socket has a peer on Windows; Linux only knows it as kept here.
        const int err = errno;
        if (err != ENOTCONN || query != &::getpeername || !posix::KeptPeer(fd, &native)) {
            posix::FailWithErrno(err);
            return SOCKET_ERROR;
        }
    }
    const int size = posix::ToWindowsAddress(native, address, *length);
    if (size < 0) return SOCKET_ERROR;
    *length = size;
    return 0;
}

}  // namespace

int getsockname(SOCKET s, void* address, int* length) {
    return AddressOf(s, address, length, &::getsockname);
}

int getpeername(SOCKET s, void* address, int* length) {
    return AddressOf(s, address, length, &::getpeername);
}

int ioctlsocket(SOCKET s, uint32_t command, uint32_t* argument) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!CheckDescriptor(fd)) return SOCKET_ERROR;
    if (argument == nullptr) return posix::Fail(kWsaEfault);
    switch (command) {
        case posix::win::kFionbio: {
            const int status = fcntl(fd, F_GETFL);
            if (status < 0) {
                posix::FailWithErrno(errno);
                return SOCKET_ERROR;
            }
            // Notifications need a non-blocking socket; Windows refuses to undo that.
            if (*argument == 0 && (posix::SocketFlags(fd) & posix::kAsyncSelected) != 0) {
                return posix::Fail(kWsaEinval);
            }
            const int wanted = *argument != 0 ? status | O_NONBLOCK : status & ~O_NONBLOCK;
            if (wanted != status && fcntl(fd, F_SETFL, wanted) != 0) {
                posix::FailWithErrno(errno);
                return SOCKET_ERROR;
            }
            return 0;
        }
        case posix::win::kFionread: {
            if ((posix::SocketFlags(fd) & posix::kIcmpErrorQueue) != 0) {
                sockaddr_storage source;
                const size_t n = posix::TakeIcmpErrorDatagram(fd, true, nullptr, 0, &source);
                if (n > 0) {
                    *argument = static_cast<uint32_t>(n);
                    return 0;
                }
            }
            if (posix::IsIcmpDatagram(fd)) return DatagramWaiting(fd, argument);
            int waiting = 0;
            if (::ioctl(fd, FIONREAD, &waiting) != 0) {
                posix::FailWithErrno(errno);
                return SOCKET_ERROR;
            }
            *argument = static_cast<uint32_t>(waiting);
            return 0;
        }
        case posix::win::kSioRcvall:
            // Linux sockets have no promiscuous receive mode to switch on.
            return posix::Fail(kWsaEopnotsupp);
        default:
            return posix::Fail(kWsaEinval);
    }
}

int WSAAsyncSelect(SOCKET s, HWND window, uint32_t message, int32_t events) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    const int status = fcntl(fd, F_GETFL);
    if (status < 0) {
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
    if ((status & O_NONBLOCK) == 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) != 0) {
        posix::FailWithErrno(errno);
        return SOCKET_ERROR;
    }
    const bool registered = posix::RegisterSocketNotification(fd, s, window, message, events);
    if (events == 0) {
        posix::UpdateSocketFlags(fd, 0, posix::kAsyncSelected);
        return 0;
    }
    if (!registered) return posix::Fail(kWsaEinval);
    posix::UpdateSocketFlags(fd, posix::kAsyncSelected, 0);
    return 0;
}

}  // namespace plat
