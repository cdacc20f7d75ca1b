// The gain control on stepped input, against expectations worked out from
// its time constants, and with the settings a careless host may send.
#include "core/agc.h"

#include "core/coreObjectFixture.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

buff<float> steady(size_t n, float v) { return buff<float>(n, v); }

/// Gain after n steps of g = g * k + step from g0: the geometric approach
/// to step / (1 - k), the closed form of the per-sample recursion.
double approach(double g0, float k, float step, int n) {
    double limit = double(step) / (1.0 - double(k));
    return limit + (g0 - limit) * std::pow(double(k), n);
}

bool withinFullScale(const buff<float>& b) {
    for (float x : b)
        if (!(x >= -1.0f && x <= 1.0f)) return false;
    return true;
}

} // namespace

TEST(Agc, AttackPullsTheGainDownTowardsTheBlockTarget) {
    agc g(nullptr);
    const float a = std::exp(-1.0f / 480.0f); // 10 ms at 48000
    const float target = 1.0f / (1.2f * 0.5f);
    const float step = (1.0f - a) * target;

    auto out = g.process(steady(512, 0.5f), false, true, 0.0f);
    EXPECT_NEAR(g.currentGain(), approach(200.0, a, step, 512), 1e-9);
    EXPECT_NEAR(g.currentGain(), 69.93, 0.01); // 1.667 + 198.33 e^(-512/480)
    EXPECT_EQ(g.hangLeft(), 96000);            // every sample restarted the hang
    EXPECT_EQ(out[0], 1.0f);                   // 0.5 x 199.6, clipped
    EXPECT_TRUE(withinFullScale(out));

    for (int block = 1; block < 10; ++block) out = g.process(steady(512, 0.5f), false, true, 0.0f);
    double expected = approach(200.0, a, step, 5120);
    EXPECT_NEAR(g.currentGain(), expected, 1e-9);
    EXPECT_NEAR(expected, 1.6713, 1e-4);
    EXPECT_FLOAT_EQ(out[511], 0.5f * float(expected)); // below full scale now
}

TEST(Agc, HangHoldsTwoSecondsThenDecayRisesTowardsTheSilenceTarget) {
    agc g(nullptr);
    g.Attack.set(0.0f); // at once: the gain lands on the target
    g.process(steady(512, 1.0f), false, true, 0.0f);
    const double loud = double(1.0f / 1.2f);
    ASSERT_EQ(g.currentGain(), loud);

    // The hang runs from the last reduction, the block's first sample: 511
    // samples of it have passed, 186 silent blocks and 257 samples remain.
    EXPECT_EQ(g.hangLeft(), 96000 - 511);
    for (int block = 0; block < 186; ++block) g.process(steady(512, 0.0f), false, true, 0.0f);
    EXPECT_EQ(g.currentGain(), loud);
    EXPECT_EQ(g.hangLeft(), 257);
    auto out = g.process(steady(512, 0.0f), false, true, 0.0f);
    const float d = std::exp(-1.0f / 9600.0f); // 0.2 s
    const float step = (1.0f - d) * 200.0f;
    EXPECT_EQ(g.hangLeft(), 0);
    EXPECT_NEAR(g.currentGain(), approach(loud, d, step, 255), 1e-9);
    EXPECT_NEAR(g.currentGain(), 6.05, 0.01); // 200 - 199.17 e^(-255/9600)

    for (int block = 0; block < 400; ++block) g.process(steady(512, 0.0f), false, true, 0.0f);
    EXPECT_NEAR(g.currentGain(), 200.0, 1e-3);
    EXPECT_LE(g.currentGain(), 200.0 * (1 + 1e-6));

    // A faint signal asks for far more gain than the cap allows.
    g.Hang.set(0.0f);
    g.Decay.set(0.0f);
    out = g.process(steady(512, 1e-6f), false, true, 0.0f);
    EXPECT_DOUBLE_EQ(g.currentGain(), 10000.0); // 80 dB
    EXPECT_FLOAT_EQ(out[511], 0.01f);
    g.MaxGain.set(20.0f);
    g.process(steady(512, 1e-6f), false, true, 0.0f);
    EXPECT_DOUBLE_EQ(g.currentGain(), 10.0);
}

