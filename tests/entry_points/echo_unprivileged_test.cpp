// The echo exchange for a user without the privilege for raw sockets: this program runs
// as uid 65534 inside the pinger namespace of tests/netns/icmp_hosts.sh, started by
// tests/netns/unprivileged.sh, which first sets the namespace's net.ipv4.ping_group_range.
// With the range open the exchange must give what it gives on raw sockets; with it
// closed, 10013. EchoTable runs as root and compares both paths on the same hosts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/entry_points/echo_support.h"
#include "tests/support/test_hosts.h"

extern char** environ;

namespace {

using test::hosts::kHost;
using test::hosts::kHost6;
using test::hosts::kProhibited;
using test::hosts::kProhibited6;
using test::hosts::kRouter;
using test::hosts::kRouter6;
using test::hosts::kSilent;
using test::hosts::kSilent6;
using test::hosts::kUnreachable;
using test::hosts::kUnreachable6;

using test::EchoPing;
using test::ResponseEvent;

constexpr int32_t kErrorReply = 127;
constexpr int32_t kWaitEnded = 301;
constexpr int32_t kCantCreateHandle = 120;
constexpr int32_t kWsaEopnotsupp = 10045;
// The router's kernel rations its IPv4 errors per pinger (five at once, then one a
// second), shared with the other tests of these hosts.
constexpr int kErrorAttempts = 4;

bool IsV6(const char* host) {
    return std::string(host).find(':') != std::string::npos;
}

// Whether this process's group may open ICMP datagram sockets here.
bool RangeAdmitsUs() {
    std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
    long low = 1;
    long high = 0;
    range >> low >> high;
    const long gid = static_cast<long>(getegid());
    return low <= gid && gid <= high;
}

std::string WhyNotUnprivileged() {
    const std::string why = test::WhyNoTestHosts();
    if (!why.empty()) return why;
    if (geteuid() == 0) {
        return "runs as an unprivileged user: ctest starts it through "
               "tests/netns/unprivileged.sh";
    }
    return "";
}

class Unprivileged : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = WhyNotUnprivileged();
        if (!why.empty()) GTEST_SKIP() << why;
        if (!RangeAdmitsUs()) GTEST_SKIP() << "net.ipv4.ping_group_range does not admit us";
    }
};

// A synchronous exchange; an IPv4 router error that did not come is asked for again.
int32_t PingOnce(EchoPing& echo, const char* host, bool routerError) {
    int32_t rc = echo.PingHost(host);
    for (int attempt = 1;
         routerError && !IsV6(host) && rc == kWaitEnded && attempt < kErrorAttempts; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        echo.responses.clear();
        rc = echo.PingHost(host);
    }
    return rc;
}

// Replies from loopback, ::1 and a host behind the router: one Response "OK" with the
// request's own RequestId, from the remote address.
TEST_F(Unprivileged, Replies) {
    for (const char* host : {"127.0.0.1", "::1", kHost, kHost6}) {
        SCOPED_TRACE(host);
        EchoPing echo;
        echo.SetTimeoutMs(3000);
        if (IsV6(host)) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        ASSERT_EQ(echo.PingHost(host), 0) << echo.ping().LastError();
        ASSERT_EQ(echo.responses.size(), 1u);
        EXPECT_EQ(echo.responses[0].status, "OK");
        EXPECT_EQ(echo.responses[0].source, host);
        EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
        EXPECT_GE(echo.responses[0].time, 0);
        EXPECT_EQ(echo.ResponseSource(), host);
        EXPECT_FALSE(echo.Active());
        EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
    }
}

