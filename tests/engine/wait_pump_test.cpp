// The event pump of a blocking PingHost, driven by a scripted socket and a scripted tick
// count: what ends a wait, in which pass, what the pump leaves on the thread's queue, how
// received datagrams move the deadline, and how readiness is found without window messages.
// Nothing here touches the network.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/core/corvane20.h"
#include "engine/core/module_state.h"
#include "engine/core/ping_component.h"
#include "engine/icmp/helper_library.h"
#include "engine/net/socket_api.h"
#include "engine/net/socket_core.h"
#include "engine/net/socket_runtime.h"
#include "platform/sockets.h"
#include "platform/window.h"
#include "tests/engine/scripted_socket.h"
#include "tests/support/system.h"

namespace {

using corvane::PingComponent;

constexpr plat::SOCKET kSocket = 0x7A5C;  // far above any descriptor of this process
constexpr uint32_t kNotify = corvane::SocketCore::kSocketNotifyMessage;
constexpr uint32_t kPlainMessage = plat::WM_USER + 1;
constexpr uint32_t kInterruptMessage = plat::WM_USER + 2;
constexpr int kQuitCode = 7;
constexpr char kTestClass[] = "wait_pump_test_window";

// ---- the scripted socket and clock ------------------------------------------------------

struct Script {
    int opened = 0;
    int closed = 0;
    int32_t lastError = 0;
    std::deque<std::vector<uint8_t>> incoming;
    std::vector<std::vector<uint8_t>> sent;
    int recvCalls = 0;
    int datagramsRead = 0;
    int asyncSelectCalls = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ioctls;  // command, argument
    std::vector<bool> selectWithWriteSet;               // one entry per select call
    int32_t selectError = 0;                            // non-zero: select fails with it
    bool exceptReady = false;
    bool writeReady = false;
    std::function<void()> onSend;

    uint32_t now = 0;
    uint32_t step = 50;  // every tick count reading advances the clock by this much
    int ticks = 0;
    uint32_t firstTick = 0;
    uint32_t lastTick = 0;
    std::function<void(uint32_t)> onTick;

    bool runaway = false;  // the watchdog had to end a wait

    uint32_t Elapsed() const { return lastTick - firstTick; }  // wraps like the tick count
};

Script g_script;

// Ends a wait that does not end by itself, so that a faulty engine fails the test instead
// of hanging it: after a while it posts WM_CLOSE to the hidden window (which ends a wait
// on window messages), and the scripted calls of a select wait then call Interrupt.
class Watchdog {
  public:
    // ping: where the fixture keeps its handle (null once a row destroyed the object).
    void Start(plat::HWND hidden, void* const* ping) {
        ping_ = ping;
        fired_ = false;
        stop_ = false;
        thread_ = std::thread([this, hidden] {
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::seconds(10), [this] { return stop_; })) {
                return;
            }
            fired_ = true;
            plat::PostMessageA(hidden, plat::WM_CLOSE, 0, 0);
        });
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        ping_ = nullptr;
    }
    bool fired() const { return fired_; }
    // On the waiting thread: interrupts the wait once the watchdog has fired.
    void Check() {
        if (!fired_ || g_script.runaway || ping_ == nullptr || *ping_ == nullptr) return;
        g_script.runaway = true;
        intptr_t slots[1] = {0};
        int32_t lengths[1] = {0};
        Corvane_Ping_Do(*ping_, CORVANE_PING_INTERRUPT, 0, slots, lengths, 0);
    }

  private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::atomic<bool> fired_{false};
    void* const* ping_ = nullptr;
};

Watchdog g_watchdog;

plat::SOCKET ScriptedSocket(int, int, int) {
    ++g_script.opened;
    return kSocket;
}
int Succeed(plat::SOCKET, const void*, int) {
    return 0;
}
int ScriptedSend(plat::SOCKET, const void* data, int length, int) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    g_script.sent.emplace_back(bytes, bytes + length);
    if (g_script.onSend) g_script.onSend();
    return length;
}
int ScriptedSendTo(plat::SOCKET s, const void* data, int length, int flags, const void*, int) {
    return ScriptedSend(s, data, length, flags);
}
int ScriptedRecv(plat::SOCKET, void* buffer, int length, int) {
    ++g_script.recvCalls;
    if (g_script.incoming.empty()) {
        g_script.lastError = plat::kWsaEwouldblock;
        return plat::SOCKET_ERROR;
    }
    const std::vector<uint8_t> datagram = std::move(g_script.incoming.front());
    g_script.incoming.pop_front();
    const size_t size = std::min(datagram.size(), static_cast<size_t>(length));
    std::memcpy(buffer, datagram.data(), size);
    ++g_script.datagramsRead;
    return static_cast<int>(size);
}
int ScriptedRecvFrom(plat::SOCKET s, void* buffer, int length, int flags, void* from,
                     int* fromLength) {
    if (from != nullptr && fromLength != nullptr &&
        *fromLength >= static_cast<int>(sizeof(plat::sockaddr_in))) {
        plat::sockaddr_in source{};
        source.sin_family = plat::AF_INET;
        source.sin_addr = 0x0100007F;  // 127.0.0.1
        std::memcpy(from, &source, sizeof source);
        *fromLength = sizeof source;
    }
    return ScriptedRecv(s, buffer, length, flags);
}
int ScriptedClose(plat::SOCKET) {
    ++g_script.closed;
    return 0;
}
int ScriptedSetOption(plat::SOCKET, int, int, const void*, int) {
    return 0;
}
int ScriptedGetOption(plat::SOCKET, int, int, void* value, int* length) {
    if (value != nullptr && length != nullptr && *length >= 4) {
        const int32_t hops = 64;
        std::memcpy(value, &hops, sizeof hops);
        *length = 4;
    }
    return 0;
}
int ScriptedIoctl(plat::SOCKET, uint32_t command, uint32_t* argument) {
    g_script.ioctls.emplace_back(command, argument != nullptr ? *argument : 0u);
    return 0;
}
int ScriptedSelect(int, plat::fd_set* read, plat::fd_set* write, plat::fd_set* except,
                   const plat::timeval*) {
    g_script.selectWithWriteSet.push_back(write != nullptr);
    g_watchdog.Check();
    if (g_script.selectError != 0) {
        g_script.lastError = g_script.selectError;
        return plat::SOCKET_ERROR;
    }
    int ready = 0;
    const auto mark = [&ready](plat::fd_set* set, bool on) {
        if (set == nullptr) return;
        set->fd_count = on ? 1 : 0;
        ready += on ? 1 : 0;
    };
    mark(read, !g_script.incoming.empty());
    mark(write, g_script.writeReady);
    mark(except, g_script.exceptReady);
    return ready;
}
int ScriptedAsyncSelect(plat::SOCKET, plat::HWND, uint32_t, int32_t) {
    ++g_script.asyncSelectCalls;
    return 0;
}
int32_t ScriptedLastError() {
    return g_script.lastError;
}

