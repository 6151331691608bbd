// A connected raw ICMP socket on Linux gets the ICMP errors about its own datagrams
// through the error queue (IP_RECVERR), not as data. A Windows raw socket receives them
// as datagrams like any other ICMP message; this file rebuilds those datagrams.
#include "platform/posix/internet_checksum.h"
#include "platform/posix/socket_internal.h"

#include <errno.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

namespace plat::posix {

namespace {

// Linux routers quote at most 548 bytes (IPv4) or 1232 bytes (IPv6) of the datagram.
constexpr size_t kQuoteCapacity = 2048;
constexpr size_t kIpv4Header = 20;
constexpr size_t kIpv6Header = 40;
constexpr size_t kIcmpHeader = 8;
constexpr size_t kDatagramCapacity = kIpv4Header + kIcmpHeader + kIpv6Header + kQuoteCapacity;
// Entries dropped on the way to one that gives a datagram; the queue is short anyway.
constexpr int kMaxEntries = 64;
// The offender's own TTL is not reported; the usual initial value stands in for it.
constexpr uint8_t kAssumedTtl = 64;

constexpr uint8_t kIcmpDestUnreachable = 3;
constexpr uint8_t kIcmpFragNeeded = 4;
constexpr uint8_t kIcmpParameterProblem = 12;
constexpr uint8_t kIcmp6PacketTooBig = 2;
constexpr uint8_t kIcmp6ParameterProblem = 4;
constexpr uint8_t kIcmpEchoRequest = 8;
constexpr uint8_t kIcmp6EchoRequest = 128;

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value >> 16);
    Put16(at + 2, value);
}

int IntOption(int fd, int level, int name, int fallback) {
    int value = 0;
    socklen_t n = sizeof value;
    return ::getsockopt(fd, level, name, &value, &n) == 0 ? value : fallback;
}

const sock_extended_err* FindExtendedError(msghdr& msg) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
            (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) {
            return reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        }
    }
    return nullptr;
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const ::sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const ::sockaddr_in&>(b).sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        return memcmp(&reinterpret_cast<const ::sockaddr_in6&>(a).sin6_addr,
                      &reinterpret_cast<const ::sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
    }
    return false;
}

void ClearSocketError(int fd) {
    int pending = 0;
    socklen_t n = sizeof pending;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &n);
}

// IPv4 header + ICMP error + the original IPv4 header + the quoted ICMP message.
size_t BuildIpv4(int fd, const sock_extended_err& ee, const sockaddr_storage& offender,
                 const sockaddr_storage& target, const uint8_t* quote, size_t quoted,
                 uint8_t* out) {
    ::sockaddr_in local{};
    socklen_t n = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) != 0) local = ::sockaddr_in{};
    const auto& from = reinterpret_cast<const ::sockaddr_in&>(offender);
    const auto& to = reinterpret_cast<const ::sockaddr_in&>(target);
    const size_t total = kIpv4Header + kIcmpHeader + kIpv4Header + quoted;
    memset(out, 0, total - quoted);

    uint8_t* ip = out;
    ip[0] = 0x45;
    Put16(ip + 2, static_cast<uint32_t>(total));
    ip[8] = kAssumedTtl;
    ip[9] = IPPROTO_ICMP;
    memcpy(ip + 12, &from.sin_addr, 4);
    memcpy(ip + 16, &local.sin_addr, 4);
    Put16(ip + 10, FoldChecksum(SumWords(ip, kIpv4Header, 0)));

    uint8_t* icmp = out + kIpv4Header;
    icmp[0] = ee.ee_type;
    icmp[1] = ee.ee_code;
    if (ee.ee_type == kIcmpDestUnreachable && ee.ee_code == kIcmpFragNeeded) {
        Put16(icmp + 6, ee.ee_info);  // next-hop MTU
    } else if (ee.ee_type == kIcmpParameterProblem) {
        icmp[4] = static_cast<uint8_t>(ee.ee_info);  // pointer to the bad byte
    }

    // The original header as this socket sent it.
    uint8_t* original = icmp + kIcmpHeader;
    original[0] = 0x45;
    original[1] = static_cast<uint8_t>(IntOption(fd, IPPROTO_IP, IP_TOS, 0));
    Put16(original + 2, static_cast<uint32_t>(kIpv4Header + quoted));
    if (IntOption(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_WANT) != IP_PMTUDISC_DONT) {
        original[6] = 0x40;  // don't fragment
    }
    original[8] = static_cast<uint8_t>(IntOption(fd, IPPROTO_IP, IP_TTL, kAssumedTtl));
    original[9] = IPPROTO_ICMP;
    memcpy(original + 12, &local.sin_addr, 4);
    memcpy(original + 16, &to.sin_addr, 4);
    Put16(original + 10, FoldChecksum(SumWords(original, kIpv4Header, 0)));
    memcpy(original + kIpv4Header, quote, quoted);

    Put16(icmp + 2, FoldChecksum(SumWords(icmp, total - kIpv4Header, 0)));
    return total;
}

