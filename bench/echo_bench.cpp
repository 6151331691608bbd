// Echo exchanges on loopback, next to the system's flood ping as the per-packet reference:
// synchronous PingHost calls per second (each opens, sends, waits and closes its socket),
// asynchronous requests per second with their replies (Timeout 0, answers dispatched by
// DoEvents), and `ping -f -c N 127.0.0.1`. Then the heap allocations made while replies
// are read and dispatched, counted by a malloc of this program's own.
//
//   echo_bench [N]     N exchanges of each kind (default 5000); raw sockets need root.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>

#include "engine/core/corvane20.h"
#include "engine/core/module_state.h"

// Heap calls on the counting thread while counting is on. Sanitizers bring their own
// allocator, so the count is only taken in plain builds.
#if defined(__SANITIZE_ADDRESS__)
#define ECHO_BENCH_COUNTS_ALLOCATIONS 0
#else
#define ECHO_BENCH_COUNTS_ALLOCATIONS 1
#endif

#if ECHO_BENCH_COUNTS_ALLOCATIONS
namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
}  // namespace

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    if (t_counting) ++t_allocations;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    if (t_counting) ++t_allocations;
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    if (t_counting) ++t_allocations;
    return __libc_realloc(block, size);
}
void free(void* block) {
    __libc_free(block);
}
}
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kWsaAccessDenied = 10013;
constexpr int kWindow = 16;      // asynchronous requests in flight at most
constexpr int kMaxSeconds = 60;  // per measurement

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts the replies to requests still awaited; the handler itself allocates nothing.
struct Replies {
    std::unordered_set<int32_t>* awaited = nullptr;
    long matched = 0;
    long other = 0;
};

int32_t OnEvent(void* context, int32_t event, int32_t count, intptr_t* params, int32_t*) {
    auto* replies = static_cast<Replies*>(context);
    if (event != CORVANE_PING_EVENT_RESPONSE || count != 4) return 0;
    if (replies->awaited != nullptr && replies->awaited->erase(static_cast<int32_t>(params[0]))) {
        ++replies->matched;
    } else {
        ++replies->other;
    }
    return 0;
}

class Object {
  public:
    explicit Object(Replies* replies)
        : handle_(Corvane_Ping_Create(&OnEvent, replies, nullptr, 0)) {}
    ~Object() { Corvane_Ping_Destroy(handle_); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    int32_t Config(const char* setting) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
        int32_t lengths[2] = {};
        return Corvane_Ping_Do(handle_, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    }
    int32_t SetTimeout(int32_t value) const {
        return Corvane_Ping_Set(handle_, CORVANE_PING_TIMEOUT, 0, value, 0);
    }
    int32_t PingHost(const char* host) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(host), 0};
        int32_t lengths[2] = {};
        return Corvane_Ping_Do(handle_, CORVANE_PING_PING_HOST, 1, slots, lengths, 0);
    }
    void DoEvents() const {
        intptr_t slots[1] = {};
        int32_t lengths[1] = {};
        Corvane_Ping_Do(handle_, CORVANE_PING_DO_EVENTS, 0, slots, lengths, 0);
    }
    int32_t RequestId() const {
        return static_cast<int32_t>(
            Corvane_Ping_Get(handle_, CORVANE_PING_REQUEST_ID, 0, nullptr, 0));
    }
    const char* LastError() const { return Corvane_Ping_GetLastError(handle_); }

  private:
    void* handle_;
};

// Synchronous calls per second; 0 when the exchange cannot run.
double SynchronousRate(int n) {
    Replies replies;
    Object ping(&replies);
    ping.SetTimeout(3);
    const auto start = Clock::now();
    int done = 0;
    for (; done < n && Seconds(start) < kMaxSeconds; ++done) {
        const int32_t rc = ping.PingHost("127.0.0.1");
        if (rc == kWsaAccessDenied) {
            std::printf("raw ICMP sockets need root or CAP_NET_RAW; nothing measured\n");
            return 0;
        }
        if (rc != 0) {
            std::printf("PingHost failed with %d: %s\n", rc, ping.LastError());
            return 0;
        }
    }
    const double seconds = Seconds(start);
    std::printf("synchronous PingHost:   %6d calls      in %8.1f ms  %10.0f calls/s\n", done,
                seconds * 1000, done / seconds);
    return done / seconds;
}

