// The suppressor's frame contract: silent frames, strength, in-place
// processing, the band limit, concurrent first use and no allocation per
// frame.
#include "dsp/denoise/rnnoise.h"
#include "support/allocationCounter.h"
#include "dsp/denoise/strength.h"
#include "testSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <limits>
#include <thread>
#include <vector>

using namespace denoise_test;

namespace {

using State = std::unique_ptr<DenoiseState, decltype(&rnnoise_destroy)>;
State makeState() { return State(rnnoise_create(nullptr), &rnnoise_destroy); }

// Voice and noise mixed, whole frames.
std::vector<float> noisyVoice(uint32_t seed) {
    const VoicedSignal v = voicedSyllables(3, 0.3, 0.2, 3000.f);
    std::vector<float> x = v.samples;
    const std::vector<float> n = whiteNoise(x.size(), 600.f, seed);
    for (size_t i = 0; i < x.size(); ++i) x[i] += n[i];
    return x;
}

std::vector<float> process(DenoiseState* st, const std::vector<float>& in, float level) {
    std::vector<float> out(in.size());
    for (size_t f = 0; f + kFrame <= in.size(); f += kFrame)
        rnnoise_process_frame(st, out.data() + f, in.data() + f, level);
    return out;
}

struct Snapshot {
    std::vector<float> lastg, vad, noise, denoise;
    explicit Snapshot(const DenoiseState& st)
        : lastg(st.lastg, st.lastg + denoise::kNbBands),
          vad(st.rnn.vad_gru_state, st.rnn.vad_gru_state + st.rnn.model->vad_gru_size),
          noise(st.rnn.noise_gru_state, st.rnn.noise_gru_state + st.rnn.model->noise_gru_size),
          denoise(st.rnn.denoise_gru_state, st.rnn.denoise_gru_state + st.rnn.model->denoise_gru_size) {}
    bool operator==(const Snapshot&) const = default;
};

} // namespace

TEST(RnnoiseCreate, BindsTheBuiltInModelAndRefusesOversizedOnes) {
    State st = makeState();
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->rnn.model, getDefaultModel());

    // A layer wider than the network's fixed arrays would overrun them.
    RNNModel big = rnnoise_model_orig;
    GRULayer wide = *big.denoise_gru;
    wide.nb_neurons = 200;
    big.denoise_gru = &wide;
    big.denoise_gru_size = 200;
    EXPECT_EQ(rnnoise_create(&big), nullptr);
}

TEST(RnnoiseFrame, SilentFramesPassTheSpectrumAndLeaveGainsAndNetworkAlone) {
    State st = makeState();
    // Wake the network with noise, then let the high-pass filter ring out.
    const std::vector<float> loud = whiteNoise(20 * kFrame, 1000.f, 3);
    process(st.get(), loud, 100.f);
    process(st.get(), std::vector<float>(40 * kFrame, 0.f), 100.f);
    const Snapshot before(*st);
    ASSERT_NE(before.denoise, std::vector<float>(before.denoise.size(), 0.f));

    // Band energies of this noise sum to about 0.2 x 0.1^2, far below 0.04.
    const std::vector<float> quiet = whiteNoise(10 * kFrame, 0.1f, 4);
    std::vector<float> out(quiet.size());
    for (size_t f = 0; f < quiet.size(); f += kFrame)
        EXPECT_EQ(rnnoise_process_frame(st.get(), out.data() + f, quiet.data() + f, 100.f), 0.f);
    EXPECT_TRUE(Snapshot(*st) == before);

    // Without gains the window overlap-adds to unity: the output is the
    // high-passed input one frame late.
    float m0 = 0, m1 = 0;
    for (size_t i = 0; i + kFrame < quiet.size(); ++i) {
        const float x = quiet[i];
        const float y = x + m0;
        m0 = m1 + (-2.f * x + 1.99599f * y);
        m1 = x - 0.99600f * y;
        ASSERT_NEAR(out[i + kFrame], y, 1e-4f) << "sample " << i;
    }
}

TEST(RnnoiseFrame, StrengthBlendsGainsTowardsOne) {
    EXPECT_FLOAT_EQ(denoise::applyStrength(0.2f, 100.f), 0.2f);
    EXPECT_FLOAT_EQ(denoise::applyStrength(0.2f, 0.f), 1.f);
    EXPECT_FLOAT_EQ(denoise::applyStrength(0.2f, 50.f), 0.6f);
    // Outside 0..100 the blend extrapolates.
    EXPECT_NEAR(denoise::applyStrength(0.2f, 150.f), -0.2f, 1e-6);
    EXPECT_FLOAT_EQ(denoise::applyStrength(0.2f, -100.f), 1.8f);
    // A level that is not a number counts as full strength.
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()})
        EXPECT_EQ(denoise::applyStrength(0.2f, bad), 0.2f);
}

TEST(RnnoiseFrame, StrengthZeroKeepsEveryBandGainAtOne) {
    State st = makeState();
    process(st.get(), noisyVoice(5), 0.f);
    for (float g : st->lastg) EXPECT_EQ(g, 1.f);
    State full = makeState();
    process(full.get(), noisyVoice(5), 100.f);
    float smallest = 1.f;
    for (float g : full->lastg) smallest = std::min(smallest, g);
    EXPECT_LT(smallest, 0.5f);
}

