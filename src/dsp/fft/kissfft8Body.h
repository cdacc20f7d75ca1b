#pragma once
// The bodies that run a kissfft8 plan: the four-lane baseline and, on x86-64,
// an eight-lane AVX2+FMA body. A plan picks one when it is made (see
// dsp/simd/simdLevel.h) and hands it a view of its tables.
#include <complex>
#include <cstddef>
#include <cstdint>

/// What a body reads of a plan. The blocked tables follow the body's width W:
/// per group of W positions, W real then W imaginary parts of W^p, W^2p, W^3p
/// (6W floats); the twiddles of the 2048-point plan's radix-2 merge likewise
/// as W real then W imaginary parts.
struct kissfft8View {
    size_t n = 0;
    const uint16_t* position = nullptr; ///< place of each 4-point result
    size_t stages = 0;                  ///< radix stages, the radix-2 one included
    bool radix2 = false;                ///< the 2048-point plan's final radix-2 merge
    const float* stageTables[6] = {};   ///< in the body's width
    const float* narrowTables[6] = {};  ///< four-lane tables (the body may run a pass four-wide)
    const float* twiddles = nullptr;    ///< blocked in the body's width
};

struct kissfft8Body {
    size_t lanes;       ///< width of the blocked tables this body reads
    size_t minimumSize; ///< smaller plans run the baseline body
    void (*forward)(const kissfft8View&, const std::complex<float>* in, std::complex<float>* out);
    void (*inverse)(const kissfft8View&, const std::complex<float>* in, std::complex<float>* out);
};

extern const kissfft8Body kissfft8Baseline;
#if VIREO_AVX2_KERNELS
extern const kissfft8Body kissfft8Avx2;
#endif
