// The echo exchange end to end over loopback: a ping object made through the entry points
// pings 127.0.0.1 and ::1 on a raw ICMP socket (as root), synchronously and asynchronously,
// sends the wake-on-LAN packet, and takes the helper-library path when configured.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/sockets.h"
#include "tests/entry_points/echo_support.h"
#include "tests/support/system.h"

namespace {

using test::HelperLibraryPresent;

using test::EchoPing;
using test::ResponseEvent;

constexpr int32_t kErrorIpv6WithHelper = 306;
constexpr int32_t kErrorBadMac = 128;
constexpr int32_t kWsaProtocolNotSupported = 10043;

#define SKIP_WITHOUT_RAW_SOCKETS(rc)               \
    do {                                           \
        if ((rc) == test::kWsaAccessDenied) {      \
            GTEST_SKIP() << test::kNeedRawSockets; \
        }                                          \
    } while (false)

// Synchronous pings of the loopback addresses: one Response "OK", seen by the handler
// while ResponseSource still reads empty, then the source and a closed port.
TEST(EchoLoopback, SynchronousPingAnswersOk) {
    struct Row {
        const char* host;
        bool ipv6;
        uint8_t typeAfter;  // TypeOfService once the exchange is over
    };
    const Row rows[] = {
        {"127.0.0.1", false, 8},
        {"::1", true, 128},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        EchoPing echo;
        echo.SetTimeoutMs(3000);
        if (row.ipv6) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        const int32_t rc = echo.PingHost(row.host);
        SKIP_WITHOUT_RAW_SOCKETS(rc);
        if (row.ipv6 && rc == kWsaProtocolNotSupported && test::UnderWine()) {
            GTEST_SKIP() << "Wine opens no raw ICMPv6 sockets (10043)";
        }
        ASSERT_EQ(rc, 0) << echo.ping().LastError();
        EXPECT_EQ(echo.ping().LastErrorCode(), 0);
        ASSERT_EQ(echo.responses.size(), 1u);
        const ResponseEvent& e = echo.responses[0];
        EXPECT_EQ(e.status, "OK");
        EXPECT_EQ(e.source, row.host);
        EXPECT_EQ(e.sourceInHandler, "");
        EXPECT_EQ(e.requestId, echo.RequestId());
        EXPECT_EQ(e.requestIdInHandler, echo.RequestId());
        EXPECT_GE(echo.RequestId(), 0);  // bit 31 is never set
        EXPECT_GE(e.time, 0);
        EXPECT_LT(e.time, 3000);
        EXPECT_EQ(echo.ResponseSource(), row.host);
        EXPECT_GE(echo.ResponseTime(), 0);
        EXPECT_LT(echo.ResponseTime(), 3000);
        EXPECT_FALSE(echo.Active());
        EXPECT_EQ(echo.ping().Get(CORVANE_PING_TYPE_OF_SERVICE), row.typeAfter);
        EXPECT_TRUE(echo.errors.empty());
    }
}

// Two quick requests with Timeout 0 return at once with the port open; each answer is
// reported with the identifier of the request it answers and its own source.
TEST(EchoLoopback, AsynchronousRepliesCarryTheirRequestIds) {
    EchoPing echo;
    ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
    const char* hosts[] = {"127.0.0.1", "127.0.0.2"};
    int32_t ids[2] = {};
    for (int i = 0; i < 2; ++i) {
        const int32_t rc = echo.PingHost(hosts[i]);
        SKIP_WITHOUT_RAW_SOCKETS(rc);
        ASSERT_EQ(rc, 0) << echo.ping().LastError();
        EXPECT_TRUE(echo.Active()) << hosts[i];
        EXPECT_EQ(echo.ping().Get(CORVANE_PING_IDLE), 1) << "no synchronous wait runs";
        ids[i] = echo.RequestId();
    }
    ASSERT_NE(ids[0], ids[1]);
    // Other programs' loopback traffic may be reported as well; only ours is looked at.
    const bool both = echo.PumpUntil(
        [&] { return !echo.ResponsesTo(ids[0]).empty() && !echo.ResponsesTo(ids[1]).empty(); },
        3000);
    ASSERT_TRUE(both) << echo.responses.size() << " responses";
    for (int i = 0; i < 2; ++i) {
        const ResponseEvent e = echo.ResponsesTo(ids[i])[0];
        EXPECT_EQ(e.status, "OK") << hosts[i];
        EXPECT_EQ(e.source, hosts[i]);
        EXPECT_GE(e.time, 0);
    }
    EXPECT_TRUE(echo.Active()) << "answers leave an asynchronous port open";
    EXPECT_FALSE(echo.ResponseSource().empty());
}

// A raw socket of the test's own that sees what reaches loopback, opened through the
// platform's Windows Sockets so that the same capture works on both systems.
class Capture {
  public:
    Capture() {
        plat::WSADATA data{};
        started_ = plat::WSAStartup(0x0202, &data) == 0;
        if (started_) socket_ = plat::socket(plat::AF_INET, plat::SOCK_RAW, plat::IPPROTO_ICMP);
    }
    ~Capture() {
        if (socket_ != plat::INVALID_SOCKET) plat::closesocket(socket_);
        if (started_) plat::WSACleanup();
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    bool ok() const { return socket_ != plat::INVALID_SOCKET; }

    // The first IPv4 datagram for which match() holds, within about maxMillis.
    template <typename Match>
    std::vector<uint8_t> Find(Match match, int maxMillis) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; ++i) {
            const int64_t left = maxMillis - test::MillisSince(start);
            if (left <= 0) break;
            plat::fd_set readable{};
            readable.fd_count = 1;
            readable.fd_array[0] = socket_;
            const plat::timeval wait{static_cast<int32_t>(left / 1000),
                                     static_cast<int32_t>(left % 1000 * 1000)};
            if (plat::select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
            std::vector<uint8_t> d(65536);
            const int n = plat::recv(socket_, d.data(), static_cast<int>(d.size()), 0);
            if (n <= 0) break;
            d.resize(static_cast<size_t>(n));
            if (match(d)) return d;
        }
        return {};
    }