const corvane::SocketApi kScriptedSockets = {
    ScriptedSocket,      Succeed,           Succeed,          ScriptedSend,
    ScriptedSendTo,      ScriptedRecv,      ScriptedRecvFrom, ScriptedClose,
    ScriptedSetOption,   ScriptedGetOption, ScriptedIoctl,    ScriptedSelect,
    ScriptedAsyncSelect, ScriptedLastError,
};

uint32_t ScriptedTicks() {
    const uint32_t value = g_script.now;
    g_script.now += g_script.step;
    if (g_script.ticks++ == 0) g_script.firstTick = value;
    g_script.lastTick = value;
    if (g_script.onTick) g_script.onTick(value);
    g_watchdog.Check();
    return value;
}
bool ScriptedCounter(int64_t* counter) {
    *counter = int64_t{g_script.now} * 1000;
    return true;
}
bool ScriptedFrequency(int64_t* frequency) {
    *frequency = 1000000;
    return true;
}

const corvane::ClockApi kScriptedClocks = {ScriptedTicks, ScriptedCounter, ScriptedFrequency};

// ---- datagrams --------------------------------------------------------------------------

uint16_t Checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2 != 0) sum += static_cast<uint32_t>(data[length - 1] << 8);
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

// The echo reply 127.0.0.1 would give to an echo request, as a raw IPv4 socket reads it;
// a foreign one carries another identifier.
std::vector<uint8_t> ReplyTo(const std::vector<uint8_t>& request, bool matching) {
    std::vector<uint8_t> datagram(20 + request.size(), 0);
    datagram[0] = 0x45;
    datagram[2] = static_cast<uint8_t>(datagram.size() >> 8);
    datagram[3] = static_cast<uint8_t>(datagram.size());
    datagram[8] = 64;
    datagram[9] = 1;
    const uint8_t loopback[4] = {127, 0, 0, 1};
    std::memcpy(&datagram[12], loopback, 4);
    std::memcpy(&datagram[16], loopback, 4);
    uint8_t* icmp = &datagram[20];
    std::memcpy(icmp, request.data(), request.size());
    icmp[0] = 0;  // echo reply
    icmp[2] = icmp[3] = 0;
    if (!matching && request.size() > 4) icmp[4] ^= 0x5A;
    const uint16_t sum = Checksum(icmp, request.size());
    icmp[2] = static_cast<uint8_t>(sum >> 8);
    icmp[3] = static_cast<uint8_t>(sum);
    return datagram;
}

// Started by ModuleAttach: the resolver functions are looked up then.
bool ModuleAttached() {
    return corvane::Runtime().resolver.getaddrinfo != nullptr;
}

// ---- the host side: events, a window of the test's own, the thread's queue ----------------

struct Response {
    int32_t id;
    std::string source;
    std::string status;
};

struct Host {
    void* ping = nullptr;
    std::vector<Response> responses;
    std::vector<int32_t> errors;
    std::vector<uint32_t> dispatched;      // messages the test window received
    std::function<void()> onPlain;         // run by the test window's handler
    std::function<void(int32_t)> onEvent;  // run by the event handler, after the record
};

Host g_host;

// Kept out of line: a text from an event slot copied straight into a string is one of the
// patterns GCC 12 miscompiles at -O2.
[[gnu::noinline]] std::string TextOf(intptr_t slot) {
    const char* text = reinterpret_cast<const char*>(slot);
    return text != nullptr ? std::string(text) : std::string();
}

int32_t OnEvent(void*, int32_t event, int32_t count, intptr_t* params, int32_t*) {
    if (event == CORVANE_PING_EVENT_RESPONSE && count >= 3) {
        g_host.responses.push_back(
            {static_cast<int32_t>(params[0]), TextOf(params[1]), TextOf(params[2])});
    } else if (event == CORVANE_PING_EVENT_ERROR && count >= 1) {
        g_host.errors.push_back(static_cast<int32_t>(params[0]));
    }
    if (g_host.onEvent) g_host.onEvent(event);
    return 0;
}

