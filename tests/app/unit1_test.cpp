// The window logic with a substitute view and a scripted engine behind the real component.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/define/define.h"
#include "app/unit1/count_field.h"
#include "app/unit1/unit1.h"
#include "component/crvping/entry_points.h"

namespace {

using app::TfrmMain;

class FakeView : public app::MainView {
  public:
    std::u16string host;
    int32_t count = 10;
    bool pingEnabled = true;
    std::vector<std::u16string> lines;
    std::vector<std::u16string> log;  // what happened, in order
    std::function<void()> onPendingInput;

    std::u16string HostText() override { return host; }
    void SetHostText(const std::u16string& text) override { host = text; }
    int32_t Count() override { return count; }
    void SetPingEnabled(bool enabled) override {
        pingEnabled = enabled;
        log.push_back(enabled ? u"enable" : u"disable");
    }
    void AppendLine(const std::u16string& line) override { lines.push_back(line); }
    void ClearOutput() override {
        lines.clear();
        log.push_back(u"clear");
    }
    void ProcessPendingInput() override {
        log.push_back(u"input");
        if (onPendingInput) onPendingInput();
    }
    void Pause(int milliseconds) override { log.push_back(u"pause " + Number(milliseconds)); }

    static std::u16string Number(int value) {
        const std::string s = std::to_string(value);
        return std::u16string(s.begin(), s.end());
    }
};

// The scripted engine: each PingHost is answered by the script of the test.
struct Engine {
    CorvaneEventCallback callback = nullptr;
    void* context = nullptr;
    std::vector<std::u16string> pinged;
    std::function<int32_t(const std::u16string&)> onPing;
    const char* lastError = "";
    int32_t timeout = 0;
} g;

void* Create(CorvaneEventCallback callback, void* context, const char*, int32_t) {
    g.callback = callback;
    g.context = context;
    return &g;
}
int32_t Destroy(void*) {
    return 0;
}
int32_t Set(void*, int32_t property, int32_t, intptr_t value, int32_t) {
    if (property == CORVANE_PING_TIMEOUT) g.timeout = static_cast<int32_t>(value);
    return 0;
}
intptr_t Get(void*, int32_t property, int32_t, int32_t*, int64_t) {
    return property == CORVANE_PING_TIMEOUT ? g.timeout : 0;
}
int32_t Do(void*, int32_t method, int32_t, intptr_t* params, int32_t*, int64_t) {
    if (method != CORVANE_PING_PING_HOST + CORVANE_WIDE_ID_OFFSET) return 0;
    const std::u16string host = reinterpret_cast<const char16_t*>(params[0]);
    g.pinged.push_back(host);
    return g.onPing ? g.onPing(host) : 0;
}
const char* LastError(void*) {
    return g.lastError;
}

void Reply(const char16_t* source, const char16_t* status, int32_t time) {
    intptr_t params[] = {1, reinterpret_cast<intptr_t>(source), reinterpret_cast<intptr_t>(status),
                         time, 0};
    int32_t lengths[5] = {};
    g.callback(g.context, CORVANE_PING_EVENT_RESPONSE, 4, params, lengths);
}

void ErrorEvent(int32_t code, const char16_t* text) {
    intptr_t params[] = {code, reinterpret_cast<intptr_t>(text), 0};
    int32_t lengths[3] = {};
    g.callback(g.context, CORVANE_PING_EVENT_ERROR, 2, params, lengths);
}

class MainWindowLogic : public ::testing::Test {
  protected:
    void SetUp() override {
        g = Engine{};
        crv::ClearEntryPoints();
        crv::EntryPointTable& e = crv::EntryPoints();
        e.Create = Create;
        e.Destroy = Destroy;
        e.Set = Set;
        e.Get = Get;
        e.Do = Do;
        e.GetLastError = LastError;
        app::StartHost.clear();
    }
    void TearDown() override { crv::ClearEntryPoints(); }

