// Process-wide start-up of the socket runtime, shared by every object of the module:
// the hidden window class, Windows Sockets, and the resolver functions.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace corvane {

inline constexpr char kSocketWindowClass[] = "__corvane_socket_wnd__";
inline constexpr int kSocketWindowExtraBytes = 12;

// Resolver functions looked up by name at start-up; each is null when missing.
struct ResolverFunctions {
    plat::GetAddrInfoFn getaddrinfo = nullptr;
    plat::FreeAddrInfoFn freeaddrinfo = nullptr;
    plat::GetNameInfoFn getnameinfo = nullptr;
    plat::GetHostByAddrFn gethostbyaddr = nullptr;
};

struct RuntimeState {
    void* module = nullptr;
    int32_t winsockStatus = -1;   // result of the Windows Sockets start-up
    uint16_t winsockVersion = 0;  // granted version, low byte major, high byte minor
    ResolverFunctions resolver;
};

const RuntimeState& Runtime();

void RuntimeStartup(void* module);
void RuntimeShutdown();

}  // namespace corvane
