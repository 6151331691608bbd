// Tests of the per-thread message queues, message-only windows, the wait on the queue and
// the socket notifications, against the behaviour of the Windows calls of the same names.
#include "platform/window.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/socket_notify.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::MSG;
using plat::WPARAM;

constexpr uint32_t kNotify = plat::WM_USER + 103;
constexpr int32_t kFdRead = 1;
constexpr int32_t kFdWrite = 2;

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What the recording procedure saw, on the thread that dispatched it.
struct Seen {
    HWND window;
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local std::vector<Seen> t_seen;

LRESULT RecordingProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    t_seen.push_back({window, message, wParam, lParam});
    if (message == plat::WM_CLOSE) return plat::DefWindowProcA(window, message, wParam, lParam);
    return static_cast<LRESULT>(message) + 1000;
}

// Takes everything queued for the calling thread, bounded, and returns it.
std::vector<MSG> Drain(HWND filter = nullptr) {
    std::vector<MSG> taken;
    MSG msg{};
    for (int i = 0; i < 10000 && plat::PeekMessageA(&msg, filter, 0, 0, plat::PM_REMOVE); ++i) {
        taken.push_back(msg);
    }
    return taken;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// Each test gets its own class and cleans its queue on both ends, so the order in which
// the tests of one process run does not matter.
class MessageQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int counter = 0;
        className_ = "mq_test_class_" + std::to_string(++counter);
        plat::WNDCLASSA wc{};
        wc.style = plat::CS_GLOBALCLASS;
        wc.lpfnWndProc = RecordingProc;
        wc.cbWndExtra = 12;
        wc.hInstance = &instance_;
        wc.lpszClassName = className_.c_str();
        ASSERT_NE(plat::RegisterClassA(&wc), 0);
        Drain();
        t_seen.clear();
    }

    void TearDown() override {
        for (HWND w : windows_) {
            if (plat::IsWindow(w)) plat::DestroyWindow(w);
        }
        Drain();
        EXPECT_TRUE(plat::UnregisterClassA(className_.c_str(), &instance_));
        t_seen.clear();
    }

    HWND NewWindow() {
        HWND w = plat::CreateWindowExA(0, className_.c_str(), "", 0, 0, 0, 0, 0,
                                       plat::MessageOnlyParent(), nullptr, &instance_, nullptr);
        EXPECT_NE(w, nullptr);
        windows_.push_back(w);
        return w;
    }

    int instance_ = 0;
    std::string className_;
    std::vector<HWND> windows_;
};

// ---- classes -------------------------------------------------------------------------

TEST_F(MessageQueueTest, ClassNamesAreUniqueWithoutCase) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {className_, false},
        {"MQ_TEST_CLASS_" + className_.substr(14), false},
        {className_ + "_other", true},
    };
    for (const Case& c : cases) {
        plat::WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = c.name.c_str();
        wc.hInstance = &instance_;
        plat::SetLastError(0);
        const uint16_t atom = plat::RegisterClassA(&wc);
        EXPECT_EQ(atom != 0, c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_GE(atom, 0xC000);
            EXPECT_TRUE(plat::UnregisterClassA(c.name.c_str(), &instance_));
        } else {
            EXPECT_EQ(plat::GetLastError(), 1410u) << c.name;
        }
    }
}

TEST_F(MessageQueueTest, UnregisterFailsWhileWindowsOfTheClassLive) {
    HWND w = NewWindow();
    plat::SetLastError(0);
    EXPECT_FALSE(plat::UnregisterClassA(className_.c_str(), &instance_));
    EXPECT_EQ(plat::GetLastError(), 1412u);
    EXPECT_TRUE(plat::DestroyWindow(w));
    EXPECT_TRUE(plat::UnregisterClassA(className_.c_str(), &instance_));
    EXPECT_FALSE(plat::UnregisterClassA(className_.c_str(), &instance_));
    EXPECT_EQ(plat::GetLastError(), 1411u);
    // Registered again for TearDown.
    plat::WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.cbWndExtra = 12;
    wc.hInstance = &instance_;
    wc.lpszClassName = className_.c_str();
    EXPECT_NE(plat::RegisterClassA(&wc), 0);
}

TEST_F(MessageQueueTest, RegistrationRejectsBadArguments) {
    plat::WNDCLASSA noName{};
    noName.lpfnWndProc = RecordingProc;
    EXPECT_EQ(plat::RegisterClassA(&noName), 0);
    EXPECT_EQ(plat::RegisterClassA(nullptr), 0);
    plat::WNDCLASSA negative{};
    negative.lpfnWndProc = RecordingProc;
    negative.cbWndExtra = -1;
    negative.lpszClassName = "mq_negative_extra";
    EXPECT_EQ(plat::RegisterClassA(&negative), 0);
    EXPECT_FALSE(plat::UnregisterClassA("mq_never_registered", nullptr));
    EXPECT_FALSE(plat::UnregisterClassA(className_.c_str(), nullptr)) << "other instance";
}

