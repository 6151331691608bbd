#include <atomic>
#include <cstring>

#include "platform/posix/socket_internal.h"
#include "platform/sockets.h"
#include "platform/winsock_errors.h"

namespace plat {

namespace {

constexpr uint16_t kHighestVersion = 0x0202;
constexpr int32_t kWsaVersionNotSupported = 10092;

// One count for the process, as Windows keeps it: each start-up is paired with a clean-up.
std::atomic<int> g_startups{0};

// Major version in the low byte, minor in the high byte; compared as (major, minor).
int VersionOrder(uint16_t version) {
    return (version & 0xFF) * 256 + (version >> 8);
}

void CopyText(char* to, size_t capacity, const char* text) {
    const size_t n = strnlen(text, capacity - 1);
    memcpy(to, text, n);
    to[n] = '\0';
}

}  // namespace

int WSAStartup(uint16_t version, WSADATA* data) {
    if (data == nullptr) return kWsaEfault;
    if (VersionOrder(version) < VersionOrder(0x0001)) {
        // Windows still reports what it could have given.
        data->wVersion = kHighestVersion;
        data->wHighVersion = kHighestVersion;
        return kWsaVersionNotSupported;
    }
    memset(data, 0, sizeof *data);
    data->wVersion =
        VersionOrder(version) < VersionOrder(kHighestVersion) ? version : kHighestVersion;
    data->wHighVersion = kHighestVersion;
    CopyText(data->szDescription, sizeof data->szDescription, "WinSock 2.0");
    CopyText(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    g_startups.fetch_add(1, std::memory_order_acq_rel);
    return 0;
}

int WSACleanup() {
    int count = g_startups.load(std::memory_order_acquire);
    while (count > 0) {
        if (g_startups.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
            return 0;
        }
    }
    WSASetLastError(kWsaNotInitialised);
    return SOCKET_ERROR;
}

// No call of this layer blocks in a way another call could cancel.
bool WSAIsBlocking() {
    return false;
}

int WSACancelBlockingCall() {
    return 0;
}

namespace posix {

bool RequireStarted() {
    if (g_startups.load(std::memory_order_acquire) > 0) return true;
    WSASetLastError(kWsaNotInitialised);
    return false;
}

}  // namespace posix

}  // namespace plat
