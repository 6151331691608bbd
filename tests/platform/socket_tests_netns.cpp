// ICMP errors on raw sockets, against the test hosts of tests/netns/icmp_hosts.sh: this
// program runs inside the pinger namespace, whose only routes lead to the router
// namespace, so nothing it sends leaves the machine. A connected raw socket must receive
// a router's ICMP error as one datagram in the form Windows delivers; an unconnected one
// gets the kernel's own copy; a silent host gives nothing.
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/platform/socket_tests_support.h"
#include "tests/support/test_hosts.h"

namespace {

using test::hosts::kPinger;
using test::hosts::kPinger6;
using test::hosts::kRouter;
using test::hosts::kRouter6;
using test::hosts::kSilent;
using test::hosts::kSilent6;

using namespace sockettest;

constexpr int kIpprotoRaw = 255;

#define REQUIRE_TEST_HOSTS()                            \
    do {                                                \
        const std::string why = test::WhyNoTestHosts(); \
        if (!why.empty()) GTEST_SKIP() << why;          \
    } while (false)

// A raw socket made inside the router namespace: the calling thread enters it only for
// the socket call, and the socket stays there.
plat::SOCKET RouterSocket(int family, int protocol) {
    const int self = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int router =
        open(("/run/netns/" + test::TestHostsPrefix() + "-r").c_str(), O_RDONLY | O_CLOEXEC);
    plat::SOCKET s = plat::INVALID_SOCKET;
    if (self >= 0 && router >= 0 && setns(router, CLONE_NEWNET) == 0) {
        s = plat::socket(family, plat::SOCK_RAW, protocol);
        if (setns(self, CLONE_NEWNET) != 0) abort();  // never run on in the wrong place
    }
    if (self >= 0) close(self);
    if (router >= 0) close(router);
    return s;
}

uint16_t NextIdentifier() {
    static std::atomic<uint16_t> counter{0};
    return static_cast<uint16_t>((getpid() * 151 + 0x4000 + counter++) & 0xFFFF);
}

struct Address {
    int family;
    plat::sockaddr_in v4;
    plat::sockaddr_in6 v6;
    const void* data() const {
        return family == plat::AF_INET ? static_cast<const void*>(&v4) : &v6;
    }
    int size() const { return family == plat::AF_INET ? 16 : 28; }
    const uint8_t* bytes() const {
        return family == plat::AF_INET ? reinterpret_cast<const uint8_t*>(&v4.sin_addr)
                                       : v6.sin6_addr;
    }
};

Address Parse(const char* text) {
    Address a{};
    if (strchr(text, ':') != nullptr) {
        a.family = plat::AF_INET6;
        a.v6 = V6(text);
    } else {
        a.family = plat::AF_INET;
        a.v4 = V4(text);
    }
    return a;
}

size_t HeaderLength(int family) {
    return family == plat::AF_INET ? 20 : 0;
}

// The echo request as the engine frames it (ICMPv6 with the sending pseudo-header).
std::vector<uint8_t> Echo(const Address& to, uint16_t id, uint16_t seq) {
    constexpr size_t kPayload = 24;
    if (to.family == plat::AF_INET) return EchoRequest(8, id, seq, kPayload);
    const Address us = Parse(kPinger6);
    return EchoRequest(128, id, seq, kPayload,
                       PseudoHeaderSum(us.bytes(), to.bytes(), 8 + kPayload));
}

class IcmpErrors : public WinsockTest {
  protected:
    void SetUp() override {
        WinsockTest::SetUp();
        REQUIRE_TEST_HOSTS();
    }

    // Opens a raw socket of the family, connected to target when asked; false to skip.
    bool Open(int family, const Address* connectTo) {
        sock.s = plat::socket(family, plat::SOCK_RAW,
                              family == plat::AF_INET ? plat::IPPROTO_ICMP : plat::IPPROTO_ICMPV6);
        if (!sock.valid()) {
            EXPECT_EQ(plat::WSAGetLastError(), kWsaEacces);
            return false;
        }
        if (connectTo != nullptr) {
            EXPECT_EQ(plat::connect(sock.s, connectTo->data(), connectTo->size()), 0)
                << plat::WSAGetLastError();
        }
        return true;
    }

