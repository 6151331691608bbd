#include "platform/posix/socket_internal.h"

#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "platform/winsock_errors.h"

namespace plat {

namespace {

constexpr int32_t kWsaEnoprotoopt = 10042;

// Windows options beyond the ones the layers above name.
constexpr int kWinSoReuseAddr = 0x0004;
constexpr int kWinSoKeepAlive = 0x0008;
constexpr int kWinSoSndTimeo = 0x1005;
constexpr int kWinSoRcvTimeo = 0x1006;
constexpr int kWinSoType = 0x1008;
constexpr int kWinIpHdrIncl = 2;
constexpr int kWinIpv6DontFrag = 14;
constexpr int kWinIpv6V6Only = 27;

enum class Kind {
    kInt,           // passed through
    kBufferSize,    // Linux doubles what is set and reads back the doubled size
    kMilliseconds,  // a Windows DWORD of milliseconds, a Linux timeval
    kSocketError,   // read only, an errno turned into a Windows number
    kReadOnly,
    kDontFragment,  // a flag on Windows, a path MTU discovery mode on Linux
    kTos,           // the traffic class on an IPv6 socket
};

struct Option {
    int windowsLevel;
    int windowsName;
    int level;
    int name;
    Kind kind;
};

namespace win = posix::win;

constexpr Option kOptions[] = {
    {win::kSolSocket, win::kSoDontRoute, SOL_SOCKET, SO_DONTROUTE, Kind::kInt},
    {win::kSolSocket, win::kSoBroadcast, SOL_SOCKET, SO_BROADCAST, Kind::kInt},
    {win::kSolSocket, win::kSoSndBuf, SOL_SOCKET, SO_SNDBUF, Kind::kBufferSize},
    {win::kSolSocket, win::kSoRcvBuf, SOL_SOCKET, SO_RCVBUF, Kind::kBufferSize},
    {win::kSolSocket, win::kSoError, SOL_SOCKET, SO_ERROR, Kind::kSocketError},
    {win::kSolSocket, kWinSoReuseAddr, SOL_SOCKET, SO_REUSEADDR, Kind::kInt},
    {win::kSolSocket, kWinSoKeepAlive, SOL_SOCKET, SO_KEEPALIVE, Kind::kInt},
    {win::kSolSocket, kWinSoSndTimeo, SOL_SOCKET, SO_SNDTIMEO, Kind::kMilliseconds},
    {win::kSolSocket, kWinSoRcvTimeo, SOL_SOCKET, SO_RCVTIMEO, Kind::kMilliseconds},
    {win::kSolSocket, kWinSoType, SOL_SOCKET, SO_TYPE, Kind::kReadOnly},
    {win::kIpprotoIp, kWinIpHdrIncl, IPPROTO_IP, IP_HDRINCL, Kind::kInt},
    {win::kIpprotoIp, win::kIpTos, IPPROTO_IP, IP_TOS, Kind::kTos},
    {win::kIpprotoIp, win::kIpTtl, IPPROTO_IP, IP_TTL, Kind::kInt},
    {win::kIpprotoIp, win::kIpMulticastTtl, IPPROTO_IP, IP_MULTICAST_TTL, Kind::kInt},
    {win::kIpprotoIp, win::kIpDontFragment, IPPROTO_IP, IP_MTU_DISCOVER, Kind::kDontFragment},
    {win::kIpprotoIpv6, win::kIpv6UnicastHops, IPPROTO_IPV6, IPV6_UNICAST_HOPS, Kind::kInt},
    {win::kIpprotoIpv6, win::kIpv6MulticastHops, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, Kind::kInt},
    {win::kIpprotoIpv6, kWinIpv6DontFrag, IPPROTO_IPV6, IPV6_DONTFRAG, Kind::kInt},
    {win::kIpprotoIpv6, kWinIpv6V6Only, IPPROTO_IPV6, IPV6_V6ONLY, Kind::kInt},
};

const Option* FindOption(int level, int name) {
    for (const Option& o : kOptions) {
        if (o.windowsLevel == level && o.windowsName == name) return &o;
    }
    return nullptr;
}

bool IsIpv6Socket(int fd) {
    int domain = AF_UNSPEC;
    socklen_t n = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &n) == 0 && domain == AF_INET6;
}

// The mode a new IPv4 socket starts with, which the system setting decides.
int DefaultPmtuMode() {
    int noDiscovery = 0;
    if (FILE* f = fopen("/proc/sys/net/ipv4/ip_no_pmtu_disc", "re")) {
        if (fscanf(f, "%d", &noDiscovery) != 1) noDiscovery = 0;
        fclose(f);
    }
    return noDiscovery != 0 ? IP_PMTUDISC_DONT : IP_PMTUDISC_WANT;
}

bool SetInt(int fd, int level, int name, int value) {
    if (::setsockopt(fd, level, name, &value, sizeof value) == 0) return true;
    posix::FailWithErrno(errno);
    return false;
}

bool GetInt(int fd, int level, int name, int* value) {
    socklen_t n = sizeof *value;
    *value = 0;
    if (::getsockopt(fd, level, name, value, &n) == 0) return true;
    posix::FailWithErrno(errno);
    return false;
}

}  // namespace

