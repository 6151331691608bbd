// The Internet checksum of RFC 1071, with the optional 40-byte IPv6 pseudo-header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct Ipv6PseudoHeader {
    uint8_t source[16];
    uint8_t destination[16];
    uint32_t length;  // the ICMPv6 message length, host order
};

uint16_t InternetChecksum(const uint8_t* message, size_t length,
                          const Ipv6PseudoHeader* pseudo = nullptr);
// Writes the checksum into its two-byte field so that the field reads in network order.
void StoreChecksum(uint8_t* field, uint16_t checksum);

}  // namespace corvane
