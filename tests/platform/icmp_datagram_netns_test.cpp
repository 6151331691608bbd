// Raw ICMP sockets for a user without the privilege for them: this program runs as uid
// 65534 inside the pinger namespace of tests/netns/icmp_hosts.sh, whose
// net.ipv4.ping_group_range admits that user (tests/netns/unprivileged.sh sets it), so
// the platform hands out ICMP datagram sockets instead. What they deliver must be what a
// raw socket delivers: IPv4 headers, the identifiers that were sent, ICMP errors as
// datagrams; what they cannot send is refused. Nothing sent here leaves the machine.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/socket_tests_support.h"
#include "tests/support/test_hosts.h"

namespace {

using test::hosts::kPinger6;
using test::hosts::kRouter;
using test::hosts::kRouter6;

using namespace sockettest;

constexpr int32_t kWsaEwouldblock = 10035;

// The router's kernel sends IPv4 errors in a burst of five, then one a second per pinger
// address, shared with the other tests of these hosts: a missing error is asked again.
constexpr int kErrorAttempts = 4;

bool IsV6(const char* text) {
    return strchr(text, ':') != nullptr;
}

struct Target {
    int family;
    plat::sockaddr_in v4;
    plat::sockaddr_in6 v6;
    const void* data() const {
        return family == plat::AF_INET ? static_cast<const void*>(&v4) : &v6;
    }
    int size() const { return family == plat::AF_INET ? 16 : 28; }
};

Target Parse(const char* text) {
    Target t{};
    t.family = IsV6(text) ? plat::AF_INET6 : plat::AF_INET;
    if (IsV6(text)) {
        t.v6 = V6(text);
    } else {
        t.v4 = V4(text);
    }
    return t;
}

std::string AddressText(const void* address) {
    uint16_t family = 0;
    memcpy(&family, address, 2);
    char text[64] = {};
    if (family == plat::AF_INET) {
        plat::sockaddr_in a;
        memcpy(&a, address, sizeof a);
        const auto* b = reinterpret_cast<const uint8_t*>(&a.sin_addr);
        snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        return text;
    }
    plat::sockaddr_in6 a;
    memcpy(&a, address, sizeof a);
    std::string out;
    for (int i = 0; i < 16; i += 2) {
        snprintf(text, sizeof text, "%s%x", i == 0 ? "" : ":", Get16(a.sin6_addr + i));
        out += text;
    }
    return out;
}

std::string Expanded(const char* v6) {
    const plat::sockaddr_in6 a = V6(v6);
    return AddressText(&a);
}

// Whether the kernel lists the socket among its ICMP datagram sockets.
bool ListedAsPingSocket(plat::SOCKET s, int family) {
    char link[64] = {};
    const std::string fd = "/proc/self/fd/" + std::to_string(s);
    if (readlink(fd.c_str(), link, sizeof link - 1) <= 0) return false;
    std::string inode = link;  // "socket:[N]"
    if (inode.rfind("socket:[", 0) != 0) return false;
    inode = inode.substr(8, inode.size() - 9);
    std::ifstream table(family == plat::AF_INET ? "/proc/net/icmp" : "/proc/net/icmp6");
    std::string line;
    while (std::getline(table, line)) {
        if (line.find(" " + inode + " ") != std::string::npos) return true;
    }
    return false;
}

// An echo request as the engine frames it, the ICMPv6 checksum with the pseudo-header.
std::vector<uint8_t> Echo(int family, const char* to, uint16_t id, uint16_t seq,
                          size_t payload = 24) {
    if (family == plat::AF_INET) return EchoRequest(8, id, seq, payload);
    const plat::sockaddr_in6 us = V6(strcmp(to, "::1") == 0 ? "::1" : kPinger6);
    const plat::sockaddr_in6 them = V6(to);
    return EchoRequest(128, id, seq, payload,
                       PseudoHeaderSum(us.sin6_addr, them.sin6_addr, 8 + payload));
}

bool WaitReadable(plat::SOCKET s, int millis) {
    plat::fd_set read{};
    read.fd_count = 1;
    read.fd_array[0] = s;
    const plat::timeval tv{millis / 1000, (millis % 1000) * 1000};
    return plat::select(0, &read, nullptr, nullptr, &tv) == 1;
}

class Unprivileged : public WinsockTest {
  protected:
    void SetUp() override {
        WinsockTest::SetUp();
        const std::string why = test::WhyNoTestHosts();
        if (!why.empty()) GTEST_SKIP() << why;
        if (geteuid() == 0) {
            GTEST_SKIP() << "runs as an unprivileged user: ctest starts it through "
                            "tests/netns/unprivileged.sh";
        }
    }