// Values are 4-byte integers (a Windows DWORD or BOOL); a shorter value is one byte.
int setsockopt(SOCKET s, int level, int name, const void* value, int length) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (value == nullptr || length <= 0) return posix::Fail(kWsaEfault);
    const Option* option = FindOption(level, name);
    if (option == nullptr) return posix::Fail(kWsaEnoprotoopt);
    int v = 0;
    if (length >= 4) {
        memcpy(&v, value, sizeof v);
    } else {
        v = *static_cast<const uint8_t*>(value);
    }
    switch (option->kind) {
        case Kind::kInt:
        case Kind::kBufferSize:
            return SetInt(fd, option->level, option->name, v) ? 0 : SOCKET_ERROR;
        case Kind::kMilliseconds: {
            const uint32_t ms = static_cast<uint32_t>(v);
            ::timeval tv{static_cast<time_t>(ms / 1000),
                         static_cast<suseconds_t>(ms % 1000) * 1000};
            if (::setsockopt(fd, option->level, option->name, &tv, sizeof tv) == 0) return 0;
            posix::FailWithErrno(errno);
            return SOCKET_ERROR;
        }
        case Kind::kSocketError:
        case Kind::kReadOnly:
            return posix::Fail(kWsaEnoprotoopt);
        case Kind::kDontFragment:
            if (IsIpv6Socket(fd)) {
                return SetInt(fd, IPPROTO_IPV6, IPV6_DONTFRAG, v != 0 ? 1 : 0) ? 0 : SOCKET_ERROR;
            }
            return SetInt(fd, IPPROTO_IP, IP_MTU_DISCOVER,
                          v != 0 ? IP_PMTUDISC_DO : DefaultPmtuMode())
                       ? 0
                       : SOCKET_ERROR;
        case Kind::kTos:
            // The layers above set the type of service at the IPv4 level for both families.
            if (IsIpv6Socket(fd)) {
                return SetInt(fd, IPPROTO_IPV6, IPV6_TCLASS, v) ? 0 : SOCKET_ERROR;
            }
            return SetInt(fd, IPPROTO_IP, IP_TOS, v) ? 0 : SOCKET_ERROR;
    }
    return posix::Fail(kWsaEnoprotoopt);
}

int getsockopt(SOCKET s, int level, int name, void* value, int* length) {
    if (!posix::RequireStarted()) return SOCKET_ERROR;
    const int fd = posix::DescriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (value == nullptr || length == nullptr || *length <= 0) return posix::Fail(kWsaEfault);
    const Option* option = FindOption(level, name);
    if (option == nullptr) return posix::Fail(kWsaEnoprotoopt);
    int v = 0;
    switch (option->kind) {
        case Kind::kInt:
        case Kind::kReadOnly:
            if (!GetInt(fd, option->level, option->name, &v)) return SOCKET_ERROR;
            // What the caller asked for and is given the behaviour of.
            if (option->name == SO_TYPE && posix::IsIcmpDatagram(fd)) v = SOCK_RAW;
            break;
        case Kind::kBufferSize:
            if (!GetInt(fd, option->level, option->name, &v)) return SOCKET_ERROR;
            v /= 2;  // what was set, as Windows reads it back
            break;
        case Kind::kMilliseconds: {
            ::timeval tv{};
            socklen_t n = sizeof tv;
            if (::getsockopt(fd, option->level, option->name, &tv, &n) != 0) {
                posix::FailWithErrno(errno);
                return SOCKET_ERROR;
            }
            v = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
            break;
        }
        case Kind::kSocketError: {
            int err = 0;
            if (!GetInt(fd, option->level, option->name, &err)) return SOCKET_ERROR;
            // On a raw ICMP socket such an error stood for an answer received as data.
            const bool answer =
                (posix::SocketFlags(fd) & posix::kIcmpErrorQueue) != 0 && posix::IsIcmpErrno(err);
            if (err == 0 || answer) {
                v = 0;
            } else {
                posix::FailWithErrno(err);
                v = WSAGetLastError();
            }
            break;
        }
        case Kind::kDontFragment:
            if (IsIpv6Socket(fd)) {
                if (!GetInt(fd, IPPROTO_IPV6, IPV6_DONTFRAG, &v)) return SOCKET_ERROR;
                v = v != 0 ? 1 : 0;
            } else {
                if (!GetInt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &v)) return SOCKET_ERROR;
                v = v == IP_PMTUDISC_DO || v == IP_PMTUDISC_PROBE ? 1 : 0;
            }
            break;
        case Kind::kTos:
            if (IsIpv6Socket(fd)) {
                if (!GetInt(fd, IPPROTO_IPV6, IPV6_TCLASS, &v)) return SOCKET_ERROR;
            } else {
                if (!GetInt(fd, IPPROTO_IP, IP_TOS, &v)) return SOCKET_ERROR;
            }
            break;
    }
    if (*length >= 4) {
        memcpy(value, &v, sizeof v);
        *length = 4;
    } else {
        *static_cast<uint8_t*>(value) = static_cast<uint8_t>(v);
        *length = 1;
    }
    return 0;
}

}  // namespace plat
