// The socket calls the engine makes, in one replaceable table: the system's by default,
// a scripted socket in tests that need exact datagrams, errors and timing.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace corvane {

struct SocketApi {
    plat::SOCKET (*socket)(int family, int type, int protocol);
    int (*bind)(plat::SOCKET s, const void* address, int length);
    int (*connect)(plat::SOCKET s, const void* address, int length);
    int (*send)(plat::SOCKET s, const void* data, int length, int flags);
    int (*sendto)(plat::SOCKET s, const void* data, int length, int flags, const void* to,
                  int toLength);
    int (*recv)(plat::SOCKET s, void* buffer, int length, int flags);
    int (*recvfrom)(plat::SOCKET s, void* buffer, int length, int flags, void* from,
                    int* fromLength);
    int (*closesocket)(plat::SOCKET s);
    int (*setsockopt)(plat::SOCKET s, int level, int name, const void* value, int length);
    int (*getsockopt)(plat::SOCKET s, int level, int name, void* value, int* length);
    int (*ioctlsocket)(plat::SOCKET s, uint32_t command, uint32_t* argument);
    int (*select)(int ignored, plat::fd_set* read, plat::fd_set* write, plat::fd_set* except,
                  const plat::timeval* timeout);
    int (*WSAAsyncSelect)(plat::SOCKET s, plat::HWND window, uint32_t message, int32_t events);
    int32_t (*WSAGetLastError)();
};

const SocketApi& Sockets();
// Null restores the system's calls.
void SetSocketApi(const SocketApi* api);
const SocketApi& SystemSockets();

// Time sources, replaceable the same way.
struct ClockApi {
    uint32_t (*GetTickCount)();
    bool (*QueryPerformanceCounter)(int64_t* counter);
    bool (*QueryPerformanceFrequency)(int64_t* frequency);
};

const ClockApi& Clocks();
void SetClockApi(const ClockApi* api);

}  // namespace corvane