TEST_F(MessageQueueTest, CreateNeedsAKnownClassAndAValidParent) {
    plat::SetLastError(0);
    EXPECT_EQ(plat::CreateWindowExA(0, "mq_no_such_class", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr, nullptr),
              nullptr);
    EXPECT_EQ(plat::GetLastError(), 1407u);
    const std::string upper = "MQ_TEST_CLASS_" + className_.substr(14);
    HWND w = plat::CreateWindowExA(0, upper.c_str(), "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                   nullptr);
    EXPECT_NE(w, nullptr) << "class names ignore case";
    windows_.push_back(w);
    HWND bogusParent = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7777));
    EXPECT_EQ(plat::CreateWindowExA(0, className_.c_str(), "", 0, 0, 0, 0, 0, bogusParent, nullptr,
                                    nullptr, nullptr),
              nullptr);
    EXPECT_FALSE(plat::IsWindow(plat::MessageOnlyParent()));
    EXPECT_FALSE(plat::IsWindow(nullptr));
}

// ---- extra bytes ---------------------------------------------------------------------

TEST_F(MessageQueueTest, ExtraBytesBounds) {
    struct Case {
        int extraBytes;
        int offset;
        bool fits;
    };
    const Case cases[] = {
        {12, 0, true},   {12, 4, true},   {12, 5, false}, {12, 8, false},
        {12, -1, false}, {12, -4, false}, {8, 0, true},   {8, 1, false},
        {0, 0, false},   {16, 8, true},   {16, 9, false},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = className_ + "_extra_" + std::to_string(index++);
        plat::WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.cbWndExtra = c.extraBytes;
        wc.lpszClassName = name.c_str();
        ASSERT_NE(plat::RegisterClassA(&wc), 0);
        HWND w = plat::CreateWindowExA(0, name.c_str(), "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
        ASSERT_NE(w, nullptr);
        const intptr_t value = static_cast<intptr_t>(0x1122334455667788);
        plat::SetLastError(0);
        EXPECT_EQ(plat::GetWindowLongPtrA(w, c.offset), 0) << "zeroed at creation";
        EXPECT_EQ(plat::SetWindowLongPtrA(w, c.offset, value), 0);
        EXPECT_EQ(plat::GetWindowLongPtrA(w, c.offset), c.fits ? value : 0)
            << c.extraBytes << " bytes, offset " << c.offset;
        if (c.fits) {
            EXPECT_EQ(plat::SetWindowLongPtrA(w, c.offset, 5), value) << "returns the previous";
            EXPECT_EQ(plat::GetLastError(), 0u);
        } else {
            EXPECT_EQ(plat::GetLastError(), 1413u);
        }
        EXPECT_TRUE(plat::DestroyWindow(w));
        EXPECT_TRUE(plat::UnregisterClassA(name.c_str(), nullptr));
    }
}

// ---- handles after destruction -------------------------------------------------------

TEST_F(MessageQueueTest, DestroyedHandlesAreDeadAndNeverReusedSoon) {
    HWND first = NewWindow();
    ASSERT_TRUE(plat::SetWindowLongPtrA(first, 0, 42) == 0);
    ASSERT_TRUE(plat::PostMessageA(first, plat::WM_USER, 1, 2));
    ASSERT_TRUE(plat::DestroyWindow(first));
    EXPECT_FALSE(plat::IsWindow(first));
    EXPECT_FALSE(plat::DestroyWindow(first));
    EXPECT_EQ(plat::GetLastError(), 1400u);
    EXPECT_EQ(plat::GetWindowLongPtrA(first, 0), 0);
    EXPECT_EQ(plat::SetWindowLongPtrA(first, 0, 1), 0);
    EXPECT_FALSE(plat::PostMessageA(first, plat::WM_USER, 0, 0));
    EXPECT_EQ(plat::SendMessageA(first, plat::WM_USER, 0, 0), 0);
    MSG stale{first, plat::WM_USER, 0, 0, 0};
    EXPECT_EQ(plat::DispatchMessageA(&stale), 0);
    EXPECT_TRUE(t_seen.empty()) << "no procedure runs for a dead window";
    EXPECT_TRUE(Drain().empty()) << "its queued message went with it";

    std::vector<HWND> seen{first};
    for (int i = 0; i < 500; ++i) {
        HWND w = plat::CreateWindowExA(0, className_.c_str(), "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
        ASSERT_NE(w, nullptr);
        for (HWND old : seen)
            ASSERT_NE(w, old);
        seen.push_back(w);
        ASSERT_TRUE(plat::DestroyWindow(w));
    }
    for (HWND old : seen)
        EXPECT_FALSE(plat::IsWindow(old));
}

// ---- post, peek, dispatch ------------------------------------------------------------

TEST_F(MessageQueueTest, PeekTakesMessagesInPostingOrder) {
    HWND a = NewWindow();
    HWND b = NewWindow();
    struct Post {
        HWND window;
        uint32_t message;
    };
    const Post posts[] = {{a, plat::WM_USER + 1},
                          {nullptr, plat::WM_USER + 2},
                          {b, plat::WM_USER + 3},
                          {a, plat::WM_USER + 4},
                          {nullptr, plat::WM_USER + 5}};
    WPARAM n = 0;
    for (const Post& p : posts)
        ASSERT_TRUE(plat::PostMessageA(p.window, p.message, ++n, -1));
    const std::vector<MSG> taken = Drain();
    ASSERT_EQ(taken.size(), std::size(posts));
    for (size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].hwnd, posts[i].window) << i;
        EXPECT_EQ(taken[i].message, posts[i].message) << i;
        EXPECT_EQ(taken[i].wParam, i + 1) << i;
        EXPECT_EQ(taken[i].lParam, -1) << i;
    }
}

