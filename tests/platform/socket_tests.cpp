// Windows Sockets semantics of the Linux backend on real sockets: start-up, error numbers,
// options, select and datagrams on loopback.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/platform/socket_tests_support.h"

namespace {

using namespace sockettest;

TEST(socketStartup, FillsVersionAndCountsStartups) {
    plat::WSADATA data{};
    ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(data.wHighVersion, 0x0202);
    plat::WSADATA second{};
    ASSERT_EQ(plat::WSAStartup(0x0202, &second), 0);

    // One clean-up undoes one start-up: sockets still work.
    ASSERT_EQ(plat::WSACleanup(), 0);
    {
        Socket s{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
        EXPECT_TRUE(s.valid()) << plat::WSAGetLastError();
    }
    ASSERT_EQ(plat::WSACleanup(), 0);

    plat::WSASetLastError(0);
    EXPECT_EQ(plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0), plat::INVALID_SOCKET);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaNotInitialised);
    EXPECT_EQ(plat::WSACleanup(), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaNotInitialised);
    EXPECT_EQ(plat::gethostbyname("127.0.0.1"), nullptr);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaNotInitialised);
}

TEST(socketStartup, GrantsAnOlderVersionAndRefusesNone) {
    plat::WSADATA data{};
    ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0202);
    EXPECT_EQ(plat::WSACleanup(), 0);
    ASSERT_EQ(plat::WSAStartup(0x0303, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(plat::WSACleanup(), 0);
    EXPECT_EQ(plat::WSAStartup(0x0000, &data), 10092);  // WSAVERNOTSUPPORTED
    EXPECT_EQ(plat::WSAStartup(0x0202, nullptr), plat::kWsaEfault);
}

TEST(socketStartup, NothingBlocksSoNothingIsCancelled) {
    EXPECT_FALSE(plat::WSAIsBlocking());
    EXPECT_EQ(plat::WSACancelBlockingCall(), 0);
}

TEST(socketStartup, CountsAcrossThreads) {
    plat::WSADATA data{};
    ASSERT_EQ(plat::WSAStartup(0x0202, &data), 0);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 200; ++i) {
                plat::WSADATA d{};
                if (plat::WSAStartup(0x0202, &d) != 0) ++failures;
                if (plat::WSACleanup() != 0) ++failures;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(plat::WSACleanup(), 0);
    EXPECT_EQ(plat::WSACleanup(), plat::SOCKET_ERROR);
}

class socketErrors : public WinsockTest {};

// Real failures, each with the Windows number the layers above expect.
TEST_F(socketErrors, ReportWindowsNumbers) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    Socket udp{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(udp.valid());
    Socket other{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(other.valid());
    const plat::SOCKET pipeSocket = static_cast<plat::SOCKET>(pipeEnds[0]);
    struct Call {
        const char* what;
        int (*run)(plat::SOCKET udp, plat::SOCKET other, plat::SOCKET pipe);
        int32_t expected;
    };
    const Call calls[] = {
        {"recv on a closed descriptor",
         [](plat::SOCKET, plat::SOCKET, plat::SOCKET) {
             char b[4];
             return plat::recv(900000, b, sizeof b, 0);
         },
         plat::kWsaEnotsock},
        {"recv on a pipe",
         [](plat::SOCKET, plat::SOCKET, plat::SOCKET p) {
             char b[4];
             return plat::recv(p, b, sizeof b, 0);
         },
         plat::kWsaEnotsock},
        {"closesocket of a pipe",
         [](plat::SOCKET, plat::SOCKET, plat::SOCKET p) { return plat::closesocket(p); },
         plat::kWsaEnotsock},
        {"closesocket of INVALID_SOCKET",
         [](plat::SOCKET, plat::SOCKET, plat::SOCKET) {
             return plat::closesocket(plat::INVALID_SOCKET);
         },
         plat::kWsaEnotsock},
        {"bind with a short address",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             const plat::sockaddr_in a = V4("127.0.0.1");
             return plat::bind(u, &a, 8);
         },
         plat::kWsaEfault},
        {"bind without an address",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) { return plat::bind(u, nullptr, 16); },
         plat::kWsaEfault},
        {"bind with an unknown family",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             plat::sockaddr_in a = V4("127.0.0.1");
             a.sin_family = 99;
             return plat::bind(u, &a, sizeof a);
         },
         kWsaEafnosupport},
        {"bind to an address of no interface",
         [](plat::SOCKET, plat::SOCKET o, plat::SOCKET) {
             const plat::sockaddr_in a = V4("203.0.113.1");
             return plat::bind(o, &a, sizeof a);
         },
         kWsaEaddrnotavail},
        {"setsockopt of an unknown option",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             const int v = 1;
             return plat::setsockopt(u, plat::SOL_SOCKET, 0x7777, &v, sizeof v);
         },
         kWsaEnoprotoopt},
        {"getsockopt with no room",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             int v = 0;
             int length = 0;
             return plat::getsockopt(u, plat::IPPROTO_IP, plat::IP_TTL, &v, &length);
         },
         plat::kWsaEfault},
        {"ioctlsocket of an unknown command",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             uint32_t v = 0;
             return plat::ioctlsocket(u, 0x12345678, &v);
         },
         plat::kWsaEinval},
        {"ioctlsocket SIO_RCVALL",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             uint32_t mode = 1;
             return plat::ioctlsocket(u, plat::SIO_RCVALL, &mode);
         },
         kWsaEopnotsupp},
        {"recv with an unknown flag",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             char b[4];
             return plat::recv(u, b, sizeof b, 0x40000);
         },
         kWsaEopnotsupp},
        {"select without sockets",
         [](plat::SOCKET, plat::SOCKET, plat::SOCKET) {
             return plat::select(0, nullptr, nullptr, nullptr, nullptr);
         },
         plat::kWsaEinval},
        {"sendto with a short address",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             const plat::sockaddr_in a = V4("127.0.0.1", 9);
             return plat::sendto(u, "x", 1, 0, &a, 15);
         },
         plat::kWsaEfault},
        {"recvfrom with a short address buffer",
         [](plat::SOCKET u, plat::SOCKET, plat::SOCKET) {
             char b[4];
             plat::sockaddr_in from{};
             int length = 8;
             return plat::recvfrom(u, b, sizeof b, 0, &from, &length);
         },
         plat::kWsaEfault},
    };
    for (const Call& c : calls) {
        plat::WSASetLastError(0);
        EXPECT_EQ(c.run(udp.s, other.s, pipeSocket), plat::SOCKET_ERROR) << c.what;
        EXPECT_EQ(plat::WSAGetLastError(), c.expected) << c.what;
    }
    // closesocket left the pipe alone.
    EXPECT_NE(fcntl(pipeEnds[0], F_GETFD), -1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(socketErrors, SocketCreationFailures) {
    struct Case {
        int family, type, protocol;
        int32_t expected;
    };
    const Case cases[] = {
        {99, plat::SOCK_DGRAM, 0, kWsaEafnosupport},
        {0, plat::SOCK_DGRAM, 0, kWsaEafnosupport},
        {plat::AF_INET, 99, 0, kWsaEsocktnosupport},
        {plat::AF_INET, plat::SOCK_DGRAM, 6, 10043},  // WSAEPROTONOSUPPORT
    };
    for (const Case& c : cases) {
        plat::WSASetLastError(0);
        EXPECT_EQ(plat::socket(c.family, c.type, c.protocol), plat::INVALID_SOCKET);
        EXPECT_EQ(plat::WSAGetLastError(), c.expected)
            << c.family << "/" << c.type << "/" << c.protocol;
    }
}

TEST_F(socketErrors, AddressInUse) {
    Socket a{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    Socket b{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(a.valid() && b.valid());
    plat::sockaddr_in local = V4("127.0.0.1");
    ASSERT_EQ(plat::bind(a.s, &local, sizeof local), 0);
    int length = sizeof local;
    ASSERT_EQ(plat::getsockname(a.s, &local, &length), 0);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(local.sin_family, plat::AF_INET);
    EXPECT_EQ(plat::bind(b.s, &local, sizeof local), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), kWsaEaddrinuse);
}

TEST_F(socketErrors, NonBlockingReceiveWouldBlock) {
    Socket s{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(s.valid());
    const plat::sockaddr_in local = V4("127.0.0.1");
    ASSERT_EQ(plat::bind(s.s, &local, sizeof local), 0);
    ASSERT_TRUE(SetNonBlocking(s.s));
    char b[8];
    EXPECT_EQ(plat::recv(s.s, b, sizeof b, 0), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);
    uint32_t off = 0;
    ASSERT_EQ(plat::ioctlsocket(s.s, plat::FIONBIO, &off), 0);
}

class socketDatagrams : public WinsockTest {
  protected:
    // A bound receiver and a sender on the loopback address of the family.
    void Open(int family) {
        receiver.s = plat::socket(family, plat::SOCK_DGRAM, 0);
        sender.s = plat::socket(family, plat::SOCK_DGRAM, 0);
        ASSERT_TRUE(receiver.valid() && sender.valid()) << plat::WSAGetLastError();
        if (family == plat::AF_INET) {
            plat::sockaddr_in a = V4("127.0.0.1");
            ASSERT_EQ(plat::bind(receiver.s, &a, sizeof a), 0);
        } else {
            plat::sockaddr_in6 a = V6("::1");
            ASSERT_EQ(a.sin6_family, plat::AF_INET6);
            ASSERT_EQ(plat::bind(receiver.s, &a, sizeof a), 0);
        }
        addressLength = sizeof address;
        ASSERT_EQ(plat::getsockname(receiver.s, address, &addressLength), 0);
    }
    void SendToReceiver(const void* data, int length) {
        ASSERT_EQ(plat::sendto(sender.s, data, length, 0, address, addressLength), length)
            << plat::WSAGetLastError();
        ASSERT_TRUE(WaitReadable(receiver.s, 2000));
    }
    Socket receiver, sender;
    alignas(8) uint8_t address[28] = {};
    int addressLength = 0;
};

TEST_F(socketDatagrams, Ipv4SourceInWindowsLayout) {
    Open(plat::AF_INET);
    SendToReceiver("hello", 5);
    uint32_t waiting = 0;
    ASSERT_EQ(plat::ioctlsocket(receiver.s, plat::FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 5u);
    char b[16] = {};
    plat::sockaddr_in from{};
    int fromLength = sizeof from;
    ASSERT_EQ(plat::recvfrom(receiver.s, b, sizeof b, 0, &from, &fromLength), 5);
    EXPECT_STREQ(b, "hello");
    EXPECT_EQ(fromLength, 16);
    EXPECT_EQ(from.sin_family, plat::AF_INET);
    EXPECT_EQ(from.sin_addr, plat::inet_addr("127.0.0.1"));
}

TEST_F(socketDatagrams, Ipv6SourceIsFamily23) {
    Open(plat::AF_INET6);
    SendToReceiver("hello6", 6);
    char b[16] = {};
    plat::sockaddr_in6 from{};
    int fromLength = sizeof from;
    ASSERT_EQ(plat::recvfrom(receiver.s, b, sizeof b, 0, &from, &fromLength), 6);
    EXPECT_EQ(fromLength, 28);
    EXPECT_EQ(from.sin6_family, plat::AF_INET6);
    const plat::sockaddr_in6 loopback = V6("::1");
    EXPECT_EQ(memcmp(from.sin6_addr, loopback.sin6_addr, 16), 0);
}

TEST_F(socketDatagrams, PeekLeavesTheDatagramAndTruncationFailsWithMsgSize) {
    Open(plat::AF_INET);
    SendToReceiver("0123456789", 10);
    char b[16] = {};
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 2 /* MSG_PEEK */), 10);
    char small[4] = {};
    EXPECT_EQ(plat::recv(receiver.s, small, sizeof small, 0), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), kWsaEmsgsize);
    EXPECT_EQ(memcmp(small, "0123", 4), 0);
    ASSERT_TRUE(SetNonBlocking(receiver.s));
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 0), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);
}