plat::LRESULT TestWindowProc(plat::HWND window, uint32_t message, plat::WPARAM wParam,
                             plat::LPARAM lParam) {
    // What the system sends while it creates and destroys the window (Windows does, the
    // Linux queues do not) is not the test's.
    if (message != plat::WM_CLOSE && message < plat::WM_USER) {
        return plat::DefWindowProcA(window, message, wParam, lParam);
    }
    g_host.dispatched.push_back(message);
    if (message == kPlainMessage && g_host.onPlain) g_host.onPlain();
    if (message == kInterruptMessage) {
        intptr_t slots[1] = {0};
        int32_t lengths[1] = {0};
        Corvane_Ping_Do(g_host.ping, CORVANE_PING_INTERRUPT, 0, slots, lengths, 0);
    }
    return 0;  // WM_CLOSE is not passed on: this window stays
}

enum class Where { kMine, kHidden, kThread };

struct Queued {
    Where where;
    uint32_t message;
    uintptr_t wParam;
    bool operator==(const Queued&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Queued& q) {
    const char* where = q.where == Where::kMine     ? "mine"
                        : q.where == Where::kHidden ? "hidden"
                                                    : "thread";
    return os << "{" << where << " " << q.message << " " << q.wParam << "}";
}

// What a host does around the wait.
enum class Act {
    kPostPlain,          // a message to the test window
    kPostInterrupt,      // a message whose handler calls Interrupt through the entry point
    kPostCloseToMine,    // WM_CLOSE to the test window
    kPostCloseToHidden,  // WM_CLOSE to the object's hidden window
    kPostQuit,           // PostQuitMessage
    kInterrupt,          // Interrupt through the entry point
    kReply,              // the matching echo reply arrives, with its notification
    kReplyUnnotified,    // the matching echo reply arrives, no notification is posted
};

class Pump : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The window class and Windows Sockets; other tests of this program may have
        // started the module already and expect it to stay started.
        attachedHere_ = !ModuleAttached();
        if (attachedHere_) corvane::ModuleAttach(nullptr);
        plat::WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.lpszClassName = kTestClass;
        plat::RegisterClassA(&windowClass);
    }
    static void TearDownTestSuite() {
        plat::UnregisterClassA(kTestClass, nullptr);
        if (attachedHere_) corvane::ModuleDetach();
    }
    static inline bool attachedHere_ = false;

    void SetUp() override {
        g_script = Script{};
        g_script.now = 1000;
        g_host = Host{};
        corvane::SetSocketApi(&kScriptedSockets);
        corvane::SetClockApi(&kScriptedClocks);
        mine_ = plat::CreateWindowExA(0, kTestClass, "", 0, 0, 0, 0, 0, plat::MessageOnlyParent(),
                                      nullptr, nullptr, nullptr);
        ASSERT_NE(mine_, nullptr);
        ping_ = Corvane_Ping_Create(&OnEvent, nullptr, nullptr, 0);
        ASSERT_NE(ping_, nullptr);
        g_host.ping = ping_;
        hidden_ = static_cast<PingComponent*>(ping_)->WindowHandle();
        ASSERT_NE(hidden_, nullptr);
        g_watchdog.Start(hidden_, &ping_);
        // Short real sleeps keep the passes quick; the scripted clock makes the time.
        ASSERT_EQ(Config("SelectWaitMillis=1"), 0);
    }

    void TearDown() override {
        g_watchdog.Stop();
        EXPECT_FALSE(g_watchdog.fired()) << "a wait did not end by itself";
        if (ping_ != nullptr) Corvane_Ping_Destroy(ping_);
        ping_ = nullptr;
        plat::DestroyWindow(mine_);
        corvane::SetSocketApi(nullptr);
        corvane::SetClockApi(nullptr);
        TakeQueued();
        g_script = Script{};
    }

    // A new object and window for the next row of a table.
    bool Fresh() {
        TearDown();
        SetUp();
        return !HasFatalFailure();
    }

    int32_t Config(const char* setting) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
        int32_t lengths[2] = {0, 0};
        return Corvane_Ping_Do(ping_, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    }
    int32_t Set(int32_t property, intptr_t value) const {
        return Corvane_Ping_Set(ping_, property, 0, value, 0);
    }
    intptr_t Get(int32_t property) const {
        return Corvane_Ping_Get(ping_, property, 0, nullptr, 0);
    }
    int32_t Do(int32_t method) const {
        intptr_t slots[1] = {0};
        int32_t lengths[1] = {0};
        return Corvane_Ping_Do(ping_, method, 0, slots, lengths, 0);
    }
    int32_t PingHost(const char* host = "127.0.0.1") const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(host), 0};
        int32_t lengths[2] = {0, 0};
        return Corvane_Ping_Do(ping_, CORVANE_PING_PING_HOST, 1, slots, lengths, 0);
    }
    std::string LastError() const {
        const char* text = Corvane_Ping_GetLastError(ping_);
        return text != nullptr ? text : "";
    }

    void Perform(Act act) const {
        switch (act) {
            case Act::kPostPlain:
                plat::PostMessageA(mine_, kPlainMessage, 0, 0);
                break;
            case Act::kPostInterrupt:
                plat::PostMessageA(mine_, kInterruptMessage, 0, 0);
                break;
            case Act::kPostCloseToMine:
                plat::PostMessageA(mine_, plat::WM_CLOSE, 0, 0);
                break;
            case Act::kPostCloseToHidden:
                plat::PostMessageA(hidden_, plat::WM_CLOSE, 0, 0);
                break;
            case Act::kPostQuit:
                plat::PostQuitMessage(kQuitCode);
                break;
            case Act::kInterrupt:
                Do(CORVANE_PING_INTERRUPT);
                break;
            case Act::kReply:
            case Act::kReplyUnnotified:
                g_script.incoming.push_back(ReplyTo(g_script.sent.back(), true));
                if (act == Act::kReply) Notify();
                break;
        }
    }
    // Runs the acts when the request goes out, that is, inside the PingHost.
    void DuringTheWait(std::vector<Act> acts) const {
        g_script.onSend = [this, acts] {
            for (Act act : acts)
                Perform(act);
        };
    }

    // A readability notice to the object's hidden window, the one it has now.
    void Notify() const {
        plat::PostMessageA(static_cast<PingComponent*>(ping_)->WindowHandle(), kNotify, kSocket,
                           plat::FD_READ);
    }
    // The host destroys its object (from a handler, say); the fixture then leaves it alone.
    void DestroyPing() {
        Corvane_Ping_Destroy(ping_);
        ping_ = nullptr;
        g_host.ping = nullptr;
    }

    // Empties the thread's queue (bounded) and tells what was in it.
    std::vector<Queued> TakeQueued() const {
        std::vector<Queued> found;
        plat::MSG msg{};
        for (int i = 0; i < 1000 && plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE); ++i) {
            const Where where = msg.hwnd == mine_     ? Where::kMine
                                : msg.hwnd == hidden_ ? Where::kHidden
                                                      : Where::kThread;
            found.push_back({where, msg.message, msg.wParam});
        }
        return found;
    }

    void* ping_ = nullptr;
    plat::HWND mine_ = nullptr;
    plat::HWND hidden_ = nullptr;
};

