// Asynchronous fan-out: one echo request each to 200 addresses of a test host (Timeout 0,
// all sent at once, the answers dispatched by DoEvents), from the first send to the last
// answer, next to `fping -c1` on the same 200 addresses, with its default 10 ms between
// packets and with the shortest interval it accepts (-i 1). Median of the rounds.
// Runs inside the pinger namespace that bench/fanout_hosts.sh builds; nothing leaves it.
//
//   fanout_bench [ROUNDS]   (default 5); raw sockets need root.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/core/corvane20.h"
#include "engine/core/module_state.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kAddresses = 200;
constexpr double kMaxSeconds = 5;

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Address(int i) {
    return "203.0.113." + std::to_string(i + 1);
}

struct Replies {
    std::unordered_set<std::string> answered;  // sources with an "OK"
    long other = 0;
};

int32_t OnEvent(void* context, int32_t event, int32_t count, intptr_t* params, int32_t*) {
    auto* replies = static_cast<Replies*>(context);
    if (event != CORVANE_PING_EVENT_RESPONSE || count != 4) return 0;
    const char* source = reinterpret_cast<const char*>(params[1]);
    const char* status = reinterpret_cast<const char*>(params[2]);
    if (source != nullptr && status != nullptr && std::string(status) == "OK") {
        replies->answered.insert(source);
    } else {
        ++replies->other;
    }
    return 0;
}

int32_t Do(void* ping, int32_t method, const char* text) {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(text), 0};
    int32_t lengths[2] = {};
    return Corvane_Ping_Do(ping, method, text != nullptr ? 1 : 0, slots, lengths, 0);
}

// Milliseconds from the first send to the 200th answer; negative when not all came.
double EngineRound() {
    Replies replies;
    void* ping = Corvane_Ping_Create(&OnEvent, &replies, nullptr, 0);
    Corvane_Ping_Set(ping, CORVANE_PING_TIMEOUT, 0, 0, 0);
    const auto start = Clock::now();
    for (int i = 0; i < kAddresses; ++i) {
        const int32_t rc = Do(ping, CORVANE_PING_PING_HOST, Address(i).c_str());
        if (rc != 0) {
            std::printf("PingHost %s failed with %d: %s\n", Address(i).c_str(), rc,
                        Corvane_Ping_GetLastError(ping));
            Corvane_Ping_Destroy(ping);
            return -1;
        }
    }
    for (int pass = 0; pass < 100000 && static_cast<int>(replies.answered.size()) < kAddresses;
         ++pass) {
        if (Millis(Clock::now() - start) > kMaxSeconds * 1000) break;
        Do(ping, CORVANE_PING_DO_EVENTS, nullptr);
    }
    const double ms = Millis(Clock::now() - start);
    const size_t answered = replies.answered.size();
    Corvane_Ping_Destroy(ping);
    if (static_cast<int>(answered) < kAddresses) {
        std::printf("engine: only %zu of %d addresses answered\n", answered, kAddresses);
        return -1;
    }
    return ms;
}

// fping -c1 -q [extra] on the 200 addresses; negative when it fails or misses one.
double FpingRound(const char* extra) {
    std::vector<std::string> args = {"fping", "-c1", "-q"};
    if (extra != nullptr) args.push_back(extra);
    for (int i = 0; i < kAddresses; ++i)
        args.push_back(Address(i));
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp("fping", argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    const double ms = Millis(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("fping %s did not reach every address (status %d); install fping\n",
                    extra != nullptr ? extra : "", status);
        return -1;
    }
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool Measure(const char* what, int rounds, double (*round)(const char*), const char* extra) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const double m = round(extra);
        if (m < 0) return false;
        ms.push_back(m);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%d rounds)\n", what,
                Median(ms), ms.front(), ms.back(), rounds);
    return true;
}

double EngineRoundFor(const char*) {
    return EngineRound();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (rounds <= 0 || rounds > 100) {
        std::fprintf(stderr, "usage: %s [rounds, 1 to 100]\n", argv[0]);
        return 2;
    }
    if (geteuid() != 0) {
        std::printf("fanout_bench needs root: raw ICMP sockets\n");
        return 1;
    }
    corvane::ModuleAttach(nullptr);
    // One blocking ping first, so that the host's link address is known.
    {
        Replies replies;
        void* ping = Corvane_Ping_Create(&OnEvent, &replies, nullptr, 0);
        Corvane_Ping_Set(ping, CORVANE_PING_TIMEOUT, 0, 3, 0);
        const int32_t rc = Do(ping, CORVANE_PING_PING_HOST, Address(0).c_str());
        Corvane_Ping_Destroy(ping);
        if (rc != 0) {
            std::printf("the test host does not answer (%d); run inside its pinger\n", rc);
            return 1;
        }
    }
    std::printf("one request each to %d addresses (%s to %s)\n", kAddresses, Address(0).c_str(),
                Address(kAddresses - 1).c_str());
    const bool ok = Measure("engine, asynchronous fan-out", rounds, &EngineRoundFor, nullptr) &&
                    Measure("fping -c1", rounds, &FpingRound, nullptr) &&
                    Measure("fping -c1 -i 1", rounds, &FpingRound, "-i1");
    corvane::ModuleDetach();
    return ok ? 0 : 1;
}