TEST_F(MessageQueueTest, FilterTakesOnlyThatWindowsMessages) {
    HWND a = NewWindow();
    HWND b = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER + 1, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(b, plat::WM_USER + 2, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(nullptr, plat::WM_USER + 3, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER + 4, 0, 0));
    const std::vector<MSG> forA = Drain(a);
    ASSERT_EQ(forA.size(), 2u);
    EXPECT_EQ(forA[0].message, plat::WM_USER + 1);
    EXPECT_EQ(forA[1].message, plat::WM_USER + 4);
    const std::vector<MSG> rest = Drain();
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].hwnd, b);
    EXPECT_EQ(rest[1].hwnd, nullptr);
}

TEST_F(MessageQueueTest, MessageRangeFilter) {
    HWND a = NewWindow();
    for (uint32_t m : {plat::WM_USER + 1, plat::WM_USER + 5, plat::WM_USER + 9}) {
        ASSERT_TRUE(plat::PostMessageA(a, m, 0, 0));
    }
    struct Case {
        uint32_t min, max;
        bool found;
        uint32_t message;
    };
    const Case cases[] = {
        {plat::WM_USER + 4, plat::WM_USER + 6, true, plat::WM_USER + 5},
        {plat::WM_USER + 2, plat::WM_USER + 4, false, 0},
        {plat::WM_USER + 9, plat::WM_USER + 9, true, plat::WM_USER + 9},
        {0, 0, true, plat::WM_USER + 1},
    };
    for (const Case& c : cases) {
        MSG msg{};
        EXPECT_EQ(plat::PeekMessageA(&msg, nullptr, c.min, c.max, plat::PM_REMOVE), c.found)
            << c.min << ".." << c.max;
        if (c.found) {
            EXPECT_EQ(msg.message, c.message);
        }
    }
    EXPECT_TRUE(Drain().empty());
}

TEST_F(MessageQueueTest, NoRemoveLeavesTheMessage) {
    HWND a = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 7, 8));
    for (int i = 0; i < 3; ++i) {
        MSG msg{};
        ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_NOREMOVE));
        EXPECT_EQ(msg.wParam, 7u);
    }
    EXPECT_EQ(Drain().size(), 1u);
    MSG msg{};
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_NOREMOVE));
}

TEST_F(MessageQueueTest, QuitComesAfterOtherMessagesAndCanBePostedAgain) {
    HWND a = NewWindow();
    plat::PostQuitMessage(7);
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 0, 0));
    MSG msg{};
    EXPECT_FALSE(plat::PeekMessageA(&msg, a, 0, 0, plat::PM_NOREMOVE) &&
                 msg.message == plat::WM_QUIT)
        << "a window filter does not take WM_QUIT";
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(msg.message, plat::WM_USER);
    ASSERT_TRUE(plat::PeekMessageA(&msg, a, 0, 0, plat::PM_NOREMOVE) == false);
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_NOREMOVE));
    EXPECT_EQ(msg.message, plat::WM_QUIT);
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(msg.message, plat::WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    // What the pump does when it meets WM_QUIT: put it back for the outer loop.
    plat::PostQuitMessage(static_cast<int>(msg.wParam));
    EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, GetMessageReturnsOneForOrdinaryMessages) {
    HWND a = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 3, 0));
    MSG msg{};
    EXPECT_EQ(plat::GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.wParam, 3u);
    HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7777));
    EXPECT_EQ(plat::GetMessageA(&msg, bogus, 0, 0), -1);
}