// A request that is never answered: the wait ends with "Timeout." at the first pass whose
// tick count lies beyond the deadline, however the 32-bit tick count wraps meanwhile.
TEST_F(Pump, UnansweredRequestEndsAtTheDeadline) {
    struct Row {
        const char* name;
        uint32_t start;
        bool milliseconds;
        int32_t timeout;
        uint32_t timeoutMs;
    };
    const Row rows[] = {
        {"seconds", 1000, false, 1, 1000},
        {"milliseconds", 1000, true, 300, 300},
        {"tick count wraps during the wait", 0xFFFFFFFFu - 500, false, 1, 1000},
        // Started just before the send: the deadline, restarted after it, sums to exactly 0.
        {"deadline lands on 0", 0u - 1000u - 50u, true, 1000, 1000},
        {"start at the last tick", 0xFFFFFFFFu, true, 400, 400},
        {"across the signed boundary", 0x7FFFFFFFu - 200, true, 600, 600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        if (row.milliseconds) {
            ASSERT_EQ(Config("TimeoutInMilliseconds=true"), 0);
        }
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, row.timeout), 0);
        g_script.now = row.start;

        EXPECT_EQ(PingHost(), 301);
        EXPECT_EQ(LastError(), "Timeout.");
        ASSERT_EQ(g_script.sent.size(), 1u);
        EXPECT_EQ(g_script.sent[0][0], 8) << "an echo request went out";
        EXPECT_GT(g_script.Elapsed(), row.timeoutMs) << "ended before the deadline";
        EXPECT_LE(g_script.Elapsed(), row.timeoutMs + 3 * g_script.step) << "ended late";
        EXPECT_EQ(g_script.opened, 1);
        EXPECT_EQ(g_script.closed, 1);
        EXPECT_EQ(Get(CORVANE_PING_ACTIVE), 0);
        EXPECT_TRUE(g_host.responses.empty());
    }
}

// A negative timeout puts the deadline in the past: the request is sent, and the first
// pass, which takes one message, ends the wait.
TEST_F(Pump, NegativeTimeoutEndsAtTheFirstPass) {
    struct Row {
        const char* name;
        bool milliseconds;
        int32_t timeout;
    };
    const Row rows[] = {
        {"seconds", false, -5},
        {"milliseconds", true, -1},
        {"lowest", false, -2147483},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        if (row.milliseconds) {
            ASSERT_EQ(Config("TimeoutInMilliseconds=true"), 0);
        }
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, row.timeout), 0);
        DuringTheWait({Act::kPostPlain, Act::kPostPlain});

        EXPECT_EQ(PingHost(), 301);
        EXPECT_EQ(LastError(), "Timeout.");
        EXPECT_EQ(g_script.sent.size(), 1u);
        EXPECT_EQ(g_host.dispatched, std::vector<uint32_t>{kPlainMessage});
        EXPECT_EQ(TakeQueued(), (std::vector<Queued>{{Where::kMine, kPlainMessage, 0}}));
    }
}

