// The echo exchange end to end against the test hosts of tests/netns/icmp_hosts.sh. This
// program runs inside the pinger namespace, whose only routes lead to the router
// namespace: behind it stand an ordinary host, a responder host whose kernel answers no
// echo requests (the tests start tests/tools/icmp_responder there), and the router's
// unreachable, prohibited and blackholed prefixes. Nothing sent here leaves the machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module.h"
#include "tests/entry_points/echo_support.h"
#include "tests/support/test_hosts.h"

namespace {

using test::hosts::kHost;
using test::hosts::kHost6;
using test::hosts::kProhibited;
using test::hosts::kProhibited6;
using test::hosts::kResponder;
using test::hosts::kResponder6;
using test::hosts::kRouter;
using test::hosts::kRouter6;
using test::hosts::kSilent;
using test::hosts::kSilent6;
using test::hosts::kUnreachable;
using test::hosts::kUnreachable6;

using test::HelperLibraryPresent;

using test::EchoPing;
using test::ResponseEvent;

constexpr int32_t kErrorReply = 127;
constexpr int32_t kWaitEnded = 301;

std::string Prefix() {
    const char* prefix = getenv("CORVANE_TEST_NETNS");
    return prefix != nullptr ? prefix : "";
}

bool SameNamespace(const std::string& path) {
    struct stat mine {};
    struct stat other {};
    return stat(path.c_str(), &other) == 0 && stat("/proc/self/ns/net", &mine) == 0 &&
           mine.st_ino == other.st_ino && mine.st_dev == other.st_dev;
}

// Why the test hosts cannot be used, or empty when this process is in the pinger.
std::string WhyNoTestHosts() {
    const std::string prefix = Prefix();
    if (prefix.empty()) return "CORVANE_TEST_NETNS is not set: run through ctest";
    if (getuid() != 0) return "the test hosts need root (network namespaces, raw sockets)";
    for (const char* suffix : {"-p", "-r", "-h", "-e"}) {
        struct stat s {};
        if (stat(("/run/netns/" + prefix + suffix).c_str(), &s) != 0) {
            return "the test host namespace " + prefix + suffix + " is missing";
        }
    }
    if (!SameNamespace("/run/netns/" + prefix + "-p")) return "not inside the pinger namespace";
    return "";
}

#define REQUIRE_TEST_HOSTS()                      \
    do {                                          \
        const std::string why = WhyNoTestHosts(); \
        if (!why.empty()) {                       \
            GTEST_SKIP() << why;                  \
        }                                         \
    } while (false)

// tests/tools/icmp_responder, started inside the responder namespace for one test and
// always ended before the next: its output tells which requests reached it.
class Responder {
  public:
    Responder() = default;
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;
    ~Responder() { Stop(); }

    // Starts it with the arguments and waits until its sockets are open.
    bool Start(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        const std::string ns = "/run/netns/" + Prefix() + "-e";
        args.insert(args.begin(), CORVANE_ICMP_RESPONDER);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec.
            const int fd = open(ns.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) _exit(126);
            dup2(out[1], STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        if (pid_ < 0) return false;
        return ReadUntil("ready", 5000);
    }

    // Waits up to maxMillis for the responder to end by itself (it is bounded), else
    // ends it; returns everything it printed.
    std::string Finish(int maxMillis) {
        ReadUntil("done", maxMillis);
        Stop();
        return output_;
    }

    struct Request {
        uint32_t id;    // the first four bytes behind the echo header's checksum
        size_t length;  // of the ICMP message
        int ttl;        // on arrival, one router hop later
        uint32_t data;  // the first four bytes behind the echo header
    };
    // The echo requests it saw.
    std::vector<Request> Requests() const {
        std::vector<Request> found;
        std::istringstream lines(output_);
        std::string word;
        while (lines >> word) {
            if (word != "request") continue;
            std::string id;
            Request r{};
            std::string data;
            lines >> id >> r.length >> r.ttl >> data;
            r.id = static_cast<uint32_t>(std::stoul(id, nullptr, 16));
            r.data = static_cast<uint32_t>(std::stoul(data, nullptr, 16));
            found.push_back(r);
        }
        return found;
    }

  private:
    bool ReadUntil(const char* word, int maxMillis) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000 && output_.find(word) == std::string::npos; ++i) {
            const int64_t left = maxMillis - test::MillisSince(start);
            if (out_ < 0 || left <= 0) break;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
            char buffer[512];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            output_.append(buffer, static_cast<size_t>(n));
        }
        return output_.find(word) != std::string::npos;
    }