// ICMPv6 error + the original IPv6 header + the quoted ICMPv6 message; a Windows raw
// IPv6 socket delivers no IP header.
size_t BuildIpv6(int fd, const sock_extended_err& ee, const sockaddr_storage& offender,
                 const sockaddr_storage& target, const uint8_t* quote, size_t quoted,
                 uint8_t* out) {
    ::sockaddr_in6 local{};
    socklen_t n = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) != 0) local = ::sockaddr_in6{};
    const auto& from = reinterpret_cast<const ::sockaddr_in6&>(offender);
    const auto& to = reinterpret_cast<const ::sockaddr_in6&>(target);
    const size_t total = kIcmpHeader + kIpv6Header + quoted;
    memset(out, 0, total - quoted);

    out[0] = ee.ee_type;
    out[1] = ee.ee_code;
    if (ee.ee_type == kIcmp6PacketTooBig || ee.ee_type == kIcmp6ParameterProblem) {
        Put32(out + 4, ee.ee_info);  // MTU, or pointer to the bad byte
    }

    uint8_t* original = out + kIcmpHeader;
    const uint32_t trafficClass =
        static_cast<uint32_t>(IntOption(fd, IPPROTO_IPV6, IPV6_TCLASS, 0)) & 0xFF;
    Put32(original, 0x60000000u | trafficClass << 20);
    Put16(original + 4, static_cast<uint32_t>(quoted));
    original[6] = IPPROTO_ICMPV6;
    original[7] = static_cast<uint8_t>(IntOption(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, 64));
    memcpy(original + 8, &local.sin6_addr, 16);
    memcpy(original + 24, &to.sin6_addr, 16);
    memcpy(original + kIpv6Header, quote, quoted);

    // Pseudo-header: offender, our address, length, next header.
    uint8_t pseudo[40] = {};
    memcpy(pseudo, &from.sin6_addr, 16);
    memcpy(pseudo + 16, &local.sin6_addr, 16);
    Put32(pseudo + 32, static_cast<uint32_t>(total));
    pseudo[39] = IPPROTO_ICMPV6;
    Put16(out + 2, FoldChecksum(SumWords(out, total, SumWords(pseudo, sizeof pseudo, 0))));
    return total;
}

}  // namespace

bool IsIcmpErrno(int err) {
    switch (err) {
        case ENETUNREACH:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENONET:
        case ECONNREFUSED:
        case ENOPROTOOPT:
        case EMSGSIZE:
        case EOPNOTSUPP:
        case EPROTO:
        case EACCES:
            return true;
        default:
            return false;
    }
}

size_t TakeIcmpErrorDatagram(int fd, bool peek, uint8_t* buffer, size_t capacity,
                             sockaddr_storage* source) {
    const size_t kept = TakeStash(fd, peek, buffer, capacity, source);
    if (kept > 0) return kept;
    sockaddr_storage peer{};
    bool peerKnown = false;
    const bool datagram = IsIcmpDatagram(fd);
    for (int entry = 0; entry < kMaxEntries; ++entry) {
        uint8_t quote[kQuoteCapacity];
        sockaddr_storage target{};
        alignas(cmsghdr) uint8_t control[512];
        iovec iov{quote, sizeof quote};
        msghdr msg{};
        msg.msg_name = &target;
        msg.msg_namelen = sizeof target;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        // Reading the error queue always dequeues; MSG_PEEK has no effect there.
        const ssize_t got = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (got < 0) return 0;

        const sock_extended_err* ee = FindExtendedError(msg);
        bool usable = ee != nullptr &&
                      (ee->ee_origin == SO_EE_ORIGIN_ICMP || ee->ee_origin == SO_EE_ORIGIN_ICMP6);
        sockaddr_storage offender{};
        if (usable) {
            const auto* reported = reinterpret_cast<const sockaddr*>(ee + 1);
            const size_t size = reported->sa_family == AF_INET    ? sizeof(::sockaddr_in)
                                : reported->sa_family == AF_INET6 ? sizeof(::sockaddr_in6)
                                                                  : 0;
            if (size > 0) {
                memcpy(&offender, reported, size);
            } else {
                offender = target;
            }
            if (!peerKnown) {
                // A datagram socket gets no ICMP error as data, not even from its peer.
                if (datagram || !KeptPeer(fd, &peer)) peer.ss_family = AF_UNSPEC;
                peerKnown = true;
            }
            // From the peer itself the kernel delivered the error as data as well.
            if (SameHost(offender, peer)) usable = false;
            const sa_family_t wanted = ee->ee_origin == SO_EE_ORIGIN_ICMP ? AF_INET : AF_INET6;
            if (offender.ss_family != wanted || target.ss_family != wanted) usable = false;
        }
        if (!usable) {
            ClearSocketError(fd);
            continue;
        }

        const size_t quoted = static_cast<size_t>(got);
        // The quoted request carries the kernel's identifier instead of the one sent.
        if (datagram && quoted > 0 &&
            (quote[0] == kIcmpEchoRequest || quote[0] == kIcmp6EchoRequest)) {
            RestoreEchoIdentifier(fd, quote, quoted);
        }
        uint8_t built[kDatagramCapacity];
        const size_t length = ee->ee_origin == SO_EE_ORIGIN_ICMP
                                  ? BuildIpv4(fd, *ee, offender, target, quote, quoted, built)
                                  : BuildIpv6(fd, *ee, offender, target, quote, quoted, built);
        // The answer is delivered; the socket error it raised must not fail the next call.
        ClearSocketError(fd);
        if (buffer != nullptr) memcpy(buffer, built, length < capacity ? length : capacity);
        *source = offender;
        if (peek && !StashDatagram(fd, built, length, offender)) return 0;
        return length;
    }
    return 0;
}

}  // namespace plat::posix
