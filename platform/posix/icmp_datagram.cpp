// ICMP datagram sockets in the place of raw ICMP sockets, for a process the system
// allows echo requests but no raw sockets (net.ipv4.ping_group_range). What the layers
// above receive is what a raw socket would have given them: IPv4 datagrams with an IP
// header, echo replies with the identifier they sent, ICMP errors as datagrams.
#include "platform/posix/internet_checksum.h"
#include "platform/posix/socket_internal.h"

#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat::posix {

namespace {

constexpr int32_t kWsaEopnotsupp = 10045;

constexpr size_t kIpv4Header = 20;
constexpr size_t kEchoHeader = 8;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEcho6Request = 128;
constexpr uint8_t kEcho6Reply = 129;
// Datagrams from others than the peer of a connected socket, skipped in one receive.
constexpr int kMaxSkipped = 64;

// A wake-on-LAN magic packet: six bytes 0xFF, then one 6-byte address sixteen times.
constexpr size_t kMagicSync = 6;
constexpr size_t kMagicLength = kMagicSync + 16 * 6;

bool IsMagicPacket(const uint8_t* p) {
    for (size_t i = 0; i < kMagicSync; ++i) {
        if (p[i] != 0xFF) return false;
    }
    for (size_t i = kMagicSync + 6; i < kMagicLength; ++i) {
        if (p[i] != p[i - 6]) return false;
    }
    return true;
}

// The identifier the kernel writes: the socket's port number, known once it is bound.
bool KernelIdentifier(int fd, uint16_t* identifier) {
    sockaddr_storage local{};
    socklen_t n = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) != 0) return false;
    const uint16_t port = local.ss_family == AF_INET6
                              ? reinterpret_cast<const ::sockaddr_in6&>(local).sin6_port
                              : reinterpret_cast<const ::sockaddr_in&>(local).sin_port;
    if (port == 0) return false;             // bound with the first send
    memcpy(identifier, &port, sizeof port);  // network order, as in the message
    return true;
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const ::sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const ::sockaddr_in&>(b).sin_addr.s_addr;
    }
    return memcmp(&reinterpret_cast<const ::sockaddr_in6&>(a).sin6_addr,
                  &reinterpret_cast<const ::sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
}

int Family(int fd) {
    int domain = AF_UNSPEC;
    socklen_t n = sizeof domain;
    ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &n);
    return domain;
}

struct Arrival {
    uint8_t ttl = 64;
    uint8_t tos = 0;
    in_addr destination{};
};

void ReadControl(msghdr& msg, Arrival* arrival) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP) continue;
        if (c->cmsg_type == IP_TTL) {
            int ttl = 0;
            memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            arrival->ttl = static_cast<uint8_t>(ttl);
        } else if (c->cmsg_type == IP_TOS) {
            arrival->tos = *CMSG_DATA(c);
        } else if (c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            memcpy(&info, CMSG_DATA(c), sizeof info);
            arrival->destination = info.ipi_addr;
        }
    }
}

// The IPv4 header a raw socket would have delivered in front of the message.
void WriteIpv4Header(uint8_t* out, size_t messageLength, const Arrival& arrival,
                     const sockaddr_storage& source) {
    memset(out, 0, kIpv4Header);
    out[0] = 0x45;
    out[1] = arrival.tos;
    const size_t total = kIpv4Header + messageLength;
    Put16(out + 2, static_cast<uint32_t>(total > 0xFFFF ? 0xFFFF : total));
    out[8] = arrival.ttl;
    out[9] = IPPROTO_ICMP;
    memcpy(out + 12, &reinterpret_cast<const ::sockaddr_in&>(source).sin_addr, 4);
    memcpy(out + 16, &arrival.destination, 4);
    Put16(out + 10, InternetChecksum(out, kIpv4Header));
}

}  // namespace

bool IsIcmpDatagram(int fd) {
    return (SocketFlags(fd) & kIcmpDatagram) != 0;
}

int OpenIcmpDatagram(int family, int protocol) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    if (fd < 0) return -1;
    const int on = 1;
    if (family == AF_INET) {
        // ICMP errors come only through the error queue; the rest rebuilds the IP header.
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    }
    ForgetSocketFlags(fd);
    UpdateSocketFlags(fd, kIcmpDatagram | kIcmpErrorQueue, 0);
    return fd;
}

int32_t RefusedIcmpDatagramSend(int fd, const uint8_t* message, size_t length) {
    const uint8_t request = Family(fd) == AF_INET6 ? kEcho6Request : kEchoRequest;
    // The kernel sends echo requests only, and only with their full header.
    if (length < kEchoHeader || message[0] != request || message[1] != 0) return kWsaEopnotsupp;
    // A magic packet over the identifier would reach the sleeping machine broken.
    uint16_t own = 0;
    const bool known = KernelIdentifier(fd, &own);
    if (known && memcmp(message + 4, &own, sizeof own) == 0) return 0;
    for (size_t at = 0; at < 6 && at + kMagicLength <= length; ++at) {
        if (IsMagicPacket(message + at)) return kWsaEopnotsupp;
    }
    return 0;
}

