// The socket runtime of a ping object through the entry points, on real sockets: the raw
// socket behind Active and its options, the settings an open port refuses, the addresses
// RemoteHost and LocalHost read back, and the pump behind DoEvents, Interrupt and Idle.
// Traffic goes to 127.0.0.1 only; names resolve from /etc/hosts or as literals, except in
// the test host namespace, whose resolver asks a responder of the test's own.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/support/test_hosts.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/entry_points/engine_module.h"

namespace {

using test::Ping;
using Clock = std::chrono::steady_clock;

constexpr const char* kNeedRawSockets = "raw ICMP sockets need root or CAP_NET_RAW";

bool RawSocketsAllowed() {
    static const bool allowed = [] {
        const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }();
    return allowed;
}

#define REQUIRE_RAW_SOCKETS()                                      \
    do {                                                           \
        if (!RawSocketsAllowed()) GTEST_SKIP() << kNeedRawSockets; \
    } while (false)

// Kept out of line: a text read from a slot array and copied straight into a string is
// one of the patterns GCC 12 miscompiles at -O2.
[[gnu::noinline]] std::string SlotBytes(intptr_t slot) {
    const char* text = reinterpret_cast<const char*>(slot);
    return text != nullptr ? std::string(text) : std::string();
}

std::string Answer(const Ping& ping, const char* query) {
    std::string answer;
    EXPECT_EQ(ping.Config(query, &answer), 0) << query;
    return answer;
}

int32_t Number(const Ping& ping, const char* query) {
    return static_cast<int32_t>(std::strtol(Answer(ping, query).c_str(), nullptr, 10));
}

// The descriptor behind the open port, as SocketHandle gives it.
int SocketOf(const Ping& ping) {
    return Number(ping, "SocketHandle");
}

int LinuxOption(int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    return ::getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
}

int SystemDefaultTtl() {
    std::ifstream file("/proc/sys/net/ipv4/ip_default_ttl");
    int value = -1;
    file >> value;
    return value;
}

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

struct Response {
    int32_t id;
    std::string source;
    std::string status;
    intptr_t idle;    // as the handler read it
    intptr_t active;  // as the handler read it
};

struct Recorder {
    const Ping* ping = nullptr;
    std::vector<Response> responses;
    std::vector<int32_t> errors;
};

int32_t Record(void* context, int32_t event, int32_t count, intptr_t* params, int32_t*) {
    auto* recorder = static_cast<Recorder*>(context);
    if (event == CORVANE_PING_EVENT_RESPONSE && count >= 3) {
        Response response{static_cast<int32_t>(params[0]), SlotBytes(params[1]),
                          SlotBytes(params[2]), -1, -1};
        if (recorder->ping != nullptr) {
            response.idle = recorder->ping->Get(CORVANE_PING_IDLE);
            response.active = recorder->ping->Get(CORVANE_PING_ACTIVE);
        }
        recorder->responses.push_back(response);
    } else if (event == CORVANE_PING_EVENT_ERROR && count >= 1) {
        recorder->errors.push_back(static_cast<int32_t>(params[0]));
    }
    return 0;
}

// ---- the raw socket behind Active -----------------------------------------------------------

TEST(SocketRuntime, ActiveOpensOneRawSocket) {
    REQUIRE_RAW_SOCKETS();
    Ping ping;
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);
    EXPECT_EQ(Answer(ping, "SocketHandle"), "-1");

    ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1);
    EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 0) << "open with a Timeout of 60";
    const int fd = SocketOf(ping);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(LinuxOption(fd, SOL_SOCKET, SO_TYPE), SOCK_RAW);
    EXPECT_EQ(LinuxOption(fd, SOL_SOCKET, SO_PROTOCOL), IPPROTO_ICMP);
    EXPECT_EQ(LinuxOption(fd, SOL_SOCKET, SO_BROADCAST), 1);

    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 104);
    EXPECT_EQ(ping.LastErrorCode(), 104);
    EXPECT_EQ(ping.LastError(), "ICMPPort is already Active.");
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1);
    EXPECT_EQ(SocketOf(ping), fd) << "the second activation keeps the first socket";

    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
    EXPECT_EQ(ping.LastError(), "");
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);
    EXPECT_EQ(Answer(ping, "SocketHandle"), "-1");
    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0) << "closing a closed port succeeds";
}

