#include "engine/icmp/checksum.h"

namespace corvane {

namespace {

constexpr uint32_t kNextHeaderIcmpv6 = 58;

uint32_t SumWords(const uint8_t* bytes, size_t length, uint32_t sum) {
    for (; length >= 2; bytes += 2, length -= 2)
        sum += (uint32_t{bytes[0]} << 8) | bytes[1];
    if (length == 1) sum += uint32_t{bytes[0]} << 8;  // completed by a zero byte
    return sum;
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* message, size_t length, const Ipv6PseudoHeader* pseudo) {
    uint32_t sum = 0;
    if (pseudo != nullptr) {
        sum = SumWords(pseudo->source, sizeof pseudo->source, sum);
        sum = SumWords(pseudo->destination, sizeof pseudo->destination, sum);
        sum += pseudo->length >> 16;
        sum += pseudo->length & 0xFFFF;
        sum += kNextHeaderIcmpv6;
    }
    // Messages stay below 64 KiB, so 32 bits hold every carry until the fold.
    sum = SumWords(message, length, sum);
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum);
}

void StoreChecksum(uint8_t* field, uint16_t checksum) {
    field[0] = static_cast<uint8_t>(checksum >> 8);
    field[1] = static_cast<uint8_t>(checksum);
}

}  // namespace corvane
