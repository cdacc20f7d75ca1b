#pragma once
// The chirp mode's own transmission fed straight into a receiver, and the
// correlator magnitudes computed the slow way, sample by sample, as the
// reference the receiver's block filters are checked against.
#include "modes/data/chirp/chirpyModDemod.h"

#include <complex>
#include <vector>

namespace chirptest {

using cplx = std::complex<float>;

/// n samples of the mode's transmission, taken in blocks of `block` as a
/// transceiver asks for them.
inline std::vector<cplx> transmission(chirpyModDemod& m, size_t n, size_t block = 512) {
    std::vector<cplx> out;
    out.reserve(n);
    while (out.size() < n) {
        buff<cplx> b(std::min(block, n - out.size()));
        m.modulate(buff<cplx>(b.count, cplx{}), b);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

/// |sum over k of conj(chirp[4095 - k]) * x[n - k]|, x zero before its start:
/// the matched filter's output magnitude at sample n.
inline double correlation(const buff<cplx>& chirp, const std::vector<cplx>& x, size_t n) {
    std::complex<double> sum = 0;
    const size_t L = chirp.count;
    for (size_t k = 0; k < L && k <= n; ++k)
        sum += std::conj(std::complex<double>(chirp[L - 1 - k])) * std::complex<double>(x[n - k]);
    return std::abs(sum);
}

/// Feeds x to the receiver in blocks of the given lengths, cyclically.
inline void receive(chirpyModDemod& m, const std::vector<cplx>& x, const std::vector<size_t>& lengths) {
    size_t pos = 0;
    for (size_t i = 0; pos < x.size(); ++i) {
        const size_t n = std::min(lengths[i % lengths.size()], x.size() - pos);
        buff<cplx> b(n);
        std::copy_n(x.begin() + long(pos), n, b.data);
        buff<float> audio = m.demodulate(b);
        if (audio.count != n) throw std::runtime_error("audio length differs from the block's");
        pos += n;
    }
}

/// The last `count` bits the channel sliced, oldest first, from the decoder
/// holding the most of them.
inline std::vector<int> recentBits(const chirpyChannel& c, int count) {
    const chirpyDecoder* best = &c.decoders[0];
    for (const auto& d : c.decoders)
        if (d.bitCounter > best->bitCounter) best = &d;
    std::vector<int> bits;
    for (int i = count - 1; i >= 0; --i) bits.push_back(int(best->shiftRegister >> i & 1));
    return bits;
}

/// The channel with the largest |a - b| of its latest chirp.
inline int strongestChannel(const chirpyModDemod& m) {
    int k = 0;
    for (int i = 1; i < chirpyModDemod::phases; ++i)
        if (m.channels[size_t(i)].difference > m.channels[size_t(k)].difference) k = i;
    return k;
}

} // namespace chirptest