TEST_F(MessageQueueTest, DispatchSendAndTranslate) {
    HWND a = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER + 1, 11, 12));
    MSG msg{};
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_FALSE(plat::TranslateMessage(&msg));
    EXPECT_EQ(plat::DispatchMessageA(&msg), static_cast<LRESULT>(plat::WM_USER + 1000 + 1));
    EXPECT_EQ(plat::SendMessageA(a, plat::WM_USER + 2, 21, 22),
              static_cast<LRESULT>(plat::WM_USER + 1000 + 2));
    MSG threadMessage{nullptr, plat::WM_USER + 3, 0, 0, 0};
    EXPECT_EQ(plat::DispatchMessageA(&threadMessage), 0);
    ASSERT_EQ(t_seen.size(), 2u);
    EXPECT_EQ(t_seen[0].window, a);
    EXPECT_EQ(t_seen[0].wParam, 11u);
    EXPECT_EQ(t_seen[0].lParam, 12);
    EXPECT_EQ(t_seen[1].message, plat::WM_USER + 2);
}

TEST_F(MessageQueueTest, CloseThroughDefWindowProcDestroysTheWindow) {
    HWND a = NewWindow();
    HWND b = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_CLOSE, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(b, plat::WM_USER, 0, 0));
    MSG msg{};
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    ASSERT_EQ(msg.message, plat::WM_CLOSE);
    EXPECT_EQ(plat::DispatchMessageA(&msg), 0);
    EXPECT_FALSE(plat::IsWindow(a));
    EXPECT_TRUE(plat::IsWindow(b));
    const std::vector<MSG> rest = Drain();
    ASSERT_EQ(rest.size(), 1u) << "the closed window's message is dropped";
    EXPECT_EQ(rest[0].hwnd, b);
}

TEST_F(MessageQueueTest, PostQuotaRefusesARunawayQueue) {
    HWND a = NewWindow();
    int accepted = 0;
    for (int i = 0; i < 10050; ++i)
        accepted += plat::PostMessageA(a, plat::WM_USER, 0, 0) ? 1 : 0;
    EXPECT_EQ(accepted, 10000);
    EXPECT_EQ(plat::GetLastError(), 1816u);
    EXPECT_EQ(Drain().size(), 10000u);
}

// ---- threads -------------------------------------------------------------------------

TEST_F(MessageQueueTest, WindowsBelongToTheirThread) {
    std::atomic<HWND> remote{nullptr};
    std::atomic<bool> posted{false};
    std::vector<uint32_t> received;
    std::thread owner([&] {
        HWND w = plat::CreateWindowExA(0, className_.c_str(), "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
        remote = w;
        MSG msg{};
        // Bounded: two messages are posted, then the quit.
        for (int i = 0; i < 3 && plat::GetMessageA(&msg, nullptr, 0, 0) > 0; ++i) {
            received.push_back(msg.message);
        }
        while (!posted)
            std::this_thread::sleep_for(1ms);
        // Its window stays alive until the thread ends.
    });
    const auto start = Clock::now();
    while (remote.load() == nullptr && MillisSince(start) < 5000)
        std::this_thread::sleep_for(1ms);
    HWND w = remote.load();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(plat::DestroyWindow(w)) << "only the owner thread destroys";
    EXPECT_EQ(plat::GetLastError(), 5u);
    EXPECT_TRUE(plat::PostMessageA(w, plat::WM_USER + 1, 0, 0));
    EXPECT_TRUE(plat::PostMessageA(w, plat::WM_USER + 2, 0, 0));
    EXPECT_TRUE(plat::PostMessageA(w, plat::WM_QUIT, 0, 0));
    EXPECT_TRUE(Drain().empty()) << "nothing arrives in this thread's queue";
    posted = true;
    owner.join();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], plat::WM_USER + 1);
    EXPECT_EQ(received[1], plat::WM_USER + 2);
    EXPECT_FALSE(plat::IsWindow(w)) << "destroyed at its thread's exit";
    EXPECT_FALSE(plat::PostMessageA(w, plat::WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, PostsFromManyThreadsKeepEachThreadsOrder) {
    HWND a = NewWindow();
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([a, t] {
            for (int i = 0; i < kEach; ++i) {
                plat::PostMessageA(a, plat::WM_USER + static_cast<uint32_t>(t),
                                   static_cast<WPARAM>(i), 0);
            }
        });
    }
    for (auto& p : posters)
        p.join();
    std::vector<int> next(kThreads, 0);
    const std::vector<MSG> taken = Drain();
    ASSERT_EQ(taken.size(), static_cast<size_t>(kThreads * kEach));
    for (const MSG& m : taken) {
        const int t = static_cast<int>(m.message - plat::WM_USER);
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(m.wParam, static_cast<WPARAM>(next[t]++));
    }
}

// ---- the wait ------------------------------------------------------------------------

