// The ping component against a scripted entry-point table, for what the real engine does
// not produce on demand: missing slots, a refused creation, scripted results and events.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/crvping/crvping.h"
#include "component/crvping/entry_points.h"

namespace {

using crv::EcrvPing;
using crv::EntryPoints;
using crv::TcrvPing;

// What the scripted engine saw and what it answers.
struct Script {
    void* handle = reinterpret_cast<void*>(0x1000);
    CorvaneEventCallback callback = nullptr;
    void* context = nullptr;
    int32_t options = -1;
    std::vector<std::u16string> configs;
    std::vector<int32_t> sets;
    int32_t setResult = 0;
    int32_t doResult = 0;
    const char* lastError = "";
    const char16_t* configAnswer = u"";
    int destroyed = 0;
    int32_t eventErrorCode = 0;
    std::string eventErrorText;
    std::function<void()> duringCall;  // what the engine does inside a Set or a method
} g;

void* FakeCreate(CorvaneEventCallback callback, void* context, const char*, int32_t options) {
    g.callback = callback;
    g.context = context;
    g.options = options;
    return g.handle;
}
int32_t FakeDestroy(void*) {
    return ++g.destroyed, 0;
}
int32_t FakeSet(void*, int32_t property, int32_t, intptr_t, int32_t) {
    g.sets.push_back(property);
    if (g.duringCall) g.duringCall();
    return g.setResult;
}
intptr_t FakeGet(void*, int32_t, int32_t, int32_t*, int64_t) {
    return 0;
}
int32_t FakeDo(void*, int32_t method, int32_t, intptr_t* params, int32_t*, int64_t) {
    if (method == CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET) {
        g.configs.emplace_back(reinterpret_cast<const char16_t*>(params[0]));
        params[1] = reinterpret_cast<intptr_t>(g.configAnswer);
    }
    if (g.duringCall) g.duringCall();
    return g.doResult;
}
const char* FakeLastError(void*) {
    return g.lastError;
}
int32_t FakeSetEventError(void*, int32_t code, const char* text) {
    g.eventErrorCode = code;
    g.eventErrorText = text != nullptr ? text : "";
    return code;
}

class ComponentWithFakeEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        g = Script{};
        crv::ClearEntryPoints();
        crv::EntryPointTable& e = EntryPoints();
        e.Create = FakeCreate;
        e.Destroy = FakeDestroy;
        e.Set = FakeSet;
        e.Get = FakeGet;
        e.Do = FakeDo;
        e.GetLastError = FakeLastError;
        e.SetEventErrorAndCode = FakeSetEventError;
    }
    void TearDown() override { crv::ClearEntryPoints(); }

    // Delivers an event as the engine would, through the callback it was given.
    static int32_t Fire(int32_t event, std::vector<intptr_t> params) {
        std::vector<int32_t> lengths(params.size(), 0);
        return g.callback(g.context, event, static_cast<int32_t>(params.size()) - 1, params.data(),
                          lengths.data());
    }
    static int32_t FireResponse() {
        return Fire(CORVANE_PING_EVENT_RESPONSE, {7, reinterpret_cast<intptr_t>(u"10.0.0.1"),
                                                  reinterpret_cast<intptr_t>(u"OK"), 3, 0});
    }
};

TEST_F(ComponentWithFakeEngine, ConstructionSendsDefaultsAndCodePage) {
    {
        TcrvPing ping;
        EXPECT_EQ(g.options, CORVANE_OPTION_WIDE_EVENTS);
        EXPECT_EQ(g.context, &ping);
        EXPECT_EQ(g.sets, (std::vector<int32_t>{CORVANE_PING_PACKET_SIZE,
                                                CORVANE_PING_REMOTE_HOST + CORVANE_WIDE_ID_OFFSET,
                                                CORVANE_PING_TIMEOUT}));
        EXPECT_EQ(g.configs, std::vector<std::u16string>{u"CodePage=65001"});
    }
    EXPECT_EQ(g.destroyed, 1);
}

// A refused default is skipped; the refused code page is not.
TEST_F(ComponentWithFakeEngine, RefusedDefaultsAndCodePage) {
    g.setResult = 87;
    EXPECT_NO_THROW(TcrvPing ping);
    g.setResult = 0;
    g.doResult = 5;
    g.lastError = "no";
    try {
        TcrvPing ping;
        ADD_FAILURE() << "construction went on";
    } catch (const EcrvPing& e) {
        EXPECT_EQ(e.Code, 5);
        EXPECT_EQ(e.Message(), u"5: no");
    }
    // The half-built component gave its engine object back.
    EXPECT_EQ(g.destroyed, 2);
}

