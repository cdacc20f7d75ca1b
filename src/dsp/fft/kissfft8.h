#pragma once
// kissfft8: the own radix-4 transform for the sizes on the receive path.
//
// A plan serves the powers of four from 16 to 4096 and the mixed size 2048
// (one radix-2 stage on top of radix-4 stages). It follows the same
// decimation-in-time decomposition as kissfft, so results agree with a
// kissfft plan to rounding, but it never recurses and never reorders:
//
// 1. The first pass runs the innermost radix-4 butterflies straight from the
//    input (its four quarters, four samples at a time) and scatters each
//    4-point result to its final digit-reversed block, through the position
//    table; there is no separate reordering pass.
// 2. From then on the output is kept in blocks of four values, four real
//    parts followed by four imaginary parts, so every later pass loads four
//    real and four imaginary parts with two plain loads.
// 3. Each middle pass merges groups of four sub-transforms of m points with
//    the precomputed factors of its stage table (W^p, W^2p, W^3p for four
//    positions p side by side: 24 floats per group).
// 4. The last pass (radix 4, or radix 2 for 2048 points) writes ordinary
//    interleaved complex values in natural order.
//
// The passes run on W lanes at once: four in the baseline body, eight in the
// AVX2 body a plan of 256 points or more picks on a CPU that has it
// (kissfft8Body.h); the blocks between passes then hold W positions.
//
// No result is scaled. A plan is immutable after construction, so one plan
// may run on any number of threads at once; it allocates nothing per call.
#include "dsp/fft/kissfft8Body.h"

#include <complex>
#include <cstdint>
#include <vector>

template <class T>
class kissfft8 {
    static_assert(sizeof(T) == sizeof(float), "kissfft8 is a single-precision transform");

public:
    using cpx = std::complex<T>;

    /// Plan of n points (16, 64, 256, 1024, 2048 or 4096); inverse selects the
    /// kernel e^(+j2pi kn/N). Other sizes throw std::invalid_argument.
    kissfft8(unsigned long n, bool inverse);
    kissfft8(const kissfft8&) = delete;
    kissfft8& operator=(const kissfft8&) = delete;

    /// N-point transform of in into out. in is only read; out (N values, not
    /// overlapping in) also serves as working storage. Allocates nothing.
    void transform(const cpx* in, cpx* out) const;

    /// Transform of 2N real samples through one N-point complex transform;
    /// writes N values: out[0] holds DC (real part) and Nyquist (imaginary
    /// part), out[1..N-1] the positive frequencies.
    void transform_real(const T* in, cpx* out) const;

    unsigned long size() const noexcept { return nfft; }
    bool inverse() const noexcept { return isInverse; }

    /// Fills the position table from the decomposition's visiting order.
    void buildBitReverseTable();
    /// One level of the decomposition's visit, carrying the input indices
    /// (stored in the real parts) from src to their places in dst.
    void reorder(cpx* src, cpx* dst, unsigned long stage, unsigned long fstride, unsigned long instride);

    /// Lanes of the body this plan runs (4 or 8).
    size_t lanes() const noexcept { return body->lanes; }

private:
    /// The tables in blocks of W positions, as the body of that width reads them.
    void buildWideTables(size_t W);

    uint64_t nfft;
    bool isInverse;
    std::vector<uint16_t> position;   ///< place of input i in digit-reversed order
    std::vector<cpx> twiddles;        ///< t[k] = e^(-+j2pi k/N)
    std::vector<T> blockedTwiddles;   ///< twiddles as 4 real parts, then 4 imaginary parts
    std::vector<T> stageTables[6];    ///< per-pass factors, 24 floats per four positions
    std::vector<uint64_t> stageRadix;
    std::vector<uint64_t> stageRemainder;
    std::vector<T> wideStageTables[6]; ///< stage tables in blocks of the body's width, when wider than 4
    std::vector<T> wideTwiddles;       ///< blockedTwiddles likewise
    const kissfft8Body* body;
    kissfft8View view;
};
