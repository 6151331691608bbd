// A scripted raw socket and clock for the engine's reading, matching and timing rules:
// every socket call of the engine lands here, sent messages are recorded, and received
// datagrams (or receive errors) come from a queue the test fills, with a readability
// notice posted to the socket's window as the platform would post it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/corvane20.h"
#include "engine/core/event_sink.h"
#include "engine/icmp/helper_library.h"
#include "engine/icmp/ping_core.h"
#include "platform/sockets.h"

namespace scripted {

inline constexpr plat::SOCKET kSocket = 0x4D2;
inline constexpr uint32_t kNotifyMessage = 1127;

using Bytes = std::vector<uint8_t>;

struct Datagram {
    Bytes bytes;
    int32_t error = 0;      // non-zero: the receive fails with this Winsock number
    uint8_t from[28] = {};  // the sender, in the Windows address layout
};

struct Net {
    std::deque<Datagram> queue;
    std::vector<Bytes> sent;
    std::vector<bool> sentConnected;  // send on the connected socket, not sendto
    std::vector<std::string> sentTo;  // sendto's address as text ("" for send)
    // Called after each send with the message; may queue answers.
    std::function<void(const Bytes&)> onSend;
    bool notify = true;  // post FD_READ when a datagram is queued
    plat::HWND window = nullptr;
    uint32_t message = 0;
    int opened = 0;
    int closed = 0;
    int connects = 0;
    int family = 0;
    int recvCalls = 0;
    int32_t lastError = 0;
    uint32_t tick = 1000;
    // Added to the tick count after each reading, so that every wait ends.
    uint32_t tickStep = 10;

    // Queues a datagram from a sender ("a.b.c.d" or an IPv6 text).
    void Deliver(const Bytes& bytes, const char* from = "127.0.0.1");
    void DeliverError(int32_t error);
    void Notify();
};

// The one script in force. Scope installs it (and a fresh script) for its lifetime.
Net& Current();

class Scope {
  public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    Net& net() { return Current(); }
};

// A scripted ICMP helper library: its echo writes the records of the script, each from
// 127.0.0.N, with their data behind them as the library does: the request's, or for an
// unreachable status the request's behind 28 bytes, or a pointer leading outside the buffer.
struct HelperRecord {
    enum class Data { kEcho, kUnreachable, kBefore, kPast, kOverrun, kNull };
    uint32_t status;
    uint8_t from;
    Data data;
};
struct HelperScript {
    std::vector<HelperRecord> records;
    uint32_t reason = 0;  // the thread's last error when there are no records
};
HelperScript& Helper();
// For corvane::SetHelperFunctions.
extern const corvane::HelperFunctions kHelperFunctions;

// The module's process start-up (window class, sockets, resolver), run once.
void AttachModule();

// Message builders. Multi-byte fields of the ICMP header in network order.
uint16_t Checksum(const uint8_t* data, size_t length, uint32_t sum = 0);
uint32_t PseudoSum(const uint8_t* source, const uint8_t* destination, size_t length);
Bytes WithIpv4Header(const Bytes& icmp, uint8_t first = 0x45);
// An echo reply to a request: same data, type 0 (or 129), checksum recomputed.
Bytes EchoReplyTo(const Bytes& request, uint8_t type = 0);
// An error message (type, code) quoting the request behind a 20-byte (or 40-byte)
// invoking IP header.
Bytes ErrorFor(const Bytes& request, uint8_t type, uint8_t code, size_t invokingHeader = 20);
uint32_t Le32(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t v);
bool ChecksumVerifies(const Bytes& message, uint32_t pseudoSum = 0);
bool ParseAddress(const char* text, uint8_t (&out)[28]);

// A ping object made through the engine's create entry point, with its events recorded.
struct Response {
    int32_t requestId;
    std::string source;
    std::string status;
    int32_t time;
    std::string sourceInHandler;
};
struct Error {
    int32_t code;
    std::string description;
};

class Component {
  public:
    Component();
    ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    void* handle() const { return handle_; }
    int32_t Config(const char* setting) const;
    int32_t Set(int32_t property, intptr_t value) const;
    intptr_t Get(int32_t property) const;
    std::string GetText(int32_t property) const;
    int32_t PingHost(const char* host) const;
    int32_t DoEvents() const;
    int32_t LastErrorCode() const;
    std::string LastError() const;
    // Runs DoEvents until the queue is empty and no notice is pending (bounded).
    void Pump(int passes = 8) const;

    std::vector<Response> responses;
    std::vector<Error> errors;
    int32_t responseResult = 0;  // what the Response handler returns

  private:
    static int32_t OnEvent(void* context, int32_t event, int32_t count, intptr_t* params,
                           int32_t* lengths);
    void* handle_;
};

// The ping layer alone, with an event sink of its own and a record of every message the
// reading hands to OnIcmpPacket.
struct Packet {
    uint8_t type;
    uint8_t code;
    Bytes data;
    bool checksumOk;
    std::string source;
};

class Layer : public corvane::EventSink, public corvane::PingCore {
  public:
    Layer();
    ~Layer() override;

    void CodePageChanged(int32_t) override {}
    int32_t FireError(int32_t code, const char* description) override;
    int32_t FireResponse(int32_t requestId, const char* source, const char* status,
                         int32_t time) override;
    void Destroy() override {}

    // A readability notice, as the socket window receives it.
    void Readable();
    int32_t Hand(uint8_t type, uint8_t code, const Bytes& data, const char* source) {
        return OnIcmpPacket(type, code, data.data(), static_cast<uint32_t>(data.size()), true,
                            source);
    }

    std::vector<Packet> packets;
    std::vector<Response> responses;
    std::vector<Error> errors;

  protected:
    int32_t OnIcmpPacket(uint8_t type, uint8_t code, const uint8_t* data, uint32_t length,
                         bool checksumOk, const char* source) override;
};

}  // namespace scripted
