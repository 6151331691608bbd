#include "platform/posix/socket_internal.h"

#include <netinet/in.h>
#include <string.h>

#include "platform/winsock_errors.h"

namespace plat::posix {

namespace {

constexpr int32_t kWsaEafnosupport = 10047;
// The IPv6 address of RFC 2553 had no scope id; Windows still takes it.
constexpr int kShortIn6Length = 24;

}  // namespace

bool ToLinuxAddress(const void* address, int length, sockaddr_storage* out, socklen_t* outLength) {
    if (address == nullptr || length < 2) {
        WSASetLastError(kWsaEfault);
        return false;
    }
    uint16_t family;
    memcpy(&family, address, sizeof family);
    memset(out, 0, sizeof *out);
    if (family == win::kAfInet) {
        if (length < static_cast<int>(sizeof(plat::sockaddr_in))) {
            WSASetLastError(kWsaEfault);
            return false;
        }
        memcpy(out, address, sizeof(plat::sockaddr_in));
        out->ss_family = AF_INET;
        *outLength = sizeof(::sockaddr_in);
        return true;
    }
    if (family == win::kAfInet6) {
        if (length < kShortIn6Length) {
            WSASetLastError(kWsaEfault);
            return false;
        }
        const size_t n = length < static_cast<int>(sizeof(plat::sockaddr_in6))
                             ? static_cast<size_t>(length)
                             : sizeof(plat::sockaddr_in6);
        memcpy(out, address, n);
        out->ss_family = AF_INET6;
        *outLength = sizeof(::sockaddr_in6);
        return true;
    }
    WSASetLastError(kWsaEafnosupport);
    return false;
}

int ToWindowsAddress(const sockaddr_storage& address, void* out, int outLength) {
    uint16_t family;
    int size;
    if (address.ss_family == AF_INET) {
        family = win::kAfInet;
        size = sizeof(plat::sockaddr_in);
    } else if (address.ss_family == AF_INET6) {
        family = win::kAfInet6;
        size = sizeof(plat::sockaddr_in6);
    } else {
        WSASetLastError(kWsaEafnosupport);
        return -1;
    }
    if (out == nullptr || outLength < size) {
        WSASetLastError(kWsaEfault);
        return -1;
    }
    // Both layouts agree with Linux's byte for byte apart from the family number.
    static_assert(sizeof(plat::sockaddr_in) == sizeof(::sockaddr_in));
    static_assert(sizeof(plat::sockaddr_in6) == sizeof(::sockaddr_in6));
    memcpy(out, &address, static_cast<size_t>(size));
    memcpy(out, &family, sizeof family);
    return size;
}

}  // namespace plat::posix