// Asynchronous requests per second with their replies, at most kWindow in flight.
double AsynchronousRate(int n) {
    std::unordered_set<int32_t> awaited;
    awaited.reserve(kWindow * 4);
    Replies replies;
    replies.awaited = &awaited;
    Object ping(&replies);
    ping.SetTimeout(0);
    const auto start = Clock::now();
    int sent = 0;
    // Each pass sends or pumps; the passes are bounded by count and by time.
    for (long pass = 0; replies.matched < n && pass < 100L * n; ++pass) {
        if (Seconds(start) > kMaxSeconds) break;
        if (sent < n && static_cast<int>(awaited.size()) < kWindow) {
            const int32_t rc = ping.PingHost("127.0.0.1");
            if (rc != 0) {
                std::printf("PingHost failed with %d: %s\n", rc, ping.LastError());
                return 0;
            }
            awaited.insert(ping.RequestId());
            ++sent;
        } else {
            ping.DoEvents();
        }
    }
    const double seconds = Seconds(start);
    std::printf(
        "asynchronous requests:  %6ld answered   in %8.1f ms  %10.0f requests/s"
        "  (%d sent, %ld other replies)\n",
        replies.matched, seconds * 1000, replies.matched / seconds, sent, replies.other);
    return replies.matched / seconds;
}

// ping -f -c n 127.0.0.1 as a child process: packets per second, 0 if it cannot run.
double FloodPingRate(int n) {
    const std::string count = std::to_string(n);
    std::fflush(stdout);  // the child must not print what is still buffered here
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execlp("ping", "ping", "-f", "-q", "-c", count.c_str(), "-w", "60", "127.0.0.1",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::printf(
            "ping -f -c %d 127.0.0.1 did not run (status %d); install iputils-ping and "
            "run as root\n",
            n, status);
        return 0;
    }
    const double seconds = Seconds(start);
    std::printf("ping -f -c %d:        %6d packets    in %8.1f ms  %10.0f packets/s\n", n, n,
                seconds * 1000, n / seconds);
    return n / seconds;
}

// Heap allocations during the DoEvents passes that read and dispatch replies.
void CountAllocations(int n) {
#if ECHO_BENCH_COUNTS_ALLOCATIONS
    std::unordered_set<int32_t> awaited;
    awaited.reserve(4);
    Replies replies;
    replies.awaited = &awaited;
    Object ping(&replies);
    ping.SetTimeout(0);
    long dispatching = 0;  // allocations in passes that dispatched a reply
    long idle = 0;         // in passes that did not
    long passes = 0;
    long sending = 0;  // the counter's control: a PingHost builds its payload on the heap
    for (int i = 0; i < n; ++i) {
        t_allocations = 0;
        t_counting = true;
        const int32_t rc = ping.PingHost("127.0.0.1");
        t_counting = false;
        sending += t_allocations;
        if (rc != 0) return;
        awaited.insert(ping.RequestId());
        const long before = replies.matched;
        const auto start = Clock::now();
        for (int pass = 0; pass < 1000 && replies.matched == before; ++pass) {
            if (Seconds(start) > 2) break;
            t_allocations = 0;
            t_counting = true;
            ping.DoEvents();
            t_counting = false;
            (replies.matched != before ? dispatching : idle) += t_allocations;
            ++passes;
        }
    }
    std::printf(
        "heap allocations while reading and dispatching %ld replies: %ld"
        "  (%ld in %ld passes in all; %ld in the %d PingHost calls)\n",
        replies.matched, dispatching, dispatching + idle, passes, sending, n);
#else
    (void)n;
    std::printf("heap allocations: not counted in a sanitizer build\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 5000;
    if (n <= 0 || n > 1000000) {
        std::fprintf(stderr, "usage: %s [exchanges, 1 to 1000000]\n", argv[0]);
        return 2;
    }
    corvane::ModuleAttach(nullptr);
    const double sync = SynchronousRate(n);
    if (sync == 0) return 0;
    const double async = AsynchronousRate(n);
    const double flood = FloodPingRate(n);
    if (flood > 0) {
        std::printf("ratio to ping -f:       synchronous %.2f, asynchronous %.2f\n", sync / flood,
                    async / flood);
    }
    CountAllocations(n < 1000 ? n : 1000);
    corvane::ModuleDetach();
    return 0;
}