  private:
    bool started_ = false;
    plat::SOCKET socket_ = plat::INVALID_SOCKET;
};

uint16_t FoldedSum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(sum);
}

std::vector<uint8_t> MagicPacket(const uint8_t (&mac)[6]) {
    std::vector<uint8_t> m(6, 0xFF);
    for (int i = 0; i < 16; ++i)
        m.insert(m.end(), mac, mac + 6);
    return m;
}

// The magic packet leaves as one 106-byte ICMP message behind a 20-byte IP header: the
// type byte, code 0, a checksum that verifies, six bytes FF and the address 16 times.
TEST(WakeOnLan, MagicPacketOnTheWire) {
    struct Row {
        const char* mac;
        uint8_t address[6];
        int32_t typeOfService;  // -1 keeps the type byte of Reset
        uint8_t type;
    };
    const Row rows[] = {
        {"0a:1b:2c:3d:4e:5f", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}, -1, 8},
        {"0A-1B-2C-3D-4E-5F", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}, -1, 8},
        {"0a1b.2c3d.4e5f", {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}, -1, 8},
        {"f0 e1 d2 c3 b4 a5", {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5}, 42, 42},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mac);
        Capture capture;
        if (!capture.ok()) GTEST_SKIP() << test::kNeedRawSockets;
        EchoPing echo;
        if (row.typeOfService >= 0) {
            ASSERT_EQ(echo.ping().Set(CORVANE_PING_TYPE_OF_SERVICE, row.typeOfService), 0);
        }
        const int32_t requestId = echo.RequestId();
        ASSERT_EQ(echo.WakeOnLan("127.0.0.1", row.mac), 0) << echo.ping().LastError();
        EXPECT_FALSE(echo.Active()) << "the port was closed before the call";
        EXPECT_EQ(echo.RequestId(), requestId);

        const std::vector<uint8_t> magic = MagicPacket(row.address);
        const std::vector<uint8_t> d = capture.Find(
            [&](const std::vector<uint8_t>& d) {
                return d.size() == 126 && d[0] == 0x45 && d[20] == row.type &&
                       std::memcmp(&d[24], magic.data(), magic.size()) == 0;
            },
            2000);
        ASSERT_EQ(d.size(), 126u) << "no magic packet reached loopback";
        EXPECT_EQ(d[2] << 8 | d[3], 126) << "IP total length";
        EXPECT_EQ(d[9], plat::IPPROTO_ICMP);
        EXPECT_EQ(d[21], 0) << "code";
        EXPECT_EQ(FoldedSum(&d[20], 106), 0xFFFF) << "the ICMP checksum verifies";
        EXPECT_TRUE(echo.errors.empty());
    }
}