TEST_F(MessageQueueTest, PostFromAnotherThreadWakesTheWaitEarly) {
    HWND a = NewWindow();
    std::atomic<int64_t> postedAt{0};
    std::thread poster([&] {
        std::this_thread::sleep_for(100ms);
        postedAt = Clock::now().time_since_epoch().count();
        plat::PostMessageA(a, plat::WM_USER, 0, 0);
    });
    const auto start = Clock::now();
    const uint32_t result =
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 2000, plat::QS_ALLINPUT);
    const auto woke = Clock::now();
    poster.join();
    EXPECT_EQ(result, plat::WAIT_OBJECT_0);
    ASSERT_NE(postedAt.load(), 0) << "woke before the post, after " << MillisSince(start) << " ms";
    const auto afterPost = woke - Clock::time_point(Clock::duration(postedAt.load()));
    EXPECT_LT(afterPost, 200ms);
    EXPECT_EQ(Drain().size(), 1u);
}

TEST_F(MessageQueueTest, ThreadMessageFromItselfMakesTheWaitReturnAtOnce) {
    ASSERT_TRUE(plat::PostMessageA(nullptr, plat::WM_USER, 0, 0));
    const auto start = Clock::now();
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 2000, plat::QS_ALLINPUT),
              plat::WAIT_OBJECT_0);
    EXPECT_LT(MillisSince(start), 1000);
    EXPECT_EQ(Drain().size(), 1u);
}

TEST_F(MessageQueueTest, WaitTimesOutAfterRoughlyTheTime) {
    struct Case {
        uint32_t millis;
        long long atLeast;
    };
    const Case cases[] = {{0, 0}, {30, 29}, {120, 119}};
    for (const Case& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, c.millis, plat::QS_ALLINPUT),
                  plat::WAIT_TIMEOUT)
            << c.millis;
        const long long took = MillisSince(start);
        EXPECT_GE(took, c.atLeast) << c.millis;
        if (c.millis == 0) {
            EXPECT_LT(took, 1000) << "millis 0 only checks";
        }
    }
}

TEST_F(MessageQueueTest, ZeroMillisReportsAQueuedMessage) {
    HWND a = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 0, 0));
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 0, plat::QS_ALLINPUT),
              plat::WAIT_OBJECT_0);
    EXPECT_EQ(Drain().size(), 1u);
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 0, plat::QS_ALLINPUT),
              plat::WAIT_TIMEOUT);
}

TEST_F(MessageQueueTest, MessagesAFilteredPeekLeftDoNotKeepTheWaitAwake) {
    HWND mine = NewWindow();
    HWND other = NewWindow();
    ASSERT_TRUE(plat::PostMessageA(other, plat::WM_USER, 0, 0));
    MSG msg{};
    EXPECT_FALSE(plat::PeekMessageA(&msg, mine, 0, 0, plat::PM_REMOVE));
    // Like Windows: the wait sleeps until something new arrives, so a pump that ignores
    // other windows does not spin on their messages.
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 30, plat::QS_ALLINPUT),
              plat::WAIT_TIMEOUT);
    ASSERT_TRUE(plat::PostMessageA(mine, plat::WM_USER, 0, 0));
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 2000, plat::QS_ALLINPUT),
              plat::WAIT_OBJECT_0);
    EXPECT_EQ(Drain().size(), 2u);
}

TEST_F(MessageQueueTest, CountOtherThanZeroIsRefused) {
    const void* handle = nullptr;
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(1, &handle, false, 0, plat::QS_ALLINPUT),
              plat::WAIT_FAILED);
}

TEST_F(MessageQueueTest, WaitingDoesNotSpin) {
    rusage before{};
    getrusage(RUSAGE_THREAD, &before);
    const auto start = Clock::now();
    int rounds = 0;
    while (MillisSince(start) < 400 && rounds < 1000) {
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 20, plat::QS_ALLINPUT);
        ++rounds;
    }
    rusage after{};
    getrusage(RUSAGE_THREAD, &after);
    auto micros = [](const timeval& t) { return t.tv_sec * 1000000LL + t.tv_usec; };
    const long long cpu = micros(after.ru_utime) - micros(before.ru_utime) +
                          micros(after.ru_stime) - micros(before.ru_stime);
    EXPECT_LE(rounds, 25) << "each round sleeps its 20 ms";
    EXPECT_LT(cpu, 100000) << "CPU microseconds in 400 ms of waiting";
}

// ---- the wake-up descriptor ----------------------------------------------------------

