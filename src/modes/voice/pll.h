#pragma once
// pll<T>: the phase-locked loop that follows the 19 kHz stereo pilot of a
// broadcast FM multiplex. Each step mixes the input with the sine and cosine
// of the loop phase, low-passes both products (a two-pole section of unity
// gain at 0 Hz), takes the phase error from their ratio and corrects the
// frequency by a proportional-integral update, held inside a window around
// the centre frequency. Locked on x = A sin(theta), the phase a step mixes
// with equals theta at that sample.
//
// A plain aggregate: its owner sets every field. One owner, one task group.
#include <cmath>
#include <complex>

template <class T>
struct pll {
    T phase;            // radians; the phase the next step mixes with
    T freq;             // radians per sample
    double halfCycle;   // the phase wraps above 2 × halfCycle
    T centre;           // radians per sample
    T width;            // freq stays within centre ± width / 2
    std::complex<T> y1; // last low-pass output: (sine lane, cosine lane)
    std::complex<T> y2; // the one before
    T b0;               // low-pass input gain
    T a1;               // low-pass feedback
    T a2;
    T errPrev; // phase error of the previous step
    T k1;      // frequency update: gain of the current error
    T k2;      //                   gain of the previous error

    /// One step on one input sample. An input that is not finite counts
    /// as 0, so the low-pass never holds one.
    void process(T x) {
        if (!std::isfinite(x)) x = T(0);
        const T s = std::sin(phase), c = std::cos(phase);
        const std::complex<T> y(s * x * b0 - y1.real() * a1 - y2.real() * a2,
                                c * x * b0 - y1.imag() * a1 - y2.imag() * a2);
        y2 = y1;
        y1 = y;
        // tan of the error while the sine lane dominates; full scale beyond.
        T e;
        if (y.real() > std::abs(y.imag()))
            e = y.imag() / y.real();
        else
            e = y.imag() > T(0) ? T(1) : T(-1);
        freq += e * k1 + k2 * errPrev;
        errPrev = e;
        const T lo = centre - T(0.5) * width, hi = centre + T(0.5) * width;
        if (freq < lo)
            freq = lo;
        else if (freq > hi)
            freq = hi;
        phase = phase + freq;
        if (double(phase) > 2.0 * halfCycle) phase -= T(2.0 * halfCycle);
    }
};
