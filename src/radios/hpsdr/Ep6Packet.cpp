#include "radios/hpsdr/Ep6Packet.h"

namespace {

inline uint32_t be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace

void unpackhpsdr(std::complex<float>* dst, const unsigned char* src, size_t stride, size_t count, float scale,
                 bool odd) {
    // Hot loop of the receive path: plain byte loads and shifts, the fields
    // placed in the top 24 bits so that the sign comes for free.
    for (size_t k = 0; k < count; ++k, src += stride) {
        const int32_t I = int32_t(uint32_t(src[0]) << 24 | uint32_t(src[1]) << 16 | uint32_t(src[2]) << 8);
        const int32_t Q = int32_t(uint32_t(src[3]) << 24 | uint32_t(src[4]) << 16 | uint32_t(src[5]) << 8);
        const float i = float(I) * scale;
        const float q = float(Q) * scale;
        dst[k] = odd ? std::complex<float>(i, q) : std::complex<float>(q, i);
    }
}

int Ep6Frame::receivers(int hwReceivers) const {
    const uint8_t b = p_[2];
    if (b != 0x7F && int(b) < hwReceivers) return int(b) + 1;
    return hwReceivers;
}

size_t Ep6Frame::samplesPerFrame(int n) {
    if (n < 0) return 0;
    return sampleBytes / (6 * size_t(n) + 2);
}

size_t Ep6Frame::samples(int r, int n, size_t first, size_t count, std::complex<float>* dst, float scale,
                         bool odd) const {
    const size_t m = samplesPerFrame(n);
    if (r < 0 || r >= n || first >= m) return 0;
    if (count > m - first) count = m - first;
    const size_t stride = 6 * size_t(n) + 2;
    // The last byte read is 8 + (m − 1)·stride + 6(n − 1) + 5 < 8 + m·stride <= 512.
    unpackhpsdr(dst, p_ + 8 + 6 * size_t(r) + first * stride, stride, count, scale, odd);
    return count;
}

std::optional<p1Header> p1Header::read(const unsigned char* data, size_t length) {
    if (!data || length < Ep6Packet::size) return std::nullopt;
    return p1Header{data[2], data[3], be32(data + 4)};
}

std::optional<Ep6Packet> Ep6Packet::parse(const unsigned char* data, size_t length) {
    auto h = p1Header::read(data, length);
    if (!h || h->version != 0x01 || h->endpoint != 0x06) return std::nullopt;
    return Ep6Packet(data);
}

uint32_t Ep6Packet::sequence() const { return be32(p_ + 4); }