// Interrupt, WM_CLOSE, WM_QUIT and the loss of the hidden window end a wait with 301
// "Interrupted." in the pass that sees them; what the pump did not take stays queued.
TEST_F(Pump, InterruptionsEndTheWaitInTheirPass) {
    struct Row {
        const char* name;
        std::vector<Act> before;
        std::vector<Act> during;
        std::vector<uint32_t> dispatched;
        std::vector<Queued> queued;
        bool hiddenAlive;
    };
    const Row rows[] = {
        {"Interrupt before the wait: the first pass ends it",
         {Act::kInterrupt, Act::kPostPlain},
         {},
         {},
         {{Where::kMine, kPlainMessage, 0}},
         true},
        {"Interrupt from another window's handler",
         {},
         {Act::kPostInterrupt, Act::kPostPlain},
         {kInterruptMessage},
         {{Where::kMine, kPlainMessage, 0}},
         true},
        {"WM_CLOSE to another window is dispatched first",
         {},
         {Act::kPostCloseToMine, Act::kPostPlain},
         {plat::WM_CLOSE},
         {{Where::kMine, kPlainMessage, 0}},
         true},
        {"WM_CLOSE after other messages",
         {},
         {Act::kPostPlain, Act::kPostCloseToMine, Act::kPostPlain},
         {kPlainMessage, plat::WM_CLOSE},
         {{Where::kMine, kPlainMessage, 0}},
         true},
        {"WM_CLOSE destroys the hidden window",
         {},
         {Act::kPostCloseToHidden, Act::kPostPlain},
         {},
         {{Where::kMine, kPlainMessage, 0}},
         false},
        {"WM_QUIT is put back",
         {},
         {Act::kPostQuit},
         {},
         {{Where::kThread, plat::WM_QUIT, kQuitCode}},
         true},
        {"WM_QUIT comes after the other messages",
         {},
         {Act::kPostQuit, Act::kPostPlain},
         {kPlainMessage},
         {{Where::kThread, plat::WM_QUIT, kQuitCode}},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 5), 0);
        for (Act act : row.before)
            Perform(act);
        DuringTheWait(row.during);

        EXPECT_EQ(PingHost(), 301);
        EXPECT_EQ(LastError(), "Interrupted.");
        EXPECT_EQ(g_script.sent.size(), 1u) << "the request is sent before the wait";
        EXPECT_LT(g_script.Elapsed(), 5000u) << "not a timeout";
        EXPECT_EQ(g_host.dispatched, row.dispatched);
        EXPECT_EQ(TakeQueued(), row.queued);
        EXPECT_EQ(plat::IsWindow(hidden_), row.hiddenAlive);
        EXPECT_EQ(g_script.closed, g_script.opened) << "the socket is closed on the way out";
    }
}

// Handlers of the host that destroy their object, start another exchange on it or change
// its settings while one of its calls runs: the call ends with a defined result, a wait
// always ends, and nothing touches freed memory (the sanitizer build and valgrind watch).
TEST_F(Pump, HandlersThatDestroyOrReenterTheirObject) {
    struct Row {
        const char* name;
        std::function<void()> arrange;  // settings, and what the handlers do
        std::function<int32_t()> act;   // the call under test; PingHost when empty
        int32_t rc;
        const char* text;  // the last error text, when the object outlives the call
        size_t responses;
        size_t errors;
        bool activeAfter;
    };
    constexpr bool kDestroyed = true;
    const auto destroyOn = [this](int32_t event) {
        g_host.onEvent = [this, event](int32_t fired) {
            if (fired == event) DestroyPing();
        };
    };
    // An asynchronous request and its answers, queued for DoEvents.
    const auto asynchronous = [this](int replies) {
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 0), 0);
        ASSERT_EQ(PingHost(), 0);
        for (int i = 0; i < replies; ++i)
            Perform(Act::kReply);
    };
    int32_t nested = 0;  // the result of a PingHost started inside another
    const auto doEvents = [this] { return Do(CORVANE_PING_DO_EVENTS); };
    const Row rows[] = {
        {"destroyed by its Response handler in a blocking PingHost",
         [&] {
             destroyOn(CORVANE_PING_EVENT_RESPONSE);
             DuringTheWait({Act::kReply, Act::kReply});
         },
         nullptr, 301, nullptr, 1, 0, kDestroyed},
        {"destroyed by its Response handler in DoEvents",
         [&] {
             asynchronous(2);
             destroyOn(CORVANE_PING_EVENT_RESPONSE);
         },
         doEvents, 0, nullptr, 1, 0, kDestroyed},
        {"destroyed by its Error handler in a blocking PingHost",
         [&] {
             destroyOn(CORVANE_PING_EVENT_ERROR);
             g_script.onSend = [this] {
                 g_script.incoming.push_back({1, 2});  // too short
                 Perform(Act::kReply);
             };
         },
         nullptr, 301, nullptr, 0, 1, kDestroyed},
        {"destroyed by another window's handler during the wait",
         [&] {
             g_host.onPlain = [this] { DestroyPing(); };
             DuringTheWait({Act::kPostPlain, Act::kReply});
         },
         nullptr, 301, nullptr, 0, 0, kDestroyed},
        {"SelectWaitMillis -1 and a host that does not answer",
         [&] {
             ASSERT_EQ(Config("SelectWaitMillis=-1"), 0);
             ASSERT_EQ(Config("TimeoutInMilliseconds=true"), 0);
             ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 300), 0);
         },
         nullptr, 301, "Timeout.", 0, 0, false},
        {"a nested blocking PingHost takes the port of the waiting one",
         [&] {
             nested = -2;
             g_host.onPlain = [this, &nested] {
                 g_host.onPlain = nullptr;
                 DuringTheWait({Act::kReply});
                 nested = PingHost();
             };
             DuringTheWait({Act::kPostPlain});
         },
         [&] {
             const int32_t rc = PingHost();
             EXPECT_EQ(nested, 0) << "the nested exchange got its answer";
             return rc;
         },
         301, "Interrupted.", 1, 0, false},
        {"WM_CLOSE destroyed the hidden window: the next PingHost makes a new one",
         [&] {
             DuringTheWait({Act::kPostCloseToHidden});
             ASSERT_EQ(PingHost(), 301);
             ASSERT_FALSE(plat::IsWindow(hidden_));
             DuringTheWait({Act::kReply});
         },
         nullptr, 0, "", 1, 0, false},
        {"a Response handler resizes the buffer during the helper library's records",
         [&] {
             using D = scripted::HelperRecord::Data;
             scripted::Helper() = {{{0, 1, D::kEcho}, {0, 2, D::kEcho}, {0, 3, D::kEcho}}};
             corvane::SetHelperFunctions(&scripted::kHelperFunctions);
             ASSERT_EQ(Config("UseICMPDLL=true"), 0);
             g_host.onEvent = [this](int32_t) { Set(CORVANE_PING_PACKET_SIZE, 30000); };
         },
         nullptr, 0, "", 3, 0, false},
        {"a Response handler sets Timeout 0 through Config in a blocking PingHost",
         [&] {
             g_host.onEvent = [this](int32_t) { Config("Timeout=0"); };
             DuringTheWait({Act::kReply});
         },
         nullptr, 0, "", 1, 0, false},
        {"a Response handler sets Timeout in the asynchronous mode: the port closes",
         [&] {
             asynchronous(1);
             g_host.onEvent = [this](int32_t) { Config("Timeout=5"); };
         },
         doEvents, 0, "", 1, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        const plat::HWND hidden = hidden_;
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 5), 0);
        row.arrange();
        ASSERT_FALSE(HasFatalFailure());

        EXPECT_EQ(row.act ? row.act() : PingHost(), row.rc);
        EXPECT_EQ(g_host.responses.size(), row.responses);
        EXPECT_EQ(g_host.errors.size(), row.errors);
        corvane::SetHelperFunctions(nullptr);
        if (row.text == nullptr) {
            EXPECT_EQ(ping_, nullptr);
            EXPECT_FALSE(plat::IsWindow(hidden)) << "freed when the call returned";
            EXPECT_EQ(g_script.closed, g_script.opened) << "its socket went with it";
            continue;
        }
        EXPECT_EQ(LastError(), row.text);
        EXPECT_EQ(Get(CORVANE_PING_ACTIVE), row.activeAfter ? 1 : 0);
    }
}

