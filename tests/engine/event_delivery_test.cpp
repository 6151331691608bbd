// How the ping object hands its events to the host callback: parameter layout, byte and
// UTF-16 strings, and what a failing handler leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/corvane20.h"
#include "engine/core/ping_component.h"
#include "tests/support/utf.h"

namespace {

using corvane::PingComponent;

constexpr char kResponseHandlerFailed[] =
    "An unhandled error occurred in the Response event handler";
constexpr char kErrorHandlerFailed[] = "An unhandled error occurred in the Error event handler";

using test::Utf8;

// A parameter as the host saw it: an integer, or a text (nullopt for a null pointer),
// UTF-16 texts turned into UTF-8 for comparison.
struct Value {
    intptr_t number = 0;
    std::optional<std::string> text;
    bool isText = false;

    static Value Number(intptr_t n) { return {n, std::nullopt, false}; }
    static Value Text(const char* t) {
        return {0, t != nullptr ? std::optional<std::string>(t) : std::nullopt, true};
    }
    bool operator==(const Value&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Value& v) {
    if (!v.isText) return os << v.number;
    return v.text ? os << '"' << *v.text << '"' : os << "null";
}

struct Event {
    int32_t id = 0;
    int32_t count = 0;
    std::vector<Value> params;
    intptr_t trailingSlot = -1;
    bool lengthsAllZero = false;
    void* context = nullptr;
};

struct Recorder {
    bool wide = false;
    int32_t responseResult = 0;
    int32_t errorResult = 0;
    std::vector<Event> events;
};

bool IsTextSlot(int32_t event, int32_t slot) {
    if (event == CORVANE_PING_EVENT_ERROR) return slot == 1;
    return slot == 1 || slot == 2;
}

int32_t Record(void* context, int32_t event, int32_t count, intptr_t* params, int32_t* lengths) {
    auto* recorder = static_cast<Recorder*>(context);
    Event e;
    e.id = event;
    e.count = count;
    e.context = context;
    constexpr int32_t kMaxRecorded = 8;
    for (int32_t i = 0; i < count && i < kMaxRecorded; ++i) {
        if (!IsTextSlot(event, i)) {
            e.params.push_back(Value::Number(params[i]));
        } else if (params[i] == 0) {
            e.params.push_back(Value::Text(nullptr));
        } else if (recorder->wide) {
            e.params.push_back(
                Value::Text(Utf8(reinterpret_cast<const char16_t*>(params[i])).c_str()));
        } else {
            e.params.push_back(Value::Text(reinterpret_cast<const char*>(params[i])));
        }
    }
    e.trailingSlot = params[count];
    e.lengthsAllZero = true;
    for (int32_t i = 0; i <= count && i <= kMaxRecorded; ++i)
        e.lengthsAllZero = e.lengthsAllZero && lengths[i] == 0;
    recorder->events.push_back(e);
    return event == CORVANE_PING_EVENT_RESPONSE ? recorder->responseResult : recorder->errorResult;
}

// A ping object made by the engine's own create entry point, destroyed at scope exit.
class Object {
  public:
    Object(Recorder* recorder, int32_t options)
        : handle_(Corvane_Ping_Create(recorder != nullptr ? &Record : nullptr, recorder, nullptr,
                                      options)) {}
    ~Object() { Corvane_Ping_Destroy(handle_); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    PingComponent& operator*() const { return *static_cast<PingComponent*>(handle_); }
    PingComponent* operator->() const { return static_cast<PingComponent*>(handle_); }
    void* handle() const { return handle_; }
    bool ok() const { return handle_ != nullptr; }

    int32_t Config(const char* setting) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
        int32_t lengths[2] = {};
        return Corvane_Ping_Do(handle_, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    }

  private:
    void* handle_;
};

enum class Fire { kResponse, kError };

struct FireCall {
    Fire kind;
    int32_t number;      // RequestId or ErrorCode
    const char* first;   // ResponseSource or Description
    const char* second;  // ResponseStatus
    int32_t time;        // ResponseTime

