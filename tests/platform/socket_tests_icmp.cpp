// Raw ICMP sockets on loopback: what the engine sends and what it reads back, with the
// IPv4 header in front of IPv4 datagrams and none in front of ICMPv6 ones.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "tests/platform/socket_tests_support.h"

namespace {

using namespace sockettest;

uint16_t NextIdentifier() {
    static std::atomic<uint16_t> counter{0};
    return static_cast<uint16_t>((getpid() * 131 + counter++) & 0xFFFF);
}

// Reads datagrams (at most 16, for at most about 2 s each) until one has the ICMP type
// wanted and carries identifier id; returns it, empty when none came.
std::vector<uint8_t> ReceiveIcmp(plat::SOCKET s, size_t headerLength, uint8_t type, uint16_t id,
                                 void* from = nullptr, int* fromLength = nullptr) {
    for (int i = 0; i < 16; ++i) {
        if (!WaitReadable(s, 2000)) break;
        std::vector<uint8_t> d(2052);
        const int n = from != nullptr ? plat::recvfrom(s, d.data(), static_cast<int>(d.size()), 0,
                                                       from, fromLength)
                                      : plat::recv(s, d.data(), static_cast<int>(d.size()), 0);
        if (n < 0) {
            ADD_FAILURE() << "receive failed with " << plat::WSAGetLastError();
            break;
        }
        d.resize(static_cast<size_t>(n));
        if (d.size() >= headerLength + 8 && d[headerLength] == type &&
            Get16(&d[headerLength + 4]) == id) {
            return d;
        }
    }
    return {};
}

class socketRawIcmp : public WinsockTest {};

TEST_F(socketRawIcmp, ConnectedIpv4EchoReplyCarriesItsIpHeader) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET, plat::IPPROTO_ICMP);
    const plat::sockaddr_in to = V4("127.0.0.1");
    ASSERT_EQ(plat::connect(sock.s, &to, sizeof to), 0) << plat::WSAGetLastError();
    plat::sockaddr_in peer{};
    int peerLength = sizeof peer;
    ASSERT_EQ(plat::getpeername(sock.s, &peer, &peerLength), 0) << plat::WSAGetLastError();
    EXPECT_EQ(peer.sin_family, plat::AF_INET);
    EXPECT_EQ(peer.sin_addr, to.sin_addr);
    const uint16_t id = NextIdentifier();
    const std::vector<uint8_t> echo = EchoRequest(8, id, 7, 32);
    ASSERT_EQ(Checksum(echo.data(), echo.size()), 0);
    const int size = static_cast<int>(echo.size());
    ASSERT_EQ(plat::send(sock.s, echo.data(), size, 0), size) << plat::WSAGetLastError();

    const std::vector<uint8_t> d = ReceiveIcmp(sock.s, 20, 0, id);
    ASSERT_EQ(d.size(), 20 + echo.size());
    EXPECT_EQ(d[0], 0x45);
    EXPECT_EQ(d[9], 1);  // ICMP
    EXPECT_EQ(Checksum(d.data(), 20), 0) << "IP header checksum";
    uint32_t source;
    memcpy(&source, &d[12], 4);
    EXPECT_EQ(source, plat::inet_addr("127.0.0.1"));
    EXPECT_EQ(d[21], 0);  // code
    EXPECT_EQ(Checksum(&d[20], d.size() - 20), 0) << "ICMP checksum";
    EXPECT_EQ(Get16(&d[26]), 7);
    EXPECT_EQ(memcmp(&d[28], &echo[8], echo.size() - 8), 0) << "echoed data";
}

TEST_F(socketRawIcmp, UnconnectedIpv4ReplyNamesItsSender) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET, plat::IPPROTO_ICMP);
    const plat::sockaddr_in to = V4("127.0.0.1");
    const uint16_t id = NextIdentifier();
    const std::vector<uint8_t> echo = EchoRequest(8, id, 1, 8);
    const int size = static_cast<int>(echo.size());
    ASSERT_EQ(plat::sendto(sock.s, echo.data(), size, 0, &to, sizeof to), size);
    plat::sockaddr_in from{};
    int fromLength = sizeof from;
    const std::vector<uint8_t> d = ReceiveIcmp(sock.s, 20, 0, id, &from, &fromLength);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(fromLength, 16);
    EXPECT_EQ(from.sin_family, plat::AF_INET);
    EXPECT_EQ(from.sin_addr, plat::inet_addr("127.0.0.1"));
}