TEST(Agc, SquelchManualGainHoldAndVolumeBypassTheControl) {
    agc g(nullptr);
    g.Attack.set(0.0f);
    g.process(steady(512, 0.5f), false, true, 0.0f);
    const double held = g.currentGain();
    const int32_t hang = g.hangLeft();

    g.Squelch.set(-100.0f);
    auto out = g.process(steady(4, 3.0f), false, true, -120.0f);
    EXPECT_EQ(out[3], 0.0f); // closed
    g.Volume.set(2.0f);
    out = g.process(steady(4, 3.0f), false, true, -100.0f);
    EXPECT_EQ(out[3], 6.0f); // open: volume only, no clipping
    out = g.process(steady(4, 3.0f), false, false, -100.0f);
    EXPECT_EQ(out[3], 3.0f); // the caller applies the volume later

    g.Squelch.set(-180.0f); // exactly -180 is off: control runs again
    g.Volume.set(1.0f);
    g.Enabled.set(false);
    out = g.process(steady(4, 0.05f), false, true, -300.0f);
    EXPECT_FLOAT_EQ(out[0], 0.5f); // ManualGain 1 is x10
    out = g.process(steady(4, 0.5f), false, true, 0.0f);
    EXPECT_EQ(out[0], 1.0f); // clipped
    g.ManualGain.set(0.0);
    out = g.process(steady(4, -0.5f), false, true, 0.0f);
    EXPECT_EQ(out[0], -0.5f);
    g.Enabled.set(true);

    out = g.process(steady(4, 0.9f), true, true, 0.0f); // a loud block, held
    EXPECT_FLOAT_EQ(out[0], std::min(1.0f, 0.9f * float(held)));
    out = g.process(steady(4, 0.3f), true, true, 0.0f);
    EXPECT_FLOAT_EQ(out[0], 0.3f * float(held));
    EXPECT_EQ(g.currentGain(), held); // none of the above touched the state
    EXPECT_EQ(g.hangLeft(), hang);

    g.Volume.set(0.0f);
    for (bool enabled : {true, false}) {
        g.Enabled.set(enabled);
        for (bool hold : {true, false}) {
            out = g.process(steady(8, 0.4f), hold, true, 0.0f);
            EXPECT_EQ(out[7], 0.0f) << "enabled " << enabled << " hold " << hold;
        }
    }
    g.Enabled.set(true);
    g.Squelch.set(-100.0f);
    EXPECT_EQ(g.process(steady(8, 0.4f), false, true, 0.0f)[7], 0.0f);

    EXPECT_TRUE(g.process(buff<float>(), false, true, 0.0f).empty());
}

// ---- through the host interface ----

using AgcHost = CoreObjects;

TEST_F(AgcHost, CarelessSettingsNeverMakeTheGainDiverge) {
    void* h = agc_create();
    auto g = object<agc>(h);
    auto run = [&](float level, bool hold = false) {
        buff<float> out;
        onWorker(g, [&] { out = g->process(steady(512, level), hold, true, 0.0f); });
        EXPECT_TRUE(std::isfinite(g->currentGain())) << "level " << level;
        EXPECT_TRUE(withinFullScale(out)) << "level " << level;
        return out;
    };
    // The host's setters refuse such values (see the host-value table); the
    // object's own code may still hand them over, and the gain must cope.
    auto set = [&](auto& property, auto value) { onWorker(g, [&] { property.set(value, false); }); };

    set(g->Attack, -0.01f); // a time constant below 0 acts at once
    run(0.5f);
    EXPECT_EQ(g->currentGain(), double(1.0f / (1.2f * 0.5f)));
    set(g->Hang, -3.0f); // no hang
    set(g->Attack, std::numeric_limits<float>::quiet_NaN());
    run(1.0f);
    EXPECT_NEAR(g->currentGain(), 1.0 / 1.2, 1e-6);
    EXPECT_EQ(g->hangLeft(), 0);
    set(g->Decay, -0.2f);
    run(0.0f);
    EXPECT_EQ(g->currentGain(), 200.0);

    set(g->Hang, 1e30f); // longer than the counter holds
    run(0.9f);
    EXPECT_EQ(g->hangLeft(), std::numeric_limits<int32_t>::max() - 511);
    double held = g->currentGain();
    run(0.0f);
    EXPECT_EQ(g->currentGain(), held);

    // No cap at all, and a vanishing peak asking for an infinite gain.
    set(g->Hang, 0.0f);
    run(1.0f); // the next gain reduction ends the long hang
    set(g->MaxGain, 1e6f);
    run(1e-39f);
    EXPECT_EQ(g->currentGain(), double(FLT_MAX));
    run(0.0f);
    run(0.5f); // and back at once on a real signal
    EXPECT_EQ(g->currentGain(), double(1.0f / (1.2f * 0.5f)));
    set(g->MaxGain, std::numeric_limits<float>::quiet_NaN());
    run(1e-39f);
    EXPECT_EQ(g->currentGain(), double(FLT_MAX));
    run(0.5f);

    set(g->Enabled, false);
    set(g->ManualGain, 100.0); // 10^100 does not fit a float
    EXPECT_EQ(run(0.0f)[0], 0.0f);
    EXPECT_EQ(run(0.5f)[0], 1.0f);
    agc_release(h);
}