    // The raw ICMP socket the engine asks for, bound, non-blocking, connected when asked.
    void Open(const Target& to, bool connect) {
        const int protocol = to.family == plat::AF_INET ? plat::IPPROTO_ICMP : plat::IPPROTO_ICMPV6;
        sock.s = plat::socket(to.family, plat::SOCK_RAW, protocol);
        ASSERT_TRUE(sock.valid()) << "socket failed with " << plat::WSAGetLastError();
        // Bound to any address, as the engine binds it; the kernel lists it from then on.
        const Target any = Parse(to.family == plat::AF_INET ? "0.0.0.0" : "::");
        ASSERT_EQ(plat::bind(sock.s, any.data(), any.size()), 0) << plat::WSAGetLastError();
        ASSERT_TRUE(ListedAsPingSocket(sock.s, to.family)) << "not an ICMP datagram socket";
        // Non-blocking, as the engine's notifications make it.
        uint32_t on = 1;
        ASSERT_EQ(plat::ioctlsocket(sock.s, plat::FIONBIO, &on), 0);
        if (connect) {
            ASSERT_EQ(plat::connect(sock.s, to.data(), to.size()), 0);
        }
    }

    int Send(const Target& to, bool connected, const std::vector<uint8_t>& m) {
        const int size = static_cast<int>(m.size());
        return connected ? plat::send(sock.s, m.data(), size, 0)
                         : plat::sendto(sock.s, m.data(), size, 0, to.data(), to.size());
    }

    // One datagram, with its source; empty when none came within millis.
    std::vector<uint8_t> Receive(int millis, std::string* source) {
        if (!WaitReadable(sock.s, millis)) return {};
        std::vector<uint8_t> d(2048);
        plat::sockaddr_in6 from{};
        int fromLength = sizeof from;
        const int n =
            plat::recvfrom(sock.s, d.data(), static_cast<int>(d.size()), 0, &from, &fromLength);
        if (n < 0) {
            ADD_FAILURE() << "recvfrom failed with " << plat::WSAGetLastError();
            return {};
        }
        d.resize(static_cast<size_t>(n));
        *source = AddressText(&from);
        return d;
    }