    void Stop() {
        if (pid_ > 0) {
            if (waitpid(pid_, nullptr, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;
        }
        if (out_ >= 0) close(out_);
        out_ = -1;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

class EchoHosts : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_TEST_HOSTS(); }
};

// A host that answers: "OK" from the host's own address, seen after the handler.
TEST_F(EchoHosts, OrdinaryHostAnswers) {
    struct Row {
        const char* host;
        bool ipv6;
    };
    const Row rows[] = {{kHost, false}, {kHost6, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        EchoPing echo;
        echo.SetTimeoutMs(3000);
        if (row.ipv6) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        ASSERT_EQ(echo.PingHost(row.host), 0) << echo.ping().LastError();
        ASSERT_EQ(echo.responses.size(), 1u);
        EXPECT_EQ(echo.responses[0].status, "OK");
        EXPECT_EQ(echo.responses[0].source, row.host);
        EXPECT_EQ(echo.responses[0].sourceInHandler, "");
        EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
        EXPECT_EQ(echo.ResponseSource(), row.host);
        EXPECT_FALSE(echo.Active());
    }
}

// No answer: 301 "Timeout." once the timeout has passed; ResponseTime 0, ResponseSource
// empty, and RequestId still the unanswered request's, as the responder saw it on the
// wire in a 64-byte request.
TEST_F(EchoHosts, SilentHostTimesOut) {
    struct Row {
        const char* host;
        bool ipv6;
        bool responder;  // a silent responder that reports the request
    };
    const Row rows[] = {
        {kSilent, false, false},
        {kSilent6, true, false},
        {kResponder, false, true},
        {kResponder6, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        Responder responder;
        if (row.responder) {
            std::vector<std::string> args = {"--mode", "silent", "--seconds", "5"};
            if (row.ipv6) args.push_back("--ipv6");
            ASSERT_TRUE(responder.Start(args));
        }
        EchoPing echo;
        echo.SetTimeoutMs(400);
        if (row.ipv6) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(echo.PingHost(row.host), kWaitEnded);
        const int64_t elapsed = test::MillisSince(start);
        EXPECT_EQ(echo.ping().LastError(), "Timeout.");
        EXPECT_GE(elapsed, 300);
        EXPECT_LT(elapsed, 5000);
        EXPECT_EQ(echo.ResponseTime(), 0);
        EXPECT_EQ(echo.ResponseSource(), "");
        EXPECT_FALSE(echo.Active());
        EXPECT_TRUE(echo.responses.empty());
        EXPECT_NE(echo.RequestId(), 0);
        if (row.responder) {
            responder.Finish(3000);
            const auto requests = responder.Requests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].id, static_cast<uint32_t>(echo.RequestId()));
            EXPECT_EQ(requests[0].length, 64u);
        }
    }
}

// A router's destination-unreachable answer: in a synchronous exchange one Response with
// the status text from the remote address (the connected port reads no source), then
// 127 with the same text; asynchronously one Response from the router itself.
// The router's kernel answers an unreachable or prohibited route at most five times at
// once per pinger address, then once a second (net.ipv4.route.error_burst and
// error_cost, which only the initial namespace has): a run of this program asks for six
// IPv4 answers, most of them here, and a fresh set of hosts starts with a full budget.
TEST_F(EchoHosts, RouterAnswersUnreachable) {
    struct Row {
        const char* host;
        bool ipv6;
        const char* router;
        const char* status;
    };
    const Row rows[] = {
        {kUnreachable, false, kRouter, "Host unreachable."},
        {kProhibited, false, kRouter, "Destination unreachable: 13."},
        // ICMPv6 codes 0 (no route) and 1 (prohibited) in the words of IPv4 codes 0 and 10.
        {kUnreachable6, true, kRouter6, "Network unreachable."},
        {kProhibited6, true, kRouter6,
         "Communication with destination host administratively prohibited."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        {
            SCOPED_TRACE("synchronous");
            EchoPing echo;
            echo.SetTimeoutMs(3000);
            if (row.ipv6) {
                ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
            }
            EXPECT_EQ(echo.PingHost(row.host), kErrorReply);
            EXPECT_EQ(echo.ping().LastErrorCode(), kErrorReply);
            EXPECT_EQ(echo.ping().LastError(), row.status);
            ASSERT_EQ(echo.responses.size(), 1u);
            EXPECT_EQ(echo.responses[0].status, row.status);
            EXPECT_EQ(echo.responses[0].source, row.host);
            EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
            EXPECT_EQ(echo.ResponseSource(), row.host);
            EXPECT_GE(echo.ResponseTime(), 0);
            EXPECT_FALSE(echo.Active());
            EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
        }
        {
            SCOPED_TRACE("asynchronous");
            EchoPing echo;
            ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
            if (row.ipv6) {
                ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
            }
            ASSERT_EQ(echo.PingHost(row.host), 0) << echo.ping().LastError();
            EXPECT_TRUE(echo.Active());
            const int32_t id = echo.RequestId();
            ASSERT_TRUE(echo.PumpUntil([&] { return !echo.ResponsesTo(id).empty(); }, 3000));
            const ResponseEvent e = echo.ResponsesTo(id)[0];
            EXPECT_EQ(e.status, row.status);
            EXPECT_EQ(e.source, row.router);
            EXPECT_TRUE(echo.Active());
            EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
        }
    }
}

// The responder's answers of every kind, in a synchronous exchange.
TEST_F(EchoHosts, ResponderAnswers) {
    struct Row {
        const char* what;
        std::vector<std::string> args;
        bool ipv6;
        int32_t rc;
        int responses;       // Response events, all with the request's identifier
        const char* status;  // their status, and the error text of 127
    };
    const Row rows[] = {
        {"normal", {"--mode", "normal"}, false, 0, 1, "OK"},
        {"normal IPv6", {"--mode", "normal"}, true, 0, 1, "OK"},
        {"late", {"--mode", "late", "--delay", "300"}, false, 0, 1, "OK"},
        // The closing drains the socket: the copy still queued fires its own Response.
        {"twice", {"--mode", "twice"}, false, 0, 2, "OK"},
        {"twice IPv6", {"--mode", "twice"}, true, 0, 2, "OK"},
        // The checksum flag is not consulted by the matching.
        {"bad checksum", {"--mode", "bad-checksum"}, false, 0, 1, "OK"},
        {"port unreachable",
         {"--mode", "error", "--type", "3", "--code", "3"},
         false,
         kErrorReply,
         1,
         "Port unreachable."},
        {"code 13",
         {"--mode", "error", "--type", "3", "--code", "13"},
         false,
         kErrorReply,
         1,
         "Destination unreachable: 13."},
        {"code 255",
         {"--mode", "error", "--type", "3", "--code", "255"},
         false,
         kErrorReply,
         1,
         "Destination unreachable: 255."},
        {"ICMPv6 port unreachable",
         {"--mode", "error", "--type", "1", "--code", "4"},
         true,
         kErrorReply,
         1,
         "Port unreachable."},
        {"ICMPv6 address unreachable",
         {"--mode", "error", "--type", "1", "--code", "3"},
         true,
         kErrorReply,
         1,
         "Host unreachable."},
        {"ICMPv6 code 5",
         {"--mode", "error", "--type", "1", "--code", "5"},
         true,
         kErrorReply,
         1,
         "Destination unreachable: 5."},
        // Not answers: time exceeded, a header with options, echo data too short to
        // hold the identifier and stamp, a message too short for the kernel to deliver,
        // and in IPv4 mode the ICMPv6 type number 1.
        {"time exceeded",
         {"--mode", "error", "--type", "11", "--code", "0"},
         false,
         kWaitEnded,
         0,
         ""},
        {"ICMPv6 time exceeded",
         {"--mode", "error", "--type", "3", "--code", "0"},
         true,
         kWaitEnded,
         0,
         ""},
        {"type 1 in IPv4",
         {"--mode", "error", "--type", "1", "--code", "1"},
         false,
         kWaitEnded,
         0,
         ""},
        {"IP options", {"--mode", "ip-options"}, false, kWaitEnded, 0, ""},
        {"short echo data", {"--mode", "truncate", "--length", "11"}, false, kWaitEnded, 0, ""},
        {"three ICMP bytes", {"--mode", "truncate", "--length", "3"}, false, kWaitEnded, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Responder responder;
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--count", "1", "--seconds", "5"});
        if (row.ipv6) args.push_back("--ipv6");
        ASSERT_TRUE(responder.Start(args));
        EchoPing echo;
        echo.SetTimeoutMs(row.rc == kWaitEnded ? 500 : 3000);
        if (row.responses > 1) echo.firstHandlerMillis = 100;
        if (row.ipv6) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        const char* host = row.ipv6 ? kResponder6 : kResponder;
        const int32_t rc = echo.PingHost(host);
        responder.Finish(3000);
        ASSERT_EQ(responder.Requests().size(), 1u);
        EXPECT_EQ(rc, row.rc) << echo.ping().LastError();
        if (row.rc == kErrorReply) {
            EXPECT_EQ(echo.ping().LastError(), row.status);
        } else if (row.rc == kWaitEnded) {
            EXPECT_EQ(echo.ping().LastError(), "Timeout.");
        }
        ASSERT_EQ(echo.responses.size(), static_cast<size_t>(row.responses));
        for (const ResponseEvent& e : echo.responses) {
            EXPECT_EQ(e.status, row.status);
            EXPECT_EQ(e.requestId, echo.RequestId());
            EXPECT_EQ(e.source, host);
        }
        if (row.responses > 0) {
            EXPECT_EQ(echo.ResponseSource(), host);
        }
        if (row.what == std::string("late")) {
            EXPECT_GE(echo.ResponseTime(), 200);
        }
        EXPECT_FALSE(echo.Active());
        EXPECT_TRUE(echo.errors.empty()) << echo.errors[0].description;
    }
}

// Replies with another identifier are ignored, but each one restarts the deadline unless
// AbsoluteTimeout is on: fifteen of them, 100 ms apart, keep a 400 ms timeout from
// passing for about 1.4 s.
TEST_F(EchoHosts, ForeignRepliesRestartTheDeadline) {
    struct Row {
        bool absolute;
        bool ipv6;
    };
    const Row rows[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.absolute ? "absolute" : "restarted") +
                     (row.ipv6 ? ", IPv6" : ""));
        Responder responder;
        std::vector<std::string> args = {"--mode",     "wrong-id", "--copies",  "15",
                                         "--interval", "100",      "--seconds", "5"};
        if (row.ipv6) args.push_back("--ipv6");
        ASSERT_TRUE(responder.Start(args));
        EchoPing echo;
        echo.SetTimeoutMs(400);
        if (row.ipv6) {
            ASSERT_EQ(echo.Config("UseIPv6=true"), 0);
        }
        if (row.absolute) {
            ASSERT_EQ(echo.Config("AbsoluteTimeout=true"), 0);
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(echo.PingHost(row.ipv6 ? kResponder6 : kResponder), kWaitEnded);
        const int64_t elapsed = test::MillisSince(start);
        responder.Finish(4000);
        EXPECT_EQ(responder.Requests().size(), 1u);
        EXPECT_TRUE(echo.responses.empty());
        if (row.absolute) {
            EXPECT_LT(elapsed, 1000);
        } else {
            EXPECT_GE(elapsed, 1000);
        }
    }
}

// With Timeout 0 every answer is reported with the identifier of the request it
// answers, whichever host sent it, and the port stays open.
TEST_F(EchoHosts, AsynchronousAnswersCarryTheirRequestIds) {
    Responder responder;
    ASSERT_TRUE(responder.Start({"--mode", "late", "--delay", "200", "--seconds", "5"}));
    EchoPing echo;
    ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
    std::vector<test::AsyncRequest> sent = {
        {kResponder, kResponder, "OK"},
        {kHost, kHost, "OK"},
        {kUnreachable, kRouter, "Host unreachable."},
    };
    const ::testing::AssertionResult answered = test::SendAndAwaitAnswers(echo, sent, 3000);
    responder.Finish(3000);
    ASSERT_TRUE(answered);
    test::ExpectOneAnswerEach(echo, sent);
    EXPECT_TRUE(echo.Active());
}

// A request to the limited broadcast address is never waited for: PingHost returns at
// once with the port open. With a timeout the first answer closes the port; with
// Timeout 0 the port stays open. Only the router shares the pinger's link.
TEST_F(EchoHosts, BroadcastReturnsAtOnce) {
    struct Row {
        int32_t timeoutMs;
        bool openAfterAnswer;
    };
    const Row rows[] = {{3000, false}, {0, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.timeoutMs);
        EchoPing echo;
        if (row.timeoutMs != 0) {
            echo.SetTimeoutMs(row.timeoutMs);
        } else {
            ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIMEOUT, 0), 0);
        }
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(echo.PingHost("255.255.255.255"), 0) << echo.ping().LastError();
        EXPECT_LT(test::MillisSince(start), 1000);
        EXPECT_TRUE(echo.Active());
        EXPECT_EQ(echo.ping().Get(CORVANE_PING_IDLE), row.timeoutMs != 0 ? 0 : 1);
        EXPECT_TRUE(echo.responses.empty());
        const int32_t id = echo.RequestId();
        ASSERT_TRUE(echo.PumpUntil([&] { return !echo.ResponsesTo(id).empty(); }, 3000));
        const ResponseEvent e = echo.ResponsesTo(id)[0];
        EXPECT_EQ(e.status, "OK");
        EXPECT_EQ(e.source, kRouter);
        EXPECT_EQ(echo.ResponseSource(), kRouter);
        EXPECT_EQ(echo.Active(), row.openAfterAnswer);
    }
}

// The helper-library path against the test hosts: the library builds the echo header
// (a 68-byte message for PacketSize 64, RequestId first in its data), gets TimeToLive
// (255 for 0), and its unreachable records become "Network unreachable." from the
// router, whatever the code; a silent host ends in 301 once the timeout has passed.
TEST_F(EchoHosts, HelperPath) {
    if (!HelperLibraryPresent()) GTEST_SKIP() << "the platform has no \"icmp.dll\" module yet";
    struct Row {
        const char* what;
        const char* host;
        std::vector<std::string> responder;  // empty: none started
        int32_t timeToLive;
        int32_t rc;
        const char* status;  // of the one Response, null for none
        const char* source;
        int wireTtl;  // as the responder saw the request
    };
    const Row rows[] = {
        {"ordinary host", kHost, {}, 0, 0, "OK", kHost, 0},
        {"TimeToLive 5", kResponder, {"--mode", "normal"}, 5, 0, "OK", kResponder, 4},
        {"TimeToLive 0", kResponder, {"--mode", "normal"}, 0, 0, "OK", kResponder, 254},
        {"host answers port unreachable",
         kResponder,
         {"--mode", "error", "--type", "3", "--code", "3"},
         0,
         kErrorReply,
         "Network unreachable.",
         kResponder,
         254},
        {"router answers host unreachable",
         kUnreachable,
         {},
         0,
         kErrorReply,
         "Network unreachable.",
         kRouter,
         0},
        {"silent host", kSilent, {}, 0, kWaitEnded, nullptr, nullptr, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Responder responder;
        if (!row.responder.empty()) {
            std::vector<std::string> args = row.responder;
            args.insert(args.end(), {"--count", "1", "--seconds", "5"});
            ASSERT_TRUE(responder.Start(args));
        }
        EchoPing echo;
        ASSERT_EQ(echo.Config("UseICMPDLL=true"), 0);
        echo.SetTimeoutMs(row.rc == kWaitEnded ? 500 : 3000);
        ASSERT_EQ(echo.ping().Set(CORVANE_PING_TIME_TO_LIVE, row.timeToLive), 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(echo.PingHost(row.host), row.rc) << echo.ping().LastError();
        const int64_t elapsed = test::MillisSince(start);
        EXPECT_FALSE(echo.Active()) << "the helper handle is closed again";
        if (row.status == nullptr) {
            EXPECT_TRUE(echo.responses.empty());
            EXPECT_EQ(echo.ping().LastError(), "Timeout.");
            EXPECT_GE(elapsed, 400);
            EXPECT_LT(elapsed, 5000);
            continue;
        }
        ASSERT_EQ(echo.responses.size(), 1u);
        EXPECT_EQ(echo.responses[0].status, row.status);
        EXPECT_EQ(echo.responses[0].source, row.source);
        EXPECT_EQ(echo.responses[0].requestId, echo.RequestId());
        EXPECT_EQ(echo.ResponseSource(), row.source);
        if (row.rc == kErrorReply) {
            EXPECT_EQ(echo.ping().LastError(), row.status);
        }
        if (!row.responder.empty()) {
            responder.Finish(3000);
            const auto requests = responder.Requests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].length, 68u);
            EXPECT_EQ(requests[0].data, static_cast<uint32_t>(echo.RequestId()));
            EXPECT_EQ(requests[0].ttl, row.wireTtl);
        }
    }
}

}  // namespace