    void On(PingComponent& ping) const {
        if (kind == Fire::kResponse) {
            ping.FireResponse(number, first, second, time);
        } else {
            ping.FireError(number, first);
        }
    }
};

FireCall Response(int32_t id, const char* source, const char* status, int32_t time) {
    return {Fire::kResponse, id, source, status, time};
}

FireCall Error(int32_t code, const char* description) {
    return {Fire::kError, code, description, nullptr, 0};
}

TEST(EventDelivery, ParametersReachTheCallback) {
    struct Row {
        const char* what;
        int32_t options;
        const char* codePage;  // Config string, or null to keep the default
        FireCall call;
        int32_t event;
        std::vector<Value> params;
    };
    const Row rows[] = {
        {"response, bytes",
         0,
         nullptr,
         Response(5, "10.0.0.1", "Success", 12),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(5), Value::Text("10.0.0.1"), Value::Text("Success"), Value::Number(12)}},
        {"integers are sign-extended",
         0,
         nullptr,
         Response(-3, "a", "b", -1),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(-3), Value::Text("a"), Value::Text("b"), Value::Number(-1)}},
        {"extreme integers",
         0,
         nullptr,
         Response(INT32_MIN, "a", "b", INT32_MAX),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(INT32_MIN), Value::Text("a"), Value::Text("b"), Value::Number(INT32_MAX)}},
        {"missing texts, bytes",
         0,
         nullptr,
         Response(1, nullptr, nullptr, 0),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(1), Value::Text(""), Value::Text(""), Value::Number(0)}},
        {"error, bytes",
         0,
         nullptr,
         Error(301, "Timeout."),
         CORVANE_PING_EVENT_ERROR,
         {Value::Number(301), Value::Text("Timeout.")}},
        {"error, negative code, missing text",
         0,
         nullptr,
         Error(-1, nullptr),
         CORVANE_PING_EVENT_ERROR,
         {Value::Number(-1), Value::Text("")}},
        {"bytes stay in the object's code page",
         0,
         "CodePage=1252",
         Response(2, "caf\xE9", "ok", 3),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(2), Value::Text("caf\xE9"), Value::Text("ok"), Value::Number(3)}},
        {"other option bits keep bytes",
         2,
         nullptr,
         Error(10060,
               "Gr\xC3\xBC\xC3\x9F"
               "e"),
         CORVANE_PING_EVENT_ERROR,
         {Value::Number(10060), Value::Text("Gr\xC3\xBC\xC3\x9F"
                                            "e")}},
        {"response, UTF-16",
         1,
         "CodePage=65001",
         Response(7, "fe80::1",
                  "Gr\xC3\xBC\xC3\x9F"
                  "e \xE5\xB7\xA5",
                  9),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(7), Value::Text("fe80::1"),
          Value::Text("Gr\xC3\xBC\xC3\x9F"
                      "e \xE5\xB7\xA5"),
          Value::Number(9)}},
        {"UTF-16 from the object's code page",
         3,
         "CodePage=1252",
         Response(1, "caf\xE9", "\x80", 2),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(1), Value::Text("caf\xC3\xA9"), Value::Text("\xE2\x82\xAC"),
          Value::Number(2)}},
        {"missing and empty texts, UTF-16",
         1,
         nullptr,
         Response(1, nullptr, "", 0),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(1), Value::Text(""), Value::Text(""), Value::Number(0)}},
        {"failed UTF-16 conversion is null",
         1,
         "CodePage=12345",
         Response(4, "10.0.0.1", "", 5),
         CORVANE_PING_EVENT_RESPONSE,
         {Value::Number(4), Value::Text(nullptr), Value::Text(""), Value::Number(5)}},
        {"failed UTF-16 conversion of an error text",
         1,
         "CodePage=12345",
         Error(6, "text"),
         CORVANE_PING_EVENT_ERROR,
         {Value::Number(6), Value::Text(nullptr)}},
        {"missing error text needs no conversion",
         1,
         "CodePage=12345",
         Error(6, nullptr),
         CORVANE_PING_EVENT_ERROR,
         {Value::Number(6), Value::Text("")}},
    };
    for (const Row& row : rows) {
        Recorder recorder;
        recorder.wide = (row.options & CORVANE_OPTION_WIDE_EVENTS) != 0;
        Object ping(&recorder, row.options);
        ASSERT_TRUE(ping.ok());
        if (row.codePage != nullptr) {
            ASSERT_EQ(ping.Config(row.codePage), 0) << row.what;
        }
        row.call.On(*ping);
        ASSERT_EQ(recorder.events.size(), 1u) << row.what;
        const Event& e = recorder.events[0];
        EXPECT_EQ(e.id, row.event) << row.what;
        EXPECT_EQ(e.count, static_cast<int32_t>(row.params.size())) << row.what;
        EXPECT_EQ(e.params, row.params) << row.what;
        EXPECT_EQ(e.trailingSlot, 0) << row.what << ": slot after the parameters";
        EXPECT_TRUE(e.lengthsAllZero) << row.what;
        EXPECT_EQ(e.context, &recorder) << row.what;
        EXPECT_EQ(ping->EventErrorCode(), 0) << row.what;
    }
}

