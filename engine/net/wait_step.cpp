// One pass of the event pump, the deadline it watches, and how sockets report to it.
#include "engine/core/error_codes.h"
#include "engine/net/socket_api.h"
#include "engine/net/socket_core.h"
#include "platform/clock.h"

namespace corvane {

void SocketCore::ArmDeadline() {
    deadlineArmed_ = timeoutMs_ != 0;
    deadline_ = Clocks().GetTickCount() + static_cast<uint32_t>(timeoutMs_);
}

// The tick count wraps every 49.7 days; the signed distance to the deadline does not care,
// as long as timeouts stay below 2^31 ms, which the timeout cap ensures.
bool SocketCore::DeadlinePassed() const {
    return deadlineArmed_ && static_cast<int32_t>(Clocks().GetTickCount() - deadline_) > 0;
}

int32_t SocketCore::AsyncSelect(plat::SOCKET socket, plat::HWND window, uint32_t message,
                                int32_t events) {
    notifySocket_ = socket;
    notifyMessage_ = message;
    notifyEvents_ = events;
    if (useWindowsMessages_) {
        return Sockets().WSAAsyncSelect(socket, window, message, events) == 0
                   ? 0
                   : Sockets().WSAGetLastError();
    }
    if (events != 0) {
        uint32_t nonBlocking = 1;
        Sockets().ioctlsocket(socket, plat::FIONBIO, &nonBlocking);
    }
    return 0;
}

plat::LRESULT SocketCore::OnWindowMessage(uint32_t message, plat::WPARAM wParam,
                                          plat::LPARAM lParam) {
    if (ignoreExternalEvents_ && !inDispatch_) return 0;
    if (windowHandle_ == nullptr) return 0;
    return plat::DefWindowProcA(windowHandle_, message, wParam, lParam);
}

void SocketCore::SelectStep(uint32_t waitMillis) {
    if (notifySocket_ == plat::INVALID_SOCKET) return;
    plat::fd_set readable{1, {notifySocket_}};
    plat::fd_set failed{1, {notifySocket_}};
    plat::fd_set writable{0, {}};
    const bool wantsWrite = (notifyEvents_ & plat::FD_WRITE) != 0;
    if (wantsWrite) writable = {1, {notifySocket_}};
    const plat::timeval timeout{static_cast<int32_t>(waitMillis / 1000),
                                static_cast<int32_t>((waitMillis % 1000) * 1000)};

    int ready = plat::SOCKET_ERROR;
    for (int call = 0; call < 3; ++call) {
        ready = Sockets().select(0, &readable, wantsWrite ? &writable : nullptr, &failed, &timeout);
        if (ready != plat::SOCKET_ERROR || Sockets().WSAGetLastError() != plat::kWsaEintr) break;
        readable = {1, {notifySocket_}};
        failed = {1, {notifySocket_}};
        if (wantsWrite) writable = {1, {notifySocket_}};
    }
    if (ready == plat::SOCKET_ERROR || ready == 0) return;

    const plat::SOCKET socket = notifySocket_;
    const uint32_t message = notifyMessage_;
    if (wantsWrite && writable.fd_count > 0) {
        notifyEvents_ &= ~plat::FD_WRITE;  // delivered once
        OnWindowMessage(message, socket, plat::FD_WRITE);
    }
    // The exception set is asked for, but only readability is a read notice.
    if (readable.fd_count > 0) OnWindowMessage(message, socket, plat::FD_READ);
}

uint32_t SocketCore::PassMillis(uint32_t waitMillis) const {
    if (static_cast<int32_t>(waitMillis) < 0) waitMillis = kDefaultSelectWaitMillis;
    if (!deadlineArmed_ || waitMillis == 0) return waitMillis;
    // The first tick count past the deadline is where DeadlinePassed holds.
    const int32_t left = static_cast<int32_t>(deadline_ - Clocks().GetTickCount());
    const uint32_t untilPassed = left < 0 ? 0 : static_cast<uint32_t>(left) + 1;
    return waitMillis < untilPassed ? waitMillis : untilPassed;
}

bool SocketCore::TakeInterrupt() {
    const bool interrupted = interruptRequested_ || Destroyed();
    interruptRequested_ = false;
    return interrupted;
}

int32_t SocketCore::WaitStep(uint32_t waitMillis, plat::HWND window) {
    if (TakeInterrupt()) return Fail(kWaitEnded, kTextInterrupted), 0;
    if (useWindowsMessages_) {
        plat::MSG msg{};
        const plat::HWND filter = ignoreOtherWindowEvents_ ? window : nullptr;
        if (plat::PeekMessageA(&msg, filter, 0, 0, plat::PM_REMOVE)) {
            if (msg.message == plat::WM_QUIT) {
                // The application's own loop must still see it.
                plat::PostQuitMessage(static_cast<int>(msg.wParam));
                return 0;
            }
            const bool outerDispatch = inDispatch_;  // a handler may pump again
            inDispatch_ = true;
            plat::TranslateMessage(&msg);
            plat::DispatchMessageA(&msg);
            inDispatch_ = outerDispatch;
            if (msg.message == plat::WM_CLOSE) return 0;
            if (!plat::IsWindow(window)) return 0;
        } else if (const uint32_t sleep = PassMillis(waitMillis); sleep != 0) {
            plat::MsgWaitForMultipleObjects(0, nullptr, false, sleep, plat::QS_ALLINPUT);
        }
    } else {
        SelectStep(PassMillis(waitMillis));
    }
    if (TakeInterrupt()) return Fail(kWaitEnded, kTextInterrupted), 0;
    if (DeadlinePassed()) return Fail(kWaitEnded, kTextTimeout), 0;
    return plat::IsWindow(window) ? 1 : 0;
}

}  // namespace corvane
