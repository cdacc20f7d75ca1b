#include "radios/hpsdr/NpBoardPackets.h"

#include "radios/hpsdr/Ep6Packet.h" // unpackhpsdr: the same 24-bit conversion as protocol 1

namespace {

inline uint32_t be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace

std::optional<DDCIQPacket> DDCIQPacket::parse(const unsigned char* data, size_t length) {
    if (!data || length < size) return std::nullopt;
    return DDCIQPacket(data);
}

uint32_t DDCIQPacket::sequence() const { return be32(p_); }

size_t DDCIQPacket::convert(std::complex<float>* dst, size_t first, size_t count, float scale, bool odd) const {
    if (first >= samples) return 0;
    if (count > samples - first) count = samples - first;
    // The last byte read is 16 + 237·6 + 5 = 1443 < size.
    unpackhpsdr(dst, p_ + firstSample + stride * first, stride, count, scale, odd);
    return count;
}

std::optional<WideBandPacket> WideBandPacket::parse(const unsigned char* data, size_t length) {
    if (!data || length < size) return std::nullopt;
    return WideBandPacket(data);
}

uint32_t WideBandPacket::sequence() const { return be32(p_); }

std::optional<HighPriorityStatusPacket> HighPriorityStatusPacket::parse(const unsigned char* data, size_t length) {
    if (!data || length < minimumSize) return std::nullopt;
    return HighPriorityStatusPacket(data);
}
