#pragma once
// ComplexAGC: gain control on FreeDV's receive IQ at 48000 samples per
// second, so that the codec sees its modem signal at a steady level whatever
// the radio delivers. The gain falls quickly (attack) towards 1 / (1.2 ×
// the block's peak), holds for `hang` seconds after each fall, then rises
// slowly (decay); it never exceeds maxGain dB. The output is scaled by
// `level`, the codec's full scale.
//
// Fields are set by the owning mode; one task group only.
#include "dsp/buff.h"

#include <complex>

class ComplexAGC {
public:
    float attack = 0.01f; // seconds
    float decay = 0.2f;   // seconds
    float hang = 2.0f;    // seconds
    float maxGain = 80.0f; // dB
    float level = 20000.0f;
    int hangCount = 0;    // samples of hold left
    double gain = 200.0;

    /// Scales in into out (same length; may be the same samples). A block
    /// holding a NaN or an infinity is passed on zeroed and leaves the gain
    /// as it was. Allocates nothing.
    void process(buff<std::complex<float>> in, buff<std::complex<float>> out);
};
