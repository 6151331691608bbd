// The echo exchange on a scripted socket and clock: which answers match a request, the
// status texts, the request identifier, the type byte, the times, and what the closing
// of the port still dispatches.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/icmp/helper_library.h"
#include "tests/engine/scripted_socket.h"

namespace {

using scripted::Bytes;
using scripted::Component;
using scripted::Layer;
using scripted::Scope;

constexpr int32_t kErrorReply = 127;
constexpr int32_t kWaitEnded = 301;

// What a host sends back for a request; empty for nothing.
using Answer = std::function<std::vector<Bytes>(const Bytes& request)>;

Bytes Framed(const Bytes& icmp, bool ipv6) {
    return ipv6 ? icmp : scripted::WithIpv4Header(icmp);
}

class Exchange : public ::testing::Test {
  protected:
    // A synchronous ping (1000 ms on the scripted clock) answered by answer().
    int32_t Ping(Component& ping, const char* host, bool ipv6, Answer answer) {
        if (ipv6) {
            EXPECT_EQ(ping.Config("UseIPv6=true"), 0);
        }
        EXPECT_EQ(ping.Config("TimeoutInMilliseconds=true"), 0);
        EXPECT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 1000), 0);
        scope.net().onSend = [answer, ipv6](const Bytes& request) {
            for (const Bytes& m : answer(request))
                scripted::Current().Deliver(Framed(m, ipv6), ipv6 ? "::1" : "127.0.0.1");
        };
        return ping.PingHost(host);
    }
    Scope scope;
};

Bytes WithId(Bytes m, size_t at, uint32_t id) {
    scripted::PutLe32(&m[at], id);
    return m;
}

// Which answers a synchronous exchange accepts: echo replies by the identifier in data
// bytes 0 to 3, destination-unreachable messages by the one at data bytes 28 to 31
// (IPv6: type 1, behind a 40-byte header at 48), nothing else.
TEST_F(Exchange, Matching) {
    struct Row {
        const char* what;
        bool ipv6;
        int32_t packetSize;
        Answer answer;
        int32_t rc;
        const char* status;  // of the one Response, null for none
    };
    const auto reply = [](uint8_t type) {
        return
            [type](const Bytes& r) { return std::vector<Bytes>{scripted::EchoReplyTo(r, type)}; };
    };
    const auto error = [](uint8_t type, uint8_t code, size_t header) {
        return [=](const Bytes& r) {
            return std::vector<Bytes>{scripted::ErrorFor(r, type, code, header)};
        };
    };
    const Row rows[] = {
        {"echo reply", false, 64, reply(0), 0, "OK"},
        {"ICMPv6 echo reply type", false, 64, reply(129), 0, "OK"},
        {"other identifier", false, 64,
         [](const Bytes& r) {
             Bytes m = scripted::EchoReplyTo(r);
             m[4] ^= 0x01;
             return std::vector<Bytes>{m};
         },
         kWaitEnded, nullptr},
        {"identifier only in the sequence bytes", false, 64,
         [](const Bytes& r) {
             Bytes m = scripted::EchoReplyTo(r);
             m[7] ^= 0x40;
             return std::vector<Bytes>{m};
         },
         kWaitEnded, nullptr},
        {"PacketSize 11: seven data bytes", false, 11, reply(0), kWaitEnded, nullptr},
        {"PacketSize 12: eight data bytes", false, 12, reply(0), 0, "OK"},
        {"own request looped back", false, 64, reply(8), kWaitEnded, nullptr},
        {"host unreachable", false, 64, error(3, 1, 20), kErrorReply, "Host unreachable."},
        {"unreachable for another request", false, 64,
         [](const Bytes& r) {
             return std::vector<Bytes>{WithId(scripted::ErrorFor(r, 3, 1), 32, 0x12345)};
         },
         kWaitEnded, nullptr},
        {"unreachable with 31 data bytes", false, 64,
         [](const Bytes& r) {
             Bytes m = scripted::ErrorFor(r, 3, 1);
             m.resize(4 + 31);
             return std::vector<Bytes>{m};
         },
         kWaitEnded, nullptr},
        {"type 1 in IPv4 mode", false, 64, error(1, 1, 20), kWaitEnded, nullptr},
        {"time exceeded", false, 64, error(11, 0, 20), kWaitEnded, nullptr},
        {"source quench", false, 64, error(4, 0, 20), kWaitEnded, nullptr},
        {"redirect", false, 64, error(5, 1, 20), kWaitEnded, nullptr},
        {"parameter problem", false, 64, error(12, 0, 20), kWaitEnded, nullptr},
        {"ICMPv6 echo reply", true, 64, reply(129), 0, "OK"},
        {"IPv4 echo reply type in IPv6 mode", true, 64, reply(0), 0, "OK"},
        {"ICMPv6 request looped back", true, 64, reply(128), kWaitEnded, nullptr},
        {"ICMPv6 port unreachable", true, 64, error(1, 4, 40), kErrorReply, "Port unreachable."},
        {"ICMPv6 unreachable quoting 20 bytes", true, 64, error(1, 4, 20), kWaitEnded, nullptr},
        {"type 3 in IPv6 mode (time exceeded)", true, 64, error(3, 0, 40), kWaitEnded, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        scope.net() = scripted::Net{};
        Component ping;
        ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, row.packetSize), 0);
        const char* host = row.ipv6 ? "::1" : "127.0.0.1";
        EXPECT_EQ(Ping(ping, host, row.ipv6, row.answer), row.rc) << ping.LastError();
        EXPECT_EQ(ping.LastErrorCode(), row.rc);
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
        EXPECT_GE(scope.net().recvCalls, 1) << "the answer was read";
        if (row.status == nullptr) {
            EXPECT_TRUE(ping.responses.empty());
            EXPECT_EQ(ping.LastError(), "Timeout.");
            EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "");
            EXPECT_EQ(ping.Get(CORVANE_PING_RESPONSE_TIME), 0);
            continue;
        }
        ASSERT_EQ(ping.responses.size(), 1u);
        EXPECT_EQ(ping.responses[0].status, row.status);
        EXPECT_EQ(ping.responses[0].requestId, ping.Get(CORVANE_PING_REQUEST_ID));
        EXPECT_EQ(ping.responses[0].source, host);
        EXPECT_EQ(ping.responses[0].sourceInHandler, "");
        EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), host);
        if (row.rc == kErrorReply) {
            EXPECT_EQ(ping.LastError(), row.status);
        }
    }
}