void NoteIcmpDatagramSent(int fd, const uint8_t* message, size_t length) {
    if (length < kEchoHeader) return;
    SentEcho sent{};
    memcpy(&sent.identifier, message + 4, sizeof sent.identifier);
    sent.sequence = Get16(message + 6);
    const size_t key =
        length - kEchoHeader < sizeof sent.key ? length - kEchoHeader : sizeof sent.key;
    sent.keyLength = static_cast<uint8_t>(key);
    memcpy(sent.key, message + kEchoHeader, key);
    KeepSentEcho(fd, sent);
}

void RestoreEchoIdentifier(int fd, uint8_t* message, size_t length) {
    if (length < kEchoHeader) return;
    const size_t key = length - kEchoHeader < 8 ? length - kEchoHeader : 8;
    uint16_t identifier = 0;
    if (!FindSentEcho(fd, Get16(message + 6), message + kEchoHeader, key, &identifier)) return;
    uint16_t current = 0;
    memcpy(&current, message + 4, sizeof current);
    if (current == identifier) return;
    // RFC 1624: HC' = ~(~HC + ~m + m'), so the checksum holds as it did when sent.
    const uint16_t oldWord = Get16(message + 4);
    memcpy(message + 4, &identifier, sizeof identifier);
    const uint16_t newWord = Get16(message + 4);
    const uint32_t sum = static_cast<uint16_t>(~Get16(message + 2)) +
                         static_cast<uint32_t>(static_cast<uint16_t>(~oldWord)) + newWord;
    Put16(message + 2, FoldChecksum(sum));
}

ssize_t ReceiveIcmpDatagram(int fd, uint8_t* buffer, size_t capacity, int flags,
                            sockaddr_storage* source, bool* truncated) {
    const bool ipv4 = Family(fd) == AF_INET;
    const uint8_t reply = ipv4 ? kEchoReply : kEcho6Reply;
    sockaddr_storage peer{};
    const bool connected = KeptPeer(fd, &peer);
    // Room for the header in front: in the caller's buffer, or here when it is too small.
    uint8_t small[kIpv4Header + 64];
    const bool direct = !ipv4 || capacity >= kIpv4Header;
    uint8_t* out = direct ? buffer : small;
    const size_t room = direct ? capacity : sizeof small;
    const size_t header = ipv4 ? kIpv4Header : 0;

    for (int skipped = 0; skipped <= kMaxSkipped; ++skipped) {
        iovec iov{out + header, room - header};
        alignas(cmsghdr) uint8_t control[256];
        msghdr msg{};
        *source = sockaddr_storage{};
        msg.msg_name = source;
        msg.msg_namelen = sizeof *source;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(fd, &msg, flags);
        if (got < 0) return -1;
        // A connected raw socket receives nothing but its peer's datagrams.
        if (connected && !SameHost(*source, peer)) {
            if ((flags & MSG_PEEK) != 0) recv(fd, small, sizeof small, MSG_DONTWAIT);
            continue;
        }
        const size_t length = static_cast<size_t>(got);
        uint8_t* message = out + header;
        if (length > 0 && message[0] == reply) RestoreEchoIdentifier(fd, message, length);
        *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
        if (!ipv4) return got;
        Arrival arrival;
        ReadControl(msg, &arrival);
        WriteIpv4Header(out, length, arrival, *source);
        const size_t total = kIpv4Header + length;
        if (direct) return static_cast<ssize_t>(total);
        memcpy(buffer, small, total < capacity ? total : capacity);
        if (total > capacity) *truncated = true;
        return static_cast<ssize_t>(total < capacity ? total : capacity);
    }
    errno = EAGAIN;
    return -1;
}

ssize_t ReceiveAsRaw(int fd, uint8_t* buffer, size_t capacity, sockaddr_storage* source) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const size_t queued = TakeIcmpErrorDatagram(fd, false, buffer, capacity, source);
        if (queued > 0) return static_cast<ssize_t>(queued < capacity ? queued : capacity);
        bool truncated = false;
        const ssize_t got =
            ReceiveIcmpDatagram(fd, buffer, capacity, MSG_DONTWAIT, source, &truncated);
        // A pending error stands for an entry of the error queue: read that instead.
        if (got >= 0 || !IsIcmpErrno(errno)) return got;
    }
    errno = EAGAIN;
    return -1;
}

void CloseIcmpDatagram(int fd) {
    ForgetSocketFlags(fd);
    close(fd);
}

}  // namespace plat::posix