// A MAC text without exactly twelve hexadecimal digits fails with 128, and a port that
// was closed before is closed again.
TEST(WakeOnLan, BadMacAddressLeavesThePortClosed) {
    const char* macs[] = {"0a:1b:2c:3d:4e", "0a:1b:2c:3d:4e:5f:6a", "0x0a1b2c3d4e5f", ""};
    for (const char* mac : macs) {
        SCOPED_TRACE(mac);
        EchoPing echo;
        const int32_t rc = echo.WakeOnLan("127.0.0.1", mac);
        SKIP_WITHOUT_RAW_SOCKETS(rc);
        EXPECT_EQ(rc, kErrorBadMac);
        EXPECT_EQ(echo.ping().LastErrorCode(), kErrorBadMac);
        EXPECT_EQ(echo.ping().LastError(), "Bad MAC address.");
        EXPECT_FALSE(echo.Active());
        EXPECT_EQ(echo.ping().GetText(CORVANE_PING_REMOTE_HOST), "127.0.0.1");
    }
}

// The helper-library path: the library sends and waits, its record is matched like a
// received echo reply, and the handle is closed again.
TEST(EchoHelperPath, PingsLoopback) {
    if (!HelperLibraryPresent()) GTEST_SKIP() << "the platform has no \"icmp.dll\" module yet";
    // The functions come from "icmp.dll" or from "Iphlpapi.dll".
    for (const char* setting : {"UseICMPDLL=true", "UseIPHLPDLL=true"}) {
        SCOPED_TRACE(setting);
        EchoPing echo;
        ASSERT_EQ(echo.Config(setting), 0);
        EXPECT_EQ(echo.ping().Get(CORVANE_PING_TIMEOUT), 60);
        ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 3), 0);
        const int32_t rc = echo.PingHost("127.0.0.1");
        SKIP_WITHOUT_RAW_SOCKETS(rc);
        ASSERT_EQ(rc, 0) << echo.ping().LastError();
        ASSERT_EQ(echo.responses.size(), 1u);
        const ResponseEvent& e = echo.responses[0];
        EXPECT_EQ(e.status, "OK");
        EXPECT_EQ(e.source, "127.0.0.1");
        EXPECT_EQ(e.sourceInHandler, "");
        EXPECT_EQ(e.requestId, echo.RequestId());
        EXPECT_EQ(echo.ResponseSource(), "127.0.0.1");
        EXPECT_FALSE(echo.Active()) << "the helper handle is closed again";
    }
}

// The helper path serves IPv4 only: opening it with UseIPv6 fails with 306, whether or
// not the library is there, and the port stays closed.
TEST(EchoHelperPath, RefusesIpv6) {
    const char* settings[] = {"UseICMPDLL=true", "UseIPHLPDLL=true"};
    for (const char* setting : settings) {
        SCOPED_TRACE(setting);
        EchoPing echo;
        ASSERT_EQ(echo.Config(setting), 0);
        ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        EXPECT_EQ(echo.PingHost("::1"), kErrorIpv6WithHelper);
        EXPECT_EQ(echo.ping().LastErrorCode(), kErrorIpv6WithHelper);
        EXPECT_EQ(echo.ping().LastError(),
                  "IPv6 is not supported when the UseICMPDLL configuration is set to true.");
        EXPECT_FALSE(echo.Active());
        EXPECT_TRUE(echo.responses.empty());
    }
}

}  // namespace