// The status texts of destination-unreachable codes, as the Response status and as the
// text of 127; ICMPv6 codes 0, 1, 3 and 4 are worded as IPv4 codes 0, 10, 1 and 3.
TEST_F(Exchange, ReplyStatusTexts) {
    struct Row {
        bool ipv6;
        uint8_t code;
        const char* text;
    };
    const Row rows[] = {
        {false, 0, "Network unreachable."},
        {false, 1, "Host unreachable."},
        {false, 2, "Protocol unreachable."},
        {false, 3, "Port unreachable."},
        {false, 4, "Fragmentation needed and DF is set."},
        {false, 5, "Source route failed."},
        {false, 6, "Destination network down."},
        {false, 7, "Destination host unknown."},
        {false, 8, "Source host isolated."},
        {false, 9, "Communication with destination network administratively prohibited."},
        {false, 10, "Communication with destination host administratively prohibited."},
        {false, 11, "Network unreachable for this type of service."},
        {false, 12, "Host unreachable for this type of service."},
        {false, 13, "Destination unreachable: 13."},
        {false, 255, "Destination unreachable: 255."},
        {true, 0, "Network unreachable."},
        {true, 1, "Communication with destination host administratively prohibited."},
        {true, 2, "Destination unreachable: 2."},
        {true, 3, "Host unreachable."},
        {true, 4, "Port unreachable."},
        {true, 5, "Destination unreachable: 5."},
        {true, 6, "Destination unreachable: 6."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.ipv6 ? "ICMPv6 code " : "code ") + std::to_string(row.code));
        {
            scope.net() = scripted::Net{};
            Component ping;
            const uint8_t type = row.ipv6 ? 1 : 3;
            const size_t header = row.ipv6 ? 40 : 20;
            const uint8_t code = row.code;
            EXPECT_EQ(Ping(ping, row.ipv6 ? "::1" : "127.0.0.1", row.ipv6,
                           [=](const Bytes& r) {
                               return std::vector<Bytes>{scripted::ErrorFor(r, type, code, header)};
                           }),
                      kErrorReply);
            EXPECT_EQ(ping.LastError(), row.text);
            ASSERT_EQ(ping.responses.size(), 1u);
            EXPECT_EQ(ping.responses[0].status, row.text);
        }
        {
            // Asynchronous: reported when dispatched; a composed text also becomes the
            // object's last error text, though nothing failed.
            scope.net() = scripted::Net{};
            Component ping;
            if (row.ipv6) {
                ASSERT_EQ(ping.Config("UseIPv6=true"), 0);
            }
            ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
            ASSERT_EQ(ping.PingHost(row.ipv6 ? "::1" : "127.0.0.1"), 0);
            const Bytes m = scripted::ErrorFor(scope.net().sent.at(0), row.ipv6 ? 1 : 3, row.code,
                                               row.ipv6 ? 40 : 20);
            scope.net().Deliver(Framed(m, row.ipv6), row.ipv6 ? "::1" : "127.0.0.1");
            ping.Pump(2);
            ASSERT_EQ(ping.responses.size(), 1u);
            EXPECT_EQ(ping.responses[0].status, row.text);
            EXPECT_EQ(ping.LastErrorCode(), 0);
            if (std::string(row.text).rfind("Destination unreachable:", 0) == 0) {
                EXPECT_EQ(ping.LastError(), row.text);
            }
        }
    }
}

