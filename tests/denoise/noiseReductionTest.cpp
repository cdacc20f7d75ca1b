// End to end: a voice-like signal in white noise. Between syllables the noise
// must drop clearly; inside them the voice must keep most of its energy.
#include "dsp/denoise/rnnoise.h"
#include "testSignals.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace denoise_test;

namespace {

struct Measurement {
    double noiseDropDb;   // input noise power over output power, in pauses
    double voicedKeptDb;  // output power over clean voice power, in syllables
};

// Runs the suppressor at level over voice + noise and compares the
// delay-aligned output with the parts it came from. The first second is
// left out while the network's states settle; so are 60 ms around every
// syllable edge, where the gains are still moving.
Measurement measure(float level, float voiceRms, float noiseRms) {
    const VoicedSignal voice = voicedSyllables(16, 0.3, 0.25, voiceRms);
    const size_t n = voice.samples.size();
    const std::vector<float> noise = whiteNoise(n, noiseRms, 1234);
    std::vector<float> out(n);
    DenoiseState* st = rnnoise_create(nullptr);
    for (size_t f = 0; f + kFrame <= n; f += kFrame) {
        float in[kFrame];
        for (int i = 0; i < kFrame; ++i) in[i] = voice.samples[f + i] + noise[f + i];
        rnnoise_process_frame(st, out.data() + f, in, level);
    }
    rnnoise_destroy(st);

    const size_t guard = kRate * 60 / 1000;
    double noiseIn = 0, noiseOut = 0, voiceIn = 0, voiceOut = 0;
    for (size_t i = kRate; i + kFrame < n; ++i) {
        bool steady = true;
        for (size_t k = i - guard; k <= i + guard && k < n; k += guard / 4)
            steady = steady && voice.voiced[k] == voice.voiced[i];
        if (!steady) continue;
        const double y = out[i + kFrame];  // the output lags by one frame
        if (voice.voiced[i]) {
            voiceIn += double(voice.samples[i]) * voice.samples[i];
            voiceOut += y * y;
        } else {
            noiseIn += double(noise[i]) * noise[i];
            noiseOut += y * y;
        }
    }
    return {db(noiseIn / noiseOut), db(voiceOut / voiceIn)};
}

} // namespace

TEST(NoiseReduction, DropsNoiseBetweenSyllablesAndKeepsTheVoice) {
    // Voice about 20 dB below full scale, noise 12 dB below the voice.
    const Measurement m = measure(100.f, 3000.f, 750.f);
    std::printf("noise drop %.1f dB, voiced energy kept %.1f dB\n", m.noiseDropDb, m.voicedKeptDb);
    EXPECT_GT(m.noiseDropDb, 12.0);
    EXPECT_GT(m.voicedKeptDb, -3.0);
    EXPECT_LT(m.voicedKeptDb, 1.0);
}

TEST(NoiseReduction, LowerStrengthRemovesLessNoise) {
    const Measurement full = measure(100.f, 3000.f, 750.f);
    const Measurement half = measure(50.f, 3000.f, 750.f);
    const Measurement none = measure(0.f, 3000.f, 750.f);
    std::printf("noise drop at 100/50/0: %.1f / %.1f / %.1f dB\n", full.noiseDropDb, half.noiseDropDb,
                none.noiseDropDb);
    EXPECT_GT(full.noiseDropDb, half.noiseDropDb + 5.0);
    EXPECT_GT(half.noiseDropDb, none.noiseDropDb + 2.0);
    // At strength 0 only the bins from 18750 Hz up go: 112 of 512 bins of
    // white noise, 10 log10(512 / 400) = 1.07 dB.
    EXPECT_NEAR(none.noiseDropDb, 1.07, 0.3);
}