// The request itself passes through loopback and reaches the raw socket too, with the
// header the options asked for.
TEST_F(socketRawIcmp, TtlAndTosReachTheIpHeader) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET, plat::IPPROTO_ICMP);
    const int ttl = 17;
    const int tos = 0x28;
    ASSERT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TTL, &ttl, sizeof ttl), 0);
    ASSERT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TOS, &tos, sizeof tos), 0);
    int got = 0;
    int length = sizeof got;
    ASSERT_EQ(plat::getsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TTL, &got, &length), 0);
    EXPECT_EQ(got, ttl);
    ASSERT_EQ(plat::getsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TOS, &got, &length), 0);
    EXPECT_EQ(got, tos);
    const plat::sockaddr_in to = V4("127.0.0.1");
    ASSERT_EQ(plat::connect(sock.s, &to, sizeof to), 0);
    const uint16_t id = NextIdentifier();
    const std::vector<uint8_t> echo = EchoRequest(8, id, 2, 8);
    const int size = static_cast<int>(echo.size());
    ASSERT_EQ(plat::send(sock.s, echo.data(), size, 0), size);
    const std::vector<uint8_t> request = ReceiveIcmp(sock.s, 20, 8, id);
    ASSERT_FALSE(request.empty());
    EXPECT_EQ(request[8], ttl);
    EXPECT_EQ(request[1], tos);
}

TEST_F(socketRawIcmp, ReceiveAllIsNotSupported) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET, plat::IPPROTO_ICMP);
    uint32_t mode = 1;
    EXPECT_EQ(plat::ioctlsocket(sock.s, plat::SIO_RCVALL, &mode), plat::SOCKET_ERROR);
    EXPECT_EQ(plat::WSAGetLastError(), kWsaEopnotsupp);
}

TEST_F(socketRawIcmp, OptionsTheEngineAppliesSucceed) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET, plat::IPPROTO_ICMP);
    const plat::sockaddr_in any = V4("0.0.0.0");
    EXPECT_EQ(plat::bind(sock.s, &any, sizeof any), 0);
    const int zero = 0;
    const int one = 1;
    const uint8_t flag = 1;
    EXPECT_EQ(plat::setsockopt(sock.s, plat::SOL_SOCKET, plat::SO_DONTROUTE, &zero, 4), 0);
    EXPECT_EQ(plat::setsockopt(sock.s, plat::SOL_SOCKET, plat::SO_BROADCAST, &one, 4), 0);
    EXPECT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IP, plat::IP_MULTICAST_TTL, &one, 4), 0);
    EXPECT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, &flag, 1), 0);
    int got = 0;
    int length = sizeof got;
    ASSERT_EQ(plat::getsockopt(sock.s, plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, &got, &length), 0);
    EXPECT_EQ(got, 1);
}

TEST_F(socketRawIcmp, ConnectedIpv6EchoReplyHasNoIpHeader) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET6, plat::IPPROTO_ICMPV6);
    const plat::sockaddr_in6 to = V6("::1");
    ASSERT_EQ(to.sin6_family, plat::AF_INET6);
    ASSERT_EQ(plat::connect(sock.s, &to, sizeof to), 0) << plat::WSAGetLastError();
    const int hops = 9;
    ASSERT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IPV6, plat::IPV6_UNICAST_HOPS, &hops, 4), 0);
    const uint16_t id = NextIdentifier();
    const uint32_t pseudo = PseudoHeaderSum(to.sin6_addr, to.sin6_addr, 8 + 24);
    const std::vector<uint8_t> echo = EchoRequest(128, id, 3, 24, pseudo);
    const int size = static_cast<int>(echo.size());
    ASSERT_EQ(plat::send(sock.s, echo.data(), size, 0), size) << plat::WSAGetLastError();

    const std::vector<uint8_t> d = ReceiveIcmp(sock.s, 0, 129, id);
    ASSERT_EQ(d.size(), echo.size());
    EXPECT_EQ(d[1], 0);
    EXPECT_EQ(Checksum(d.data(), d.size(), PseudoHeaderSum(to.sin6_addr, to.sin6_addr, d.size())),
              0);
    EXPECT_EQ(Get16(&d[6]), 3);
    EXPECT_EQ(memcmp(&d[8], &echo[8], echo.size() - 8), 0);
}

TEST_F(socketRawIcmp, UnconnectedIpv6ReplyNamesItsSender) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET6, plat::IPPROTO_ICMPV6);
    const plat::sockaddr_in6 to = V6("::1");
    const uint16_t id = NextIdentifier();
    const std::vector<uint8_t> echo = EchoRequest(128, id, 4, 8);
    const int size = static_cast<int>(echo.size());
    ASSERT_EQ(plat::sendto(sock.s, echo.data(), size, 0, &to, sizeof to), size);
    plat::sockaddr_in6 from{};
    int fromLength = sizeof from;
    const std::vector<uint8_t> d = ReceiveIcmp(sock.s, 0, 129, id, &from, &fromLength);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(fromLength, 28);
    EXPECT_EQ(from.sin6_family, plat::AF_INET6);
    EXPECT_EQ(memcmp(from.sin6_addr, to.sin6_addr, 16), 0);
}

TEST_F(socketRawIcmp, Ipv6TrafficClassThroughTheIpv4Level) {
    OPEN_RAW_OR_SKIP(sock, plat::AF_INET6, plat::IPPROTO_ICMPV6);
    const int tos = 0x48;
    ASSERT_EQ(plat::setsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TOS, &tos, sizeof tos), 0);
    int got = 0;
    int length = sizeof got;
    ASSERT_EQ(plat::getsockopt(sock.s, plat::IPPROTO_IP, plat::IP_TOS, &got, &length), 0);
    EXPECT_EQ(got, tos);
}

}  // namespace