// RequestId = (RequestId + the low 32 bits of the object's address + SendStamp), bit 31
// cleared; the identifier and the stamp travel in the first data bytes.
TEST_F(Exchange, RequestIdentifier) {
    scope.net().tickStep = 0;
    Component ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
    const auto self =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ping.handle())) + corvane::ProcessTerm();
    // Stamps chosen so that the first sum has bit 31 set and the second wraps.
    const uint32_t stamps[] = {0x80001234u - self, 0xFFFFFFF0u, 7};
    uint32_t expected = 0;
    for (size_t i = 0; i < std::size(stamps); ++i) {
        SCOPED_TRACE(i);
        scope.net().tick = stamps[i];
        ASSERT_EQ(ping.PingHost("127.0.0.1"), 0);
        expected = (expected + self + stamps[i]) & 0x7FFFFFFFu;
        EXPECT_EQ(static_cast<uint32_t>(ping.Get(CORVANE_PING_REQUEST_ID)), expected);
        const Bytes& m = scope.net().sent.at(i);
        EXPECT_EQ(scripted::Le32(&m[4]), expected);
        EXPECT_EQ(scripted::Le32(&m[8]), stamps[i]);
    }
    EXPECT_EQ(scripted::Le32(&scope.net().sent[0][4]), 0x1234u);
}

// UseIPv6 turns the type byte 8 into 128 and it stays so, for IPv4 requests too, until
// TypeOfService is set or Reset runs. WakeOnLAN sends the type byte as it is.
TEST_F(Exchange, TypeByteAfterIpv6) {
    Component ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
    struct Step {
        const char* config;     // applied first, may be null
        int32_t typeOfService;  // set first unless -1
        bool reset;
        const char* host;
        uint8_t sentType;
    };
    const Step steps[] = {
        {nullptr, -1, false, "127.0.0.1", 8},
        {"UseIPv6=true", -1, false, "::1", 128},
        {"UseIPv6=false", -1, false, "127.0.0.1", 128},
        {nullptr, 8, false, "127.0.0.1", 8},
        {nullptr, 13, false, "127.0.0.1", 13},
        {"UseIPv6=true", -1, false, "::1", 13},
        {nullptr, -1, true, "127.0.0.1", 8},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(i);
        if (s.reset) {
            intptr_t slots[1] = {};
            int32_t lengths[1] = {};
            ASSERT_EQ(Corvane_Ping_Do(ping.handle(), CORVANE_PING_RESET, 0, slots, lengths, 0), 0);
            ASSERT_EQ(ping.Get(CORVANE_PING_TIMEOUT), 0);
        }
        if (s.config != nullptr) {
            ASSERT_EQ(ping.Config(s.config), 0);
        }
        if (s.typeOfService >= 0) {
            ASSERT_EQ(ping.Set(CORVANE_PING_TYPE_OF_SERVICE, s.typeOfService), 0);
        }
        const size_t before = scope.net().sent.size();
        ASSERT_EQ(ping.PingHost(s.host), 0) << ping.LastError();
        ASSERT_EQ(scope.net().sent.size(), before + 1);
        EXPECT_EQ(scope.net().sent.back()[0], s.sentType);
        EXPECT_EQ(ping.Get(CORVANE_PING_TYPE_OF_SERVICE), s.sentType);
    }
}

