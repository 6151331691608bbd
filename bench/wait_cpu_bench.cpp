// What a blocking PingHost costs while it waits and how quickly its pump reacts, with the
// engine loaded as a host loads it:
//   (a) CPU time of the process during a 3-second PingHost to a silent host, as a share of
//       one core (and, for contrast, with SelectWaitMillis 0, which never sleeps);
//   (b) the delay from a PostMessageA on a second thread to its dispatch inside the wait,
//       and from an echo reply reaching the host to the Response event, as median, 99th
//       percentile and maximum in microseconds, against SelectWaitMillis (20 ms).
// Runs as root in a network namespace of its own: nothing it sends leaves it.
#include <dlfcn.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "engine/core/corvane20.h"
#include "platform/window.h"

namespace {

constexpr int kRounds = 200;
constexpr int kSelectWaitMillis = 20;
constexpr uint32_t kStampMessage = plat::WM_USER + 7;
constexpr char kWindowClass[] = "wait_cpu_bench_window";

struct Engine {
    decltype(&Corvane_Ping_Create) Create;
    decltype(&Corvane_Ping_Destroy) Destroy;
    decltype(&Corvane_Ping_Get) Get;
    decltype(&Corvane_Ping_Set) Set;
    decltype(&Corvane_Ping_Do) Do;
    decltype(&Corvane_Ping_GetLastError) GetLastError;
};

Engine g_engine{};

template <typename F>
bool Bind(void* library, const char* name, F& slot) {
    slot = reinterpret_cast<F>(dlsym(library, name));
    if (slot == nullptr) std::fprintf(stderr, "entry point %s missing\n", name);
    return slot != nullptr;
}

bool LoadEngine() {
    void* library = dlopen(CORVANE_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", CORVANE_ENGINE_PATH, dlerror());
        return false;
    }
    return Bind(library, "Corvane_Ping_Create", g_engine.Create) &&
           Bind(library, "Corvane_Ping_Destroy", g_engine.Destroy) &&
           Bind(library, "Corvane_Ping_Get", g_engine.Get) &&
           Bind(library, "Corvane_Ping_Set", g_engine.Set) &&
           Bind(library, "Corvane_Ping_Do", g_engine.Do) &&
           Bind(library, "Corvane_Ping_GetLastError", g_engine.GetLastError);
}

int64_t Nanos(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

int64_t CpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (int64_t{usage.ru_utime.tv_sec} + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

// A ping object; every Response records the realtime clock at its delivery.
struct Ping {
    void* handle = nullptr;
    std::vector<std::pair<int32_t, int64_t>> responses;  // request id, delivered at

    Ping() { handle = g_engine.Create(&OnEvent, this, nullptr, 0); }
    ~Ping() { g_engine.Destroy(handle); }
    Ping(const Ping&) = delete;
    Ping& operator=(const Ping&) = delete;

    static int32_t OnEvent(void* context, int32_t event, int32_t count, intptr_t* params,
                           int32_t*) {
        if (event == CORVANE_PING_EVENT_RESPONSE && count >= 1) {
            static_cast<Ping*>(context)->responses.emplace_back(static_cast<int32_t>(params[0]),
                                                                Nanos(CLOCK_REALTIME));
        }
        return 0;
    }
    int32_t Config(const char* setting) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
        int32_t lengths[2] = {0, 0};
        return g_engine.Do(handle, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    }
    int32_t Set(int32_t property, intptr_t value) const {
        return g_engine.Set(handle, property, 0, value, 0);
    }
    int32_t PingHost(const char* host) const {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(host), 0};
        int32_t lengths[2] = {0, 0};
        return g_engine.Do(handle, CORVANE_PING_PING_HOST, 1, slots, lengths, 0);
    }
    void Interrupt() const {
        intptr_t slots[1] = {0};
        int32_t lengths[1] = {0};
        g_engine.Do(handle, CORVANE_PING_INTERRUPT, 0, slots, lengths, 0);
    }
    const char* LastError() const { return g_engine.GetLastError(handle); }
};

void Report(const char* what, std::vector<int64_t> micros) {
    if (micros.empty()) {
        std::printf("  %-44s no samples\n", what);
        return;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))];
    };
    std::printf("  %-44s n=%3zu  median %6lld us  p99 %6lld us  max %6lld us  (%.1f%% of %d ms)\n",
                what, micros.size(), static_cast<long long>(at(0.5)),
                static_cast<long long>(at(0.99)), static_cast<long long>(micros.back()),
                100.0 * static_cast<double>(at(0.5)) / (kSelectWaitMillis * 1000.0),
                kSelectWaitMillis);
}