TEST(RnnoiseFrame, NonFiniteStrengthActsAsFullStrength) {
    const std::vector<float> x = noisyVoice(6);
    State reference = makeState();
    const std::vector<float> expected = process(reference.get(), x, 100.f);
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        State st = makeState();
        const std::vector<float> out = process(st.get(), x, bad);
        EXPECT_EQ(out, expected);
        for (float g : st->lastg) EXPECT_TRUE(std::isfinite(g));
    }
}

// Samples that are not finite, or so large that the band energies overflow,
// spoil at most their own frame (and the one the lag carries them into): the
// filter memories and network states never keep them.
TEST(RnnoiseFrame, BadSamplesSpoilAtMostTheirFrame) {
    const std::vector<float> clean = noisyVoice(7);
    const size_t frames = clean.size() / kFrame;
    ASSERT_GT(frames, 60u);
    State reference = makeState();
    const std::vector<float> expected = process(reference.get(), clean, 100.f);

    std::vector<float> x = clean;
    x[10 * kFrame + 3] = std::numeric_limits<float>::quiet_NaN();
    x[20 * kFrame + 7] = std::numeric_limits<float>::infinity();
    for (int i = 0; i < kFrame; ++i) x[30 * kFrame + i] = 1e30f;
    State st = makeState();
    const std::vector<float> out = process(st.get(), x, 100.f);
    for (size_t i = 0; i < frames * kFrame; ++i) ASSERT_TRUE(std::isfinite(out[i])) << i;
    Snapshot after(*st);
    for (auto* v : {&after.lastg, &after.vad, &after.noise, &after.denoise})
        for (float g : *v) ASSERT_TRUE(std::isfinite(g));

    // From some frames after the last bad one on, the output is the clean
    // signal's again (the network settles within a few frames).
    double e = 0, d = 0;
    for (size_t i = 45 * kFrame; i < frames * kFrame; ++i) {
        e += double(expected[i]) * expected[i];
        d += double(out[i] - expected[i]) * (out[i] - expected[i]);
    }
    EXPECT_LT(d / e, 0.01) << "difference " << 10 * std::log10(d / e) << " dB";
}

TEST(RnnoiseFrame, InPlaceEqualsSeparateBuffers) {
    const std::vector<float> x = noisyVoice(8);
    State a = makeState();
    State b = makeState();
    const std::vector<float> separate = process(a.get(), x, 80.f);
    std::vector<float> inPlace = x;
    for (size_t f = 0; f < inPlace.size(); f += kFrame)
        rnnoise_process_frame(b.get(), inPlace.data() + f, inPlace.data() + f, 80.f);
    EXPECT_EQ(inPlace, separate);
}

TEST(RnnoiseFrame, RemovesToneAbove18750Hz) {
    // Noise keeps every frame non-silent; the tone sits at bin 416.
    const size_t n = 40 * kFrame;
    std::vector<float> x = whiteNoise(n, 300.f, 9);
    const std::vector<float> t = tone(n, 19500.0, 3000.f);
    for (size_t i = 0; i < n; ++i) x[i] += t[i];
    State st = makeState();
    std::vector<float> out(n);
    for (size_t f = 0; f < n; f += kFrame)
        EXPECT_GT(rnnoise_process_frame(st.get(), out.data() + f, x.data() + f, 0.f), 0.f);

    // Tone amplitude in the output by correlation, after the first frames.
    double c = 0, s = 0;
    const size_t from = 4 * kFrame;
    for (size_t i = from; i < n; ++i) {
        const double w = 2 * std::numbers::pi * 19500.0 * i / kRate;
        c += out[i] * std::cos(w);
        s += out[i] * std::sin(w);
    }
    const double amplitude = 2 * std::hypot(c, s) / double(n - from);
    // 3000 in, well under 1 out (more than 70 dB down), even at strength 0.
    EXPECT_LT(amplitude, 1.0);
}

TEST(RnnoiseFrame, ConcurrentFirstUseGivesTheSameResultOnEveryThread) {
    const std::vector<float> x = noisyVoice(10);
    constexpr int kThreads = 8;
    std::vector<std::vector<float>> outs(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            State st = makeState();
            start.arrive_and_wait();
            outs[t] = process(st.get(), x, 100.f);
        });
    }
    for (auto& th : threads) th.join();
    State st = makeState();
    const std::vector<float> expected = process(st.get(), x, 100.f);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(outs[t], expected) << "thread " << t;
}

TEST(RnnoiseFrame, AllocatesNothingPerFrame) {
    const std::vector<float> x = noisyVoice(11);
    State st = makeState();
    std::vector<float> out(x.size());
    rnnoise_process_frame(st.get(), out.data(), x.data(), 100.f);  // builds the shared tables
    const long before = allocationCount();
    for (size_t f = kFrame; f < x.size(); f += kFrame)
        rnnoise_process_frame(st.get(), out.data() + f, x.data() + f, 100.f);
    EXPECT_EQ(allocationCount(), before);
}