TEST_F(ComponentWithFakeEngine, CreationRefused) {
    struct Row {
        const char* name;
        bool createSlot;
    };
    for (const Row row : {Row{"null slot", false}, Row{"null handle", true}}) {
        EntryPoints().Create = row.createSlot ? FakeCreate : nullptr;
        g.handle = nullptr;
        try {
            TcrvPing ping;
            ADD_FAILURE() << row.name;
        } catch (const EcrvPing& e) {
            EXPECT_EQ(e.Code, -1) << row.name;
            EXPECT_EQ(e.Message(), u"-1: Corvane Ping: Error creating component") << row.name;
            EXPECT_STREQ(e.what(), "-1: Corvane Ping: Error creating component") << row.name;
        }
    }
    EXPECT_EQ(g.destroyed, 0);
}

TEST_F(ComponentWithFakeEngine, EmptyEngineTextGivesCodeAndColon) {
    TcrvPing ping;
    g.setResult = 301;
    g.lastError = "";
    try {
        ping.SetTimeout(1);
        ADD_FAILURE();
    } catch (const EcrvPing& e) {
        EXPECT_EQ(e.Code, 301);
        EXPECT_EQ(e.Message(), u"301: ");
    }
}

// Without Get, Set, Do or Destroy, reads are empty and writes and methods do nothing.
TEST_F(ComponentWithFakeEngine, MissingSlots) {
    TcrvPing ping;
    EntryPoints().Get = nullptr;
    EntryPoints().Set = nullptr;
    EntryPoints().Do = nullptr;
    EntryPoints().Destroy = nullptr;
    EXPECT_EQ(ping.PacketSize(), 0);
    EXPECT_FALSE(ping.Active());
    EXPECT_EQ(ping.RemoteHost(), u"");
    EXPECT_NO_THROW(ping.SetTimeout(5));
    EXPECT_EQ(ping.Config(u"Timeout"), u"");
    EXPECT_NO_THROW(ping.PingHost(u"127.0.0.1"));
    EXPECT_NO_THROW(ping.WakeOnLAN(u"127.0.0.1", u"00:11:22:33:44:55"));
}

TEST_F(ComponentWithFakeEngine, ConfigAnswerIsCopied) {
    TcrvPing ping;
    g.configAnswer = u"a long answer that is well beyond any small-string buffer";
    EXPECT_EQ(ping.Config(u"Anything"), g.configAnswer);
    g.configAnswer = nullptr;
    EXPECT_EQ(ping.Config(u"Anything"), u"");
}

// Events with no handler are consumed without reading their strings.
TEST_F(ComponentWithFakeEngine, NoHandlers) {
    TcrvPing ping;
    const intptr_t poison = 1;  // any read of it would crash
    EXPECT_EQ(Fire(CORVANE_PING_EVENT_RESPONSE, {7, poison, poison, 3, 0}), 0);
    EXPECT_EQ(Fire(CORVANE_PING_EVENT_ERROR, {5, poison, 0}), 0);
    EXPECT_EQ(Fire(99, {0}), 0);
}

TEST_F(ComponentWithFakeEngine, HandlersGetTheEvent) {
    TcrvPing ping;
    std::u16string seen;
    ping.OnResponse = [&](TcrvPing& sender, int32_t id, const std::u16string& source,
                          const std::u16string& status, int32_t time) {
        EXPECT_EQ(&sender, &ping);
        seen = source + u"|" + status;
        EXPECT_EQ(id, 7);
        EXPECT_EQ(time, 3);
    };
    EXPECT_EQ(FireResponse(), 0);
    EXPECT_EQ(seen, u"10.0.0.1|OK");
    int32_t errorCode = 0;
    ping.OnError = [&](TcrvPing&, int32_t code, const std::u16string& text) {
        errorCode = code;
        seen = text;
    };
    EXPECT_EQ(
        Fire(CORVANE_PING_EVENT_ERROR, {119, reinterpret_cast<intptr_t>(u"Message too short."), 0}),
        0);
    EXPECT_EQ(errorCode, 119);
    EXPECT_EQ(seen, u"Message too short.");
}

// What a raising handler makes of the event error, the callback result and OnError.
TEST_F(ComponentWithFakeEngine, RaisingHandlers) {
    struct Row {
        const char* name;
        void (*raise)();
        int32_t code;
        const char16_t* text;
    };
    const Row rows[] = {
        {"ordinary", [] { throw std::runtime_error("M"); }, -1,
         u"An unhandled error occurred in the Response event handler: M"},
        {"engine error", [] { throw EcrvPing::CreateCode(42, "deep"); }, 42, u"42: deep"},
        {"not an exception class", [] { throw 3; }, -1,
         u"An unhandled error occurred in the Response event handler: unknown exception"},
    };
    for (const Row& row : rows) {
        TcrvPing ping;
        std::vector<std::pair<int32_t, std::u16string>> errors;
        ping.OnResponse = [&](TcrvPing&, int32_t, const std::u16string&, const std::u16string&,
                              int32_t) { row.raise(); };
        ping.OnError = [&](TcrvPing&, int32_t code, const std::u16string& text) {
            errors.emplace_back(code, text);
        };
        EXPECT_EQ(FireResponse(), row.code) << row.name;
        ASSERT_EQ(errors.size(), 1u) << row.name;
        EXPECT_EQ(errors[0].first, row.code) << row.name;
        EXPECT_EQ(errors[0].second, row.text) << row.name;
        EXPECT_EQ(g.eventErrorCode, row.code) << row.name;
        EXPECT_EQ(crv::FromAnsi(g.eventErrorText), row.text) << row.name;
    }
}

