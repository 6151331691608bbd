// Windows Sockets 2 as the layers above the platform use it: Windows numbers for families,
// levels, options and errors, Windows layouts for addresses, and WSAAsyncSelect
// notifications posted to a window of the platform's message queues.
//
// The constants keep their Windows names. The Linux socket headers define macros of the
// same names with other values, so a file that includes both cannot name these
// constants after the system header; the Linux backend reaches them through
// platform/posix/winsock_numbers.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/export.h"
#include "platform/window.h"
#include "platform/winsock_errors.h"

namespace plat {

using SOCKET = uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_INET = 2;
inline constexpr int AF_INET6 = 23;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOCK_RAW = 3;
inline constexpr int IPPROTO_ICMP = 1;
inline constexpr int IPPROTO_ICMPV6 = 58;

inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_DONTROUTE = 0x0010;
inline constexpr int SO_BROADCAST = 0x0020;
inline constexpr int SO_SNDBUF = 0x1001;
inline constexpr int SO_RCVBUF = 0x1002;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IP_TOS = 3;
inline constexpr int IP_TTL = 4;
inline constexpr int IP_MULTICAST_TTL = 10;
inline constexpr int IP_DONTFRAGMENT = 14;
inline constexpr int IPPROTO_IPV6 = 41;
inline constexpr int IPV6_UNICAST_HOPS = 4;
inline constexpr int IPV6_MULTICAST_HOPS = 10;

inline constexpr uint32_t FIONBIO = 0x8004667E;
inline constexpr uint32_t FIONREAD = 0x4004667F;
inline constexpr uint32_t SIO_RCVALL = 0x98000001;

inline constexpr int32_t FD_READ = 1;
inline constexpr int32_t FD_WRITE = 2;

inline constexpr int NI_NUMERICHOST = 2;
inline constexpr uint32_t INADDR_NONE = 0xFFFFFFFF;

struct sockaddr_in {  // 16 bytes
    uint16_t sin_family;
    uint16_t sin_port;  // network order
    uint32_t sin_addr;  // network order
    uint8_t sin_zero[8];
};

struct sockaddr_in6 {  // 28 bytes
    uint16_t sin6_family;
    uint16_t sin6_port;
    uint32_t sin6_flowinfo;
    uint8_t sin6_addr[16];
    uint32_t sin6_scope_id;
};

static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

struct WSADATA {
    uint16_t wVersion;
    uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

struct fd_set {
    uint32_t fd_count;
    SOCKET fd_array[64];
};

struct timeval {
    int32_t tv_sec;
    int32_t tv_usec;
};

struct hostent {
    char* h_name;
    char** h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    char** h_addr_list;
};

struct addrinfo {  // the Windows field order
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    void* ai_addr;
    addrinfo* ai_next;
};

// Resolver functions, looked up by name in the module "ws2_32.dll".
using GetAddrInfoFn = int (*)(const char* node, const char* service, const addrinfo* hints,
                              addrinfo** result);
using FreeAddrInfoFn = void (*)(addrinfo* info);
using GetNameInfoFn = int (*)(const void* address, int addressLength, char* host,
                              uint32_t hostLength, char* service, uint32_t serviceLength,
                              int flags);
using GetHostByAddrFn = hostent* (*)(const char* address, int length, int type);

PLAT_API int WSAStartup(uint16_t version, WSADATA* data);
PLAT_API int WSACleanup();
PLAT_API bool WSAIsBlocking();
PLAT_API int WSACancelBlockingCall();

// Each returns SOCKET_ERROR (or INVALID_SOCKET) with WSAGetLastError() set on failure.
// A raw ICMP socket the system refuses (no root, no CAP_NET_RAW) is replaced by an ICMP
// datagram socket where net.ipv4.ping_group_range admits the caller, and behaves as the
// raw one would, except that send and sendto fail with 10045 (WSAEOPNOTSUPP) for a
// message other than an echo request and for a wake-on-LAN magic packet over the echo
// identifier, which the kernel overwrites. 10013 when neither socket is allowed.
PLAT_API SOCKET socket(int family, int type, int protocol);
PLAT_API int bind(SOCKET s, const void* address, int length);
PLAT_API int connect(SOCKET s, const void* address, int length);
PLAT_API int send(SOCKET s, const void* data, int length, int flags);
PLAT_API int sendto(SOCKET s, const void* data, int length, int flags, const void* to,
                    int toLength);
// Receiving re-arms the FD_READ notification of the socket. On a raw ICMP socket an ICMP
// error message about a datagram this socket sent is received as that message, in the
// datagram form the socket's family gives (IPv4 header included), never as an error;
// recvfrom gives the sender of the error as the source. A datagram larger than the
// buffer fails with 10040 (WSAEMSGSIZE) after filling the buffer, as on Windows.
PLAT_API int recv(SOCKET s, void* buffer, int length, int flags);
PLAT_API int recvfrom(SOCKET s, void* buffer, int length, int flags, void* from, int* fromLength);
PLAT_API int closesocket(SOCKET s);
// The local and the peer address in the Windows layout; length in and out.
PLAT_API int getsockname(SOCKET s, void* address, int* length);
PLAT_API int getpeername(SOCKET s, void* address, int* length);
PLAT_API int setsockopt(SOCKET s, int level, int name, const void* value, int length);
PLAT_API int getsockopt(SOCKET s, int level, int name, void* value, int* length);
// FIONBIO, FIONREAD; SIO_RCVALL fails with 10045 (WSAEOPNOTSUPP): Linux has no such mode.
PLAT_API int ioctlsocket(SOCKET s, uint32_t command, uint32_t* argument);
// Leaves only the ready sockets in each set and returns their number; 0 on time-out.
PLAT_API int select(int ignored, fd_set* read, fd_set* write, fd_set* except,
                    const timeval* timeout);
// Notifications as window messages: wParam the socket, lParam the event in its low 16
// bits. FD_READ when data waits (again after each receive while data remains), FD_WRITE
// once when the socket can send. Events 0 cancels. Puts the socket in non-blocking mode.
PLAT_API int WSAAsyncSelect(SOCKET s, HWND window, uint32_t message, int32_t events);

PLAT_API uint32_t inet_addr(const char* text);
PLAT_API hostent* gethostbyname(const char* name);
// gethostname: see platform/host_name.h.

}  // namespace plat