// Reset closes an open port rather than forgetting its socket.
TEST(SocketRuntime, ResetReleasesTheOpenSocket) {
    REQUIRE_RAW_SOCKETS();
    Ping ping;
    const size_t descriptors = OpenDescriptors();
    ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);
    EXPECT_EQ(ping.Do(CORVANE_PING_RESET), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
    EXPECT_EQ(Answer(ping, "SocketHandle"), "-1");
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the socket is closed, not leaked";
    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0) << "and the port opens again";
    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
}

// LocalHost, MaxPacketSize, UseConnection, and RemoteHost on a connected socket, are
// refused while the port is open and accepted once it is closed.
TEST(SocketRuntime, SettingsThatWaitForAClosedPort) {
    REQUIRE_RAW_SOCKETS();
    struct Row {
        const char* what;
        const char* before;  // a setting made before opening, or null
        std::function<int32_t(const Ping&)> change;
        std::function<std::string(const Ping&)> read;
        int32_t rc;
        const char* text;
        const char* unchanged;
        const char* changed;
    };
    const auto localHost = [](const Ping& p) { return p.GetText(CORVANE_PING_LOCAL_HOST); };
    const auto remoteHost = [](const Ping& p) { return p.GetText(CORVANE_PING_REMOTE_HOST); };
    const Row rows[] = {
        {"LocalHost", nullptr,
         [](const Ping& p) { return p.SetText(CORVANE_PING_LOCAL_HOST, "127.0.0.2"); }, localHost,
         107, "Cannot change LocalHost when ICMPPort is Active.", "127.0.0.1", "127.0.0.2"},
        {"MaxPacketSize", nullptr, [](const Ping& p) { return p.Config("MaxPacketSize=4000"); },
         [](const Ping& p) { return Answer(p, "MaxPacketSize"); }, 112,
         "Cannot change MaxPacketSize while ICMPPort is Active.", "2048", "4000"},
        {"MaxMessageSize", nullptr, [](const Ping& p) { return p.Config("MaxMessageSize=3000"); },
         [](const Ping& p) { return Answer(p, "MaxMessageSize"); }, 112,
         "Cannot change MaxPacketSize while ICMPPort is Active.", "2048", "3000"},
        {"UseConnection", nullptr, [](const Ping& p) { return p.Config("UseConnection=false"); },
         [](const Ping& p) { return Answer(p, "UseConnection"); }, 117,
         "Cannot change UseConnection option while ICMPPort is Active.", "True", "False"},
        {"RemoteHost, connected", nullptr,
         [](const Ping& p) { return p.SetText(CORVANE_PING_REMOTE_HOST, "127.0.0.2"); }, remoteHost,
         114, "Cannot change RemoteHost when UseConnection is set and ICMPPort is Active.",
         "127.0.0.1", "127.0.0.2"},
        {"RemoteHost, not connected", "UseConnection=false",
         [](const Ping& p) { return p.SetText(CORVANE_PING_REMOTE_HOST, "127.0.0.2"); }, remoteHost,
         0, "", "127.0.0.2", "127.0.0.2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Ping ping;
        if (row.before != nullptr) {
            ASSERT_EQ(ping.Config(row.before), 0);
        }
        ASSERT_EQ(ping.SetText(CORVANE_PING_LOCAL_HOST, "127.0.0.1"), 0);
        ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, "127.0.0.1"), 0);
        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);

        EXPECT_EQ(row.change(ping), row.rc);
        EXPECT_EQ(ping.LastErrorCode(), row.rc);
        EXPECT_EQ(ping.LastError(), row.text);
        EXPECT_EQ(row.read(ping), row.unchanged);
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1) << "a refusal leaves the port open";

        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
        EXPECT_EQ(row.change(ping), 0);
        EXPECT_EQ(row.read(ping), row.changed);
    }
}