TEST_F(MessageQueueTest, WakeDescriptorFollowsTheQueue) {
    HWND a = NewWindow();
    const int wake = plat::QueueWakeDescriptor();
    ASSERT_GE(wake, 0);
    EXPECT_EQ(plat::QueueWakeDescriptor(), wake) << "one per thread";
    EXPECT_FALSE(Readable(wake));
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 0, 0));
    ASSERT_TRUE(plat::PostMessageA(a, plat::WM_USER, 0, 0));
    EXPECT_TRUE(Readable(wake));
    MSG msg{};
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_TRUE(Readable(wake)) << "one message is left";
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_FALSE(Readable(wake)) << "drained";
    plat::PostQuitMessage(0);
    EXPECT_TRUE(Readable(wake));
    EXPECT_EQ(Drain().size(), 1u);
    EXPECT_FALSE(Readable(wake));

    int otherThreads = -1;
    std::thread([&] { otherThreads = plat::QueueWakeDescriptor(); }).join();
    EXPECT_GE(otherThreads, 0);
    EXPECT_NE(otherThreads, wake);
}

// ---- a GUI toolkit joined to the queue ------------------------------------------------

struct FakeGui {
    int fd = -1;
    int calls = 0;
    int nestedPeeks = 0;
    bool peekInside = false;
};

void FakeGuiProcess(void* context) {
    auto* gui = static_cast<FakeGui*>(context);
    ++gui->calls;
    uint64_t value = 0;
    ssize_t got = read(gui->fd, &value, sizeof value);
    (void)got;
    if (gui->peekInside) {
        // A GUI handler that peeks on every call, as a run started inside a run does in
        // its waits: the GUI nests, to a bound.
        MSG msg{};
        plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_NOREMOVE);
        ++gui->nestedPeeks;
    }
}

TEST_F(MessageQueueTest, GuiInputWakesTheWaitAndIsProcessedByPeek) {
    FakeGui gui;
    gui.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(gui.fd, 0);
    const plat::GuiSource source{gui.fd, FakeGuiProcess, &gui};
    plat::JoinGuiSource(&source);

    std::atomic<int64_t> inputAt{0};
    std::thread input([&] {
        std::this_thread::sleep_for(100ms);
        inputAt = Clock::now().time_since_epoch().count();
        const uint64_t one = 1;
        ssize_t put = write(gui.fd, &one, sizeof one);
        (void)put;
    });
    const uint32_t result =
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 2000, plat::QS_ALLINPUT);
    const auto woke = Clock::now();
    input.join();
    EXPECT_EQ(result, plat::WAIT_OBJECT_0);
    ASSERT_NE(inputAt.load(), 0);
    EXPECT_LT(woke - Clock::time_point(Clock::duration(inputAt.load())), 200ms);

    // A peek filtered to one window leaves the GUI's input (other windows' input) alone,
    // and the waits then do not wake for it again.
    MSG msg{};
    EXPECT_FALSE(plat::PeekMessageA(&msg, NewWindow(), 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(gui.calls, 0);
    EXPECT_TRUE(Readable(gui.fd)) << "the input waits for an unfiltered peek";
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 0, plat::QS_ALLINPUT),
              plat::WAIT_TIMEOUT);

    gui.peekInside = true;
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(gui.calls, plat::kMaxGuiNesting);
    EXPECT_EQ(gui.nestedPeeks, plat::kMaxGuiNesting);
    EXPECT_FALSE(Readable(gui.fd)) << "the GUI read its input";
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 0, plat::QS_ALLINPUT),
              plat::WAIT_TIMEOUT);

    // Messages queued: the GUI is not asked.
    gui.peekInside = false;
    gui.calls = 0;
    ASSERT_TRUE(plat::PostMessageA(nullptr, plat::WM_USER, 0, 0));
    EXPECT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(gui.calls, 0);

    plat::JoinGuiSource(nullptr);
    EXPECT_FALSE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(gui.calls, 0) << "left";
    close(gui.fd);
}

TEST_F(MessageQueueTest, GuiProcessingMayPostMessagesThatPeekThenTakes) {
    struct Poster {
        static void Process(void*) { plat::PostMessageA(nullptr, plat::WM_USER + 9, 0, 0); }
    };
    const plat::GuiSource source{-1, Poster::Process, nullptr};
    plat::JoinGuiSource(&source);
    MSG msg{};
    EXPECT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(msg.message, plat::WM_USER + 9);
    plat::JoinGuiSource(nullptr);
    Drain();
}

// ---- socket notifications ------------------------------------------------------------

// Two connected descriptors: data written to `sender` waits on `receiver`.
struct Pair {
    int receiver = -1;
    int sender = -1;
    void Close() {
        if (receiver >= 0) close(receiver);
        if (sender >= 0) close(sender);
        receiver = sender = -1;
    }
};