TEST(EventDelivery, WithoutCallbackNothingIsDelivered) {
    Object ping(nullptr, CORVANE_OPTION_WIDE_EVENTS);
    ASSERT_TRUE(ping.ok());
    EXPECT_EQ(ping->FireResponse(1, "10.0.0.1", "Success", 2), 0);
    EXPECT_EQ(ping->FireError(301, "Timeout."), 0);
    EXPECT_EQ(ping->EventErrorCode(), 0);
    EXPECT_STREQ(ping->EventErrorText(), "");
}

struct Delivered {
    int32_t id;
    Value code;
    Value text;
};

TEST(EventDelivery, FailingHandlersRecordTheEventError) {
    struct Row {
        const char* what;
        int32_t options;
        FireCall call;
        int32_t responseResult;
        int32_t errorResult;
        int32_t presetCode;
        const char* presetText;
        std::vector<Delivered> expected;  // the first slot and text of each event, in order
        int32_t eventErrorCode;
        const char* eventErrorText;
    };
    const Row rows[] = {
        {"successful response",
         0,
         Response(5, "s", "ok", 1),
         0,
         0,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")}},
         0,
         ""},
        {"failing response reports an error",
         0,
         Response(5, "s", "ok", 1),
         7,
         0,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")},
          {CORVANE_PING_EVENT_ERROR, Value::Number(7), Value::Text(kResponseHandlerFailed)}},
         7,
         kResponseHandlerFailed},
        {"failing response, UTF-16 error text",
         1,
         Response(5, "s", "ok", 1),
         7,
         0,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")},
          {CORVANE_PING_EVENT_ERROR, Value::Number(7), Value::Text(kResponseHandlerFailed)}},
         7,
         kResponseHandlerFailed},
        {"negative handler code",
         0,
         Response(5, "s", "ok", 1),
         -5,
         0,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")},
          {CORVANE_PING_EVENT_ERROR, Value::Number(-5), Value::Text(kResponseHandlerFailed)}},
         -5,
         kResponseHandlerFailed},
        {"failing response and failing error handler",
         0,
         Response(5, "s", "ok", 1),
         7,
         9,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")},
          {CORVANE_PING_EVENT_ERROR, Value::Number(7), Value::Text(kResponseHandlerFailed)}},
         7,
         kResponseHandlerFailed},
        {"failing error handler fires nothing more",
         0,
         Error(3, "x"),
         0,
         9,
         0,
         nullptr,
         {{CORVANE_PING_EVENT_ERROR, Value::Number(3), Value::Text("x")}},
         9,
         kErrorHandlerFailed},
        {"event error already recorded by the host",
         0,
         Response(5, "s", "ok", 1),
         7,
         0,
         5,
         "host text",
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")}},
         5,
         "host text"},
        {"error handler, event error already recorded",
         0,
         Error(3, "x"),
         0,
         9,
         5,
         "host text",
         {{CORVANE_PING_EVENT_ERROR, Value::Number(3), Value::Text("x")}},
         5,
         "host text"},
        {"a code without text does not block",
         0,
         Response(5, "s", "ok", 1),
         7,
         0,
         4,
         nullptr,
         {{CORVANE_PING_EVENT_RESPONSE, Value::Number(5), Value::Text("s")},
          {CORVANE_PING_EVENT_ERROR, Value::Number(7), Value::Text(kResponseHandlerFailed)}},
         7,
         kResponseHandlerFailed},
    };
    for (const Row& row : rows) {
        Recorder recorder;
        recorder.wide = (row.options & CORVANE_OPTION_WIDE_EVENTS) != 0;
        recorder.responseResult = row.responseResult;
        recorder.errorResult = row.errorResult;
        Object ping(&recorder, row.options);
        ASSERT_TRUE(ping.ok());
        ping->SetEventErrorAndCode(row.presetCode, row.presetText);
        ping->SetLastErrorAndCode(42, "the operation's own error");

        row.call.On(*ping);

        ASSERT_EQ(recorder.events.size(), row.expected.size()) << row.what;
        for (size_t i = 0; i < row.expected.size(); ++i) {
            const Event& e = recorder.events[i];
            EXPECT_EQ(e.id, row.expected[i].id) << row.what << " event " << i;
            ASSERT_GE(e.params.size(), 2u) << row.what;
            EXPECT_EQ(e.params[0], row.expected[i].code) << row.what << " event " << i;
            EXPECT_EQ(e.params[1], row.expected[i].text) << row.what << " event " << i;
        }
        EXPECT_EQ(ping->EventErrorCode(), row.eventErrorCode) << row.what;
        EXPECT_STREQ(ping->EventErrorText(), row.eventErrorText) << row.what;
        EXPECT_EQ(ping->LastErrorCode(), 42) << row.what;
        EXPECT_STREQ(ping->LastErrorText(), "the operation's own error") << row.what;
    }
}