// TimeToLive, MulticastTTL and QOSFlags act on the open socket at once; while it is open
// they read what the socket uses, while closed what was stored; a hop limit of 0 is never
// sent, a type of service of 0 only after a non-zero one.
TEST(SocketRuntime, HopLimitsAndTypeOfServiceOnTheOpenSocket) {
    REQUIRE_RAW_SOCKETS();
    struct Row {
        const char* name;
        std::function<int32_t(const Ping&, int32_t)> write;
        std::function<int32_t(const Ping&)> read;
        int level;
        int option;
        int32_t value;
        bool zeroIsSent;
    };
    const Row rows[] = {
        {"TimeToLive", [](const Ping& p, int32_t v) { return p.Set(CORVANE_PING_TIME_TO_LIVE, v); },
         [](const Ping& p) { return static_cast<int32_t>(p.Get(CORVANE_PING_TIME_TO_LIVE)); },
         IPPROTO_IP, IP_TTL, 17, false},
        {"MulticastTTL",
         [](const Ping& p, int32_t v) {
             return p.Config(("MulticastTTL=" + std::to_string(v)).c_str());
         },
         [](const Ping& p) { return Number(p, "MulticastTTL"); }, IPPROTO_IP, IP_MULTICAST_TTL, 17,
         false},
        {"QOSFlags",
         [](const Ping& p, int32_t v) {
             return p.Config(("QOSFlags=" + std::to_string(v)).c_str());
         },
         [](const Ping& p) { return Number(p, "QOSFlags"); }, IPPROTO_IP, IP_TOS, 0x28, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Ping ping;
        ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, "127.0.0.1"), 0);
        EXPECT_EQ(row.read(ping), 0) << "closed, never set";

        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);
        int fd = SocketOf(ping);
        const int systemDefault = LinuxOption(fd, row.level, row.option);
        ASSERT_GE(systemDefault, 0);
        EXPECT_EQ(row.read(ping), systemDefault) << "open, never set: the system's value";
        if (row.option == IP_TTL) {
            EXPECT_EQ(systemDefault, SystemDefaultTtl());
        }
        // Changed behind the object's back: the read shows what the socket now uses.
        const int poked = 0x10;
        ASSERT_EQ(::setsockopt(fd, row.level, row.option, &poked, sizeof poked), 0);
        EXPECT_EQ(row.read(ping), poked);

        EXPECT_EQ(row.write(ping, row.value), 0);
        EXPECT_EQ(LinuxOption(fd, row.level, row.option), row.value) << "applied at once";
        EXPECT_EQ(row.read(ping), row.value);

        EXPECT_EQ(row.write(ping, 0), 0);
        const int afterZero = row.zeroIsSent ? 0 : row.value;
        EXPECT_EQ(LinuxOption(fd, row.level, row.option), afterZero);
        EXPECT_EQ(row.read(ping), afterZero);

        EXPECT_EQ(row.write(ping, row.value), 0);
        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
        EXPECT_EQ(row.read(ping), row.value) << "closed: the stored value";
        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);
        fd = SocketOf(ping);
        EXPECT_EQ(LinuxOption(fd, row.level, row.option), row.value) << "applied on opening";
        EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
    }
}

// Linux has no SIO_RCVALL: any ReceiveAll request fails the activation with 10045, and the
// socket made for it is released again.
TEST(SocketRuntime, ReceiveAllRequestFailsTheActivation) {
    REQUIRE_RAW_SOCKETS();
    struct Row {
        const char* setting;
        int32_t rc;
        const char* text;
        intptr_t active;
    };
    const Row rows[] = {
        {"ReceiveAll=false", 10045, "[10045] Operation not supported on socket", 0},
        {"ReceiveAll=true", 10045, "[10045] Operation not supported on socket", 0},
        {"ReceiveAllMode=0", 10045, "[10045] Operation not supported on socket", 0},
        {"ReceiveAllMode=3", 10045, "[10045] Operation not supported on socket", 0},
        {"ReceiveAllMode=-1", 0, "", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        Ping ping;
        ASSERT_EQ(ping.Config(row.setting), 0);
        const size_t descriptors = OpenDescriptors();
        EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), row.rc);
        EXPECT_EQ(ping.LastErrorCode(), row.rc);
        EXPECT_EQ(ping.LastError(), row.text);
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), row.active);
        EXPECT_EQ(Answer(ping, "SocketHandle") == "-1", row.active == 0);
        EXPECT_EQ(OpenDescriptors(), descriptors + static_cast<size_t>(row.active));
        EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
    }
}

