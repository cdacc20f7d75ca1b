#pragma once
// The output loop of the fractional resampler, shared by the bodies of every
// vector width; each passes its own 47-tap inner product as Inner, a type of
// its own source (so that no copy built for one width serves another).
//
// Inner::apply(h, x, y) writes y[0], y[1] = the inner product of the 47
// taps at h (each stored twice) with the 47 complex inputs at x, as floats.
#include "dsp/FractionalKernels.h"

template <class Inner>
size_t polyphaseLoop(const float* bank, const std::complex<float>* input, PolyphaseCursor& at,
                     std::complex<float>* out, size_t count) {
    constexpr int64_t taps = 47;
    const int64_t L = at.L, M = at.M;
    // The first input base = ceil(k / L) of output k = counter * M and its
    // phase base * L - k advance by whole steps of M, so only the first
    // output of a call divides.
    const int64_t stepBase = M / L, stepPhase = M % L;
    int64_t k = at.counter * M;
    int64_t base = (k + L - 1) / L;
    int64_t phase = base * L - k;
    const float* in = reinterpret_cast<const float*>(input);
    float* y = reinterpret_cast<float*>(out);
    size_t j = 0;
    for (; j < count; ++j) {
        const int64_t start = base - at.offset;
        if (start >= at.limit) break;
        Inner::apply(bank + phase * taps * 2, in + start * 2, y + 2 * j);
        if (++at.counter == L * M) {
            // base restarts from 0; moving offset by the same amount keeps the
            // next start exactly one step on.
            at.counter = 0;
            at.offset -= M * M;
            base = 0;
            phase = 0;
        } else {
            base += stepBase;
            phase -= stepPhase;
            if (phase < 0) {
                phase += L;
                ++base;
            }
        }
    }
    return j;
}
