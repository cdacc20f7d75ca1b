#pragma once
// SignalGenerator: a complex oscillator at a set frequency, here the CW
// receiver's beat note. The phase is renormalised every 128 samples so that
// rounding never lets its magnitude drift.
#include "dsp/buff.h"

#include <cmath>
#include <complex>
#include <numbers>

template <class T>
class SignalGenerator {
public:
    SignalGenerator(T rate, T hz) : sampleRate(rate) { setFrequency(hz); }

    /// The step is computed in double precision and stored as T.
    void setFrequency(double hz) {
        frequency = T(hz);
        const double w = 2.0 * std::numbers::pi * hz / double(sampleRate);
        step = {T(std::cos(w)), T(std::sin(w))};
    }

    /// The real part of each input sample times the advancing phase: the
    /// input moved up by the frequency, as real audio. A non-finite sample
    /// gives a non-finite output sample and leaves the phase alone.
    buff<T> MulToRealF(const buff<std::complex<T>>& in) {
        buff<T> out(in.count);
        for (size_t i = 0; i < in.count; ++i) {
            phase *= step;
            out[i] = (in[i] * phase).real();
            if ((i + 1) % 128 == 0) phase /= std::abs(phase);
        }
        phase /= std::abs(phase);
        return out;
    }

    T sampleRate;
    T frequency{};
    std::complex<T> phase{1, 0};
    std::complex<T> step{1, 0};
};