    void SendTo(const Address& to, const std::vector<uint8_t>& echo, bool connected) {
        const int size = static_cast<int>(echo.size());
        const int sent = connected
                             ? plat::send(sock.s, echo.data(), size, 0)
                             : plat::sendto(sock.s, echo.data(), size, 0, to.data(), to.size());
        ASSERT_EQ(sent, size) << plat::WSAGetLastError();
    }

    // The next datagram with its source; empty after about 3 s without one.
    std::vector<uint8_t> Receive(Address* from) {
        if (!WaitReadable(sock.s, 3000)) return {};
        std::vector<uint8_t> d(2052);
        from->family = 0;
        int fromLength = sizeof from->v6;
        void* source = &from->v6;
        const int n =
            plat::recvfrom(sock.s, d.data(), static_cast<int>(d.size()), 0, source, &fromLength);
        if (n < 0) {
            ADD_FAILURE() << "recvfrom failed with " << plat::WSAGetLastError();
            return {};
        }
        uint16_t family;
        memcpy(&family, source, 2);
        from->family = family;
        if (family == plat::AF_INET) memcpy(&from->v4, source, sizeof from->v4);
        d.resize(static_cast<size_t>(n));
        return d;
    }

    // Reads up to 16 datagrams and returns the first ICMP error of the type that quotes
    // the echo request id; other traffic (neighbour discovery) is passed over.
    std::vector<uint8_t> ReceiveError(int family, uint8_t type, uint16_t id, Address* from) {
        const size_t header = HeaderLength(family);
        const size_t quotedId = header + 8 + (family == plat::AF_INET ? 20 : 40) + 4;
        for (int i = 0; i < 16; ++i) {
            std::vector<uint8_t> d = Receive(from);
            if (d.empty()) break;
            if (d.size() >= quotedId + 2 && d[header] == type && Get16(&d[quotedId]) == id) {
                return d;
            }
        }
        return {};
    }

    // Nothing else arrives: the socket does not even look readable, and a receive
    // reports that it would block, never an error.
    void ExpectNothingMore(int waitMillis = 300) {
        ASSERT_TRUE(SetNonBlocking(sock.s));
        EXPECT_FALSE(WaitReadable(sock.s, waitMillis)) << "the socket still looks readable";
        uint8_t b[2052];
        EXPECT_EQ(plat::recv(sock.s, b, sizeof b, 0), plat::SOCKET_ERROR);
        EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);
        int error = -1;
        int length = sizeof error;
        ASSERT_EQ(plat::getsockopt(sock.s, plat::SOL_SOCKET, plat::SO_ERROR, &error, &length), 0);
        EXPECT_EQ(error, 0);
    }

    Socket sock;
};

// One ICMP error datagram: checks every field the engine and a reader of the raw
// datagram rely on.
void CheckIpv4Error(const std::vector<uint8_t>& d, uint8_t type, uint8_t code,
                    const Address& offender, const Address& target,
                    const std::vector<uint8_t>& echo) {
    const Address us = Parse(kPinger);
    ASSERT_GE(d.size(), 20u + 8 + 20 + 8);
    EXPECT_EQ(d[0], 0x45);
    EXPECT_EQ(Get16(&d[2]), d.size()) << "total length";
    EXPECT_EQ(d[9], 1) << "protocol";
    EXPECT_EQ(Checksum(d.data(), 20), 0) << "IP header checksum";
    EXPECT_EQ(memcmp(&d[12], offender.bytes(), 4), 0) << "source: the offender";
    EXPECT_EQ(memcmp(&d[16], us.bytes(), 4), 0) << "destination: us";
    const uint8_t* icmp = &d[20];
    EXPECT_EQ(icmp[0], type);
    EXPECT_EQ(icmp[1], code);
    EXPECT_EQ(Checksum(icmp, d.size() - 20), 0) << "ICMP checksum";
    const uint8_t* original = icmp + 8;
    EXPECT_EQ(original[0], 0x45);
    EXPECT_EQ(original[9], 1);
    EXPECT_EQ(memcmp(&original[12], us.bytes(), 4), 0) << "original source";
    EXPECT_EQ(memcmp(&original[16], target.bytes(), 4), 0) << "original destination";
    // The engine reads the data after the first 4 ICMP bytes: the identifier and sequence
    // number of the request are its bytes 28 to 31.
    const uint8_t* data = icmp + 4;
    EXPECT_EQ(data[24], 8) << "quoted type";
    EXPECT_EQ(memcmp(&data[28], &echo[4], 4), 0) << "quoted identifier and sequence";
    const size_t quoted = d.size() - 48;
    ASSERT_LE(quoted, echo.size());
    EXPECT_EQ(memcmp(&d[48], echo.data(), quoted), 0) << "quoted request";
}

