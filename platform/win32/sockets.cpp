// Windows Sockets 2 itself: the neutral layouts are the Windows ones, so most calls only
// change the types of their arguments.
#include "platform/sockets.h"

#include "platform/win32/windows_headers.h"

namespace plat {

static_assert(sizeof(plat::fd_set) == sizeof(::fd_set));
static_assert(sizeof(plat::timeval) == sizeof(::timeval));
static_assert(sizeof(plat::hostent) == sizeof(::hostent));
static_assert(sizeof(plat::addrinfo) == sizeof(::addrinfo));
static_assert(offsetof(plat::addrinfo, ai_next) == offsetof(::addrinfo, ai_next));

namespace {

::SOCKET Native(SOCKET s) {
    return static_cast<::SOCKET>(s);
}

const sockaddr* Address(const void* address) {
    return static_cast<const sockaddr*>(address);
}

sockaddr* Address(void* address) {
    return static_cast<sockaddr*>(address);
}

}  // namespace

int WSAStartup(uint16_t version, WSADATA* data) {
    if (data == nullptr) return WSAEFAULT;
    ::WSADATA native{};
    const int rc = ::WSAStartup(version, &native);
    data->wVersion = native.wVersion;
    data->wHighVersion = native.wHighVersion;
    static_assert(sizeof data->szDescription == sizeof native.szDescription);
    static_assert(sizeof data->szSystemStatus == sizeof native.szSystemStatus);
    memcpy(data->szDescription, native.szDescription, sizeof data->szDescription);
    memcpy(data->szSystemStatus, native.szSystemStatus, sizeof data->szSystemStatus);
    return rc;
}

int WSACleanup() {
    return ::WSACleanup();
}

// Winsock 2 dropped the blocking hooks of Winsock 1; nothing blocks that could be cancelled.
bool WSAIsBlocking() {
    return false;
}

int WSACancelBlockingCall() {
    return 0;
}

SOCKET socket(int family, int type, int protocol) {
    return static_cast<SOCKET>(::socket(family, type, protocol));
}

int bind(SOCKET s, const void* address, int length) {
    return ::bind(Native(s), Address(address), length);
}

int connect(SOCKET s, const void* address, int length) {
    return ::connect(Native(s), Address(address), length);
}

int send(SOCKET s, const void* data, int length, int flags) {
    return ::send(Native(s), static_cast<const char*>(data), length, flags);
}

int sendto(SOCKET s, const void* data, int length, int flags, const void* to, int toLength) {
    return ::sendto(Native(s), static_cast<const char*>(data), length, flags, Address(to),
                    toLength);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    return ::recv(Native(s), static_cast<char*>(buffer), length, flags);
}

int recvfrom(SOCKET s, void* buffer, int length, int flags, void* from, int* fromLength) {
    return ::recvfrom(Native(s), static_cast<char*>(buffer), length, flags, Address(from),
                      fromLength);
}

int closesocket(SOCKET s) {
    return ::closesocket(Native(s));
}

int getsockname(SOCKET s, void* address, int* length) {
    return ::getsockname(Native(s), Address(address), length);
}

int getpeername(SOCKET s, void* address, int* length) {
    return ::getpeername(Native(s), Address(address), length);
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length) {
    return ::setsockopt(Native(s), level, name, static_cast<const char*>(value), length);
}

int getsockopt(SOCKET s, int level, int name, void* value, int* length) {
    return ::getsockopt(Native(s), level, name, static_cast<char*>(value), length);
}

int ioctlsocket(SOCKET s, uint32_t command, uint32_t* argument) {
    static_assert(sizeof(u_long) == sizeof(uint32_t));
    return ::ioctlsocket(Native(s), static_cast<long>(command),
                         reinterpret_cast<u_long*>(argument));
}

int select(int ignored, fd_set* read, fd_set* write, fd_set* except, const timeval* timeout) {
    return ::select(ignored, reinterpret_cast<::fd_set*>(read), reinterpret_cast<::fd_set*>(write),
                    reinterpret_cast<::fd_set*>(except),
                    const_cast<::timeval*>(reinterpret_cast<const ::timeval*>(timeout)));
}

int WSAAsyncSelect(SOCKET s, HWND window, uint32_t message, int32_t events) {
    return ::WSAAsyncSelect(Native(s), reinterpret_cast<::HWND>(window), message, events);
}

uint32_t inet_addr(const char* text) {
    return ::inet_addr(text);
}

hostent* gethostbyname(const char* name) {
    return reinterpret_cast<hostent*>(::gethostbyname(name));
}

int32_t WSAGetLastError() {
    return ::WSAGetLastError();
}

void WSASetLastError(int32_t code) {
    ::WSASetLastError(code);
}

}  // namespace plat