bool WriteFile(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const size_t length = std::strlen(text);
    const bool ok = write(fd, text, length) == static_cast<ssize_t>(length);
    close(fd);
    return ok;
}

bool EchoRepliesOff(bool off) {
    return WriteFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", off ? "1" : "0");
}

// A network namespace of the process's own with only its loopback interface, up.
bool PrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET)");
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    bool ok = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) close(fd);
    if (!ok) std::perror("bringing lo up");
    return ok;
}

// ---- (a) CPU time while waiting ------------------------------------------------------------

void MeasureCpu(const char* setting, int32_t seconds) {
    Ping ping;
    ping.Set(CORVANE_PING_TIMEOUT, seconds);
    if (setting != nullptr) ping.Config(setting);
    const int64_t cpuBefore = CpuMicros();
    const int64_t wallBefore = Nanos(CLOCK_MONOTONIC);
    const int32_t rc = ping.PingHost("127.0.0.1");
    const int64_t wallMicros = (Nanos(CLOCK_MONOTONIC) - wallBefore) / 1000;
    const int64_t cpuMicros = CpuMicros() - cpuBefore;
    std::printf("  %-26s PingHost -> %d \"%s\" after %.3f s, CPU %.1f ms = %.2f%% of one core\n",
                setting != nullptr ? setting : "defaults (20 ms passes)", rc, ping.LastError(),
                static_cast<double>(wallMicros) / 1e6, static_cast<double>(cpuMicros) / 1e3,
                100.0 * static_cast<double>(cpuMicros) / static_cast<double>(wallMicros));
}

// ---- (b) posted message to dispatch --------------------------------------------------------

struct PostRun {
    Ping* ping = nullptr;
    std::vector<int64_t> micros;
};
PostRun g_post;

plat::LRESULT StampProc(plat::HWND, uint32_t message, plat::WPARAM wParam, plat::LPARAM lParam) {
    if (message != kStampMessage) return 0;
    g_post.micros.push_back((Nanos(CLOCK_MONOTONIC) - lParam) / 1000);
    if (static_cast<int>(wParam) == kRounds - 1) g_post.ping->Interrupt();
    return 0;
}

void MeasurePostedMessages() {
    plat::WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = StampProc;
    windowClass.lpszClassName = kWindowClass;
    plat::RegisterClassA(&windowClass);
    const plat::HWND window = plat::CreateWindowExA(
        0, kWindowClass, "", 0, 0, 0, 0, 0, plat::MessageOnlyParent(), nullptr, nullptr, nullptr);
    if (window == nullptr) {
        std::printf("  no window\n");
        return;
    }
    Ping ping;
    ping.Set(CORVANE_PING_TIMEOUT, 30);  // the last message interrupts long before
    g_post = PostRun{&ping, {}};

    // Posts land at varying points of the 20 ms sleeps.
    std::thread poster([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        uint32_t seed = 12345;
        for (int i = 0; i < kRounds; ++i) {
            seed = seed * 1103515245u + 12345u;
            std::this_thread::sleep_for(std::chrono::microseconds(3000 + (seed >> 8) % 14000));
            plat::PostMessageA(window, kStampMessage, static_cast<plat::WPARAM>(i),
                               static_cast<plat::LPARAM>(Nanos(CLOCK_MONOTONIC)));
        }
    });
    const int32_t rc = ping.PingHost("127.0.0.1");
    poster.join();
    std::printf("  PingHost -> %d \"%s\"\n", rc, ping.LastError());
    Report("PostMessageA -> dispatch in the wait", g_post.micros);
    plat::DestroyWindow(window);
    plat::UnregisterClassA(kWindowClass, nullptr);
}

// ---- (b) echo reply to Response ------------------------------------------------------------

int RawIcmpSocket(bool timestamps) {
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0 && timestamps) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    }
    return fd;
}