// Times on the scripted clock, in 32-bit wrapping arithmetic: the event's time counts
// from the answered request's own stamp, ResponseTime from the latest send.
TEST_F(Exchange, ResponseTimes) {
    struct Row {
        uint32_t first;
        uint32_t second;
        uint32_t answered;
    };
    const Row rows[] = {
        {1000, 1500, 2000},
        {0xFFFFFF00u, 0xFFFFFF80u, 0x100},
        {0x7FFFFFF0u, 0x7FFFFFFFu, 0x80000010u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.first);
        scope.net() = scripted::Net{};
        scope.net().tickStep = 0;
        Component ping;
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
        scope.net().tick = row.first;
        ASSERT_EQ(ping.PingHost("127.0.0.1"), 0);
        const int32_t firstId = static_cast<int32_t>(ping.Get(CORVANE_PING_REQUEST_ID));
        const Bytes firstRequest = scope.net().sent.at(0);
        scope.net().tick = row.second;
        ASSERT_EQ(ping.PingHost("127.0.0.2"), 0);
        scope.net().tick = row.answered;
        scope.net().Deliver(scripted::WithIpv4Header(scripted::EchoReplyTo(firstRequest)));
        ping.Pump(2);
        ASSERT_EQ(ping.responses.size(), 1u);
        EXPECT_EQ(ping.responses[0].requestId, firstId);
        EXPECT_EQ(ping.responses[0].time, static_cast<int32_t>(row.answered - row.first));
        EXPECT_EQ(ping.Get(CORVANE_PING_RESPONSE_TIME),
                  static_cast<int32_t>(row.answered - row.second));
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1);
    }
}

// What the wait and the closing of the port still dispatch in a synchronous exchange.
TEST_F(Exchange, ClosingDispatchesQueuedAnswers) {
    struct Row {
        const char* what;
        bool notify;  // the platform posts a readability notice
        Answer answer;
        int32_t rc;
        int responses;
        std::vector<int32_t> errors;
    };
    const auto echo = [](const Bytes& r) { return scripted::EchoReplyTo(r); };
    const Row rows[] = {
        {"a duplicate",
         true,
         [&](const Bytes& r) {
             return std::vector<Bytes>{echo(r), echo(r)};
         },
         0,
         2,
         {}},
        {"three copies",
         true,
         [&](const Bytes& r) {
             return std::vector<Bytes>{echo(r), echo(r), echo(r)};
         },
         0,
         3,
         {}},
        {"an answer nobody was told about",
         false,
         [&](const Bytes& r) { return std::vector<Bytes>{echo(r)}; },
         kWaitEnded,
         1,
         {}},
        {"too short first",
         true,
         [&](const Bytes& r) {
             return std::vector<Bytes>{Bytes{0, 0}, echo(r)};
         },
         0,
         1,
         {119}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        scope.net() = scripted::Net{};
        scope.net().notify = row.notify;
        Component ping;
        EXPECT_EQ(Ping(ping, "127.0.0.1", false, row.answer), row.rc) << ping.LastError();
        ASSERT_EQ(ping.responses.size(), static_cast<size_t>(row.responses));
        for (size_t i = 0; i < ping.responses.size(); ++i) {
            EXPECT_EQ(ping.responses[i].status, "OK");
            EXPECT_EQ(ping.responses[i].requestId, ping.Get(CORVANE_PING_REQUEST_ID));
            // The first handler sees the value before the exchange, later ones the first's.
            EXPECT_EQ(ping.responses[i].sourceInHandler, i == 0 ? "" : "127.0.0.1");
        }
        ASSERT_EQ(ping.errors.size(), row.errors.size());
        for (size_t i = 0; i < row.errors.size(); ++i)
            EXPECT_EQ(ping.errors[i].code, row.errors[i]);
        EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "127.0.0.1");
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
        EXPECT_TRUE(scope.net().queue.empty()) << "every queued datagram was read";
        if (row.rc == kWaitEnded) {
            EXPECT_EQ(ping.LastError(), "Timeout.");
        }
    }
}

