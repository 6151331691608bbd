#include "engine/net/host_resolution.h"

#include <cstdio>
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/net/socket_runtime.h"
#include "platform/sockets.h"

namespace corvane {

namespace {

// Decimal with an optional sign up to the first other character, as the scope suffix
// after "%" is read; 0 without digits.
uint32_t ScopeNumber(const char* text) {
    bool negative = false;
    if (*text == '-' || *text == '+') negative = (*text++ == '-');
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (*text - '0');
    return negative ? 0u - value : value;
}

}  // namespace

void FormatIpv4(uint32_t networkOrder, char* out, size_t size) {
    uint8_t b[4];
    std::memcpy(b, &networkOrder, sizeof b);
    std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void ClearIpv6Address(uint8_t (&address)[28]) {
    std::memset(address, 0, sizeof address);
    std::memcpy(address, &kFamilyInet6, sizeof kFamilyInet6);
}

bool Ipv6AddressIsAny(const uint8_t (&address)[28]) {
    for (size_t i = 8; i < 24; ++i) {
        if (address[i] != 0) return false;
    }
    return true;
}

int32_t ResolveIpv4(const char* host, uint32_t* out, int32_t flags, int32_t socketType) {
    *out = 0;
    if (host == nullptr || host[0] == '\0') return 0;
    const ResolverFunctions& resolver = Runtime().resolver;
    if (resolver.getaddrinfo == nullptr) return kRefused;
    plat::addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = plat::AF_INET;
    hints.ai_socktype = socketType;
    plat::addrinfo* result = nullptr;
    if (int rc = resolver.getaddrinfo(host, nullptr, &hints, &result); rc != 0) return rc;
    if (result != nullptr && result->ai_addr != nullptr) {
        *out = static_cast<const plat::sockaddr_in*>(result->ai_addr)->sin_addr;
    }
    if (resolver.freeaddrinfo != nullptr) resolver.freeaddrinfo(result);
    return 0;
}

int32_t ResolveIpv6(const char* host, uint8_t (&out)[28], int32_t flags, int32_t socketType) {
    ClearIpv6Address(out);
    if (host == nullptr || host[0] == '\0') return 0;
    std::memset(out, 0, sizeof out);
    const ResolverFunctions& resolver = Runtime().resolver;

    // "fe80::1%12": the number after the first "%" is the scope; the rest is resolved.
    char name[256];
    const char* node = host;
    uint32_t scope = 0;
    if (const char* percent = std::strchr(host, '%'); percent != nullptr) {
        scope = ScopeNumber(percent + 1);
        const size_t length = static_cast<size_t>(percent - host);
        if (length >= sizeof name) return plat::kWsaHostNotFound;
        std::memcpy(name, host, length);
        name[length] = '\0';
        node = name;
    }
    if (resolver.getaddrinfo == nullptr) return kRefused;
    plat::addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = plat::AF_INET6;
    hints.ai_socktype = socketType;
    plat::addrinfo* result = nullptr;
    if (int rc = resolver.getaddrinfo(node, nullptr, &hints, &result); rc != 0) {
        ClearIpv6Address(out);
        return rc;
    }
    if (result != nullptr && result->ai_addr != nullptr &&
        result->ai_addrlen >= sizeof(plat::sockaddr_in6)) {
        std::memcpy(out, result->ai_addr, sizeof out);
        if (scope != 0) {
            plat::sockaddr_in6 address;
            std::memcpy(&address, out, sizeof address);
            address.sin6_scope_id = scope;
            std::memcpy(out, &address, sizeof address);
        }
    }
    if (resolver.freeaddrinfo != nullptr) resolver.freeaddrinfo(result);
    return 0;
}

int32_t Ipv6AddressText(const uint8_t (&address)[28], char* out, size_t size) {
    out[0] = '\0';
    const ResolverFunctions& resolver = Runtime().resolver;
    if (resolver.getnameinfo == nullptr) return kRefused;
    const int rc = resolver.getnameinfo(address, sizeof address, out, static_cast<uint32_t>(size),
                                        nullptr, 0, plat::NI_NUMERICHOST);
    if (rc != 0) out[0] = '\0';
    return rc;
}

}  // namespace corvane
