// What the socket tests share: Windows Sockets started per test, sockets closed on every
// path, ICMP messages framed and checked the way the engine does it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/module.h"
#include "platform/sockets.h"
#include "platform/winsock_errors.h"

namespace sockettest {

inline constexpr int32_t kWsaEacces = 10013;
inline constexpr int32_t kWsaEmsgsize = 10040;
inline constexpr int32_t kWsaEnoprotoopt = 10042;
inline constexpr int32_t kWsaEsocktnosupport = 10044;
inline constexpr int32_t kWsaEopnotsupp = 10045;
inline constexpr int32_t kWsaEafnosupport = 10047;
inline constexpr int32_t kWsaEaddrinuse = 10048;
inline constexpr int32_t kWsaEaddrnotavail = 10049;
inline constexpr int32_t kWsaTypeNotFound = 10109;

inline constexpr const char* kNeedRawSockets = "raw ICMP sockets need root or CAP_NET_RAW";

class WinsockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plat::WSADATA data{};
        ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);
    }
    void TearDown() override { EXPECT_EQ(plat::WSACleanup(), 0); }
};

// Closes its socket when the test ends, whichever way.
struct Socket {
    plat::SOCKET s = plat::INVALID_SOCKET;
    Socket() = default;
    explicit Socket(plat::SOCKET value) : s(value) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (s != plat::INVALID_SOCKET) plat::closesocket(s);
    }
    bool valid() const { return s != plat::INVALID_SOCKET; }
};

// Skips the test where raw sockets are not allowed; fails on any other reason.
#define OPEN_RAW_OR_SKIP(var, family, protocol)                     \
    Socket var{plat::socket((family), plat::SOCK_RAW, (protocol))}; \
    if (!var.valid()) {                                             \
        if (plat::WSAGetLastError() == ::sockettest::kWsaEacces) {  \
            GTEST_SKIP() << ::sockettest::kNeedRawSockets;          \
        }                                                           \
        FAIL() << "socket failed with " << plat::WSAGetLastError(); \
    }

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(Get16(p)) << 16 | Get16(p + 2);
}

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// RFC 1071 over the message, continuing an earlier sum (a pseudo-header) when given.
inline uint32_t SumWords(const uint8_t* data, size_t length, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += Get16(data + i);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    return sum;
}

inline uint16_t Checksum(const uint8_t* data, size_t length, uint32_t sum = 0) {
    sum = SumWords(data, length, sum);
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

// The IPv6 pseudo-header sum: source, destination, length, next header 58.
inline uint32_t PseudoHeaderSum(const uint8_t* source, const uint8_t* destination, size_t length) {
    uint8_t pseudo[40] = {};
    memcpy(pseudo, source, 16);
    memcpy(pseudo + 16, destination, 16);
    pseudo[34] = static_cast<uint8_t>(length >> 8);
    pseudo[35] = static_cast<uint8_t>(length);
    pseudo[39] = 58;
    return SumWords(pseudo, sizeof pseudo);
}

// An echo request (type 8, or 128 for ICMPv6) with a recognisable payload. The IPv4
// checksum is filled in; for ICMPv6 pass the pseudo-header sum.
inline std::vector<uint8_t> EchoRequest(uint8_t type, uint16_t id, uint16_t seq, size_t payload,
                                        uint32_t pseudoSum = 0) {
    std::vector<uint8_t> m(8 + payload);
    m[0] = type;
    Put16(&m[4], id);
    Put16(&m[6], seq);
    for (size_t i = 0; i < payload; ++i)
        m[8 + i] = static_cast<uint8_t>('a' + i % 26);
    Put16(&m[2], Checksum(m.data(), m.size(), pseudoSum));
    return m;
}

inline plat::sockaddr_in V4(const char* dotted, uint16_t port = 0) {
    plat::sockaddr_in a{};
    a.sin_family = plat::AF_INET;
    a.sin_port = static_cast<uint16_t>(port >> 8 | (port & 0xFF) << 8);
    a.sin_addr = plat::inet_addr(dotted);
    return a;
}

inline uint16_t PortOf(const void* address) {
    uint8_t b[4];
    memcpy(b, address, 4);
    return Get16(b + 2);
}

// The built-in ws2_32 resolver functions, as the engine looks them up.
struct Resolver {
    plat::GetAddrInfoFn getaddrinfo = nullptr;
    plat::FreeAddrInfoFn freeaddrinfo = nullptr;
    plat::GetNameInfoFn getnameinfo = nullptr;
    plat::GetHostByAddrFn gethostbyaddr = nullptr;
    Resolver() {
        void* module = plat::LoadLibraryA("WS2_32.DLL");
        if (module == nullptr) return;
        getaddrinfo =
            reinterpret_cast<plat::GetAddrInfoFn>(plat::GetProcAddress(module, "getaddrinfo"));
        freeaddrinfo =
            reinterpret_cast<plat::FreeAddrInfoFn>(plat::GetProcAddress(module, "freeaddrinfo"));
        getnameinfo =
            reinterpret_cast<plat::GetNameInfoFn>(plat::GetProcAddress(module, "getnameinfo"));
        gethostbyaddr =
            reinterpret_cast<plat::GetHostByAddrFn>(plat::GetProcAddress(module, "gethostbyaddr"));
    }
};

// A numeric IPv6 address in the Windows layout; family 0 when the text is no address.
inline plat::sockaddr_in6 V6(const char* text) {
    plat::sockaddr_in6 a{};
    Resolver r;
    plat::addrinfo hints{};
    hints.ai_family = plat::AF_INET6;
    hints.ai_flags = 0x4;  // AI_NUMERICHOST
    plat::addrinfo* found = nullptr;
    if (r.getaddrinfo != nullptr && r.getaddrinfo(text, nullptr, &hints, &found) == 0) {
        memcpy(&a, found->ai_addr, sizeof a);
        r.freeaddrinfo(found);
    }
    return a;
}

// Waits up to millis for s to become readable.
inline bool WaitReadable(plat::SOCKET s, int millis) {
    plat::fd_set read{};
    read.fd_count = 1;
    read.fd_array[0] = s;
    plat::timeval tv{millis / 1000, (millis % 1000) * 1000};
    return plat::select(0, &read, nullptr, nullptr, &tv) == 1;
}

inline bool SetNonBlocking(plat::SOCKET s) {
    uint32_t on = 1;
    return plat::ioctlsocket(s, plat::FIONBIO, &on) == 0;
}

}  // namespace sockettest
