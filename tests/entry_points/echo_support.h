// What the echo tests share: a ping object that records every event it fires, with the
// properties the handler could read at that moment, and bounded waits on the event pump.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/entry_points/engine_module.h"

namespace test {

// The Winsock number of a raw socket the system refused to this process.
inline constexpr int32_t kWsaAccessDenied = 10013;
inline constexpr const char* kNeedRawSockets =
    "raw ICMP sockets need root or CAP_NET_RAW (the exchange opens one)";

struct ResponseEvent {
    int32_t requestId = 0;
    std::string source;
    std::string status;
    int32_t time = 0;
    // The properties as the handler reads them.
    std::string sourceInHandler;
    int32_t requestIdInHandler = 0;
};

struct ErrorEvent {
    int32_t code = 0;
    std::string description;
};

// The text an event or result slot points at, null read as empty. Out of line, for the
// reason engine_module.cpp gives.
std::string SlotString(intptr_t slot);

// A ping object with the component's start-up settings and an event log.
class EchoPing {
  public:
    EchoPing();
    EchoPing(const EchoPing&) = delete;
    EchoPing& operator=(const EchoPing&) = delete;

    const Ping& ping() const { return ping_; }
    int32_t Config(const char* setting) const { return ping_.Config(setting); }
    // Timeout in milliseconds (TimeoutInMilliseconds on).
    void SetTimeoutMs(int32_t millis) const;
    int32_t PingHost(const char* host) const;
    int32_t WakeOnLan(const char* host, const char* mac) const;
    bool Active() const { return ping_.Get(CORVANE_PING_ACTIVE) != 0; }
    int32_t RequestId() const { return static_cast<int32_t>(ping_.Get(CORVANE_PING_REQUEST_ID)); }
    std::string ResponseSource() const { return ping_.GetText(CORVANE_PING_RESPONSE_SOURCE); }
    int32_t ResponseTime() const {
        return static_cast<int32_t>(ping_.Get(CORVANE_PING_RESPONSE_TIME));
    }

    // DoEvents until done() holds or maxMillis have passed; whether done() held.
    template <typename Done>
    bool PumpUntil(Done done, int maxMillis) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMillis);
        // Each pass sleeps at most SelectWaitMillis (20 ms), so the count bound is loose.
        for (int pass = 0; pass < maxMillis + 100; ++pass) {
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) break;
            ping_.Do(CORVANE_PING_DO_EVENTS);
        }
        return done();
    }
    // The responses whose RequestId is id.
    std::vector<ResponseEvent> ResponsesTo(int32_t id) const;

    std::vector<ResponseEvent> responses;
    std::vector<ErrorEvent> errors;
    // A slow handler: the first Response handler sleeps this long, so that whatever
    // arrives meanwhile is queued when the exchange closes its port.
    int firstHandlerMillis = 0;

  private:
    static int32_t OnEvent(void* context, int32_t event, int32_t count, intptr_t* params,
                           int32_t* lengths);

    Ping ping_;
};

// Milliseconds since a steady-clock point.
inline int64_t MillisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Whether the platform carries the helper library ("icmp.dll") with its echo function.
bool HelperLibraryPresent();

// An asynchronous request sent on an open port, and the one answer it must get.
struct AsyncRequest {
    const char* host;
    const char* source;  // of the answer
    const char* status;
    int32_t id = 0;  // its RequestId, once sent
};

// Sends the requests one after another (recording their RequestIds), then pumps until each
// has an answer or maxMillis have passed.
::testing::AssertionResult SendAndAwaitAnswers(EchoPing& echo, std::vector<AsyncRequest>& requests,
                                               int maxMillis);
// Each request got exactly one answer, from its source with its status.
void ExpectOneAnswerEach(const EchoPing& echo, const std::vector<AsyncRequest>& requests);

}  // namespace test