// A wait that fails leaves ResponseTime 0 and ResponseSource empty, whatever an earlier
// exchange left, and RequestId the unanswered request's.
TEST_F(Exchange, FailedWaitClearsTheResults) {
    Component ping;
    scope.net().tickStep = 7;  // every clock reading moves on
    ASSERT_EQ(Ping(ping, "127.0.0.1", false,
                   [](const Bytes& r) { return std::vector<Bytes>{scripted::EchoReplyTo(r)}; }),
              0);
    ASSERT_GT(ping.Get(CORVANE_PING_RESPONSE_TIME), 0);
    ASSERT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "127.0.0.1");
    const intptr_t answered = ping.Get(CORVANE_PING_REQUEST_ID);
    EXPECT_EQ(Ping(ping, "127.0.0.1", false, [](const Bytes&) { return std::vector<Bytes>{}; }),
              kWaitEnded);
    EXPECT_EQ(ping.LastError(), "Timeout.");
    EXPECT_EQ(ping.Get(CORVANE_PING_RESPONSE_TIME), 0);
    EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "");
    EXPECT_NE(ping.Get(CORVANE_PING_REQUEST_ID), answered);
    EXPECT_EQ(scripted::Le32(&scope.net().sent.at(1)[4]),
              static_cast<uint32_t>(ping.Get(CORVANE_PING_REQUEST_ID)));
    EXPECT_EQ(ping.responses.size(), 1u);
}

// An error message still queued when a timed-out exchange closes its port is reported by
// the close, timed from the request's real send stamp, and the exchange still fails.
TEST_F(Exchange, AnswerDrainedAfterTimeoutIsTimedFromTheSend) {
    scope.net().notify = false;  // nobody is told: the wait times out
    Component ping;
    EXPECT_EQ(Ping(ping, "127.0.0.1", false,
                   [](const Bytes& r) { return std::vector<Bytes>{scripted::ErrorFor(r, 3, 1)}; }),
              kWaitEnded);
    ASSERT_EQ(ping.responses.size(), 1u);
    EXPECT_EQ(ping.responses[0].status, "Host unreachable.");
    // Milliseconds since the send, not since the clock's origin.
    EXPECT_GE(ping.responses[0].time, 0);
    EXPECT_LT(ping.responses[0].time, 60000);
    EXPECT_EQ(ping.Get(CORVANE_PING_RESPONSE_TIME), 0);
    EXPECT_EQ(ping.LastError(), "Timeout.");
}

// A Response handler that fails changes nothing in the exchange: the port is closed,
// ResponseSource set and PingHost succeeds; the failure is reported through Error.
TEST_F(Exchange, FailingHandler) {
    Component ping;
    ping.responseResult = 7;
    EXPECT_EQ(Ping(ping, "127.0.0.1", false,
                   [](const Bytes& r) { return std::vector<Bytes>{scripted::EchoReplyTo(r)}; }),
              0);
    ASSERT_EQ(ping.responses.size(), 1u);
    EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "127.0.0.1");
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
    ASSERT_EQ(ping.errors.size(), 1u);
    EXPECT_EQ(ping.errors[0].code, 7);
    EXPECT_EQ(ping.errors[0].description,
              "An unhandled error occurred in the Response event handler");
}

