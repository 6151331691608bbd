// Turning host texts into socket addresses and back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

inline constexpr uint32_t kBroadcastIpv4 = 0xFFFFFFFFu;
inline constexpr uint16_t kFamilyInet6 = 23;

// "%u.%u.%u.%u" of an address in network byte order into out (at least 16 bytes).
void FormatIpv4(uint32_t networkOrder, char* out, size_t size);

// An all-zero IPv6 socket address of family 23.
void ClearIpv6Address(uint8_t (&address)[28]);
bool Ipv6AddressIsAny(const uint8_t (&address)[28]);

// Name resolution through the system resolver. 0, or the resolver's error; -1 when the
// resolver functions are not available.
int32_t ResolveIpv4(const char* host, uint32_t* out, int32_t flags, int32_t socketType);
int32_t ResolveIpv6(const char* host, uint8_t (&out)[28], int32_t flags, int32_t socketType);

// The numeric text of an IPv6 socket address (empty on failure); 0 or the resolver's error.
int32_t Ipv6AddressText(const uint8_t (&address)[28], char* out, size_t size);

}  // namespace corvane