// A consumed interrupt does not end the next wait.
TEST_F(Pump, InterruptIsConsumedOnce) {
    ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 5), 0);
    DuringTheWait({Act::kPostInterrupt});
    EXPECT_EQ(PingHost(), 301);
    EXPECT_EQ(LastError(), "Interrupted.");

    DuringTheWait({Act::kReply});
    EXPECT_EQ(PingHost(), 0);
    EXPECT_EQ(LastError(), "");
    ASSERT_EQ(g_host.responses.size(), 1u);
    EXPECT_EQ(g_host.responses[0].status, "OK");
    EXPECT_EQ(g_host.responses[0].id, static_cast<int32_t>(Get(CORVANE_PING_REQUEST_ID)));
}

// With IgnoreOtherWindowEvents the pump takes only the hidden window's messages: the
// reply is processed and the application's message waits in the queue.
TEST_F(Pump, IgnoreOtherWindowEventsLeavesOtherMessagesQueued) {
    struct Row {
        const char* setting;
        std::vector<uint32_t> dispatched;
        std::vector<Queued> queued;
    };
    const Row rows[] = {
        {"IgnoreOtherWindowEvents=false", {kPlainMessage}, {}},
        {"IgnoreOtherWindowEvents=true", {}, {{Where::kMine, kPlainMessage, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Config(row.setting), 0);
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 5), 0);
        DuringTheWait({Act::kPostPlain, Act::kReply});

        EXPECT_EQ(PingHost(), 0);
        EXPECT_EQ(LastError(), "");
        ASSERT_EQ(g_host.responses.size(), 1u);
        EXPECT_EQ(g_host.responses[0].status, "OK");
        EXPECT_EQ(g_host.responses[0].source, "127.0.0.1");
        EXPECT_EQ(g_host.dispatched, row.dispatched);
        EXPECT_EQ(TakeQueued(), row.queued);
    }
}

// IgnoreExternalEvents: the hidden window swallows foreign messages that reach it outside
// the pump's own dispatch (a WM_CLOSE would otherwise destroy it); socket notifications
// of the object's own socket always get through.
TEST_F(Pump, IgnoreExternalEventsSwallowsForeignMessages) {
    enum class Delivery { kSent, kApplicationLoop, kPump };
    struct Row {
        const char* name;
        bool ignore;
        Delivery delivery;
        uint32_t message;
        plat::WPARAM wParam;
        bool alive;
        int read;  // datagrams read
    };
    const Row rows[] = {
        {"off, sent", false, Delivery::kSent, plat::WM_CLOSE, 0, false, 0},
        {"off, application loop", false, Delivery::kApplicationLoop, plat::WM_CLOSE, 0, false, 0},
        {"off, pump", false, Delivery::kPump, plat::WM_CLOSE, 0, false, 0},
        {"on, sent", true, Delivery::kSent, plat::WM_CLOSE, 0, true, 0},
        {"on, application loop", true, Delivery::kApplicationLoop, plat::WM_CLOSE, 0, true, 0},
        {"on, pump dispatch is not foreign", true, Delivery::kPump, plat::WM_CLOSE, 0, false, 0},
        {"on, own socket notification", true, Delivery::kApplicationLoop, kNotify, kSocket, true,
         1},
        {"on, notification of another socket", true, Delivery::kApplicationLoop, kNotify,
         kSocket + 1, true, 0},
        {"off, notification of another socket", false, Delivery::kApplicationLoop, kNotify,
         kSocket + 1, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Config(row.ignore ? "IgnoreExternalEvents=true" : "IgnoreExternalEvents=false"),
                  0);
        ASSERT_EQ(Set(CORVANE_PING_ACTIVE, 1), 0);
        ASSERT_EQ(Get(CORVANE_PING_ACTIVE), 1);
        g_script.incoming.push_back(ReplyTo(std::vector<uint8_t>(12, 0x11), false));

        if (row.delivery == Delivery::kSent) {
            plat::SendMessageA(hidden_, row.message, row.wParam, plat::FD_READ);
        } else {
            ASSERT_TRUE(plat::PostMessageA(hidden_, row.message, row.wParam, plat::FD_READ));
            if (row.delivery == Delivery::kPump) {
                EXPECT_EQ(Do(CORVANE_PING_DO_EVENTS), 0);
            } else {
                plat::MSG msg{};
                ASSERT_TRUE(plat::PeekMessageA(&msg, hidden_, 0, 0, plat::PM_REMOVE));
                plat::DispatchMessageA(&msg);
            }
        }
        EXPECT_EQ(plat::IsWindow(hidden_), row.alive);
        EXPECT_EQ(g_script.datagramsRead, row.read);
    }
}