Pair UdpLoopback() {
    Pair p;
    p.receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    p.sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(p.receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(p.receiver, reinterpret_cast<sockaddr*>(&address), &length);
    connect(p.sender, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return p;
}

Pair UnixPair(int type) {
    int fds[2] = {-1, -1};
    socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds);
    Pair p;
    p.receiver = fds[0];
    p.sender = fds[1];
    return p;
}

struct SocketKind {
    const char* name;
    std::function<Pair()> make;
};

const std::vector<SocketKind>& SocketKinds() {
    static const std::vector<SocketKind> kinds = {
        {"udp loopback", UdpLoopback},
        {"unix datagram pair", [] { return UnixPair(SOCK_DGRAM); }},
        {"unix stream pair", [] { return UnixPair(SOCK_STREAM); }},
    };
    return kinds;
}

void SendChunk(const Pair& p) {
    const char chunk[4] = {'p', 'i', 'n', 'g'};
    ASSERT_EQ(send(p.sender, chunk, sizeof chunk, 0), static_cast<ssize_t>(sizeof chunk));
}

void ReceiveChunk(const Pair& p) {
    char chunk[4];
    ASSERT_EQ(recv(p.receiver, chunk, sizeof chunk, MSG_DONTWAIT), 4);
}

// The notifications taken from the queue, as events, after at most one short wait.
std::vector<int32_t> Notifications(uintptr_t socketValue, HWND window, uint32_t waitMillis) {
    if (waitMillis != 0) {
        plat::MsgWaitForMultipleObjects(0, nullptr, false, waitMillis, plat::QS_ALLINPUT);
    }
    std::vector<int32_t> events;
    for (const MSG& m : Drain()) {
        EXPECT_EQ(m.hwnd, window);
        EXPECT_EQ(m.message, kNotify);
        EXPECT_EQ(m.wParam, socketValue);
        EXPECT_EQ(static_cast<uint32_t>(m.lParam) >> 16, 0u) << "no error";
        events.push_back(static_cast<int32_t>(m.lParam & 0xFFFF));
    }
    return events;
}

using Events = std::vector<int32_t>;

TEST_F(MessageQueueTest, SocketNotificationsFollowAsyncSelectRules) {
    for (const SocketKind& kind : SocketKinds()) {
        SCOPED_TRACE(kind.name);
        HWND w = NewWindow();
        Pair p = kind.make();
        ASSERT_GE(p.receiver, 0);
        ASSERT_GE(p.sender, 0);
        const uintptr_t value = 0x5000 + static_cast<uintptr_t>(p.receiver);
        ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify,
                                                            kFdRead | kFdWrite));
        EXPECT_EQ(Notifications(value, w, 0), Events{kFdWrite}) << "FD_WRITE once, no FD_READ";
        EXPECT_EQ(Notifications(value, w, 30), Events{}) << "nothing waits";

        SendChunk(p);
        SendChunk(p);
        EXPECT_EQ(Notifications(value, w, 2000), Events{kFdRead});
        EXPECT_EQ(Notifications(value, w, 30), Events{}) << "disarmed until a receive";

        ReceiveChunk(p);
        plat::posix::RearmSocketRead(p.receiver);
        EXPECT_EQ(Notifications(value, w, 0), Events{kFdRead}) << "data remains";

        ReceiveChunk(p);
        plat::posix::RearmSocketRead(p.receiver);
        EXPECT_EQ(Notifications(value, w, 30), Events{}) << "read empty";

        SendChunk(p);
        EXPECT_EQ(Notifications(value, w, 2000), Events{kFdRead}) << "armed again";
        ReceiveChunk(p);
        plat::posix::RearmSocketRead(p.receiver);

        plat::posix::ForgetSocket(p.receiver);
        SendChunk(p);
        EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 30, plat::QS_ALLINPUT),
                  plat::WAIT_TIMEOUT)
            << "forgotten";
        EXPECT_EQ(Notifications(value, w, 0), Events{});
        p.Close();
    }
}

TEST_F(MessageQueueTest, SocketNotificationsAlreadyQueuedStayAfterForget) {
    HWND w = NewWindow();
    Pair p = UdpLoopback();
    const uintptr_t value = static_cast<uintptr_t>(p.receiver);
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdWrite));
    MSG msg{};
    ASSERT_TRUE(plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_NOREMOVE));
    plat::posix::ForgetSocket(p.receiver);
    p.Close();
    EXPECT_EQ(Notifications(value, w, 0), Events{kFdWrite});
}