// ---- addresses ------------------------------------------------------------------------------

// RemoteHost reads back the numeric address it resolved to, empty for none, in either
// family; a failure forgets the address that was there before.
TEST(SocketRuntime, RemoteHostReadsBackTheResolvedAddress) {
    struct Row {
        std::vector<const char*> settings;
        const char* host;
        int32_t rc;
        const char* readBack;
    };
    const Row rows[] = {
        {{}, "localhost", 0, "127.0.0.1"},
        {{}, "127.0.0.1", 0, "127.0.0.1"},
        {{}, "255.255.255.255", 0, "255.255.255.255"},
        {{}, "255.255.255.254", 0, "255.255.255.254"},
        {{}, "127.1", 0, "127.0.0.1"},
        {{}, "0x7f.0.0.1", 0, "127.0.0.1"},
        {{}, "2130706433", 0, "127.0.0.1"},
        {{}, "0.0.0.0", 0, ""},  // the address 0 is no address
        {{}, "", 0, ""},
        {{"UseGetAddrInfo=false"}, "localhost", 0, "127.0.0.1"},
        {{"UseGetAddrInfo=false"}, "127.1", 0, "127.0.0.1"},
        {{"UseIPv6=true"}, "::1", 0, "::1"},
        {{"UseIPv6=true"}, "2001:db8::5", 0, "2001:db8::5"},
        {{"UseIPv6=true"}, "fe80::1%12", 0, "fe80::1%12"},
        {{"UseIPv6=true"}, "fe80::1%eth", 0, "fe80::1"},
        {{"UseIPv6=true"}, "fe80::1%+3x", 0, "fe80::1%3"},
        {{"UseIPv6=true"}, "fe80::1%", 0, "fe80::1"},
        {{"UseIPv6=true"}, "127.0.0.1", 11001, ""},
        {{"UseIPv6=true"}, "", 0, ""},
        {{"UseIPv6=true", "UseGetAddrInfo=false"}, "::1", 0, "::1"},
    };
    for (const Row& row : rows) {
        std::string name = row.host;
        for (const char* setting : row.settings)
            name += std::string(" with ") + setting;
        SCOPED_TRACE(name);
        Ping ping;
        for (const char* setting : row.settings) {
            ASSERT_EQ(ping.Config(setting), 0);
        }
        const bool ipv6 = Answer(ping, "UseIPv6") == "True";
        ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, ipv6 ? "::2" : "127.0.0.9"), 0);

        EXPECT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, row.host), row.rc);
        EXPECT_EQ(ping.LastErrorCode(), row.rc);
        EXPECT_EQ(ping.LastError(), row.rc == 0 ? "" : "[11001] Host not found");
        EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), row.readBack);
        EXPECT_EQ(ping.GetWide(CORVANE_PING_REMOTE_HOST), test::U16(row.readBack));
    }
}

// LocalHost reads back the address it was set to, and the computer's name while none is
// set; in IPv6 mode the numeric IPv6 address.
TEST(SocketRuntime, LocalHostReadsBack) {
    const std::string hostName = HostName();
    ASSERT_FALSE(hostName.empty());
    struct Row {
        const char* setting;   // or null
        const char* host;      // null: never written
        const char* readBack;  // null: the computer's name
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr},
        {"UseIPv6=true", nullptr, nullptr},
        {nullptr, "127.0.0.1", "127.0.0.1"},
        {nullptr, "127.1", "127.0.0.1"},
        {nullptr, "localhost", "127.0.0.1"},
        {nullptr, "255.255.255.255", "255.255.255.255"},
        {nullptr, "", nullptr},
        {"UseGetAddrInfo=false", "localhost", "127.0.0.1"},
        {"UseIPv6=true", "::1", "::1"},
        {"UseIPv6=true", "fe80::2%5", "fe80::2%5"},
        {"UseIPv6=true", "", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host != nullptr ? row.host : "(never written)") + " " +
                     (row.setting != nullptr ? row.setting : ""));
        Ping ping;
        if (row.setting != nullptr) {
            ASSERT_EQ(ping.Config(row.setting), 0);
        }
        if (row.host != nullptr) {
            EXPECT_EQ(ping.SetText(CORVANE_PING_LOCAL_HOST, row.host), 0);
        }
        EXPECT_EQ(ping.GetText(CORVANE_PING_LOCAL_HOST),
                  row.readBack != nullptr ? row.readBack : hostName);
        EXPECT_EQ(ping.LastErrorCode(), 0);
    }
}

