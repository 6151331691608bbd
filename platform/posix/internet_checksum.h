// Inside the Linux backend: 16-bit words in network order and the Internet checksum
// (RFC 1071), for the code that builds and mends ICMP datagrams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::posix {

inline uint16_t Get16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

inline void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

// The one's-complement sum of the words of data, added to sum; an odd last byte counts
// as the high byte of a word.
inline uint32_t SumWords(const uint8_t* data, size_t length, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += Get16(data + i);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    return sum;
}

// The checksum field for a sum; a message that carries its own checksum folds to 0.
inline uint16_t FoldChecksum(uint32_t sum) {
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

inline uint16_t InternetChecksum(const uint8_t* data, size_t length) {
    return FoldChecksum(SumWords(data, length));
}

}  // namespace plat::posix