TEST_F(socketDatagrams, ConnectedSendAndSendtoWithoutAddress) {
    Open(plat::AF_INET);
    ASSERT_EQ(plat::connect(sender.s, address, addressLength), 0);
    EXPECT_EQ(plat::send(sender.s, "ab", 2, 0), 2);
    EXPECT_EQ(plat::sendto(sender.s, "cd", 2, 0, nullptr, 0), 2);
    plat::sockaddr_in peer{};
    int length = sizeof peer;
    ASSERT_EQ(plat::getpeername(sender.s, &peer, &length), 0);
    EXPECT_EQ(peer.sin_addr, plat::inet_addr("127.0.0.1"));
    char b[4];
    ASSERT_TRUE(WaitReadable(receiver.s, 2000));
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 0), 2);
    ASSERT_TRUE(WaitReadable(receiver.s, 2000));
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 0), 2);
}

class socketSelect : public socketDatagrams {};

TEST_F(socketSelect, TimesOutWithEmptySets) {
    Open(plat::AF_INET);
    plat::fd_set read{};
    read.fd_count = 1;
    read.fd_array[0] = receiver.s;
    plat::timeval tv{0, 50000};
    EXPECT_EQ(plat::select(0, &read, nullptr, nullptr, &tv), 0);
    EXPECT_EQ(read.fd_count, 0u);
}