// With UseIPv6 "2" each LocalHost write chooses the family; RemoteHost then resolves in it.
TEST(SocketRuntime, UseIPv6TwoFollowsLocalHost) {
    struct Step {
        const char* localHost;
        const char* useIpv6;
        const char* localReadBack;
        const char* remoteHost;
        const char* remoteReadBack;
    };
    const Step steps[] = {
        {"127.0.0.1", "False", "127.0.0.1", "127.0.0.3", "127.0.0.3"},
        {"::1", "True", "::1", "::1", "::1"},
        {"127.0.0.2", "False", "127.0.0.2", "127.1", "127.0.0.1"},
        {"fe80::3%4", "True", "fe80::3%4", "fe80::9%4", "fe80::9%4"},
    };
    Ping ping;
    ASSERT_EQ(ping.Config("UseIPv6=2"), 0);
    EXPECT_EQ(Answer(ping, "UseIPv6"), "True");
    for (const Step& step : steps) {
        SCOPED_TRACE(step.localHost);
        EXPECT_EQ(ping.SetText(CORVANE_PING_LOCAL_HOST, step.localHost), 0);
        EXPECT_EQ(Answer(ping, "UseIPv6"), step.useIpv6);
        EXPECT_EQ(ping.GetText(CORVANE_PING_LOCAL_HOST), step.localReadBack);
        EXPECT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, step.remoteHost), 0);
        EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), step.remoteReadBack);
    }
}

// ---- the pump -------------------------------------------------------------------------------

// A DoEvents with an empty queue sleeps up to SelectWaitMillis; with 0 it does not sleep.
TEST(SocketRuntime, DoEventsSleepsUpToSelectWaitMillis) {
    struct Row {
        const char* setting;
        int calls;
        int minMillis;  // for all calls together
        int maxMillis;
    };
    const Row rows[] = {
        {"SelectWaitMillis=0", 50, 0, 500},
        {"SelectWaitMillis=60", 3, 150, 5000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        Ping ping;
        ASSERT_EQ(ping.Config(row.setting), 0);
        const auto start = Clock::now();
        for (int i = 0; i < row.calls; ++i) {
            EXPECT_EQ(ping.Do(CORVANE_PING_DO_EVENTS), 0);
        }
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(millis, row.minMillis);
        EXPECT_LE(millis, row.maxMillis);
    }
}

// An Interrupt made while nothing waits ends the next wait at its first pass, after the
// request went out; a DoEvents in between consumes it.
TEST(SocketRuntime, InterruptBeforeABlockingPing) {
    REQUIRE_RAW_SOCKETS();
    struct Row {
        const char* name;
        bool doEventsFirst;
        int32_t rc;
        const char* text;
    };
    const Row rows[] = {
        {"the wait ends", false, 301, "Interrupted."},
        {"DoEvents consumes it", true, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder recorder;
        Ping ping(&Record, &recorder);
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 3), 0);
        EXPECT_EQ(ping.Do(CORVANE_PING_INTERRUPT), 0);
        if (row.doEventsFirst) {
            EXPECT_EQ(ping.Do(CORVANE_PING_DO_EVENTS), 0);
            EXPECT_EQ(ping.LastError(), "Interrupted.");
        }
        const auto start = Clock::now();
        EXPECT_EQ(ping.DoWithText(CORVANE_PING_PING_HOST, {"127.0.0.1"}), row.rc);
        EXPECT_EQ(ping.LastError(), row.text);
        EXPECT_NE(ping.Get(CORVANE_PING_REQUEST_ID), 0) << "the request was sent";
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << "not a timeout";
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
        if (row.rc == 0) {
            ASSERT_EQ(recorder.responses.size(), 1u);
            EXPECT_EQ(recorder.responses[0].id, ping.Get(CORVANE_PING_REQUEST_ID));
        }
    }
}

