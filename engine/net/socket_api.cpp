#include "engine/net/socket_api.h"

#include "platform/clock.h"

namespace corvane {

namespace {

constexpr SocketApi kSystemSockets = {
    plat::socket,         plat::bind,
    plat::connect,        plat::send,
    plat::sendto,         plat::recv,
    plat::recvfrom,       plat::closesocket,
    plat::setsockopt,     plat::getsockopt,
    plat::ioctlsocket,    plat::select,
    plat::WSAAsyncSelect, plat::WSAGetLastError,
};

constexpr ClockApi kSystemClocks = {
    plat::GetTickCount,
    plat::QueryPerformanceCounter,
    plat::QueryPerformanceFrequency,
};

const SocketApi* g_sockets = &kSystemSockets;
const ClockApi* g_clocks = &kSystemClocks;

}  // namespace

const SocketApi& Sockets() {
    return *g_sockets;
}
const SocketApi& SystemSockets() {
    return kSystemSockets;
}
void SetSocketApi(const SocketApi* api) {
    g_sockets = api != nullptr ? api : &kSystemSockets;
}

const ClockApi& Clocks() {
    return *g_clocks;
}
void SetClockApi(const ClockApi* api) {
    g_clocks = api != nullptr ? api : &kSystemClocks;
}

}  // namespace corvane
