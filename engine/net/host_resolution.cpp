#include "engine/net/host_resolution.h"

#include <cstdio>
#include <cstring>

#include "engine/core/error_codes.h"

namespace corvane {

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

// The system resolver is bound with the socket runtime; until then every name and every
// literal other than the broadcast address fails as an unavailable resolver does.
int32_t ResolveIpv4(const char* host, uint32_t* out, int32_t /*flags*/, int32_t /*socketType*/) {
    *out = 0;
    if (host == nullptr || host[0] == '\0') return 0;
    return kRefused;
}

int32_t ResolveIpv6(const char* host, uint8_t (&out)[28], int32_t /*flags*/,
                    int32_t /*socketType*/) {
    ClearIpv6Address(out);
    if (host == nullptr || host[0] == '\0') return 0;
    return kRefused;
}

}  // namespace corvane