// Idle: true unless the port is open and Timeout (in its unit) is at least 1. Writing
// Timeout 0 through the property closes the port; the setting does not.
TEST(SocketRuntime, TimeoutUnitsAndIdle) {
    REQUIRE_RAW_SOCKETS();
    struct Row {
        std::vector<const char*> settings;
        intptr_t property;  // written to Timeout after the settings, unless INTPTR_MIN
        intptr_t timeout;
        intptr_t idle;
    };
    const Row rows[] = {
        {{}, 3, 3, 0},
        {{}, -5, -5, 1},
        {{"Timeout=0"}, INTPTR_MIN, 0, 1},
        {{"TimeoutInMilliseconds=true"}, 1, 1, 0},
        {{"TimeoutInMilliseconds=true"}, 3000000, 2147483, 0},
        {{"IcmpDllTimeout=3000000"}, INTPTR_MIN, 2147483, 0},
        {{"IphlpDllTimeout=-7"}, INTPTR_MIN, -7, 1},
        {{"Timeout=60", "TimeoutInMilliseconds=true"}, INTPTR_MIN, 60, 0},
        {{"TimeoutInMilliseconds=true", "Timeout=999", "TimeoutInMilliseconds=false"},
         INTPTR_MIN,
         999,
         0},
    };
    for (const Row& row : rows) {
        std::string name;
        for (const char* setting : row.settings)
            name += std::string(setting) + " ";
        SCOPED_TRACE(name + std::to_string(row.property));
        Ping ping;
        for (const char* setting : row.settings) {
            ASSERT_EQ(ping.Config(setting), 0);
        }
        if (row.property != INTPTR_MIN) {
            ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, row.property), 0);
        }
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1) << "closed";
        ASSERT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 0);
        EXPECT_EQ(ping.Get(CORVANE_PING_TIMEOUT), row.timeout);
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), row.idle);
        EXPECT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0) << "Timeout 0 closes the port";
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);
    }
}

// A blocking PingHost to 127.0.0.1 is answered under every pump switch; its handler sees
// the port open and the object busy, and PingHost closes the port before it returns.
TEST(SocketRuntime, BlockingPingUnderEachPumpSwitch) {
    REQUIRE_RAW_SOCKETS();
    const char* rows[] = {
        nullptr,
        "UseWindowsMessages=false",
        "IgnoreOtherWindowEvents=true",
        "IgnoreExternalEvents=true",
        "AbsoluteTimeout=true",
        "SelectWaitMillis=0",
    };
    for (const char* setting : rows) {
        SCOPED_TRACE(setting != nullptr ? setting : "defaults");
        Recorder recorder;
        Ping ping(&Record, &recorder);
        recorder.ping = &ping;
        if (setting != nullptr) {
            ASSERT_EQ(ping.Config(setting), 0);
        }
        ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 3), 0);
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);

        EXPECT_EQ(ping.DoWithText(CORVANE_PING_PING_HOST, {"127.0.0.1"}), 0);
        EXPECT_EQ(ping.LastError(), "");
        ASSERT_EQ(recorder.responses.size(), 1u);
        const Response& response = recorder.responses[0];
        EXPECT_EQ(response.id, ping.Get(CORVANE_PING_REQUEST_ID));
        EXPECT_EQ(response.source, "127.0.0.1");
        EXPECT_EQ(response.status, "OK");
        EXPECT_EQ(response.idle, 0);
        EXPECT_EQ(response.active, 1);
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0);
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);
        EXPECT_TRUE(recorder.errors.empty());
    }
}