// Without window messages the pump finds readiness with select: the reply is processed
// although no notification is ever posted. With window messages and no notification the
// reply waits until the close drains it, after the timeout.
TEST_F(Pump, WithoutWindowMessagesSelectFindsTheReply) {
    struct Row {
        const char* setting;
        int32_t rc;
        const char* text;
        int asyncSelects;
        bool selected;
    };
    const Row rows[] = {
        {"UseWindowsMessages=false", 0, "", 0, true},
        {"UseWindowsMessages=true", 301, "Timeout.", 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Config(row.setting), 0);
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 2), 0);
        DuringTheWait({Act::kReplyUnnotified});

        EXPECT_EQ(PingHost(), row.rc);
        EXPECT_EQ(LastError(), row.text);
        // The drain of the close still reports a reply that came too late.
        ASSERT_EQ(g_host.responses.size(), 1u);
        EXPECT_EQ(g_host.responses[0].status, "OK");
        EXPECT_EQ(g_script.asyncSelectCalls, row.asyncSelects);
        EXPECT_EQ(!g_script.selectWithWriteSet.empty(), row.selected);
        const bool nonBlocking =
            std::find(g_script.ioctls.begin(), g_script.ioctls.end(),
                      std::make_pair(plat::FIONBIO, 1u)) != g_script.ioctls.end();
        EXPECT_EQ(nonBlocking, row.selected);
    }
}

// One pass of the select poll, seen through DoEvents on an open port: readable means
// FD_READ, FD_WRITE is delivered once, WSAEINTR is retried up to three calls in all.
TEST_F(Pump, SelectPassRules) {
    struct Row {
        const char* name;
        bool data;
        bool except;
        bool writable;
        int32_t selectError;
        int passes;
        std::vector<bool> selectWithWriteSet;
        int recvCalls;
    };
    const Row rows[] = {
        {"readable", true, false, false, 0, 1, {true}, 2},
        {"nothing ready", false, false, false, 0, 2, {true, true}, 0},
        {"exception set only", false, true, false, 0, 1, {true}, 0},
        {"writable once", false, false, true, 0, 3, {true, false, false}, 0},
        {"interrupted calls are retried",
         false,
         false,
         false,
         plat::kWsaEintr,
         1,
         {true, true, true},
         0},
        {"other failures are not", false, false, false, plat::kWsaEinval, 1, {true}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Config("UseWindowsMessages=false"), 0);
        ASSERT_EQ(Set(CORVANE_PING_ACTIVE, 1), 0);
        if (row.data) g_script.incoming.push_back(ReplyTo(std::vector<uint8_t>(12, 0x11), false));
        g_script.exceptReady = row.except;
        g_script.writeReady = row.writable;
        g_script.selectError = row.selectError;
        g_script.recvCalls = 0;
        g_script.selectWithWriteSet.clear();

        for (int pass = 0; pass < row.passes; ++pass)
            EXPECT_EQ(Do(CORVANE_PING_DO_EVENTS), 0);
        EXPECT_EQ(g_script.selectWithWriteSet, row.selectWithWriteSet);
        EXPECT_EQ(g_script.recvCalls, row.recvCalls);
        EXPECT_EQ(g_script.datagramsRead, row.data ? 1 : 0);
        EXPECT_EQ(Get(CORVANE_PING_ACTIVE), 1);
    }
}

// Unless AbsoluteTimeout is on, every datagram that arrives restarts the deadline, even one
// that does not answer the request.
TEST_F(Pump, ReceivedDatagramsRestartTheDeadline) {
    struct Row {
        const char* setting;
        uint32_t earliest;  // elapsed ticks, exclusive
        uint32_t latest;
        int read;
    };
    constexpr uint32_t kTimeout = 1000;
    const uint32_t arrivals[] = {600, 1200, 1800};
    const Row rows[] = {
        {"AbsoluteTimeout=false", 1800 + kTimeout, 1800 + kTimeout + 5 * 50, 3},
        {"AbsoluteTimeout=true", kTimeout, kTimeout + 3 * 50, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        ASSERT_TRUE(Fresh());
        ASSERT_EQ(Config(row.setting), 0);
        ASSERT_EQ(Config("TimeoutInMilliseconds=true"), 0);
        ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, kTimeout), 0);
        size_t next = 0;
        g_script.onTick = [&](uint32_t value) {
            if (next == std::size(arrivals) || g_script.sent.empty()) return;
            if (value - g_script.firstTick < arrivals[next]) return;
            ++next;
            g_script.incoming.push_back(ReplyTo(g_script.sent.back(), false));
            plat::PostMessageA(hidden_, kNotify, kSocket, plat::FD_READ);
        };

        EXPECT_EQ(PingHost(), 301);
        EXPECT_EQ(LastError(), "Timeout.");
        EXPECT_GT(g_script.Elapsed(), row.earliest);
        EXPECT_LE(g_script.Elapsed(), row.latest);
        EXPECT_EQ(g_script.datagramsRead, row.read);
        EXPECT_TRUE(g_host.responses.empty()) << "foreign replies are not answers";
        g_script.onTick = nullptr;
    }
}

