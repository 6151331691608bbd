#include "tests/support/system.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <unistd.h>
#endif

namespace test {

std::string MachineName() {
    char name[256] = {};
#if defined(_WIN32)
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "";
    const int rc = gethostname(name, sizeof name - 1);
    WSACleanup();
    if (rc != 0) return "";
#else
    if (gethostname(name, sizeof name - 1) != 0) return "";
#endif
    return name;
}

bool Privileged() {
#if defined(_WIN32)
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    const SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    const bool allowed = s != INVALID_SOCKET;
    if (allowed) closesocket(s);
    WSACleanup();
    return allowed;
#else
    return geteuid() == 0;
#endif
}

bool UnderWine() {
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace test