TEST_F(socketSelect, KeepsOnlyTheReadySockets) {
    Open(plat::AF_INET);
    SendToReceiver("x", 1);
    plat::fd_set read{};
    read.fd_count = 2;
    read.fd_array[0] = sender.s;  // nothing to read there
    read.fd_array[1] = receiver.s;
    plat::fd_set write{};
    write.fd_count = 1;
    write.fd_array[0] = sender.s;
    plat::fd_set except{};
    except.fd_count = 2;
    except.fd_array[0] = sender.s;
    except.fd_array[1] = receiver.s;
    plat::timeval tv{1, 0};
    EXPECT_EQ(plat::select(0, &read, &write, &except, &tv), 2);
    ASSERT_EQ(read.fd_count, 1u);
    EXPECT_EQ(read.fd_array[0], receiver.s);
    ASSERT_EQ(write.fd_count, 1u);
    EXPECT_EQ(write.fd_array[0], sender.s);
    EXPECT_EQ(except.fd_count, 0u);
}

TEST_F(socketSelect, ClosedSocketIsNoSocket) {
    Open(plat::AF_INET);
    plat::fd_set read{};
    read.fd_count = 1;
    read.fd_array[0] = 900000;
    plat::timeval tv{0, 1000};
    EXPECT_EQ(plat::select(0, &read, nullptr, nullptr, &tv), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEnotsock);
}

