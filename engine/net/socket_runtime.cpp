#include "engine/net/socket_runtime.h"

#include "engine/net/socket_window.h"
#include "platform/module.h"
#include "platform/window.h"

namespace corvane {

namespace {

RuntimeState g_runtime;
constexpr uint16_t kWinsockVersion22 = 0x0202;

template <typename F>
void Lookup(void* library, const char* name, F& slot) {
    slot = reinterpret_cast<F>(plat::GetProcAddress(library, name));
}

}  // namespace

const RuntimeState& Runtime() {
    return g_runtime;
}

void RuntimeStartup(void* module) {
    g_runtime.module = module;

    plat::WNDCLASSA windowClass{};
    windowClass.style = plat::CS_GLOBALCLASS;
    windowClass.lpfnWndProc = SocketWindowProc;
    windowClass.cbWndExtra = kSocketWindowExtraBytes;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kSocketWindowClass;
    plat::RegisterClassA(&windowClass);  // a class registered before stays in use

    // The library stays loaded for the life of the process.
    if (void* ws2 = plat::LoadLibraryA("ws2_32.dll"); ws2 != nullptr) {
        Lookup(ws2, "getaddrinfo", g_runtime.resolver.getaddrinfo);
        Lookup(ws2, "freeaddrinfo", g_runtime.resolver.freeaddrinfo);
        Lookup(ws2, "getnameinfo", g_runtime.resolver.getnameinfo);
        Lookup(ws2, "gethostbyaddr", g_runtime.resolver.gethostbyaddr);
    }

    plat::WSADATA data{};
    g_runtime.winsockStatus = plat::WSAStartup(kWinsockVersion22, &data);
    g_runtime.winsockVersion = g_runtime.winsockStatus == 0 ? data.wVersion : 0;
}

void RuntimeShutdown() {
    plat::WSACancelBlockingCall();
    if (g_runtime.winsockStatus == 0) plat::WSACleanup();
    plat::UnregisterClassA(kSocketWindowClass, g_runtime.module);
    g_runtime = RuntimeState{};
}

}  // namespace corvane