void CheckIpv6Error(const std::vector<uint8_t>& d, uint8_t type, uint8_t code,
                    const Address& offender, const Address& target,
                    const std::vector<uint8_t>& echo) {
    const Address us = Parse(kPinger6);
    ASSERT_GE(d.size(), 8u + 40 + 8);
    EXPECT_EQ(d[0], type);
    EXPECT_EQ(d[1], code);
    EXPECT_EQ(Checksum(d.data(), d.size(), PseudoHeaderSum(offender.bytes(), us.bytes(), d.size())),
              0)
        << "ICMPv6 checksum";
    const uint8_t* original = &d[8];
    EXPECT_EQ(original[0] >> 4, 6);
    EXPECT_EQ(Get16(&original[4]), d.size() - 48) << "original payload length";
    EXPECT_EQ(original[6], 58) << "original next header";
    EXPECT_EQ(memcmp(&original[8], us.bytes(), 16), 0) << "original source";
    EXPECT_EQ(memcmp(&original[24], target.bytes(), 16), 0) << "original destination";
    EXPECT_EQ(d[48], 128) << "quoted type";
    EXPECT_EQ(memcmp(&d[4 + 48], &echo[4], 4), 0) << "quoted identifier and sequence";
}

void CheckError(int family, const std::vector<uint8_t>& d, uint8_t type, uint8_t code,
                const Address& offender, const Address& target, const std::vector<uint8_t>& echo) {
    if (family == plat::AF_INET) {
        CheckIpv4Error(d, type, code, offender, target, echo);
    } else {
        CheckIpv6Error(d, type, code, offender, target, echo);
    }
}

struct RouterCase {
    const char* what;
    const char* target;
    uint8_t type;
    uint8_t code;
};

// What the router's kernel answers for the test hosts behind it.
constexpr RouterCase kRouterCases[] = {
    {"IPv4 host unreachable", "203.0.113.5", 3, 1},
    {"IPv4 prohibited", "198.51.100.130", 3, 13},
    {"IPv6 no route", "2001:db8:203::5", 1, 0},
    {"IPv6 prohibited", "2001:db8:198::5", 1, 1},
};