// ResponseSource keeps at most 59 characters of the source; the event gets all of it.
TEST_F(Exchange, ResponseSourceIsCut) {
    struct Row {
        size_t length;
        size_t kept;
    };
    const Row rows[] = {{0, 0}, {15, 15}, {58, 58}, {59, 59}, {60, 59}, {200, 59}};
    Layer layer;
    layer.SetTimeout(0, true);
    Bytes data(8, 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        std::string source;
        for (size_t i = 0; i < row.length; ++i)
            source.push_back(static_cast<char>('a' + i % 26));
        layer.responses.clear();
        layer.Hand(0, 0, data, source.c_str());
        ASSERT_EQ(layer.responses.size(), 1u);
        EXPECT_EQ(layer.responses[0].source, source);
        EXPECT_EQ(std::string(layer.ResponseSource()), source.substr(0, row.kept));
    }
}

// The records of one IcmpSendEcho in order: each becomes a message of its type until one
// says the time ran out; data that do not lie inside the buffer are skipped; time exceeded
// is handed over and ignored; every other status counts as an echo reply.
TEST(HelperRecords, WalkInOrder) {
    using D = scripted::HelperRecord::Data;
    struct Handed {
        uint8_t type;
        std::string source;
        bool operator==(const Handed&) const = default;
    };
    struct Row {
        const char* name;
        std::vector<scripted::HelperRecord> records;
        uint32_t reason;
        std::vector<Handed> handed;
        int32_t rc;
        const char* text;
    };
    const Row rows[] = {
        {"IP_REQ_TIMED_OUT in the middle ends the walk",
         {{0, 1, D::kEcho}, {plat::IP_REQ_TIMED_OUT, 2, D::kEcho}, {0, 3, D::kEcho}},
         0,
         {{0, "127.0.0.1"}},
         0,
         ""},
        {"time exceeded records, then the answer",
         {{plat::IP_TTL_EXPIRED_TRANSIT, 9, D::kEcho},
          {plat::IP_TTL_EXPIRED_REASSEM, 9, D::kEcho},
          {0, 1, D::kEcho}},
         0,
         {{11, "127.0.0.9"}, {11, "127.0.0.9"}, {0, "127.0.0.1"}},
         0,
         ""},
        {"an unreachable status, whichever, reads as network unreachable",
         {{plat::IP_DEST_HOST_UNREACHABLE, 4, D::kUnreachable}},
         0,
         {{3, "127.0.0.4"}},
         kErrorReply,
         "Network unreachable."},
        {"another failing status counts as an echo reply",
         {{11050, 6, D::kEcho}},
         0,
         {{0, "127.0.0.6"}},
         0,
         ""},
        {"data outside the buffer are skipped",
         {{0, 1, D::kBefore},
          {0, 2, D::kPast},
          {0, 3, D::kOverrun},
          {0, 4, D::kNull},
          {0, 5, D::kEcho}},
         0,
         {{0, "127.0.0.5"}},
         0,
         ""},
        {"no record, and a failure as the reason", {}, 11050, {}, 11050, ""},
        {"no record in time", {}, plat::IP_REQ_TIMED_OUT, {}, kWaitEnded, "Timeout."},
    };
    const Scope scope;
    corvane::SetHelperFunctions(&scripted::kHelperFunctions);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        scripted::Helper() = scripted::HelperScript{row.records, row.reason};
        Layer layer;
        const char* answer = nullptr;
        ASSERT_EQ(layer.Configure("UseICMPDLL=true", &answer), 0);
        ASSERT_EQ(layer.Configure("Timeout=1", &answer), 0);
        EXPECT_EQ(layer.PingHost("127.0.0.1"), row.rc);
        std::vector<Handed> handed;
        for (const scripted::Packet& p : layer.packets)
            handed.push_back({p.type, p.source});
        EXPECT_EQ(handed, row.handed);
        if (row.rc != 0 && row.text[0] != '\0') {
            EXPECT_STREQ(layer.LastErrorText(), row.text);
        }
        EXPECT_FALSE(layer.IsActive());
    }
    corvane::SetHelperFunctions(nullptr);
}

}  // namespace
