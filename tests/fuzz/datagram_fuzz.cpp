// Received datagrams through the reading and matching path, fed by the scripted socket
// in a blocking or an asynchronous exchange. The input is a byte of switches, a byte of
// PacketSize, then records: raw bytes, an echo reply or an ICMP error message built from
// the request actually sent (then flipped and cut by the input), a failed receive, or an
// empty read. IPv4 records get an IP header (plain, or with the input's first byte).
#include <string>
#include <vector>

#include "tests/engine/scripted_socket.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using scripted::Bytes;

struct Record {
    uint8_t kind;
    Bytes payload;
};

std::vector<Record> Records(const uint8_t* data, size_t size) {
    std::vector<Record> records;
    size_t i = 0;
    while (i + 2 <= size && records.size() < 12) {
        Record r;
        r.kind = data[i];
        const size_t length = std::min<size_t>(data[i + 1], size - i - 2);
        r.payload.assign(data + i + 2, data + i + 2 + length);
        records.push_back(std::move(r));
        i += 2 + length;
    }
    return records;
}

// Pairs of (offset, mask) from the payload, from byte `from` on, XORed into the message.
void Flip(Bytes& message, const Bytes& payload, size_t from) {
    for (size_t i = from; i + 1 < payload.size() && !message.empty(); i += 2)
        message[payload[i] % message.size()] ^= payload[i + 1];
}

constexpr int32_t kReceiveErrors[] = {10035, 10038, 10054, 10050, 10040, 10065, 10004, 10014};

void Queue(scripted::Net& net, const Record& r, const Bytes& request, bool ipv6) {
    const uint8_t at0 = r.payload.empty() ? 0 : r.payload[0];
    const uint8_t at1 = r.payload.size() < 2 ? 0 : r.payload[1];
    const uint8_t at2 = r.payload.size() < 3 ? 0 : r.payload[2];
    const char* from = ipv6 ? "::1" : "127.0.0.1";
    Bytes message;
    switch (r.kind % 6) {
        case 0:  // as given, IP header and all
            net.Deliver(r.payload, from);
            return;
        case 1:  // the matching echo reply, flipped
            message = scripted::EchoReplyTo(request, ipv6 ? 129 : 0);
            Flip(message, r.payload, 0);
            break;
        case 2:  // an error message quoting the request, cut to a length, flipped
            message = scripted::ErrorFor(request, ipv6 ? (at0 & 1 ? 1 : 3) : (at0 & 1 ? 3 : at0),
                                         at1, ipv6 ? 40 : 20);
            if (at2 != 0 && at2 < message.size()) message.resize(at2);
            Flip(message, r.payload, 3);
            break;
        case 3:
            net.DeliverError(kReceiveErrors[at0 % (sizeof kReceiveErrors / sizeof(int32_t))]);
            return;
        case 4:
            net.Deliver(Bytes{}, from);
            return;
        case 5:  // the echo reply behind a header whose first byte the input gives
            message = scripted::EchoReplyTo(request, ipv6 ? 129 : 0);
            if (!ipv6) {
                net.Deliver(scripted::WithIpv4Header(message, at0), from);
                return;
            }
            break;
    }
    net.Deliver(ipv6 ? message : scripted::WithIpv4Header(message), from);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool synchronous = (data[0] & 1) != 0;
    const bool ipv6 = (data[0] & 2) != 0;
    const bool absolute = (data[0] & 4) != 0;
    const int32_t packetSize = 8 + data[1];
    const std::vector<Record> records = Records(data + 2, size - 2);

    scripted::Scope scope;
    scripted::Net& net = scope.net();
    scripted::Component ping;
    FUZZ_CHECK(ping.handle() != nullptr);
    if (ipv6) FUZZ_CHECK(ping.Config("UseIPv6=true") == 0);
    FUZZ_CHECK(ping.Config(absolute ? "AbsoluteTimeout=true" : "AbsoluteTimeout=false") == 0);
    FUZZ_CHECK(ping.Set(CORVANE_PING_PACKET_SIZE, packetSize) == 0);
    const char* host = ipv6 ? "::1" : "127.0.0.1";

    if (synchronous) {
        // 50 ms on a clock that moves 10 ms per reading: every wait ends soon.
        FUZZ_CHECK(ping.Config("TimeoutInMilliseconds=true") == 0);
        FUZZ_CHECK(ping.Set(CORVANE_PING_TIMEOUT, 50) == 0);
        net.onSend = [&](const Bytes& request) {
            for (const Record& r : records)
                Queue(net, r, request, ipv6);
        };
        const int32_t rc = ping.PingHost(host);
        net.onSend = nullptr;
        FUZZ_CHECK(rc == 0 || rc == 127 || rc == 301);
        FUZZ_CHECK(ping.Get(CORVANE_PING_ACTIVE) == 0);  // a blocking exchange closes
        const int32_t id = static_cast<int32_t>(ping.Get(CORVANE_PING_REQUEST_ID));
        for (const scripted::Response& r : ping.responses)
            FUZZ_CHECK(r.requestId == id);  // only its own answers are matched
        if (rc == 0) {
            FUZZ_CHECK(!ping.responses.empty());
            for (const scripted::Response& r : ping.responses)
                FUZZ_CHECK(r.status == "OK");
        }
        if (rc == 127) {
            // The text is the status of the last error message accepted.
            std::string last;
            for (const scripted::Response& r : ping.responses)
                if (r.status != "OK") last = r.status;
            FUZZ_CHECK(!last.empty());
            FUZZ_CHECK(ping.LastError() == last);
        }
    } else {
        FUZZ_CHECK(ping.Set(CORVANE_PING_TIMEOUT, 0) == 0);
        const int32_t rc = ping.PingHost(host);
        FUZZ_CHECK(rc == 0);
        FUZZ_CHECK(net.sent.size() == 1);
        const Bytes request = net.sent[0];
        for (const Record& r : records)
            Queue(net, r, request, ipv6);
        ping.Pump(static_cast<int>(records.size()) + 4);
        FUZZ_CHECK(ping.Get(CORVANE_PING_ACTIVE) != 0);  // the port stays open
        FUZZ_CHECK(ping.responses.size() <= records.size());
    }
    for (const scripted::Error& e : ping.errors) {
        FUZZ_CHECK(
            (e.code == 119 && e.description == "Message too short.") ||
            (e.code != 10035 && e.code != 10038 && e.description == "Winsock error in recv()"));
    }
    for (const scripted::Response& r : ping.responses) {
        FUZZ_CHECK(r.source == host);
        FUZZ_CHECK(!r.status.empty());
    }
    return 0;
}
