// How fast a sleeping MsgWaitForMultipleObjects wakes: after a PostMessageA from another
// thread, and after a datagram reaches a registered UDP loopback socket; and how much CPU
// an idle pump costs. Prints medians, 99th percentiles and maxima in microseconds.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/socket_notify.h"
#include "platform/window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 200;
constexpr uint32_t kStepMillis = 20;
constexpr uint32_t kNotify = plat::WM_USER + 103;

plat::LRESULT Proc(plat::HWND, uint32_t, plat::WPARAM, plat::LPARAM) {
    return 0;
}

int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Hands the rounds from the waiting thread to the trigger thread without spinning.
class Turnstile {
  public:
    void Open(int round) {
        std::lock_guard lock(mutex_);
        round_ = round;
        changed_.notify_all();
    }
    int AwaitAfter(int previous) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return round_ != previous; });
        return round_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int round_ = -1;
};

void Report(const char* what, std::vector<int64_t> micros) {
    if (micros.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))];
    };
    std::printf("%-34s n=%zu median=%lld us p99=%lld us max=%lld us\n", what, micros.size(),
                static_cast<long long>(at(0.5)), static_cast<long long>(at(0.99)),
                static_cast<long long>(micros.back()));
}

void Drain() {
    plat::MSG msg{};
    for (int i = 0; i < 1000 && plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE); ++i) {
    }
}

// Waits in kStepMillis steps until input arrives, for at most a second; the wake time.
int64_t WaitForInput() {
    for (int step = 0; step < 50; ++step) {
        if (plat::MsgWaitForMultipleObjects(0, nullptr, false, kStepMillis, plat::QS_ALLINPUT) ==
            plat::WAIT_OBJECT_0) {
            return NowNanos();
        }
    }
    return 0;
}

// Runs the rounds: the trigger thread waits a little so that this thread is asleep,
// records the time and fires; this thread measures until its wait returns.
template <typename Prepare, typename Fire>
std::vector<int64_t> MeasureWake(Prepare prepare, Fire fire) {
    Turnstile turnstile;
    std::atomic<int64_t> firedAt{0};
    std::thread trigger([&] {
        int round = -1;
        for (int i = 0; i < kRounds; ++i) {
            round = turnstile.AwaitAfter(round);
            std::this_thread::sleep_for(std::chrono::microseconds(2000 + (i % 7) * 500));
            firedAt = NowNanos();
            fire();
        }
    });
    std::vector<int64_t> micros;
    for (int i = 0; i < kRounds; ++i) {
        prepare();
        Drain();
        firedAt = 0;
        turnstile.Open(i);
        const int64_t woke = WaitForInput();
        if (woke != 0 && firedAt.load() != 0) micros.push_back((woke - firedAt.load()) / 1000);
    }
    trigger.join();
    Drain();
    return micros;
}

}  // namespace

int main() {
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.cbWndExtra = 12;
    wc.lpszClassName = "pump_wake_bench";
    if (plat::RegisterClassA(&wc) == 0) return 1;
    plat::HWND window = plat::CreateWindowExA(0, "pump_wake_bench", "", 0, 0, 0, 0, 0,
                                              plat::MessageOnlyParent(), nullptr, nullptr, nullptr);
    if (window == nullptr) return 1;

    Report("post -> wait returns",
           MeasureWake([] {}, [window] { plat::PostMessageA(window, plat::WM_USER, 0, 0); }));

    const int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (receiver < 0 || sender < 0 ||
        bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("udp loopback");
        return 1;
    }
    if (!plat::posix::RegisterSocketNotification(receiver, static_cast<uintptr_t>(receiver), window,
                                                 kNotify, 1)) {
        return 1;
    }
    // Each round reads the previous datagram and re-arms the notification before waiting.
    const auto readAll = [receiver] {
        char buffer[16];
        for (int i = 0; i < 64 && recv(receiver, buffer, sizeof buffer, 0) > 0; ++i) {
        }
        plat::posix::RearmSocketRead(receiver);
    };
    const auto sendOne = [sender] {
        const char byte = 'x';
        if (send(sender, &byte, 1, 0) != 1) std::perror("send");
    };
    Report("datagram -> wait returns", MeasureWake(readAll, sendOne));
    plat::posix::ForgetSocket(receiver);
    close(receiver);
    close(sender);
    Drain();

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    int steps = 0;
    while (Clock::now() - start < std::chrono::seconds(3)) {
        plat::MsgWaitForMultipleObjects(0, nullptr, false, kStepMillis, plat::QS_ALLINPUT);
        ++steps;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto micros = [](const timeval& t) { return t.tv_sec * 1000000LL + t.tv_usec; };
    std::printf("idle 3 s in %u ms steps: %d steps, user %lld us, system %lld us\n", kStepMillis,
                steps, micros(after.ru_utime) - micros(before.ru_utime),
                micros(after.ru_stime) - micros(before.ru_stime));

    plat::DestroyWindow(window);
    plat::UnregisterClassA("pump_wake_bench", nullptr);
    return 0;
}