TEST(EventDelivery, ErrorIsReportedAgainOnlyAfterTheEventErrorIsCleared) {
    Recorder recorder;
    recorder.responseResult = 7;
    Object ping(&recorder, 0);
    ASSERT_TRUE(ping.ok());

    struct Step {
        const char* what;
        int32_t responseResult;
        bool clearFirst;
        size_t events;  // delivered by this step
        int32_t eventErrorCode;
    };
    const Step steps[] = {
        {"first failure", 7, false, 2, 7},
        {"second failure", 7, false, 1, 7},
        {"failure with another code", 8, false, 1, 7},
        {"success", 0, false, 1, 7},
        {"failure after clearing", 8, true, 2, 8},
        {"failure again", 9, false, 1, 8},
    };
    for (const Step& step : steps) {
        if (step.clearFirst) {
            EXPECT_EQ(Corvane_Ping_SetEventErrorAndCode(ping.handle(), 0, nullptr), 0);
            EXPECT_EQ(Corvane_Ping_GetEventErrorCode(ping.handle()), 0);
            EXPECT_STREQ(Corvane_Ping_GetEventError(ping.handle()), "");
        }
        recorder.responseResult = step.responseResult;
        recorder.events.clear();
        ping->FireResponse(1, "10.0.0.1", "Success", 1);
        ASSERT_EQ(recorder.events.size(), step.events) << step.what;
        EXPECT_EQ(recorder.events[0].id, CORVANE_PING_EVENT_RESPONSE) << step.what;
        if (step.events == 2) {
            EXPECT_EQ(recorder.events[1].id, CORVANE_PING_EVENT_ERROR) << step.what;
            EXPECT_EQ(recorder.events[1].params[0], Value::Number(step.responseResult))
                << step.what;
        }
        EXPECT_EQ(Corvane_Ping_GetEventErrorCode(ping.handle()), step.eventErrorCode) << step.what;
        EXPECT_STREQ(Corvane_Ping_GetEventError(ping.handle()), kResponseHandlerFailed)
            << step.what;
    }
}

}  // namespace
