#include "radios/hpsdr/Ep4Packet.h"

#include "radios/hpsdr/Ep6Packet.h"

std::optional<Ep4Packet> Ep4Packet::parse(const unsigned char* data, size_t length) {
    auto h = p1Header::read(data, length);
    if (!h || h->version != 0x01 || h->endpoint != 0x04) return std::nullopt;
    return Ep4Packet(data);
}

uint32_t Ep4Packet::sequence() const {
    return uint32_t(p_[4]) << 24 | uint32_t(p_[5]) << 16 | uint32_t(p_[6]) << 8 | uint32_t(p_[7]);
}