// With Timeout 0 PingHost returns at once and leaves the port open; the reply arrives while
// the caller pumps.
TEST(SocketRuntime, AsynchronousPingAnsweredWhilePumping) {
    REQUIRE_RAW_SOCKETS();
    Recorder recorder;
    Ping ping(&Record, &recorder);
    recorder.ping = &ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 0), 0);
    EXPECT_EQ(ping.DoWithText(CORVANE_PING_PING_HOST, {"127.0.0.1"}), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1);
    EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), 1);
    // Without matching, the open socket reports any ICMP message the host receives; ours
    // carries the request id.
    const auto id = ping.Get(CORVANE_PING_REQUEST_ID);
    const auto ours = [&] {
        for (const Response& response : recorder.responses) {
            if (response.id == id) return &response;
        }
        return static_cast<const Response*>(nullptr);
    };
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (int pass = 0; pass < 500 && ours() == nullptr && Clock::now() < deadline; ++pass) {
        ping.Do(CORVANE_PING_DO_EVENTS);
    }
    ASSERT_NE(ours(), nullptr);
    EXPECT_EQ(ours()->status, "OK");
    EXPECT_EQ(ours()->source, "127.0.0.1");
    EXPECT_EQ(ours()->idle, 1);
    EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 1) << "asynchronous replies leave the port open";
    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 0), 0);
}

// ---- names that are not found, inside the test host namespace -------------------------------

// The name server the namespace's resolver asks (127.0.0.1:53): every query is answered
// "no such name". Stops when told, or after a minute at the latest.
class NoSuchNameServer {
  public:
    NoSuchNameServer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return;
        }
        ready_ = true;
        thread_ = std::thread([this] { Serve(); });
    }
    ~NoSuchNameServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool ready() const { return ready_; }
    int answered() const { return answered_; }

  private:
    void Serve() {
        for (int round = 0; round < 600 && !stop_; ++round) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            uint8_t query[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd_, query, sizeof query, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 12) continue;
            // Header and question only: QR, RD kept, RA, RCODE 3 (name error).
            size_t end = 12;
            while (end < static_cast<size_t>(n) && query[end] != 0)
                end += query[end] + 1u;
            end += 5;
            if (end > static_cast<size_t>(n)) continue;
            query[2] = static_cast<uint8_t>(0x80 | (query[2] & 0x01));
            query[3] = 0x83;
            std::memset(query + 6, 0, 6);  // no answer, authority or additional records
            // Counted before the answer leaves: the resolver may return, and the test read
            // the count, before this thread runs again.
            ++answered_;
            ::sendto(fd_, query, end, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    int fd_ = -1;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

// A name the resolver does not know fails with 11001 on every path, and leaves no address.
TEST(SocketRuntimeNetns, NamesNotFound) {
    const std::string why = test::WhyNoTestHosts();
    if (!why.empty()) GTEST_SKIP() << why;
    NoSuchNameServer server;
    ASSERT_TRUE(server.ready()) << "cannot listen on 127.0.0.1:53";
    const std::string hostName = HostName();
    struct Row {
        const char* name;
        const char* setting;  // or null
        int32_t property;
        const char* earlier;   // set before the failing name
        const char* readBack;  // null: the computer's name
    };
    const Row rows[] = {
        {"RemoteHost through getaddrinfo", nullptr, CORVANE_PING_REMOTE_HOST, "127.0.0.5", ""},
        {"RemoteHost through gethostbyname", "UseGetAddrInfo=false", CORVANE_PING_REMOTE_HOST,
         "127.0.0.5", ""},
        {"RemoteHost in IPv6 mode", "UseIPv6=true", CORVANE_PING_REMOTE_HOST, "::5", ""},
        {"LocalHost through gethostbyname", nullptr, CORVANE_PING_LOCAL_HOST, "127.0.0.5", nullptr},
        {"LocalHost choosing the family", "UseIPv6=2", CORVANE_PING_LOCAL_HOST, "127.0.0.5",
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Ping ping;
        if (row.setting != nullptr) {
            ASSERT_EQ(ping.Config(row.setting), 0);
        }
        ASSERT_EQ(ping.SetText(row.property, row.earlier), 0);
        const int answeredBefore = server.answered();
        EXPECT_EQ(ping.SetText(row.property, "no-such-host.invalid"), 11001);
        EXPECT_EQ(ping.LastError(), "[11001] Host not found");
        EXPECT_GT(server.answered(), answeredBefore) << "the resolver asked the test's server";
        EXPECT_EQ(ping.GetText(row.property), row.readBack != nullptr ? row.readBack : hostName);
    }
}

}  // namespace