class socketOptions : public WinsockTest {};

struct OptionCase {
    const char* what;
    int level;
    int name;
    int value;
    int expected;  // read back
};

void CheckOptions(plat::SOCKET s, const OptionCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const OptionCase& c = cases[i];
        ASSERT_EQ(plat::setsockopt(s, c.level, c.name, &c.value, sizeof c.value), 0)
            << c.what << ": " << plat::WSAGetLastError();
        int got = -12345;
        int length = sizeof got;
        ASSERT_EQ(plat::getsockopt(s, c.level, c.name, &got, &length), 0) << c.what;
        EXPECT_EQ(length, 4) << c.what;
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST_F(socketOptions, Ipv4SetAndReadBack) {
    Socket s{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(s.valid());
    const OptionCase cases[] = {
        {"IP_TTL", plat::IPPROTO_IP, plat::IP_TTL, 17, 17},
        {"IP_MULTICAST_TTL", plat::IPPROTO_IP, plat::IP_MULTICAST_TTL, 3, 3},
        {"IP_TOS", plat::IPPROTO_IP, plat::IP_TOS, 0x28, 0x28},
        {"IP_DONTFRAGMENT on", plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, 1, 1},
        {"IP_DONTFRAGMENT off", plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, 0, 0},
        {"SO_BROADCAST", plat::SOL_SOCKET, plat::SO_BROADCAST, 1, 1},
        {"SO_DONTROUTE", plat::SOL_SOCKET, plat::SO_DONTROUTE, 0, 0},
        {"SO_SNDBUF", plat::SOL_SOCKET, plat::SO_SNDBUF, 65536, 65536},
        {"SO_RCVBUF", plat::SOL_SOCKET, plat::SO_RCVBUF, 32768, 32768},
    };
    CheckOptions(s.s, cases, sizeof cases / sizeof cases[0]);
}

TEST_F(socketOptions, Ipv6SetAndReadBack) {
    Socket s{plat::socket(plat::AF_INET6, plat::SOCK_DGRAM, 0)};
    ASSERT_TRUE(s.valid());
    const OptionCase cases[] = {
        {"IPV6_UNICAST_HOPS", plat::IPPROTO_IPV6, plat::IPV6_UNICAST_HOPS, 9, 9},
        {"IPV6_MULTICAST_HOPS", plat::IPPROTO_IPV6, plat::IPV6_MULTICAST_HOPS, 4, 4},
        // The engine sets the type of service at the IPv4 level on both families.
        {"IP_TOS as the traffic class", plat::IPPROTO_IP, plat::IP_TOS, 0x20, 0x20},
        {"IP_DONTFRAGMENT on", plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, 1, 1},
        {"IP_DONTFRAGMENT off", plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, 0, 0},
    };
    CheckOptions(s.s, cases, sizeof cases / sizeof cases[0]);
}

TEST_F(socketOptions, DontFragmentTakesOneByteAndTtlReadsTheSystemDefault) {
    for (int family : {plat::AF_INET, plat::AF_INET6}) {
        Socket s{plat::socket(family, plat::SOCK_DGRAM, 0)};
        ASSERT_TRUE(s.valid());
        const uint8_t on = 1;
        ASSERT_EQ(plat::setsockopt(s.s, plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, &on, 1), 0);
        int got = 0;
        int length = sizeof got;
        ASSERT_EQ(plat::getsockopt(s.s, plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, &got, &length), 0);
        EXPECT_EQ(got, 1) << family;
    }
    Socket s{plat::socket(plat::AF_INET, plat::SOCK_DGRAM, 0)};
    int ttl = 0;
    int length = sizeof ttl;
    ASSERT_EQ(plat::getsockopt(s.s, plat::IPPROTO_IP, plat::IP_TTL, &ttl, &length), 0);
    EXPECT_GT(ttl, 0);
    int error = -1;
    length = sizeof error;
    ASSERT_EQ(plat::getsockopt(s.s, plat::SOL_SOCKET, plat::SO_ERROR, &error, &length), 0);
    EXPECT_EQ(error, 0);
}

// A message-only window of the platform's queue, receiving the notifications.
plat::LRESULT IgnoreMessages(plat::HWND w, uint32_t m, plat::WPARAM wp, plat::LPARAM lp) {
    return plat::DefWindowProcA(w, m, wp, lp);
}

TEST_F(socketDatagrams, AsyncSelectPostsReadAndKeepsTheSocketNonBlocking) {
    Open(plat::AF_INET);
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = IgnoreMessages;
    wc.lpszClassName = "socket_tests_window";
    plat::RegisterClassA(&wc);
    plat::HWND window = plat::CreateWindowExA(0, "socket_tests_window", "", 0, 0, 0, 0, 0,
                                              plat::MessageOnlyParent(), nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    constexpr uint32_t kNotify = plat::WM_USER + 103;
    ASSERT_EQ(plat::WSAAsyncSelect(receiver.s, window, kNotify, plat::FD_READ), 0);
    uint32_t off = 0;
    EXPECT_EQ(plat::ioctlsocket(receiver.s, plat::FIONBIO, &off), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEinval);

    ASSERT_EQ(plat::sendto(sender.s, "ping", 4, 0, address, addressLength), 4);
    bool notified = false;
    for (int i = 0; i < 50 && !notified; ++i) {  // at most about 2.5 s
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 50, plat::QS_ALLINPUT);
        plat::MSG msg{};
        while (plat::PeekMessageA(&msg, window, 0, 0, plat::PM_REMOVE)) {
            if (msg.message == kNotify && msg.wParam == receiver.s &&
                (msg.lParam & 0xFFFF) == plat::FD_READ) {
                notified = true;
            }
        }
    }
    EXPECT_TRUE(notified);
    char b[8];
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 0), 4);
    // Nothing more: non-blocking, so "would block" rather than a wait.
    EXPECT_EQ(plat::recv(receiver.s, b, sizeof b, 0), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);

    ASSERT_EQ(plat::WSAAsyncSelect(receiver.s, window, 0, 0), 0);
    EXPECT_EQ(plat::ioctlsocket(receiver.s, plat::FIONBIO, &off), 0);
    EXPECT_EQ(plat::closesocket(receiver.s), 0);
    receiver.s = plat::INVALID_SOCKET;
    plat::DestroyWindow(window);
    plat::UnregisterClassA("socket_tests_window", nullptr);
}

}  // namespace