// Idle is false while a blocking PingHost waits, as a handler inside the wait sees it.
TEST_F(Pump, IdleInsideTheWait) {
    ASSERT_EQ(Set(CORVANE_PING_TIMEOUT, 5), 0);
    EXPECT_EQ(Get(CORVANE_PING_IDLE), 1);
    intptr_t idle = -1;
    intptr_t active = -1;
    g_host.onPlain = [&] {
        idle = Get(CORVANE_PING_IDLE);
        active = Get(CORVANE_PING_ACTIVE);
    };
    DuringTheWait({Act::kPostPlain, Act::kReply});

    EXPECT_EQ(PingHost(), 0);
    g_host.onPlain = nullptr;
    EXPECT_EQ(idle, 0);
    EXPECT_EQ(active, 1);
    EXPECT_EQ(Get(CORVANE_PING_IDLE), 1);
    EXPECT_EQ(Get(CORVANE_PING_ACTIVE), 0);
}

// Without the module's start-up there are no resolver functions and Windows Sockets is
// not started: getaddrinfo counts as missing (-1), gethostbyname's WSANOTINITIALISED as no
// address; literals need neither.
TEST(DetachedRuntime, ResolutionWithoutTheRuntime) {
    if (ModuleAttached()) GTEST_SKIP() << "the module is started in this program";
    // Windows Sockets may have been started by other code of the program.
    const char* localhost = plat::gethostbyname("localhost") != nullptr ? "127.0.0.1" : "";
    struct Row {
        const char* setting;  // or null
        int32_t property;
        const char* host;
        int32_t rc;
        const char* readBack;
    };
    const Row rows[] = {
        {nullptr, CORVANE_PING_REMOTE_HOST, "localhost", -1, ""},
        {"UseGetAddrInfo=false", CORVANE_PING_REMOTE_HOST, "localhost", 0, localhost},
        {nullptr, CORVANE_PING_REMOTE_HOST, "127.0.0.7", 0, "127.0.0.7"},
        {"UseIPv6=true", CORVANE_PING_REMOTE_HOST, "::1", -1, ""},
        {nullptr, CORVANE_PING_LOCAL_HOST, "127.0.0.7", 0, "127.0.0.7"},
        {"UseIPv6=true", CORVANE_PING_LOCAL_HOST, "::1", -1, nullptr},
    };
    const std::string machine = test::MachineName();
    ASSERT_FALSE(machine.empty());
    const char* hostName = machine.c_str();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + " " + (row.setting != nullptr ? row.setting : ""));
        void* ping = Corvane_Ping_Create(nullptr, nullptr, nullptr, 0);
        ASSERT_NE(ping, nullptr);
        if (row.setting != nullptr) {
            intptr_t slots[2] = {reinterpret_cast<intptr_t>(row.setting), 0};
            int32_t lengths[2] = {0, 0};
            ASSERT_EQ(Corvane_Ping_Do(ping, CORVANE_PING_CONFIG, 1, slots, lengths, 0), 0);
        }
        EXPECT_EQ(Corvane_Ping_Set(ping, row.property, 0, reinterpret_cast<intptr_t>(row.host), 0),
                  row.rc);
        EXPECT_EQ(TextOf(Corvane_Ping_Get(ping, row.property, 0, nullptr, 0)),
                  row.readBack != nullptr ? row.readBack : hostName);
        Corvane_Ping_Destroy(ping);
    }
}

// At module detach live objects go first, their windows and sockets with them; then the
// window class is gone.
TEST(ModuleDetach, DestroysLiveObjectsBeforeTheWindowClass) {
    g_script = Script{};
    corvane::SetSocketApi(&kScriptedSockets);
    const bool wasAttached = ModuleAttached();
    if (!wasAttached) corvane::ModuleAttach(nullptr);
    void* open = Corvane_Ping_Create(nullptr, nullptr, nullptr, 0);
    void* idle = Corvane_Ping_Create(nullptr, nullptr, nullptr, 0);
    ASSERT_NE(open, nullptr);
    ASSERT_NE(idle, nullptr);
    const plat::HWND openWindow = static_cast<PingComponent*>(open)->WindowHandle();
    const plat::HWND idleWindow = static_cast<PingComponent*>(idle)->WindowHandle();
    ASSERT_NE(openWindow, nullptr);
    ASSERT_NE(idleWindow, nullptr);
    ASSERT_EQ(Corvane_Ping_Set(open, CORVANE_PING_ACTIVE, 0, 1, 0), 0);
    ASSERT_EQ(g_script.opened, 1);

    corvane::ModuleDetach();

    EXPECT_FALSE(plat::IsWindow(openWindow));
    EXPECT_FALSE(plat::IsWindow(idleWindow));
    EXPECT_EQ(g_script.closed, 1) << "the open socket is released";
    const plat::HWND late =
        plat::CreateWindowExA(0, corvane::kSocketWindowClass, "", 0, 0, 0, 0, 0,
                              plat::MessageOnlyParent(), nullptr, nullptr, nullptr);
    EXPECT_EQ(late, nullptr) << "the window class is unregistered";
    if (late != nullptr) plat::DestroyWindow(late);
    corvane::SetSocketApi(nullptr);
    if (wasAttached) corvane::ModuleAttach(nullptr);  // as the other tests left it
}

}  // namespace
