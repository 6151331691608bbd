// ICMP framing and reading on a scripted socket: the checksum, the request as it is
// sent, the removal of a plain IPv4 header, the datagrams that end or fail the reading,
// and the source text handed on with each message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/icmp/checksum.h"
#include "tests/engine/scripted_socket.h"

namespace {

using scripted::Bytes;
using scripted::Component;
using scripted::Layer;
using scripted::Scope;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// RFC 1071 the long way: bytes paired into words, the sum folded until it fits.
uint16_t ReferenceChecksum(const Bytes& message, const Bytes& pseudo) {
    Bytes all = pseudo;
    all.insert(all.end(), message.begin(), message.end());
    if (all.size() % 2 != 0) all.push_back(0);
    uint64_t sum = 0;
    for (size_t i = 0; i < all.size(); i += 2)
        sum += static_cast<uint64_t>(all[i]) << 8 | all[i + 1];
    while (sum > 0xFFFF)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

Bytes PseudoHeaderBytes(const uint8_t (&source)[16], const uint8_t (&destination)[16],
                        uint32_t length) {
    Bytes p(40, 0);
    std::copy(source, source + 16, p.begin());
    std::copy(destination, destination + 16, p.begin() + 16);
    for (int i = 0; i < 4; ++i)
        p[32 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    p[39] = 58;
    return p;
}

TEST(InternetChecksum, Rfc1071) {
    struct Row {
        const char* what;
        Bytes message;
        uint8_t high;
        uint8_t low;
    };
    const Row rows[] = {
        {"echo request, four zero data bytes", {0x08, 0, 0, 0, 0, 0, 0, 0}, 0xF7, 0xFF},
        {"odd length", {0x08, 0, 0, 0, 0x01}, 0xF6, 0xFF},
        {"carries folded once", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02}, 0xFF, 0xFD},
        // 0x1FFFF folds to 0x10000, which needs the second fold.
        {"carries folded twice", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, 0xFF, 0xFE},
        {"one byte counts as the high half", {0x12}, 0xED, 0xFF},
        {"empty", {}, 0xFF, 0xFF},
    };
    for (const Row& row : rows) {
        const uint16_t sum = corvane::InternetChecksum(row.message.data(), row.message.size());
        EXPECT_EQ(sum, row.high << 8 | row.low) << row.what;
        uint8_t field[2];
        corvane::StoreChecksum(field, sum);
        EXPECT_EQ(field[0], row.high) << row.what;
        EXPECT_EQ(field[1], row.low) << row.what;
    }
}

// With the IPv6 pseudo-header: source, destination, the length as 32 bits big-endian,
// three zeros and next header 58, summed ahead of the message.
TEST(InternetChecksum, Ipv6PseudoHeader) {
    struct Row {
        const char* what;
        uint8_t source[16];
        uint8_t destination[16];
        uint32_t length;
        Bytes message;
    };
    const Row rows[] = {
        {"loopback echo request",
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         8,
         {0x80, 0, 0, 0, 0, 0, 0, 0}},
        {"documentation addresses, odd length",
         {0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         {0x20, 0x01, 0x0d, 0xb8, 0, 0x32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40},
         9,
         {0x81, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A}},
        {"length above 16 bits, all-ones addresses",
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF},
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF},
         0x00012345,
         {0x80, 0, 0, 0, 0xFF, 0xFF}},
    };
    for (const Row& row : rows) {
        corvane::Ipv6PseudoHeader pseudo{};
        std::memcpy(pseudo.source, row.source, 16);
        std::memcpy(pseudo.destination, row.destination, 16);
        pseudo.length = row.length;
        const uint16_t expected = ReferenceChecksum(
            row.message, PseudoHeaderBytes(row.source, row.destination, row.length));
        EXPECT_EQ(corvane::InternetChecksum(row.message.data(), row.message.size(), &pseudo),
                  expected)
            << row.what;
        EXPECT_NE(corvane::InternetChecksum(row.message.data(), row.message.size()), expected)
            << row.what << ": the pseudo-header must count";
    }
    // The first row by hand: 1 + 1 + 8 + 58 + 0x8000 = 0x8044.
    EXPECT_EQ(ReferenceChecksum(rows[0].message,
                                PseudoHeaderBytes(rows[0].source, rows[0].destination, 8)),
              0x7FBB);
}

class Reading : public ::testing::Test {
  protected:
    Scope scope;
};

// The request as it leaves the port: type, code 0, a checksum that verifies, RequestId
// and the send stamp little-endian, then 0x2A; PacketSize 8 to 11 keeps only the first
// bytes of the identifier and the stamp.
TEST_F(Reading, RequestLayout) {
    struct Row {
        int32_t packetSize;
        size_t length;
    };
    const Row rows[] = {{64, 64}, {5, 8},   {8, 8},   {9, 9},    {10, 10},
                        {11, 11}, {12, 12}, {13, 13}, {100, 100}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.packetSize);
        scope.net() = scripted::Net{};
        scope.net().tick = 0x0A0B0C0D;
        scope.net().tickStep = 0;  // the stamp is the tick
        Component ping;
        ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, row.packetSize), 0);
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
        ASSERT_EQ(ping.PingHost("127.0.0.1"), 0) << ping.LastError();
        ASSERT_EQ(scope.net().sent.size(), 1u);
        const Bytes& m = scope.net().sent[0];
        ASSERT_EQ(m.size(), row.length);
        EXPECT_EQ(m[0], 8);
        EXPECT_EQ(m[1], 0);
        EXPECT_TRUE(scripted::ChecksumVerifies(m));
        uint8_t expected[8];
        scripted::PutLe32(expected, static_cast<uint32_t>(ping.Get(CORVANE_PING_REQUEST_ID)));
        scripted::PutLe32(expected + 4, 0x0A0B0C0D);
        for (size_t i = 4; i < m.size(); ++i) {
            EXPECT_EQ(m[i], i < 12 ? expected[i - 4] : 0x2A) << "byte " << i;
        }
        // Asynchronous: unconnected, addressed to the host.
        EXPECT_FALSE(scope.net().sentConnected[0]);
        EXPECT_EQ(scope.net().sentTo[0], "127.0.0.1");
    }
}

