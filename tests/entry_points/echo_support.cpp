#include "tests/entry_points/echo_support.h"

#include <thread>

#include "platform/module.h"

namespace test {

[[gnu::noinline]] std::string SlotString(intptr_t slot) {
    const char* text = reinterpret_cast<const char*>(slot);
    return text != nullptr ? std::string(text) : std::string();
}

EchoPing::EchoPing() : ping_(&EchoPing::OnEvent, this) {}

int32_t EchoPing::OnEvent(void* context, int32_t event, int32_t count, intptr_t* params,
                          int32_t* /*lengths*/) {
    auto* self = static_cast<EchoPing*>(context);
    if (event == CORVANE_PING_EVENT_RESPONSE && count == 4) {
        ResponseEvent e;
        e.requestId = static_cast<int32_t>(params[0]);
        e.source = SlotString(params[1]);
        e.status = SlotString(params[2]);
        e.time = static_cast<int32_t>(params[3]);
        e.sourceInHandler =
            SlotString(self->ping_.Get(CORVANE_PING_RESPONSE_SOURCE + CORVANE_BYTE_ID_OFFSET));
        e.requestIdInHandler = static_cast<int32_t>(self->ping_.Get(CORVANE_PING_REQUEST_ID));
        self->responses.push_back(e);
        if (self->responses.size() == 1 && self->firstHandlerMillis > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(self->firstHandlerMillis));
        }
    } else if (event == CORVANE_PING_EVENT_ERROR && count == 2) {
        self->errors.push_back({static_cast<int32_t>(params[0]), SlotString(params[1])});
    }
    return 0;
}

void EchoPing::SetTimeoutMs(int32_t millis) const {
    ping_.Config("TimeoutInMilliseconds=true");
    ping_.Set(CORVANE_PING_TIMEOUT, millis);
}

int32_t EchoPing::PingHost(const char* host) const {
    return ping_.DoWithText(CORVANE_PING_PING_HOST, {host});
}

int32_t EchoPing::WakeOnLan(const char* host, const char* mac) const {
    return ping_.DoWithText(CORVANE_PING_WAKE_ON_LAN, {host, mac});
}

std::vector<ResponseEvent> EchoPing::ResponsesTo(int32_t id) const {
    std::vector<ResponseEvent> found;
    for (const ResponseEvent& e : responses) {
        if (e.requestId == id) found.push_back(e);
    }
    return found;
}

bool HelperLibraryPresent() {
    void* module = plat::LoadLibraryA("icmp.dll");
    if (module == nullptr) return false;
    const bool present = plat::GetProcAddress(module, "IcmpSendEcho") != nullptr &&
                         plat::GetProcAddress(module, "IcmpCreateFile") != nullptr;
    plat::FreeLibrary(module);
    return present;
}

::testing::AssertionResult SendAndAwaitAnswers(EchoPing& echo, std::vector<AsyncRequest>& requests,
                                               int maxMillis) {
    for (AsyncRequest& r : requests) {
        const int32_t rc = echo.PingHost(r.host);
        if (rc != 0) {
            return ::testing::AssertionFailure()
                   << r.host << ": " << rc << " " << echo.ping().LastError();
        }
        r.id = echo.RequestId();
    }
    const bool all = echo.PumpUntil(
        [&] {
            for (const AsyncRequest& r : requests) {
                if (echo.ResponsesTo(r.id).empty()) return false;
            }
            return true;
        },
        maxMillis);
    if (!all) return ::testing::AssertionFailure() << echo.responses.size() << " responses";
    return ::testing::AssertionSuccess();
}

void ExpectOneAnswerEach(const EchoPing& echo, const std::vector<AsyncRequest>& requests) {
    for (const AsyncRequest& r : requests) {
        SCOPED_TRACE(r.host);
        const std::vector<ResponseEvent> answers = echo.ResponsesTo(r.id);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].source, r.source);
        EXPECT_EQ(answers[0].status, r.status);
        EXPECT_GE(answers[0].time, 0);
    }
}

}  // namespace test
