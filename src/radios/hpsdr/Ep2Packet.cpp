#include "radios/hpsdr/Ep2Packet.h"

#include <algorithm>

Ep2Packet::Ep2Packet(uint32_t sequence) : bytes(size, char(0)) {
    auto* p = reinterpret_cast<unsigned char*>(bytes.data);
    p[0] = 0xEF;
    p[1] = 0xFE;
    p[2] = 0x01;
    p[3] = 0x02;
    p[4] = uint8_t(sequence >> 24);
    p[5] = uint8_t(sequence >> 16);
    p[6] = uint8_t(sequence >> 8);
    p[7] = uint8_t(sequence);
}

CommandControlFrame Ep2Packet::frame(int i) const {
    return CommandControlFrame(reinterpret_cast<unsigned char*>(bytes.data) + 8 + (i ? CommandControlFrame::size : 0));
}

void Ep2Packet::setSamples(const std::complex<float>* block, size_t count, const transmitEncoding& how,
                           uint16_t& rampIndex) {
    const size_t n = CommandControlFrame::slots;
    const size_t first = std::min(count, n);
    frame(0).setSamples(block, first, how, rampIndex);
    frame(1).setSamples(block + first, count - first, how, rampIndex);
}
