#pragma once
// Message words and their checksums.
#include <cstdint>

namespace ft8 {

/// Packs count bits (one per byte, 0 or 1) MSB first into packed, which is
/// zeroed first over (count + 7) / 8 bytes, at least 1.
void pack_bits(const uint8_t* bits, int count, uint8_t* packed);

/// The FT8/FT4 CRC-14 (polynomial 0x2757, remainder from 0, MSB first) over
/// the first bits of message.
uint16_t crc(const uint8_t* message, int bits);

} // namespace ft8

namespace js8 {

/// The JS8 CRC-12: augmented CRC of width 12, truncated polynomial 0xC06,
/// remainder from 0, over count bytes. The protocol XORs 42 onto it.
uint16_t crc(const uint8_t* bytes, int count);

} // namespace js8
