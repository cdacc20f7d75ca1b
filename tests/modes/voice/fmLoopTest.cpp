// Narrow-band FM on the loop-back test radio: a 1 kHz microphone tone and a
// CTCSS tone transmitted by one transceiver, measured on the air with a
// double-precision discriminator and in the audio of a receiver set to 5000.
#include "modes/voice/voiceLoop.h"

#include "framework/objectHandle.h"
#include "modes/voice/fmModDemod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>

using namespace voiceLoop;

namespace {

constexpr double pi = std::numbers::pi;

class FmLoop : public Rig {
protected:
    static fmModDemod& object(void* h) {
        return dynamic_cast<fmModDemod&>(**static_cast<objectHandle*>(h));
    }
    /// Sets a deviation and waits until the mode's task group stored it.
    static void setDeviation(void* h, double d) {
        fmModDemod_setdeviation(h, d);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return object(h).deviation.get() == d; }));
    }
    static void setCTCSS(void* h, double hz) {
        fmModDemod_setCTCSS(h, hz);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return object(h).CTCSS.get() == hz; }));
    }

    void SetUp() override {
        Rig::SetUp();
        txMode = fmModDemod_create();
        void* rxMode = fmModDemod_create();
        // The receiver's filter is designed for the mode's rate: narrow first.
        setDeviation(rxMode, 5000);
        use(tx, txMode, fmModDemod_release);
        use(rx, rxMode, fmModDemod_release);
        vtrx_setTxFilter(tx, -8000, 8000);
        vtrx_setRxFilter(rx, -8000, 8000);
        vtrx_setptt(tx, true);
    }

    /// The on-air instantaneous frequency (Hz) and the received audio, the
    /// last 48000 samples of each (a whole number of cycles of 100 and
    /// 1000 Hz). The first second gathered is left to what a busy host
    /// still had queued from before the last change.
    std::pair<std::vector<double>, std::vector<double>> measure() {
        gather(96000);
        std::lock_guard<std::mutex> l(m);
        std::vector<double> f, a(audio.end() - 48000, audio.end());
        for (size_t i = iq.size() - 48000; i < iq.size(); ++i)
            f.push_back(std::arg(std::complex<double>(iq[i]) * std::conj(std::complex<double>(iq[i - 1]))) * 48000 /
                        (2 * pi));
        return {f, a};
    }

    void* txMode = nullptr;
};

double amplitudeAt(const std::vector<double>& x, double hz) {
    std::complex<double> s = 0;
    for (size_t i = 0; i < x.size(); ++i) s += x[i] * std::polar(1.0, -2 * pi * hz * double(i) / 48000);
    return 2 * std::abs(s) / double(x.size());
}

// Frequency from upward zero crossings, interpolated between samples.
double crossingFrequency(const std::vector<double>& x) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = double(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    return (crossings - 1) * 48000 / (last - first);
}

} // namespace

TEST_F(FmLoop, DeviationAndReceivedToneAreProportionalToTheDeviation) {
    microphone(1000, 0.1); // below the clipper with the 10 dB of pre-emphasis at 1 kHz
    std::vector<double> perHz, audioPerHz;
    for (double d : {1000.0, 2500.0, 5000.0}) {
        setDeviation(txMode, d);
        auto [f, a] = measure();
        double peak = 0;
        for (double v : f) peak = std::max(peak, std::abs(v));
        perHz.push_back(peak / d);
        audioPerHz.push_back(amplitudeAt(a, 1000) / d);
        std::printf("FM deviation %.0f Hz: peak on air %.1f Hz (%.5f of it), 1 kHz received at %.5f\n", d, peak,
                    peak / d, amplitudeAt(a, 1000));
    }
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_NEAR(perHz[i] / perHz[0], 1.0, 0.02) << i;
        EXPECT_NEAR(audioPerHz[i] / audioPerHz[0], 1.0, 0.05) << i;
    }
}

TEST_F(FmLoop, CtcssRidesUnderTheVoiceAndStaysOutOfTheAudio) {
    setDeviation(txMode, 5000);
    microphone(1000, 0.1);
    auto [voice, voiceAudio] = measure();
    setCTCSS(txMode, 100);
    auto [both, bothAudio] = measure();
    const double scaled = amplitudeAt(both, 1000) / amplitudeAt(voice, 1000);
    std::printf("CTCSS on: voice deviation x %.4f\n", scaled);
    EXPECT_NEAR(scaled, 0.85, 0.85 * 0.01);

    microphone(1000, 0.0);
    auto [tone, toneAudio] = measure();
    const double level = amplitudeAt(tone, 100), hz = crossingFrequency(tone);
    // A voice tone of the tone's deviation, scaled from the 1 kHz measurement.
    const double voiceAtToneLevel = amplitudeAt(voiceAudio, 1000) * level / amplitudeAt(voice, 1000);
    const double below = 20 * std::log10(voiceAtToneLevel / amplitudeAt(toneAudio, 100));
    std::printf("CTCSS 100 Hz: %.2f Hz of deviation (%.4f x 5000) at %.3f Hz; %.1f dB below voice in the audio\n",
                level, level / 5000, hz, below);
    EXPECT_NEAR(level / 5000, 0.085, 0.085 * 0.05);
    EXPECT_NEAR(hz, 100.0, 0.1);
    EXPECT_GE(below, 40.0);

    setCTCSS(txMode, 0);
    microphone(1000, 0.1);
    auto [after, afterAudio] = measure();
    EXPECT_NEAR(amplitudeAt(after, 1000) / amplitudeAt(voice, 1000), 1.0, 0.01);

    // Silence without a tone: a steady carrier at 0.99.
    microphone(1000, 0.0);
    gather(52000, false);
    std::lock_guard<std::mutex> l(m);
    for (size_t i = iq.size() - 4096; i < iq.size(); ++i) {
        ASSERT_NEAR(std::abs(iq[i]), 0.99f, 0.01f) << i;
        ASSERT_NEAR(std::abs(iq[i] - iq.back()), 0.0f, 1e-3f) << i;
    }
}
