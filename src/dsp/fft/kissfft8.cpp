#include "dsp/fft/kissfft8.h"

#include "dsp/simd/simdLevel.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace {

using cpx = std::complex<float>;

// 2pi and pi as the single-precision values the twiddles are built from.
constexpr float twoPi = 6.2831855f;
constexpr float pi = 3.1415927f;

std::vector<cpx> makeTwiddles(unsigned long m, bool inverse) {
    const float phi = (inverse ? twoPi : -twoPi) / float(m);
    std::vector<cpx> t(m);
    for (unsigned long k = 0; k < m; ++k) {
        float theta = float(k) * phi;
        t[k] = cpx(std::cos(theta), std::sin(theta));
    }
    return t;
}

inline cpx cmul(cpx a, cpx b) {
    return cpx(a.real() * b.real() - a.imag() * b.imag(), a.imag() * b.real() + a.real() * b.imag());
}

// A table in groups of four positions (per group, four lanes of each of its
// `rows` rows: real and imaginary parts of each factor) regrouped in blocks
// of W positions.
template <class T>
std::vector<T> reblock(const std::vector<T>& narrow, size_t positions, size_t rows, size_t W) {
    std::vector<T> wide(narrow.size());
    for (size_t p = 0; p < positions; ++p)
        for (size_t c = 0; c < rows; ++c) wide[rows * W * (p / W) + W * c + p % W] = narrow[4 * rows * (p / 4) + 4 * c + p % 4];
    return wide;
}

} // namespace

template <class T>
kissfft8<T>::kissfft8(unsigned long n, bool inverse) : nfft(n), isInverse(inverse) {
    // The position table goes through a 4096-value scratch and holds 16-bit
    // places; the passes need at least four 4-point blocks.
    bool powerOfFour = n >= 16 && n <= 4096 && (n & (n - 1)) == 0 && (n & 0x5555) != 0;
    if (!powerOfFour && n != 2048)
        throw std::invalid_argument("kissfft8: unsupported size " + std::to_string(n));

    unsigned long rest = n;
    if (n == 2048) {
        stageRadix.push_back(2);
        stageRemainder.push_back(1024);
        rest = 1024;
    }
    unsigned long p = 4;
    do {
        while (rest % p) {
            switch (p) {
            case 4: p = 2; break;
            case 2: p = 3; break;
            default: p += 2; break;
            }
            if (p * p > rest) p = rest;
        }
        rest /= p;
        stageRadix.push_back(p);
        stageRemainder.push_back(rest);
    } while (rest > 1);

    // The 2048-point plan's radix-4 passes merge the same sub-transforms as a
    // 4096-point plan's, so its stage tables are made from 4096 twiddles.
    const unsigned long M = n == 2048 ? 4096 : n;
    std::vector<cpx> t = makeTwiddles(M, inverse);
    const size_t tables = stageRadix.size() - 1;
    unsigned long q = 4;
    for (size_t s = 0; s < tables; ++s, q *= 4) {
        const unsigned long m = M / q;   // points of each merged sub-transform
        const unsigned long step = M / (4 * m);
        std::vector<T>& table = stageTables[s];
        table.resize(6 * m);
        for (unsigned long p4 = 0; p4 < m; ++p4) {
            T* g = table.data() + 24 * (p4 / 4) + p4 % 4;
            cpx w1 = t[p4 * step], w2 = t[2 * p4 * step], w3 = t[3 * p4 * step];
            g[0] = w1.real(), g[4] = w1.imag();
            g[8] = w2.real(), g[12] = w2.imag();
            g[16] = w3.real(), g[20] = w3.imag();
        }
    }

    twiddles = makeTwiddles(n, inverse);
    blockedTwiddles.resize(2 * n);
    for (unsigned long k = 0; k < n; ++k) {
        blockedTwiddles[8 * (k / 4) + k % 4] = twiddles[k].real();
        blockedTwiddles[8 * (k / 4) + 4 + k % 4] = twiddles[k].imag();
    }
    buildBitReverseTable();

    body = &kernelsFor(kissfft8Baseline, VIREO_AVX2_TABLE(kissfft8Avx2));
    if (n < body->minimumSize) body = &kissfft8Baseline;
    if (body->lanes != 4) buildWideTables(body->lanes);
    const bool wide = body->lanes != 4;
    view.n = nfft;
    view.position = position.data();
    view.stages = stageRadix.size();
    view.radix2 = stageRadix[0] == 2;
    for (size_t s = 0; s < 6; ++s) {
        view.narrowTables[s] = stageTables[s].data();
        view.stageTables[s] = wide ? wideStageTables[s].data() : stageTables[s].data();
    }
    view.twiddles = wide ? wideTwiddles.data() : blockedTwiddles.data();
}

template <class T>
void kissfft8<T>::buildBitReverseTable() {
    // Run the decomposition's visit over the input indices themselves; the
    // index found at a place tells which input the first pass sends there.
    std::vector<cpx> scratch(4096), placed(4096);
    for (unsigned long i = 0; i < nfft; ++i) scratch[i] = cpx(float(i), 0);
    reorder(scratch.data(), placed.data(), 0, 1, 1);
    position.assign(nfft, 0);
    for (unsigned long place = 0; place < nfft; ++place)
        position[size_t(placed[place].real())] = uint16_t(place);
}

template <class T>
void kissfft8<T>::reorder(cpx* src, cpx* dst, unsigned long stage, unsigned long fstride, unsigned long instride) {
    const unsigned long p = stageRadix[stage];
    const unsigned long m = stageRemainder[stage];
    cpx* const end = dst + p * m;
    if (m == 1) {
        do {
            *dst = *src;
            src += fstride * instride;
        } while (++dst != end);
    } else {
        do {
            reorder(src, dst, stage + 1, fstride * p, instride);
            src += fstride * instride;
        } while ((dst += m) != end);
    }
}

template <class T>
void kissfft8<T>::transform(const cpx* in, cpx* out) const {
    if (isInverse)
        body->inverse(view, in, out);
    else
        body->forward(view, in, out);
}

template <class T>
void kissfft8<T>::buildWideTables(size_t W) {
    for (size_t s = 0; s + 1 < stageRadix.size(); ++s) {
        const size_t m = stageTables[s].size() / 6;
        if (m % W == 0) wideStageTables[s] = reblock(stageTables[s], m, 6, W);
    }
    wideTwiddles = reblock(blockedTwiddles, nfft, 2, W);
}

template <class T>
void kissfft8<T>::transform_real(const T* in, cpx* out) const {
    const size_t n = nfft;
    if (n == 0) return;
    transform(reinterpret_cast<const cpx*>(in), out);

    // Split the transform of the interleaved even/odd samples into the
    // spectrum of the 2N real samples.
    out[0] = cpx(out[0].real() + out[0].imag(), out[0].real() - out[0].imag());
    const float psi = (isInverse ? pi : -pi) / float(n);
    const cpx h(std::cos(psi), std::sin(psi));
    for (size_t k = 1; 2 * k < n; ++k) {
        const cpx w = T(0.5) * cpx(out[k].real() + out[n - k].real(), out[k].imag() - out[n - k].imag());
        const cpx z = T(0.5) * cpx(out[k].imag() + out[n - k].imag(), out[n - k].real() - out[k].real());
        const cpx f = (k % 2 == 0) ? twiddles[k / 2] : cmul(twiddles[k / 2], h);
        const cpx fz = cmul(f, z);
        out[k] = w + fz;
        out[n - k] = std::conj(w - fz);
    }
    if (n % 2 == 0) out[n / 2] = std::conj(out[n / 2]);
}

template class kissfft8<float>;