TEST_F(IcmpErrors, ConnectedSocketReceivesTheRoutersErrorAsOneDatagram) {
    for (const RouterCase& c : kRouterCases) {
        SCOPED_TRACE(c.what);
        const Address target = Parse(c.target);
        if (!Open(target.family, &target)) GTEST_SKIP() << kNeedRawSockets;
        const uint16_t id = NextIdentifier();
        const std::vector<uint8_t> echo = Echo(target, id, 1);
        SendTo(target, echo, true);
        Address from{};
        const std::vector<uint8_t> d = Receive(&from);
        ASSERT_FALSE(d.empty()) << "no datagram";
        const Address router = Parse(target.family == plat::AF_INET ? kRouter : kRouter6);
        CheckError(target.family, d, c.type, c.code, router, target, echo);
        EXPECT_EQ(from.family, target.family);
        EXPECT_EQ(memcmp(from.bytes(), router.bytes(), target.family == plat::AF_INET ? 4 : 16), 0)
            << "recvfrom's source: the router";
        ExpectNothingMore();
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

TEST_F(IcmpErrors, UnconnectedSocketGetsTheKernelsCopy) {
    for (const RouterCase& c : kRouterCases) {
        SCOPED_TRACE(c.what);
        const Address target = Parse(c.target);
        if (!Open(target.family, nullptr)) GTEST_SKIP() << kNeedRawSockets;
        const uint16_t id = NextIdentifier();
        const std::vector<uint8_t> echo = Echo(target, id, 1);
        SendTo(target, echo, false);
        Address from{};
        const std::vector<uint8_t> d = ReceiveError(target.family, c.type, id, &from);
        ASSERT_FALSE(d.empty()) << "no error datagram";
        const Address router = Parse(target.family == plat::AF_INET ? kRouter : kRouter6);
        CheckError(target.family, d, c.type, c.code, router, target, echo);
        EXPECT_EQ(memcmp(from.bytes(), router.bytes(), target.family == plat::AF_INET ? 4 : 16), 0);
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

TEST_F(IcmpErrors, SilentHostGivesNothing) {
    for (const char* text : {kSilent, kSilent6}) {
        SCOPED_TRACE(text);
        for (bool connected : {true, false}) {
            const Address target = Parse(text);
            if (!Open(target.family, connected ? &target : nullptr))
                GTEST_SKIP() << kNeedRawSockets;
            const uint16_t id = NextIdentifier();
            SendTo(target, Echo(target, id, 1), connected);
            ASSERT_TRUE(SetNonBlocking(sock.s));
            // Bounded: at most 16 datagrams (neighbour discovery) within about a second.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            int mine = 0;
            for (int i = 0; i < 16 && std::chrono::steady_clock::now() < deadline; ++i) {
                if (!WaitReadable(sock.s, 250)) continue;
                uint8_t b[2052];
                const int n = plat::recv(sock.s, b, sizeof b, 0);
                if (n < 0) {
                    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);
                    continue;
                }
                const size_t header = HeaderLength(target.family);
                if (static_cast<size_t>(n) >= header + 8 && b[header] != 8 && b[header] != 128 &&
                    b[header] < 133) {
                    ++mine;  // an answer or error of some kind
                }
            }
            EXPECT_EQ(mine, 0);
            plat::closesocket(sock.s);
            sock.s = plat::INVALID_SOCKET;
        }
    }
}

// Two requests, the second sent while the answer to the first is pending: both sends
// succeed and both answers arrive, in order.
TEST_F(IcmpErrors, PendingErrorFailsNeitherSendNorTheNextReceive) {
    for (const char* text : {"203.0.113.9", "2001:db8:203::9"}) {
        SCOPED_TRACE(text);
        const Address target = Parse(text);
        if (!Open(target.family, &target)) GTEST_SKIP() << kNeedRawSockets;
        const uint16_t id = NextIdentifier();
        const std::vector<uint8_t> first = Echo(target, id, 1);
        const std::vector<uint8_t> second = Echo(target, id, 2);
        SendTo(target, first, true);
        ASSERT_TRUE(WaitReadable(sock.s, 3000));
        int error = -1;
        int length = sizeof error;
        ASSERT_EQ(plat::getsockopt(sock.s, plat::SOL_SOCKET, plat::SO_ERROR, &error, &length), 0);
        EXPECT_EQ(error, 0) << "an answer is no socket error";
        SendTo(target, second, true);
        const Address router = Parse(target.family == plat::AF_INET ? kRouter : kRouter6);
        Address from{};
        const uint8_t type = target.family == plat::AF_INET ? 3 : 1;
        const uint8_t code = target.family == plat::AF_INET ? 1 : 0;
        const std::vector<uint8_t> a = Receive(&from);
        ASSERT_FALSE(a.empty());
        CheckError(target.family, a, type, code, router, target, first);
        const std::vector<uint8_t> b = Receive(&from);
        ASSERT_FALSE(b.empty());
        CheckError(target.family, b, type, code, router, target, second);
        ExpectNothingMore();
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

TEST_F(IcmpErrors, PeekAndFionreadSeeTheErrorDatagram) {
    const Address target = Parse("203.0.113.10");
    if (!Open(target.family, &target)) GTEST_SKIP() << kNeedRawSockets;
    const std::vector<uint8_t> echo = Echo(target, NextIdentifier(), 1);
    SendTo(target, echo, true);
    ASSERT_TRUE(WaitReadable(sock.s, 3000));
    const size_t expected = 20 + 8 + 20 + echo.size();
    uint32_t waiting = 0;
    ASSERT_EQ(plat::ioctlsocket(sock.s, plat::FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, expected);
    uint8_t peeked[2052];
    EXPECT_EQ(plat::recv(sock.s, peeked, sizeof peeked, 2 /* MSG_PEEK */),
              static_cast<int>(expected));
    uint8_t small[30];
    EXPECT_EQ(plat::recv(sock.s, small, sizeof small, 0), plat::SOCKET_ERROR)
        << "a datagram larger than the buffer";
    EXPECT_EQ(plat::WSAGetLastError(), kWsaEmsgsize);
    EXPECT_EQ(memcmp(small, peeked, sizeof small), 0);
    ExpectNothingMore();
}

// With the socket registered, the error reaches the window as an FD_READ notification.
plat::LRESULT IgnoreMessages(plat::HWND w, uint32_t m, plat::WPARAM wp, plat::LPARAM lp) {
    return plat::DefWindowProcA(w, m, wp, lp);
}

TEST_F(IcmpErrors, ErrorDatagramIsNotifiedAsReadable) {
    const Address target = Parse("203.0.113.11");
    if (!Open(target.family, &target)) GTEST_SKIP() << kNeedRawSockets;
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = IgnoreMessages;
    wc.lpszClassName = "socket_netns_window";
    plat::RegisterClassA(&wc);
    plat::HWND window = plat::CreateWindowExA(0, "socket_netns_window", "", 0, 0, 0, 0, 0,
                                              plat::MessageOnlyParent(), nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    constexpr uint32_t kNotify = plat::WM_USER + 103;
    ASSERT_EQ(plat::WSAAsyncSelect(sock.s, window, kNotify, plat::FD_READ | plat::FD_WRITE), 0);
    const std::vector<uint8_t> echo = Echo(target, NextIdentifier(), 1);
    SendTo(target, echo, true);
    int reads = 0;
    int datagrams = 0;
    for (int i = 0; i < 40 && datagrams == 0; ++i) {  // at most about 2 s
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 50, plat::QS_ALLINPUT);
        plat::MSG msg{};
        while (plat::PeekMessageA(&msg, window, 0, 0, plat::PM_REMOVE)) {
            if (msg.message != kNotify || (msg.lParam & 0xFFFF) != plat::FD_READ) continue;
            ++reads;
            uint8_t b[2052];
            // What the engine does on FD_READ: read until "would block".
            for (int k = 0; k < 8; ++k) {
                const int n = plat::recv(sock.s, b, sizeof b, 0);
                if (n < 0) {
                    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);
                    break;
                }
                ++datagrams;
                EXPECT_EQ(b[20], 3);
                EXPECT_EQ(b[21], 1);
            }
        }
    }
    EXPECT_GE(reads, 1);
    EXPECT_EQ(datagrams, 1);
    plat::WSAAsyncSelect(sock.s, window, 0, 0);
    plat::DestroyWindow(window);
    plat::UnregisterClassA("socket_netns_window", nullptr);
}

// ICMP errors of other kinds, forged by the router about a request to a silent host.
struct ForgedCase {
    const char* what;
    int family;
    uint8_t type;
    uint8_t code;
    uint8_t rest[4];  // the 4 bytes after the checksum: MTU, pointer or unused
};

constexpr ForgedCase kForgedCases[] = {
    {"time exceeded", plat::AF_INET, 11, 0, {0, 0, 0, 0}},
    {"fragmentation needed, MTU 1280", plat::AF_INET, 3, 4, {0, 0, 0x05, 0x00}},
    {"parameter problem at byte 8", plat::AF_INET, 12, 0, {8, 0, 0, 0}},
    {"port unreachable", plat::AF_INET, 3, 3, {0, 0, 0, 0}},
    {"network unreachable", plat::AF_INET, 3, 0, {0, 0, 0, 0}},
    {"IPv6 packet too big, MTU 1280", plat::AF_INET6, 2, 0, {0, 0, 0x05, 0x00}},
    {"IPv6 time exceeded", plat::AF_INET6, 3, 0, {0, 0, 0, 0}},
    {"IPv6 parameter problem at byte 6", plat::AF_INET6, 4, 0, {0, 0, 0, 6}},
    {"IPv6 port unreachable", plat::AF_INET6, 1, 4, {0, 0, 0, 0}},
};

// The datagram as the pinger sent it: its IP header and the echo request.
std::vector<uint8_t> OriginalDatagram(const Address& target, const std::vector<uint8_t>& echo) {
    std::vector<uint8_t> d;
    if (target.family == plat::AF_INET) {
        d.resize(20);
        d[0] = 0x45;
        Put16(&d[2], static_cast<uint16_t>(20 + echo.size()));
        Put16(&d[4], 0x1234);
        d[6] = 0x40;
        d[8] = 64;
        d[9] = 1;
        memcpy(&d[12], Parse(kPinger).bytes(), 4);
        memcpy(&d[16], target.bytes(), 4);
        Put16(&d[10], Checksum(d.data(), 20));
    } else {
        d.resize(40);
        d[0] = 0x60;
        Put16(&d[4], static_cast<uint16_t>(echo.size()));
        d[6] = 58;
        d[7] = 64;
        memcpy(&d[8], Parse(kPinger6).bytes(), 16);
        memcpy(&d[24], target.bytes(), 16);
    }
    d.insert(d.end(), echo.begin(), echo.end());
    return d;
}

// A complete IP datagram carrying an ICMP error from source to the pinger.
std::vector<uint8_t> ForgedError(const Address& source, uint8_t type, uint8_t code,
                                 const uint8_t* rest, const std::vector<uint8_t>& quote) {
    std::vector<uint8_t> icmp(8);
    icmp[0] = type;
    icmp[1] = code;
    memcpy(&icmp[4], rest, 4);
    icmp.insert(icmp.end(), quote.begin(), quote.end());
    std::vector<uint8_t> d;
    if (source.family == plat::AF_INET) {
        Put16(&icmp[2], Checksum(icmp.data(), icmp.size()));
        d.resize(20);
        d[0] = 0x45;
        Put16(&d[2], static_cast<uint16_t>(20 + icmp.size()));
        Put16(&d[4], 0xBEEF);  // tells the kernel's copy from a rebuilt datagram
        d[8] = 64;
        d[9] = 1;
        memcpy(&d[12], source.bytes(), 4);
        memcpy(&d[16], Parse(kPinger).bytes(), 4);
        Put16(&d[10], Checksum(d.data(), 20));
    } else {
        const Address us = Parse(kPinger6);
        Put16(&icmp[2], Checksum(icmp.data(), icmp.size(),
                                 PseudoHeaderSum(source.bytes(), us.bytes(), icmp.size())));
        d.resize(40);
        d[0] = 0x60;
        Put16(&d[4], static_cast<uint16_t>(icmp.size()));
        d[6] = 58;
        d[7] = 64;
        memcpy(&d[8], source.bytes(), 16);
        memcpy(&d[24], us.bytes(), 16);
    }
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

class ForgedErrors : public IcmpErrors {
  protected:
    // Sends the pinger an ICMP error from source quoting the request to target.
    void Forge(const Address& source, const Address& target, uint8_t type, uint8_t code,
               const uint8_t* rest, const std::vector<uint8_t>& echo) {
        Socket router{RouterSocket(source.family, kIpprotoRaw)};
        ASSERT_TRUE(router.valid()) << plat::WSAGetLastError();
        const std::vector<uint8_t> d =
            ForgedError(source, type, code, rest, OriginalDatagram(target, echo));
        const Address pinger = Parse(source.family == plat::AF_INET ? kPinger : kPinger6);
        const int size = static_cast<int>(d.size());
        ASSERT_EQ(plat::sendto(router.s, d.data(), size, 0, pinger.data(), pinger.size()), size)
            << plat::WSAGetLastError();
    }
};

TEST_F(ForgedErrors, EachKindArrivesInItsWindowsForm) {
    for (const ForgedCase& c : kForgedCases) {
        SCOPED_TRACE(c.what);
        const Address target = Parse(c.family == plat::AF_INET ? kSilent : kSilent6);
        const Address router = Parse(c.family == plat::AF_INET ? kRouter : kRouter6);
        if (!Open(c.family, &target)) GTEST_SKIP() << kNeedRawSockets;
        const std::vector<uint8_t> echo = Echo(target, NextIdentifier(), 1);
        SendTo(target, echo, true);
        Forge(router, target, c.type, c.code, c.rest, echo);
        Address from{};
        const std::vector<uint8_t> d = Receive(&from);
        ASSERT_FALSE(d.empty()) << "no datagram";
        CheckError(c.family, d, c.type, c.code, router, target, echo);
        const size_t header = HeaderLength(c.family);
        ASSERT_GE(d.size(), header + 8);
        EXPECT_EQ(memcmp(&d[header + 4], c.rest, 4), 0) << "the 4 bytes after the checksum";
        ExpectNothingMore();
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

// An error from the peer itself reaches a connected socket as data already; the copy
// in the error queue must not make a second datagram or an error.
TEST_F(ForgedErrors, ErrorFromThePeerArrivesOnce) {
    for (int family : {plat::AF_INET, plat::AF_INET6}) {
        SCOPED_TRACE(family);
        const Address peer = Parse(family == plat::AF_INET ? kSilent : kSilent6);
        if (!Open(family, &peer)) GTEST_SKIP() << kNeedRawSockets;
        const std::vector<uint8_t> echo = Echo(peer, NextIdentifier(), 1);
        SendTo(peer, echo, true);
        const uint8_t type = family == plat::AF_INET ? 3 : 1;
        const uint8_t code = family == plat::AF_INET ? 1 : 3;
        const uint8_t rest[4] = {};
        Forge(peer, peer, type, code, rest, echo);
        Address from{};
        const std::vector<uint8_t> d = Receive(&from);
        ASSERT_FALSE(d.empty()) << "no datagram";
        const size_t header = HeaderLength(family);
        EXPECT_EQ(d[header], type);
        EXPECT_EQ(d[header + 1], code);
        if (family == plat::AF_INET) {
            EXPECT_EQ(Get16(&d[4]), 0xBEEF) << "the kernel's copy";
        }
        ExpectNothingMore(500);
        plat::closesocket(sock.s);
        sock.s = plat::INVALID_SOCKET;
    }
}

// A name server on the pinger's loopback, where its resolver configuration points:
// every question gets the same answer code, and nothing goes further.
class NameServer {
  public:
    explicit NameServer(uint8_t rcode) : rcode_(rcode) {
        sock_.s = plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 17);
        const plat::sockaddr_in local = V4("127.0.0.1", 53);
        ok_ = sock_.valid() && plat::bind(sock_.s, &local, sizeof local) == 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~NameServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return ok_; }
    int questions() const { return questions_; }

  private:
    void Serve() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (!WaitReadable(sock_.s, 100)) continue;
            uint8_t q[512];
            plat::sockaddr_in6 from{};
            int fromLength = sizeof from;
            const int n = plat::recvfrom(sock_.s, q, sizeof q, 0, &from, &fromLength);
            if (n < 12) continue;
            size_t end = 12;  // past the question's name, type and class
            while (end < static_cast<size_t>(n) && q[end] != 0)
                end += q[end] + 1u;
            end += 5;
            if (end > static_cast<size_t>(n)) continue;
            q[2] = static_cast<uint8_t>(0x80 | (q[2] & 0x79));  // a response, same opcode, RD
            q[3] = static_cast<uint8_t>(0x80 | rcode_);
            memset(&q[6], 0, 6);  // no answers, authority or additional records
            ++questions_;
            plat::sendto(sock_.s, q, static_cast<int>(end), 0, &from, fromLength);
        }
    }
    uint8_t rcode_;
    Socket sock_;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> questions_{0};
    std::thread thread_;
};

class NameNotFound : public WinsockTest {
  protected:
    void SetUp() override {
        WinsockTest::SetUp();
        REQUIRE_TEST_HOSTS();
        // A name service cache would ask outside the namespace.
        if (access("/var/run/nscd/socket", F_OK) == 0 || access("/run/nscd/socket", F_OK) == 0) {
            GTEST_SKIP() << "nscd is running";
        }
    }
};

TEST_F(NameNotFound, ResolversReportWindowsNumbers) {
    struct Case {
        const char* what;
        uint8_t rcode;
        int32_t expected;
    };
    const Case cases[] = {
        {"no such name", 3, plat::kWsaHostNotFound},
        {"server failure", 2, plat::kWsaTryAgain},
    };
    Resolver r;
    ASSERT_NE(r.getaddrinfo, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NameServer server(c.rcode);
        ASSERT_TRUE(server.ok()) << plat::WSAGetLastError();
        plat::WSASetLastError(0);
        EXPECT_EQ(plat::gethostbyname("no-such-host.invalid"), nullptr);
        EXPECT_EQ(plat::WSAGetLastError(), c.expected);
        plat::addrinfo hints{};
        hints.ai_family = plat::AF_INET;
        plat::addrinfo* found = nullptr;
        EXPECT_EQ(r.getaddrinfo("no-such-host.invalid", nullptr, &hints, &found), c.expected);
        EXPECT_EQ(found, nullptr);
        EXPECT_GE(server.questions(), 2) << "the questions reached the local server";
    }
}

}  // namespace