// An OnError that raises is reported once and not called again for its own exception;
// one that raises while reporting a Response failure is swallowed.
TEST_F(ComponentWithFakeEngine, RaisingErrorHandler) {
    TcrvPing ping;
    int calls = 0;
    ping.OnError = [&](TcrvPing&, int32_t, const std::u16string&) {
        ++calls;
        throw std::runtime_error("again");
    };
    EXPECT_EQ(Fire(CORVANE_PING_EVENT_ERROR, {5, reinterpret_cast<intptr_t>(u"x"), 0}), -1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(crv::FromAnsi(g.eventErrorText),
              u"An unhandled error occurred in the Error event handler: again");

    ping.OnResponse = [&](TcrvPing&, int32_t, const std::u16string&, const std::u16string&,
                          int32_t) { throw std::runtime_error("first"); };
    calls = 0;
    EXPECT_EQ(FireResponse(), -1);
    EXPECT_EQ(calls, 1);
}

// A handler may replace itself, or the other handler, while it runs.
TEST_F(ComponentWithFakeEngine, HandlersReplacedFromInside) {
    TcrvPing ping;
    int first = 0;
    int second = 0;
    ping.OnResponse = [&](TcrvPing& sender, int32_t, const std::u16string&, const std::u16string&,
                          int32_t) {
        ++first;
        sender.OnResponse = [&](TcrvPing&, int32_t, const std::u16string&, const std::u16string&,
                                int32_t) { ++second; };
    };
    EXPECT_EQ(FireResponse(), 0);
    EXPECT_EQ(FireResponse(), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

// A handler that deletes its component inside one of the component's calls: the call
// touches nothing of it on the way out and ends with the engine's result for that ending.
TEST_F(ComponentWithFakeEngine, DeletedByItsOwnHandler) {
    struct Row {
        const char* name;
        int32_t event;
        bool raiseAfterDelete;
        int32_t engineResult;
        void (*call)(TcrvPing&);
        const char16_t* message;  // of the exception, null when none is raised
    };
    const Row rows[] = {
        {"OnResponse during PingHost", CORVANE_PING_EVENT_RESPONSE, false, 301,
         [](TcrvPing& p) { p.PingHost(u"10.0.0.1"); }, u"301: Interrupted."},
        {"OnResponse that raises afterwards", CORVANE_PING_EVENT_RESPONSE, true, 301,
         [](TcrvPing& p) { p.PingHost(u"10.0.0.1"); }, u"301: Interrupted."},
        {"OnError during Active := false", CORVANE_PING_EVENT_ERROR, false, 0,
         [](TcrvPing& p) { p.SetActive(false); }, nullptr},
        {"OnResponse during DoEvents", CORVANE_PING_EVENT_RESPONSE, false, 0,
         [](TcrvPing& p) { p.DoEvents(); }, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        auto* ping = new TcrvPing;
        const auto deleteIt = [ping, &row] {
            delete ping;
            if (row.raiseAfterDelete) throw std::runtime_error("after");
        };
        ping->OnResponse = [&](TcrvPing&, int32_t, const std::u16string&, const std::u16string&,
                               int32_t) { deleteIt(); };
        ping->OnError = [&](TcrvPing&, int32_t, const std::u16string&) { deleteIt(); };
        g.lastError = "the engine object is gone";  // never to be read
        g.setResult = g.doResult = row.engineResult;
        g.duringCall = [&row] {
            g.duringCall = nullptr;
            if (row.event == CORVANE_PING_EVENT_RESPONSE) {
                FireResponse();
            } else {
                Fire(CORVANE_PING_EVENT_ERROR, {5, reinterpret_cast<intptr_t>(u"x"), 0});
            }
        };
        try {
            row.call(*ping);
            EXPECT_EQ(row.message, nullptr) << "no exception";
        } catch (const EcrvPing& e) {
            ASSERT_NE(row.message, nullptr) << crv::ToUtf8(e.Message());
            EXPECT_EQ(e.Code, row.engineResult);
            EXPECT_EQ(e.Message(), row.message);
        }
        EXPECT_EQ(g.destroyed, 1);
    }
}

// After the program has cleared the table, destruction only forgets the handle.
TEST_F(ComponentWithFakeEngine, DestructionAfterTheEngineWasReleased) {
    auto* ping = new TcrvPing;
    crv::ClearEntryPoints();
    delete ping;
    EXPECT_EQ(g.destroyed, 0);
}

}  // namespace