    FakeView view;
};

TEST_F(MainWindowLogic, FormSettingsAndFormShow) {
    TfrmMain form(view);
    EXPECT_EQ(form.crvPing1.Timeout(), 3);
    form.FormShow();
    EXPECT_EQ(view.host, u"");  // no argument, nothing set
    app::StartHost = u"10.1.2.3";
    form.FormShow();
    EXPECT_EQ(view.host, u"10.1.2.3");
    EXPECT_TRUE(g.pinged.empty());  // showing does not ping
}

TEST_F(MainWindowLogic, CountPlusOneIterationsWithPauseAndInput) {
    struct Row {
        int32_t count;
        size_t pings;
    };
    for (const Row row : {Row{10, 11}, Row{1000, 1001}, Row{0, 1}, Row{-1, 0}}) {
        g = Engine{};
        TfrmMain form(view);
        view.log.clear();
        view.host = u"127.0.0.1";
        view.count = row.count;
        form.btnPingClick();
        EXPECT_EQ(g.pinged.size(), row.pings) << row.count;
        ASSERT_GE(view.log.size(), 2u);
        EXPECT_EQ(view.log.front(), u"disable");
        EXPECT_EQ(view.log.back(), u"enable");
        if (row.pings > 0) {
            EXPECT_EQ(view.log[1], u"pause 100");
            EXPECT_EQ(view.log[2], u"input");
        }
    }
}

TEST_F(MainWindowLogic, RefusedHostsChangeNothing) {
    TfrmMain form(view);
    for (const char16_t* host : {u"", u"localhost", u"0.1.2.3", u"1.2.3"}) {
        view.host = host;
        view.log.clear();
        form.btnPingClick();
        EXPECT_TRUE(view.log.empty());
        EXPECT_TRUE(view.lines.empty());
    }
    EXPECT_TRUE(g.pinged.empty());
}

TEST_F(MainWindowLogic, LineFormats) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    view.count = 0;
    g.onPing = [](const std::u16string&) {
        Reply(u"10.0.0.1", u"OK", 0);
        ErrorEvent(119, u"Message too short.");
        ErrorEvent(-1, u"x");
        Reply(u"10.0.0.1", u"Host unreachable.", 2147483647);
        return 0;
    };
    form.btnPingClick();
    const std::vector<std::u16string> expected = {
        u"10.0.0.1 : OK \uFF0Ctime=0ms",
        u"119:Message too short.",
        u"-1:x",
        u"10.0.0.1 : Host unreachable. \uFF0Ctime=2147483647ms",
    };
    EXPECT_EQ(view.lines, expected);
    EXPECT_EQ(form.Statistics().received, 1);  // an unreachable answer is no reply
}

// An exception of PingHost in iteration k ends the run there, silently.
TEST_F(MainWindowLogic, ExceptionEndsTheRun) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    g.lastError = "Timeout.";
    g.onPing = [](const std::u16string&) { return g.pinged.size() == 3 ? 301 : 0; };
    form.btnPingClick();
    EXPECT_EQ(g.pinged.size(), 3u);
    EXPECT_TRUE(view.lines.empty());
    EXPECT_TRUE(view.pingEnabled);
    EXPECT_EQ(form.LastRunError(), u"301: Timeout.");
}

// The host is read again in every iteration, untested; the count once per run.
TEST_F(MainWindowLogic, EditingDuringARun) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    view.count = 3;
    int inputs = 0;
    view.onPendingInput = [&] {
        ++inputs;
        if (inputs == 1) view.host = u"not an address";
        if (inputs == 2) view.host = u"";
        view.count = 1000;
    };
    form.btnPingClick();
    const std::vector<std::u16string> expected = {u"10.0.0.1", u"not an address", u"", u""};
    EXPECT_EQ(g.pinged, expected);
}

// Enter during a run starts a second run inside the first; it re-enables the button, and
// the outer run goes on with it enabled.
TEST_F(MainWindowLogic, NestedRunByEnter) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    view.count = 1;
    bool pressed = false;
    view.onPendingInput = [&] {
        if (pressed) return;
        pressed = true;
        EXPECT_FALSE(view.pingEnabled);
        form.edtIpKeyUp(app::kEnterKey);  // the click action, although the button is off
        EXPECT_TRUE(view.pingEnabled);
    };
    form.btnPingClick();
    EXPECT_EQ(g.pinged.size(), 4u);  // 2 outer + 2 inner
    EXPECT_TRUE(view.pingEnabled);
    form.edtIpKeyUp(65);  // other keys do nothing
    EXPECT_EQ(g.pinged.size(), 4u);
}

TEST_F(MainWindowLogic, ClearDuringARun) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    view.count = 1;
    g.onPing = [](const std::u16string&) {
        Reply(u"10.0.0.1", u"OK", 1);
        return 0;
    };
    view.onPendingInput = [&] {
        if (g.pinged.size() == 1) form.btnClearClick();
    };
    form.btnPingClick();
    ASSERT_EQ(view.lines.size(), 1u);  // the second reply, after the clear
}

// Closing the window ends a run at its next step.
TEST_F(MainWindowLogic, CloseEndsTheRun) {
    TfrmMain form(view);
    view.host = u"10.0.0.1";
    view.onPendingInput = [&] {
        if (g.pinged.size() == 2) form.Close();
    };
    form.btnPingClick();
    EXPECT_EQ(g.pinged.size(), 2u);
    EXPECT_TRUE(form.Closing());
}

// The count field's text as both windows read it: the integer, or the minimum.
TEST(CountField, TextRules) {
    struct Row {
        const char16_t* text;
        int32_t count;
    };
    const Row rows[] = {
        {u"10", 10},          {u"11", 11},  {u"1000", 1000},
        {u"1001", 1001},      {u"9", 9},    {u"-5", -5},
        {u"+20", 20},         {u"", 10},    {u"  12", 12},
        {u"12 ", 10},         {u"abc", 10}, {u"12x", 10},
        {u"99999999999", 10}, {u"15.", 10},
    };
    for (const Row& row : rows)
        EXPECT_EQ(app::CountFieldValue(row.text), row.count);
}

}  // namespace