// A synchronous exchange sends on the connected socket; ICMPv6 requests are type 128
// and carry the checksum over the pseudo-header (no local address: all zeros).
TEST_F(Reading, RequestOnConnectedAndIpv6Sockets) {
    struct Row {
        const char* host;
        bool ipv6;
        bool synchronous;
    };
    const Row rows[] = {
        {"127.0.0.1", false, true},
        {"::1", true, true},
        {"::1", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + (row.synchronous ? " synchronous" : " async"));
        scope.net() = scripted::Net{};
        scope.net().tickStep = 500;  // a synchronous wait ends soon
        Component ping;
        if (row.ipv6) {
            ASSERT_EQ(ping.Config("UseIPv6=true"), 0);
        }
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, row.synchronous ? 2 : 0), 0);
        ping.PingHost(row.host);
        ASSERT_EQ(scope.net().sent.size(), 1u);
        const Bytes& m = scope.net().sent[0];
        EXPECT_EQ(scope.net().family, row.ipv6 ? plat::AF_INET6 : plat::AF_INET);
        EXPECT_EQ(scope.net().sentConnected[0], row.synchronous);
        EXPECT_EQ(scope.net().connects, row.synchronous ? 1 : 0);
        EXPECT_EQ(m[0], row.ipv6 ? 128 : 8);
        if (row.ipv6) {
            const uint8_t zero[16] = {};
            uint8_t loopback[16] = {};
            loopback[15] = 1;
            EXPECT_TRUE(
                scripted::ChecksumVerifies(m, scripted::PseudoSum(zero, loopback, m.size())));
        } else {
            EXPECT_TRUE(scripted::ChecksumVerifies(m));
        }
    }
}

// The layer on an open, unconnected port (Timeout 0), fed datagrams by the script.
class OpenLayer : public Reading {
  protected:
    void Open(bool ipv6 = false) {
        if (ipv6) {
            ASSERT_EQ(layer.Configure("UseIPv6=true", &answer), 0);
        }
        layer.SetTimeout(0, true);
        ASSERT_EQ(layer.PingHost(ipv6 ? "::1" : "127.0.0.1"), 0) << layer.LastErrorText();
        ASSERT_TRUE(layer.IsActive());
        request = scope.net().sent.at(0);
    }
    const char* answer = nullptr;
    Layer layer;
    Bytes request;
};