// The router's host-unreachable and prohibited answers: synchronously a Response with
// the status text and then 127; asynchronously (the socket unconnected, the answer read
// on its notification) a Response from the router with the request's RequestId.
TEST_F(Unprivileged, RouterAnswers) {
    struct Row {
        const char* host;
        const char* router;
        const char* status;
    };
    const Row rows[] = {
        {kUnreachable, kRouter, "Host unreachable."},
        {kProhibited, kRouter, "Destination unreachable: 13."},
        {kUnreachable6, kRouter6, "Network unreachable."},
        {kProhibited6, kRouter6,
         "Communication with destination host administratively prohibited."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        {
            SCOPED_TRACE("synchronous");
            EchoPing echo;
            echo.SetTimeoutMs(1500);
            if (IsV6(row.host)) {
                ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
            }
            EXPECT_EQ(PingOnce(echo, row.host, true), kErrorReply);
            EXPECT_EQ(echo.ping().LastError(), row.status);
            ASSERT_EQ(echo.responses.size(), 1u);
            EXPECT_EQ(echo.responses[0].status, row.status);
            EXPECT_EQ(echo.responses[0].source, row.host);
            EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
            EXPECT_FALSE(echo.Active());
            EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
        }
        {
            SCOPED_TRACE("asynchronous");
            EchoPing echo;
            ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
            if (IsV6(row.host)) {
                ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
            }
            bool answered = false;
            int32_t id = 0;
            for (int attempt = 0; attempt < (IsV6(row.host) ? 1 : kErrorAttempts) && !answered;
                 ++attempt) {
                ASSERT_EQ(echo.PingHost(row.host), 0) << echo.ping().LastError();
                id = echo.RequestId();
                answered = echo.PumpUntil([&] { return !echo.ResponsesTo(id).empty(); }, 1500);
            }
            ASSERT_TRUE(answered);
            const ResponseEvent e = echo.ResponsesTo(id)[0];
            EXPECT_EQ(e.status, row.status);
            EXPECT_EQ(e.source, row.router);
            EXPECT_TRUE(echo.Active());
            EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
        }
    }
}

// A silent host: 301 "Timeout." once the timeout has passed, no Response.
TEST_F(Unprivileged, SilentHostTimesOut) {
    for (const char* host : {kSilent, kSilent6}) {
        SCOPED_TRACE(host);
        EchoPing echo;
        echo.SetTimeoutMs(400);
        if (IsV6(host)) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(echo.PingHost(host), kWaitEnded);
        EXPECT_GE(test::MillisSince(start), 300);
        EXPECT_EQ(echo.ping().LastError(), "Timeout.");
        EXPECT_TRUE(echo.responses.empty());
        EXPECT_EQ(echo.ResponseSource(), "");
        EXPECT_FALSE(echo.Active());
    }
}

// With Timeout 0 the requests share one unconnected socket; every answer carries the
// RequestId of the request it answers, although the kernel sent its own identifier.
TEST_F(Unprivileged, AsynchronousRepliesCarryTheirRequestIds) {
    EchoPing echo;
    ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
    std::vector<test::AsyncRequest> sent = {
        {kHost, kHost, "OK"},
        {"127.0.0.1", "127.0.0.1", "OK"},
        {kHost, kHost, "OK"},
        {"127.0.0.2", "127.0.0.2", "OK"},
    };
    ASSERT_TRUE(test::SendAndAwaitAnswers(echo, sent, 3000));
    EXPECT_EQ(echo.responses.size(), 4u);
    test::ExpectOneAnswerEach(echo, sent);
    EXPECT_TRUE(echo.Active());
}

// What an ICMP datagram socket cannot send fails with 10045 instead of going out
// altered: a wake-on-LAN packet (its first bytes stand where the kernel writes its
// identifier) and a message type other than echo request. The port is closed again.
TEST_F(Unprivileged, RefusedOperations) {
    {
        SCOPED_TRACE("WakeOnLAN");
        EchoPing echo;
        echo.SetTimeoutMs(1000);
        EXPECT_EQ(echo.WakeOnLan(kHost, "0a:1b:2c:3d:4e:5f"), kWsaEopnotsupp);
        EXPECT_EQ(echo.ping().LastErrorCode(), kWsaEopnotsupp);
        EXPECT_FALSE(echo.Active());
    }
    {
        SCOPED_TRACE("TypeOfService 0");
        EchoPing echo;
        echo.SetTimeoutMs(1000);
        ASSERT_EQ(echo.ping().Set(CORVANE_PING_TYPE_OF_SERVICE, 0), 0);
        EXPECT_EQ(echo.PingHost(kHost), kWsaEopnotsupp);
        EXPECT_TRUE(echo.responses.empty());
        EXPECT_FALSE(echo.Active());
    }
}

// The helper-library path works for this user too.
TEST_F(Unprivileged, HelperPath) {
    EchoPing echo;
    ASSERT_EQ(echo.Config("UseICMPDLL=true"), 0);
    echo.SetTimeoutMs(2000);
    ASSERT_EQ(echo.PingHost(kHost), 0) << echo.ping().LastError();
    ASSERT_EQ(echo.responses.size(), 1u);
    EXPECT_EQ(echo.responses[0].status, "OK");
    EXPECT_EQ(echo.responses[0].source, kHost);
    EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
    EXPECT_FALSE(echo.Active());
}

// With the range closed neither socket is allowed: 10013, on both families and on the
// helper path (which cannot create its handle).
TEST(ClosedRange, AccessDenied) {
    const std::string why = WhyNotUnprivileged();
    if (!why.empty()) GTEST_SKIP() << why;
    if (RangeAdmitsUs()) GTEST_SKIP() << "net.ipv4.ping_group_range admits us";
    for (const char* host : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(host);
        EchoPing echo;
        echo.SetTimeoutMs(1000);
        if (IsV6(host)) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        EXPECT_EQ(echo.PingHost(host), test::kWsaAccessDenied);
        EXPECT_EQ(echo.ping().LastErrorCode(), test::kWsaAccessDenied);
        EXPECT_TRUE(echo.responses.empty());
        EXPECT_FALSE(echo.Active());
    }
    EchoPing echo;
    ASSERT_EQ(echo.Config("UseICMPDLL=true"), 0);
    EXPECT_EQ(echo.PingHost("127.0.0.1"), kCantCreateHandle);
}

// The same exchanges on the same hosts, one line each, without the times (which vary).
std::string RunTable() {
    struct Row {
        const char* what;
        const char* host;
        const char* config;  // or null
        int32_t timeoutMs;   // 0: asynchronous, pumped for a second
        bool routerError;
    };
    const Row rows[] = {
        {"loopback", "127.0.0.1", nullptr, 2000, false},
        {"loopback v6", "::1", "UseIPv6=true", 2000, false},
        {"host", kHost, nullptr, 2000, false},
        {"host v6", kHost6, "UseIPv6=true", 2000, false},
        {"unreachable", kUnreachable, nullptr, 2000, true},
        {"prohibited", kProhibited, nullptr, 2000, true},
        {"unreachable v6", kUnreachable6, "UseIPv6=true", 2000, true},
        {"prohibited v6", kProhibited6, "UseIPv6=true", 2000, true},
        {"silent", kSilent, nullptr, 400, false},
        {"silent v6", kSilent6, "UseIPv6=true", 400, false},
        {"too short to match", "127.0.0.1", "PacketSize", 400, false},
        {"asynchronous", kHost, nullptr, 0, false},
        {"asynchronous v6", kHost6, "UseIPv6=true", 0, false},
        // Returns at once with the port open; the router on the pinger's link answers.
        {"broadcast", "255.255.255.255", nullptr, 2000, false},
        {"helper library", kHost, "UseICMPDLL=true", 2000, false},
    };
    std::ostringstream out;
    for (const Row& row : rows) {
        EchoPing echo;
        if (row.config != nullptr && std::string(row.config) == "PacketSize") {
            echo.ping().Set(CORVANE_PING_PACKET_SIZE, 8);
        } else if (row.config != nullptr) {
            echo.Config(row.config);
        }
        if (row.timeoutMs != 0) {
            echo.SetTimeoutMs(row.timeoutMs);
        } else {
            echo.ping().Set(CORVANE_PING_TIMEOUT, 0);
        }
        // Spaced, so that the router's ration of IPv4 errors never decides a row.
        if (row.routerError && !IsV6(row.host)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        }
        const int32_t rc = echo.PingHost(row.host);
        const int32_t id = echo.RequestId();
        if (row.timeoutMs == 0 || std::string(row.host) == "255.255.255.255") {
            echo.PumpUntil([&] { return !echo.responses.empty(); }, 1000);
        }
        out << row.what << ": rc " << rc << " \"" << (rc != 0 ? echo.ping().LastError() : "")
            << "\" source \"" << echo.ResponseSource() << "\" active " << echo.Active();
        for (const ResponseEvent& e : echo.responses) {
            out << " | " << e.status << " from " << e.source
                << (e.requestId == id ? " own id" : " other id") << " handler saw \""
                << e.sourceInHandler << "\"";
        }
        for (const test::ErrorEvent& e : echo.errors)
            out << " | error " << e.code << " " << e.description;
        out << "\n";
    }
    return out.str();
}

// Prints the table; the comparison below starts it as the unprivileged user.
TEST(EchoTable, Print) {
    if (std::getenv("CORVANE_ECHO_TABLE_PRINT") == nullptr) {
        GTEST_SKIP() << "started by EchoTable.SameOnBothSocketKinds";
    }
    // The comparison means something only when this run cannot have raw sockets.
    const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (raw >= 0) {
        close(raw);
        std::fputs("@@raw sockets allowed\n", stdout);
    }
    std::fputs(("@@table\n" + RunTable() + "@@end\n").c_str(), stdout);
}

// The program's output when started as uid 65534 through setpriv, at most maxMillis.
std::string RunUnprivileged(const std::vector<std::string>& args, int maxMillis) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "";
    std::vector<std::string> words = {"setpriv", "--reuid",        "65534",         "--regid",
                                      "65534",   "--clear-groups", "/proc/self/exe"};
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) words.back() = self;
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    setenv("CORVANE_ECHO_TABLE_PRINT", "1", 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "setpriv", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("CORVANE_ECHO_TABLE_PRINT");
    close(out[1]);
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; rc == 0 && i < 10000; ++i) {
        const int64_t left = maxMillis - test::MillisSince(start);
        if (left <= 0) break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buffer[1024];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    if (rc == 0) {
        if (waitpid(pid, nullptr, WNOHANG) == 0) kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return output;
}

// Root runs the table on raw sockets, then starts this program as uid 65534, which runs
// it on ICMP datagram sockets; both must read alike, line by line.
TEST(EchoTable, SameOnBothSocketKinds) {
    const std::string why = test::WhyNoTestHosts();
    if (!why.empty()) GTEST_SKIP() << why;
    if (geteuid() != 0) GTEST_SKIP() << "runs as root, and starts itself as uid 65534";
    const std::string raw = RunTable();
    const std::string output =
        RunUnprivileged({"--gtest_filter=EchoTable.Print", "--gtest_brief=1"}, 60000);
    const size_t begin = output.find("@@table\n");
    const size_t end = output.find("@@end\n");
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos) << output;
    ASSERT_EQ(output.find("@@raw sockets allowed"), std::string::npos);
    const std::string datagram = output.substr(begin + 8, end - begin - 8);
    std::istringstream a(raw);
    std::istringstream b(datagram);
    std::string lineA;
    std::string lineB;
    int lines = 0;
    while (std::getline(a, lineA)) {
        ASSERT_TRUE(std::getline(b, lineB)) << "the unprivileged run ended early";
        EXPECT_EQ(lineB, lineA);
        ++lines;
    }
    EXPECT_FALSE(std::getline(b, lineB)) << "more lines unprivileged: " << lineB;
    EXPECT_EQ(lines, 15);
    std::fputs(raw.c_str(), stdout);
}

}  // namespace