    Socket sock;
};

// The socket the engine asks for reads as raw, and is a datagram socket underneath.
TEST_F(Unprivileged, RawSocketStandsIn) {
    for (const char* host : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(host);
        ASSERT_NO_FATAL_FAILURE(Open(Parse(host), false));
        int type = 0;
        int length = sizeof type;
        ASSERT_EQ(plat::getsockopt(sock.s, plat::SOL_SOCKET, 0x1008, &type, &length), 0);
        EXPECT_EQ(type, plat::SOCK_RAW);
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

// Loopback replies as a raw socket gives them: an IPv4 header in front, the identifier
// that was sent (the kernel sent its own), a checksum that holds, the size FIONREAD
// announced; two requests in flight on one socket each come back with their own
// identifier.
TEST_F(Unprivileged, LoopbackRepliesLookRaw) {
    struct Row {
        const char* host;
        bool connected;
    };
    const Row rows[] = {{"127.0.0.1", true}, {"127.0.0.1", false}, {"::1", true}, {"::1", false}};
    uint16_t id = static_cast<uint16_t>(0x5A00 + (getpid() & 0xFF));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + (row.connected ? " connected" : " unconnected"));
        const Target to = Parse(row.host);
        const bool v4 = to.family == plat::AF_INET;
        ASSERT_NO_FATAL_FAILURE(Open(to, row.connected));
        const uint16_t ids[2] = {id++, id++};
        const std::vector<uint8_t> sent[2] = {Echo(to.family, row.host, ids[0], 0x0101),
                                              Echo(to.family, row.host, ids[1], 0x0202)};
        for (const auto& m : sent)
            ASSERT_EQ(Send(to, row.connected, m), static_cast<int>(m.size()));
        const size_t header = v4 ? 20 : 0;
        // FIONREAD counts the next datagram as the receive will give it.
        ASSERT_TRUE(WaitReadable(sock.s, 2000)) << "no reply";
        uint32_t waiting = 0;
        ASSERT_EQ(plat::ioctlsocket(sock.s, plat::FIONREAD, &waiting), 0);
        EXPECT_EQ(waiting, header + sent[0].size());
        for (int i = 0; i < 2; ++i) {
            std::string source;
            const std::vector<uint8_t> d = Receive(2000, &source);
            ASSERT_FALSE(d.empty()) << "no reply";
            EXPECT_EQ(source, v4 ? std::string(row.host) : Expanded(row.host));
            ASSERT_EQ(d.size(), header + sent[0].size());
            if (v4) {
                EXPECT_EQ(d[0], 0x45);
                EXPECT_EQ(Get16(&d[2]), d.size()) << "total length";
                EXPECT_GT(d[8], 0) << "time to live";
                EXPECT_EQ(d[9], 1) << "protocol";
                EXPECT_EQ(Checksum(d.data(), 20), 0) << "header checksum";
                EXPECT_EQ(Get32(&d[12]), 0x7F000001u) << "source";
                EXPECT_EQ(Get32(&d[16]), 0x7F000001u) << "destination";
            }
            const uint8_t* m = d.data() + header;
            EXPECT_EQ(m[0], v4 ? 0 : 129) << "echo reply";
            const int which = Get16(m + 6) == 0x0202 ? 1 : 0;
            EXPECT_EQ(Get16(m + 6), which == 0 ? 0x0101 : 0x0202);
            EXPECT_EQ(Get16(m + 4), ids[which]) << "the identifier sent";
            EXPECT_TRUE(std::equal(m + 8, m + sent[which].size(), sent[which].begin() + 8));
            const plat::sockaddr_in6 lo = V6("::1");
            const uint32_t pseudo =
                v4 ? 0 : PseudoHeaderSum(lo.sin6_addr, lo.sin6_addr, sent[which].size());
            EXPECT_EQ(Checksum(m, sent[which].size(), pseudo), 0) << "ICMP checksum";
        }
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

// The router's answers, which such a socket sees only in its error queue, arrive as the
// datagrams a raw socket would receive: from the router, quoting the request with the
// identifier that was sent; a silent host gives nothing.
TEST_F(Unprivileged, RouterErrorsArriveAsDatagrams) {
    struct Row {
        const char* host;
        bool connected;
        int code;  // -1: silent
    };
    const Row rows[] = {
        {"203.0.113.5", true, 1},     {"198.51.100.130", false, 13},
        {"2001:db8:203::5", true, 0}, {"2001:db8:198::5", false, 1},
        {"198.51.100.70", true, -1},  {"2001:db8:64::70", false, -1},
    };
    uint16_t id = static_cast<uint16_t>(0x6B00 + (getpid() & 0xFF));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + (row.connected ? " connected" : " unconnected"));
        const Target to = Parse(row.host);
        const bool v4 = to.family == plat::AF_INET;
        ASSERT_NO_FATAL_FAILURE(Open(to, row.connected));
        std::vector<uint8_t> d;
        std::string source;
        const int attempts = row.code >= 0 && v4 ? kErrorAttempts : 1;
        uint16_t sentId = 0;
        for (int attempt = 0; attempt < attempts && d.empty(); ++attempt) {
            sentId = id++;
            const std::vector<uint8_t> m = Echo(to.family, row.host, sentId, 0x0303);
            ASSERT_EQ(Send(to, row.connected, m), static_cast<int>(m.size()));
            d = Receive(row.code < 0 ? 500 : 1500, &source);
        }
        if (row.code < 0) {
            EXPECT_TRUE(d.empty());
            char buffer[64];
            EXPECT_EQ(plat::recv(sock.s, buffer, sizeof buffer, 0), plat::SOCKET_ERROR);
            EXPECT_EQ(plat::WSAGetLastError(), kWsaEwouldblock);
        } else {
            ASSERT_FALSE(d.empty()) << "no error datagram";
            EXPECT_EQ(source, v4 ? std::string(kRouter) : Expanded(kRouter6));
            const size_t header = v4 ? 20 : 0;
            const size_t inner = v4 ? 20 : 40;
            ASSERT_GE(d.size(), header + 8 + inner + 8);
            const uint8_t* m = d.data() + header;
            EXPECT_EQ(m[0], v4 ? 3 : 1) << "destination unreachable";
            EXPECT_EQ(m[1], row.code);
            const uint8_t* quote = m + 8 + inner;
            EXPECT_EQ(quote[0], v4 ? 8 : 128) << "the request quoted";
            EXPECT_EQ(Get16(quote + 4), sentId) << "with the identifier sent";
            EXPECT_EQ(Get16(quote + 6), 0x0303);
            if (v4) {
                EXPECT_EQ(d[0], 0x45);
                EXPECT_EQ(Checksum(m, d.size() - header), 0) << "ICMP checksum";
                EXPECT_EQ(memcmp(m + 8 + 16, &to.v4.sin_addr, 4), 0) << "quoted destination";
            } else {
                EXPECT_EQ(memcmp(m + 8 + 24, to.v6.sin6_addr, 16), 0) << "quoted destination";
            }
        }
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

// What such a socket cannot send as given fails with 10045 (WSAEOPNOTSUPP), and the
// socket goes on working: other message types, a message without the full echo header,
// and a wake-on-LAN magic packet over the identifier, which the kernel would overwrite.
// The same magic packet further back in the data is sent as it is.
TEST_F(Unprivileged, RefusesWhatItCannotSend) {
    std::vector<uint8_t> magic(102, 0xFF);
    for (size_t i = 6; i < magic.size(); ++i)
        magic[i] = static_cast<uint8_t>(0x0A + (i - 6) % 6 * 0x11);
    auto framed = [](uint8_t type, const std::vector<uint8_t>& data, size_t at) {
        std::vector<uint8_t> m(4 + at + data.size(), 0x2A);
        m[0] = type;
        m[1] = 0;
        std::copy(data.begin(), data.end(), m.begin() + 4 + static_cast<long>(at));
        m[2] = m[3] = 0;
        Put16(&m[2], Checksum(m.data(), m.size()));
        return m;
    };
    struct Row {
        const char* what;
        const char* host;
        std::vector<uint8_t> message;
        int32_t error;  // 0: sent
    };
    const Row rows[] = {
        {"echo reply", "127.0.0.1", EchoRequest(0, 1, 1, 8), kWsaEopnotsupp},
        {"timestamp request", "127.0.0.1", EchoRequest(13, 1, 1, 12), kWsaEopnotsupp},
        {"ICMPv6 echo request on IPv4", "127.0.0.1", EchoRequest(128, 1, 1, 8), kWsaEopnotsupp},
        {"echo request with code 1", "127.0.0.1",
         [] {
             auto m = EchoRequest(8, 1, 1, 8);
             m[1] = 1;
             return m;
         }(),
         kWsaEopnotsupp},
        {"four bytes", "127.0.0.1", {8, 0, 0xF7, 0xFF}, kWsaEopnotsupp},
        {"magic packet over the identifier", "127.0.0.1", framed(8, magic, 0), kWsaEopnotsupp},
        {"magic packet further back", "127.0.0.1", framed(8, magic, 20), 0},
        {"IPv4 echo request on IPv6", "::1", EchoRequest(8, 1, 1, 8), kWsaEopnotsupp},
        {"magic packet over the identifier, IPv6", "::1", framed(128, magic, 0), kWsaEopnotsupp},
        {"echo request", "127.0.0.1", EchoRequest(8, 7, 7, 8), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Target to = Parse(row.host);
        ASSERT_NO_FATAL_FAILURE(Open(to, false));
        const int size = static_cast<int>(row.message.size());
        const int sent = Send(to, false, row.message);
        if (row.error == 0) {
            EXPECT_EQ(sent, size);
            std::string source;
            const std::vector<uint8_t> d = Receive(2000, &source);
            ASSERT_EQ(d.size(), 20 + row.message.size()) << "its reply";
            EXPECT_TRUE(std::equal(d.begin() + 28, d.end(), row.message.begin() + 8));
        } else {
            EXPECT_EQ(sent, plat::SOCKET_ERROR);
            EXPECT_EQ(plat::WSAGetLastError(), row.error);
            const auto m = Echo(to.family, row.host, 9, 9);
            EXPECT_EQ(Send(to, false, m), static_cast<int>(m.size())) << "still usable";
        }
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

}  // namespace