// Reads what a raw socket has queued: the kernel's arrival time of each echo reply, by the
// request id the engine puts in its first data bytes.
void CollectArrivals(int sniffer, std::map<int32_t, int64_t>& arrivals) {
    for (int i = 0; i < 64; ++i) {
        uint8_t packet[2048];
        alignas(cmsghdr) char control[256];
        iovec io{packet, sizeof packet};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(sniffer, &message, MSG_DONTWAIT);
        if (n < 0) return;
        const size_t header = (packet[0] & 0x0F) * 4u;
        if (static_cast<size_t>(n) < header + 8 || packet[header] != 0) continue;  // replies
        int32_t id;
        std::memcpy(&id, packet + header + 4, sizeof id);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at{};
                std::memcpy(&at, CMSG_DATA(c), sizeof at);
                arrivals[id] = int64_t{at.tv_sec} * 1000000000 + at.tv_nsec;
            }
        }
    }
}

uint16_t Checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2 != 0) sum += static_cast<uint32_t>(data[length - 1] << 8);
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

// Answers each echo request after a varying delay of 1 to 18 ms, while the kernel's own
// replies are off, so that the replies reach a pump that sleeps.
class SlowResponder {
  public:
    SlowResponder() : fd_(RawIcmpSocket(false)) {
        if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
    }
    ~SlowResponder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

  private:
    void Serve() {
        uint32_t seed = 777;
        for (int round = 0; round < 100000 && !stop_; ++round) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            uint8_t packet[2048];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd_, packet, sizeof packet, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 28) continue;
            const size_t header = (packet[0] & 0x0F) * 4u;
            if (static_cast<size_t>(n) < header + 8 || packet[header] != 8) continue;
            seed = seed * 1103515245u + 12345u;
            std::this_thread::sleep_for(std::chrono::microseconds(1000 + (seed >> 8) % 17000));
            uint8_t* icmp = packet + header;
            const size_t length = static_cast<size_t>(n) - header;
            icmp[0] = 0;
            icmp[2] = icmp[3] = 0;
            const uint16_t sum = Checksum(icmp, length);
            icmp[2] = static_cast<uint8_t>(sum >> 8);
            icmp[3] = static_cast<uint8_t>(sum);
            sendto(fd_, icmp, length, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void MeasureReplies(const char* what) {
    const int sniffer = RawIcmpSocket(true);
    if (sniffer < 0) {
        std::perror("raw socket");
        return;
    }
    Ping ping;
    ping.Set(CORVANE_PING_TIMEOUT, 3);
    std::map<int32_t, int64_t> arrivals;
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
        if (ping.PingHost("127.0.0.1") != 0) ++failures;
        CollectArrivals(sniffer, arrivals);
    }
    close(sniffer);
    std::vector<int64_t> micros;
    for (const auto& [id, delivered] : ping.responses) {
        const auto arrival = arrivals.find(id);
        if (arrival != arrivals.end()) micros.push_back((delivered - arrival->second) / 1000);
    }
    if (failures != 0) std::printf("  %d of %d PingHost calls failed\n", failures, kRounds);
    Report(what, micros);
}

}  // namespace

int main() {
    if (geteuid() != 0) {
        std::printf("wait_cpu_bench needs root: raw ICMP sockets and a network namespace\n");
        return 1;
    }
    if (!PrivateNetwork() || !LoadEngine()) return 1;
    std::printf("blocking PingHost, SelectWaitMillis %d ms, %d rounds per figure\n",
                kSelectWaitMillis, kRounds);

    std::printf("(a) CPU while waiting for a silent host (echo replies off):\n");
    if (!EchoRepliesOff(true)) {
        std::perror("icmp_echo_ignore_all");
        return 1;
    }
    MeasureCpu(nullptr, 3);
    MeasureCpu("SelectWaitMillis=0", 1);

    std::printf("(b) latency inside the wait:\n");
    MeasurePostedMessages();
    {
        SlowResponder responder;
        if (responder.ok()) MeasureReplies("reply 1-18 ms later -> Response");
    }
    EchoRepliesOff(false);
    MeasureReplies("kernel's own reply -> Response");
    return 0;
}