TEST_F(MessageQueueTest, RegistrationRulesAndWindowDestruction) {
    HWND w = NewWindow();
    Pair p = UdpLoopback();
    const uintptr_t value = static_cast<uintptr_t>(p.receiver);
    HWND dead = NewWindow();
    ASSERT_TRUE(plat::DestroyWindow(dead));
    EXPECT_FALSE(
        plat::posix::RegisterSocketNotification(p.receiver, value, dead, kNotify, kFdRead));
    EXPECT_FALSE(plat::posix::RegisterSocketNotification(-1, value, w, kNotify, kFdRead));

    // Replacing a registration: only the newest message number is used.
    ASSERT_TRUE(
        plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify + 1, kFdRead));
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdRead));
    SendChunk(p);
    EXPECT_EQ(Notifications(value, w, 2000), Events{kFdRead});
    ReceiveChunk(p);
    plat::posix::RearmSocketRead(p.receiver);

    // Events 0 cancels.
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, 0));
    SendChunk(p);
    EXPECT_EQ(Notifications(value, w, 30), Events{});
    ReceiveChunk(p);

    // Destroying the window takes the registration with it.
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdRead));
    ASSERT_TRUE(plat::DestroyWindow(w));
    SendChunk(p);
    EXPECT_EQ(plat::MsgWaitForMultipleObjects(0, nullptr, false, 30, plat::QS_ALLINPUT),
              plat::WAIT_TIMEOUT);
    EXPECT_TRUE(Drain().empty());
    p.Close();
}

TEST_F(MessageQueueTest, DatagramWakesASleepingWait) {
    HWND w = NewWindow();
    Pair p = UdpLoopback();
    const uintptr_t value = static_cast<uintptr_t>(p.receiver);
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdRead));
    std::atomic<int64_t> sentAt{0};
    std::thread sender([&] {
        std::this_thread::sleep_for(100ms);
        sentAt = Clock::now().time_since_epoch().count();
        SendChunk(p);
    });
    const uint32_t result =
        plat::MsgWaitForMultipleObjects(0, nullptr, false, 2000, plat::QS_ALLINPUT);
    const auto woke = Clock::now();
    sender.join();
    EXPECT_EQ(result, plat::WAIT_OBJECT_0);
    ASSERT_NE(sentAt.load(), 0);
    EXPECT_LT(woke - Clock::time_point(Clock::duration(sentAt.load())), 200ms);
    EXPECT_EQ(Notifications(value, w, 0), Events{kFdRead});
    plat::posix::ForgetSocket(p.receiver);
    p.Close();
}

TEST_F(MessageQueueTest, WakeDescriptorIsNotHeldReadableByADisarmedSocket) {
    HWND w = NewWindow();
    const int wake = plat::QueueWakeDescriptor();
    Pair p = UdpLoopback();
    const uintptr_t value = static_cast<uintptr_t>(p.receiver);
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdRead));
    EXPECT_FALSE(Readable(wake));
    SendChunk(p);
    // Bounded wait for the loopback datagram to land.
    pollfd landed{p.receiver, POLLIN, 0};
    ASSERT_EQ(poll(&landed, 1, 2000), 1);
    EXPECT_TRUE(Readable(wake)) << "a notification is due";
    EXPECT_EQ(Notifications(value, w, 0), Events{kFdRead});
    EXPECT_FALSE(Readable(wake)) << "data still waits, but its FD_READ was taken";
    ReceiveChunk(p);
    plat::posix::RearmSocketRead(p.receiver);
    EXPECT_FALSE(Readable(wake));
    plat::posix::ForgetSocket(p.receiver);
    p.Close();
}

TEST_F(MessageQueueTest, PendingSocketErrorCountsAsReadable) {
    // A port nobody listens on: the loopback answers with ICMP port unreachable, which
    // shows up as a socket error the next receive reports.
    int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);

    HWND w = NewWindow();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const uintptr_t value = static_cast<uintptr_t>(fd);
    ASSERT_TRUE(plat::posix::RegisterSocketNotification(fd, value, w, kNotify, kFdRead));
    const char byte = 'x';
    ASSERT_EQ(send(fd, &byte, 1, 0), 1);
    EXPECT_EQ(Notifications(value, w, 2000), Events{kFdRead});
    char buffer[4];
    EXPECT_EQ(recv(fd, buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    plat::posix::RearmSocketRead(fd);
    EXPECT_EQ(Notifications(value, w, 30), Events{}) << "the error was read";
    plat::posix::ForgetSocket(fd);
    close(fd);
}

TEST_F(MessageQueueTest, RegistrationFromAnotherThreadPostsToTheOwner) {
    HWND w = NewWindow();
    Pair p = UdpLoopback();
    const uintptr_t value = static_cast<uintptr_t>(p.receiver);
    std::thread([&] {
        EXPECT_TRUE(
            plat::posix::RegisterSocketNotification(p.receiver, value, w, kNotify, kFdWrite));
        EXPECT_TRUE(Drain().empty()) << "not the registering thread's queue";
    }).join();
    EXPECT_EQ(Notifications(value, w, 2000), Events{kFdWrite});
    plat::posix::ForgetSocket(p.receiver);
    p.Close();
}

}  // namespace