// IPv4 datagrams lose a plain 20-byte header (first byte 0x45) and nothing else; what
// remains is handed on from its fifth byte, or reported as too short.
TEST_F(OpenLayer, Ipv4HeaderRemoval) {
    struct Row {
        const char* what;
        Bytes datagram;
        int packets;  // handed to OnIcmpPacket
        uint8_t type;
        uint8_t code;
        size_t dataLength;
        int32_t error;  // Error event, 0 for none
    };
    Bytes echo(64, 0x2A);
    echo[0] = echo[1] = 0;
    echo = scripted::EchoReplyTo(echo);
    Bytes header20(20, 0);
    header20[0] = 0x45;
    const Row rows[] = {
        {"84 bytes behind 0x45", scripted::WithIpv4Header(echo), 1, 0, 0, 60, 0},
        {"header with options", scripted::WithIpv4Header(echo, 0x46), 1, 0x46, 0, 80, 0},
        {"0x45 but shorter than a header", Bytes{0x45, 0x00, 0x00, 0x13, 0x07}, 1, 0x45, 0, 1, 0},
        {"23 bytes: 3 left", Bytes(header20.begin(), header20.end()) + Bytes{0, 0, 0}, 0, 0, 0, 0,
         119},
        {"20 bytes: nothing left", header20, 0, 0, 0, 0, 119},
        {"24 bytes: a bare header", header20 + Bytes{3, 13, 0, 0}, 1, 3, 13, 0, 0},
        {"three bytes", Bytes{0, 0, 0}, 0, 0, 0, 0, 119},
    };
    Open();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        layer.packets.clear();
        layer.errors.clear();
        scope.net().Deliver(row.datagram, "10.9.8.7");
        layer.Readable();
        ASSERT_EQ(layer.packets.size(), static_cast<size_t>(row.packets));
        if (row.packets == 1) {
            EXPECT_EQ(layer.packets[0].type, row.type);
            EXPECT_EQ(layer.packets[0].code, row.code);
            EXPECT_EQ(layer.packets[0].data.size(), row.dataLength);
            EXPECT_EQ(layer.packets[0].source, "10.9.8.7");
        }
        if (row.error != 0) {
            ASSERT_EQ(layer.errors.size(), 1u);
            EXPECT_EQ(layer.errors[0].code, row.error);
            EXPECT_EQ(layer.errors[0].description, "Message too short.");
        } else {
            EXPECT_TRUE(layer.errors.empty());
        }
        EXPECT_TRUE(layer.IsActive()) << "reading failures leave the port open";
    }
}

// How a reading run ends: a receive that would block ends it silently, as does a socket
// closed meanwhile (10038) or a read of 0 bytes; any other error is reported with its
// number and stops the run, as does a datagram that is too short.
TEST_F(OpenLayer, ReadingEnds) {
    enum Kind { kDatagram, kShort, kEmpty, kFail };
    struct Item {
        Kind kind;
        int32_t error;
    };
    struct Row {
        const char* what;
        std::vector<Item> queue;
        int packets;
        std::vector<int32_t> errors;
        size_t left;  // queued items not read
    };
    const Row rows[] = {
        {"two datagrams, then nothing", {{kDatagram, 0}, {kDatagram, 0}}, 2, {}, 0},
        {"would block", {{kDatagram, 0}, {kFail, 10035}, {kDatagram, 0}}, 1, {}, 1},
        {"socket closed meanwhile", {{kFail, 10038}, {kDatagram, 0}}, 0, {}, 1},
        {"zero bytes", {{kEmpty, 0}, {kDatagram, 0}}, 0, {}, 1},
        {"connection reset", {{kDatagram, 0}, {kFail, 10054}, {kDatagram, 0}}, 1, {10054}, 1},
        {"network down", {{kFail, 10050}}, 0, {10050}, 0},
        {"too short", {{kShort, 0}, {kDatagram, 0}}, 0, {119}, 1},
    };
    Open();
    Bytes echo = scripted::EchoReplyTo(request);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        layer.packets.clear();
        layer.errors.clear();
        scope.net().queue.clear();
        scope.net().notify = false;
        for (const Item& item : row.queue) {
            switch (item.kind) {
                case kDatagram:
                    scope.net().Deliver(scripted::WithIpv4Header(echo));
                    break;
                case kShort:
                    scope.net().Deliver(Bytes(22, 0x45));
                    break;
                case kEmpty:
                    scope.net().Deliver(Bytes{});
                    break;
                case kFail:
                    scope.net().DeliverError(item.error);
                    break;
            }
        }
        layer.Readable();
        EXPECT_EQ(static_cast<int>(layer.packets.size()), row.packets);
        ASSERT_EQ(layer.errors.size(), row.errors.size());
        for (size_t i = 0; i < row.errors.size(); ++i) {
            EXPECT_EQ(layer.errors[i].code, row.errors[i]);
            EXPECT_EQ(layer.errors[i].description,
                      row.errors[i] == 119 ? "Message too short." : "Winsock error in recv()");
        }
        EXPECT_EQ(scope.net().queue.size(), row.left);
        EXPECT_TRUE(layer.IsActive());
    }
}

