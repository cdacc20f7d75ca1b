// The pitch analysis finds the period of voice-like pulse trains, also below
// the coarse search's shortest lag, where only the check of submultiples
// can find it.
#include "dsp/denoise/rnnoise.h"
#include "testSignals.h"

#include <gtest/gtest.h>

using namespace denoise_test;

namespace {

// A pulse every period samples through a glottal low-pass and one formant.
std::vector<float> pulseTrain(int period, size_t n) {
    std::vector<float> v(n);
    Resonator formant(700, 100);
    double glottal = 0;
    for (size_t i = 0; i < n; ++i) {
        glottal = 0.97 * glottal + (i % period == 0 ? 1.0 : 0.0);
        v[i] = static_cast<float>(20000.0 * formant(glottal));
    }
    return v;
}

} // namespace

TEST(PitchAnalysis, FindsThePeriodOfPulseTrains) {
    for (int period : {64, 100, 200, 333, 480, 700}) {
        const std::vector<float> x = pulseTrain(period, 30 * kFrame);
        DenoiseState* st = rnnoise_create(nullptr);
        float out[kFrame];
        for (int f = 0; f < 30; ++f) {
            rnnoise_process_frame(st, out, x.data() + f * kFrame, 100.f);
            // The pitch buffer holds 1792 samples; once it is full the period
            // must hold steady.
            if (f >= 4) {
                EXPECT_NEAR(st->last_period, period, 1) << "period " << period << ", frame " << f;
                EXPECT_GT(st->last_gain, 0.8f) << "period " << period << ", frame " << f;
            }
        }
        rnnoise_destroy(st);
    }
}

TEST(PitchAnalysis, WhiteNoiseHasLowPitchGain) {
    const std::vector<float> x = whiteNoise(30 * kFrame, 1000.f, 7);
    DenoiseState* st = rnnoise_create(nullptr);
    float out[kFrame];
    double gain = 0;
    for (int f = 0; f < 30; ++f) {
        rnnoise_process_frame(st, out, x.data() + f * kFrame, 100.f);
        if (f >= 4) gain += st->last_gain;
    }
    rnnoise_destroy(st);
    EXPECT_LT(gain / 26, 0.3);
}
