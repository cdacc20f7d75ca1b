#include "modes/data/jt/crc.h"

#include <boost/crc.hpp>

#include <algorithm>

namespace ft8 {

void pack_bits(const uint8_t* bits, int count, uint8_t* packed) {
    const int bytes = std::max((count + 7) / 8, 1);
    std::fill(packed, packed + bytes, uint8_t(0));
    for (int i = 0; i < count; ++i)
        if (bits[i]) packed[i / 8] |= uint8_t(0x80u >> (i % 8));
}

uint16_t crc(const uint8_t* message, int bits) {
    constexpr unsigned poly = 0x2757, top = 1u << 13;
    unsigned remainder = 0;
    for (int i = 0; i < bits; ++i) {
        // Each byte enters at the top of the 14-bit register.
        if (i % 8 == 0) remainder ^= unsigned(message[i / 8]) << 6;
        remainder = (remainder & top) ? (remainder << 1) ^ poly : remainder << 1;
    }
    return uint16_t(remainder & 0x3FFF);
}

} // namespace ft8

namespace js8 {

uint16_t crc(const uint8_t* bytes, int count) {
    if (!bytes || count <= 0) return 0;
    return uint16_t(boost::augmented_crc<12, 0xC06>(bytes, size_t(count)) & 0xFFF);
}

} // namespace js8