// The checksum is verified (IPv6 with the pseudo-header of the sender and the local
// address) but a bad one does not stop the message: it is still matched and reported.
TEST_F(OpenLayer, ChecksumFlag) {
    struct Row {
        const char* what;
        bool ipv6;
        bool corrupt;
    };
    const Row rows[] = {
        {"IPv4 good", false, false},
        {"IPv4 bad", false, true},
        {"IPv6 good", true, false},
        {"IPv6 bad", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Layer fresh;
        const char* unused = nullptr;
        if (row.ipv6) {
            ASSERT_EQ(fresh.Configure("UseIPv6=true", &unused), 0);
        }
        fresh.SetTimeout(0, true);
        scope.net().sent.clear();
        ASSERT_EQ(fresh.PingHost(row.ipv6 ? "::1" : "127.0.0.1"), 0);
        Bytes reply = scope.net().sent.at(0);
        reply[0] = row.ipv6 ? 129 : 0;
        reply[2] = reply[3] = 0;
        const char* from = row.ipv6 ? "2001:db8::7" : "10.0.0.7";
        uint16_t sum;
        if (row.ipv6) {
            uint8_t sender[28];
            scripted::ParseAddress(from, sender);
            const uint8_t local[16] = {};
            uint8_t source[16];
            std::memcpy(source, sender + 8, 16);
            sum = scripted::Checksum(reply.data(), reply.size(),
                                     scripted::PseudoSum(source, local, reply.size()));
        } else {
            sum = scripted::Checksum(reply.data(), reply.size());
        }
        if (row.corrupt) sum ^= 0x0101;
        reply[2] = static_cast<uint8_t>(sum >> 8);
        reply[3] = static_cast<uint8_t>(sum);
        scope.net().Deliver(row.ipv6 ? reply : scripted::WithIpv4Header(reply), from);
        fresh.Readable();
        ASSERT_EQ(fresh.packets.size(), 1u);
        EXPECT_EQ(fresh.packets[0].checksumOk, !row.corrupt);
        ASSERT_EQ(fresh.responses.size(), 1u);
        EXPECT_EQ(fresh.responses[0].status, "OK");
        EXPECT_EQ(fresh.responses[0].requestId, fresh.RequestId());
    }
}

// The source text: the sender's dotted or numeric IPv6 address on an unconnected port;
// with UseConnection on, the remote address whoever sent the datagram.
TEST_F(Reading, SourceText) {
    struct Row {
        const char* host;
        bool ipv6;
        bool synchronous;
        const char* sender;
        const char* source;
    };
    const Row rows[] = {
        {"127.0.0.1", false, false, "10.1.2.3", "10.1.2.3"},
        {"127.0.0.1", false, true, "10.1.2.3", "127.0.0.1"},
        {"::1", true, false, "2001:db8::5", "2001:db8::5"},
        {"::1", true, true, "2001:db8::5", "::1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.sender) + (row.synchronous ? " connected" : ""));
        scope.net() = scripted::Net{};
        Component ping;
        if (row.ipv6) {
            ASSERT_EQ(ping.Config("UseIPv6=true"), 0);
        }
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, row.synchronous ? 5 : 0), 0);
        const char* sender = row.sender;
        const bool ipv6 = row.ipv6;
        scope.net().onSend = [sender, ipv6](const Bytes& request) {
            const Bytes reply = scripted::EchoReplyTo(request, ipv6 ? 129 : 0);
            scripted::Current().Deliver(ipv6 ? reply : scripted::WithIpv4Header(reply), sender);
        };
        ASSERT_EQ(ping.PingHost(row.host), 0) << ping.LastError();
        ping.Pump(3);
        ASSERT_EQ(ping.responses.size(), 1u);
        EXPECT_EQ(ping.responses[0].source, row.source);
        EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), row.source);
    }
}

}  // namespace
