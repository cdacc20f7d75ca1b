#pragma once
// DownConverterKernels: the mixer and half-band stage bodies of
// DownConverter2 as one table per vector width (see dsp/simd/simdLevel.h).
//
// A stage reads its input split into even and odd phases, each N history
// places followed by the new samples (N = 19, 9 and 5 for the last, the
// second-last and every earlier stage); output m of a stage combines
// odd[m + c] (the centre tap) with the pairs even[m + c - k], even[m + c + 1 + k].
#include <complex>
#include <cstddef>

struct DownConverterKernels {
    using cf = std::complex<float>;
    /// out[i] = in[i] * p[i mod 4] for n samples (a multiple of 4), the
    /// phasors p turning by r4 after each group of four.
    void (*mix)(const cf* in, size_t n, const cf* p, cf r4, cf* out);
    /// The same with the products split: even[i] = in[2i] p.., odd[i] =
    /// in[2i + 1] p...
    void (*mixSplit)(const cf* in, size_t n, const cf* p, cf r4, cf* even, cf* odd);
    /// The last stage: count outputs into out.
    void (*lastStage)(const cf* even, const cf* odd, cf* out, size_t count);
    /// The second-last stage: 2 x pairs outputs, the even ones into
    /// nextEven and the odd ones into nextOdd (the next stage's phases).
    void (*secondStage)(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs);
    /// Every earlier stage, as secondStage.
    void (*earlyStage)(const cf* even, const cf* odd, cf* nextEven, cf* nextOdd, size_t pairs);
};

/// The table of this process's level.
const DownConverterKernels& downConverterKernels();
