// The voice modes block by block, called as their transceiver calls them:
// the equaliser's follow-up on the curve, the limiter's ceilings, the
// compression extremes, the AM detector, the generator's phase and the
// client mode's chunks.
#include "modes/voice/RawIQModDemod.h"
#include "modes/voice/amModDemod.h"
#include "modes/voice/clientModDemod.h"
#include "modes/voice/micEqualiser.h"
#include "modes/voice/sigGenModDemod.h"
#include "modes/voice/ssbModDemod.h"

#include "framework/objectFixture.h"
#include "framework/objectHandle.h"
#include "support/logCapture.h"
#include "support/stdoutCapture.h"
#include "vireocore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace {

using cplx = std::complex<float>;

/// The root object's sampling of a nine-point curve: linear between the
/// points, the first taken at 0 Hz, entry i at i × 23.4375 Hz.
buff<float> sampledCurve(const std::vector<std::pair<double, double>>& points) {
    buff<float> c(1024);
    size_t k = 1;
    double lowF = 0, lowG = points[0].second;
    for (size_t i = 0; i < 1024; ++i) {
        const double f = double(i) * 24000.0 / 1024;
        while (f > points[k].first && k < points.size() - 1) {
            lowF = points[k].first;
            lowG = points[k].second;
            ++k;
        }
        c[i] = float(lowG + (f - lowF) / (points[k].first - lowF) * (points[k].second - lowG));
    }
    return c;
}

const std::vector<std::pair<double, double>> defaultPoints = {
    {0, 1}, {64, 1}, {128, 1}, {300, 1}, {600, 1}, {1200, 1}, {2400, 1}, {4800, 1}, {24000, 1}};

/// A stand-in for the root object's curve: version and gains the test sets.
struct TestCurve {
    uint32_t version = 0;
    std::vector<std::pair<double, double>> points = defaultPoints;
    TestCurve() {
        micEqualiser::replaceSource({[this] { return version; }, [this] { return sampledCurve(points); }});
    }
    ~TestCurve() { micEqualiser::replaceSource({}); }
};

class VoiceModes : public ObjectTest {
protected:
    /// The microphone block as the transceiver makes it: 0.707 × the tone on
    /// both parts.
    buff<cplx> micBlock(double hz, double a) {
        buff<cplx> b(512);
        for (size_t i = 0; i < 512; ++i, ++sample) {
            const float v = 0.707f * float(a * std::sin(2 * std::numbers::pi * hz * double(sample) / 48000));
            b[i] = {v, v};
        }
        return b;
    }
    static double rms(const buff<cplx>& b) {
        double s = 0;
        for (auto x : b) s += std::norm(std::complex<double>(x));
        return std::sqrt(s / double(b.size()));
    }
    static float peak(const buff<cplx>& b) {
        float p = 0;
        for (auto x : b) p = std::max(p, std::abs(x));
        return p;
    }
    /// Runs n transmit blocks; returns the last output.
    template <class M>
    buff<cplx> transmit(M& mode, int n, double hz, double a) {
        buff<cplx> out(512);
        for (int b = 0; b < n; ++b) mode.modulate(micBlock(hz, a), out);
        return out;
    }
    int64_t sample = 0;
};

TEST_F(VoiceModes, SsbEqualiserFollowsTheCurveOnlyWithUseMicEQ) {
    TestCurve curve;
    for (bool useEq : {true, false}) {
        SCOPED_TRACE(useEq ? "UseMicEQ" : "without UseMicEQ");
        auto ssb = std::make_shared<ssbModDemod>(group);
        ssb->UseMicEQ.hostSet(useEq);
        ssb->setTxFilter(-2800, -300); // lower sideband: the mirrored curve entries
        const double before = rms(transmit(*ssb, 12, 1000, 0.3));
        auto spectraBefore = ssb->eqFilter.spectra[0];
        buff<cplx> snapshot(spectraBefore.size());
        spectraBefore.copyTo(snapshot);

        // Point 5 (1200 Hz) to 2.0: at 1000 Hz the curve reads 1 + 400/600.
        curve.points[5].second = 2.0;
        ++curve.version;
        transmit(*ssb, 1, 1000, 0.3);
        bool redesigned = false;
        for (size_t i = 0; i < snapshot.size(); ++i) redesigned |= snapshot[i] != ssb->eqFilter.spectra[0][i];
        EXPECT_EQ(redesigned, useEq); // at the very next block
        const double after = rms(transmit(*ssb, 8, 1000, 0.3));
        const double rise = 20 * std::log10(after / before);
        std::printf("SSB lower sideband, point 5 at 2.0, %s: the tone rises %.2f dB\n",
                    useEq ? "UseMicEQ" : "no UseMicEQ", rise);
        if (useEq)
            EXPECT_NEAR(rise, 4.4, 0.3);
        else
            EXPECT_NEAR(rise, 0.0, 0.01);
        curve.points = defaultPoints;
        ++curve.version;
    }
}

TEST_F(VoiceModes, LimitersHoldTheirCeilingsOnAFullScaleToneAndTheMeterShowsClipping) {
    // A full-scale tone reaches the clipper at 1.0 with the default
    // compression (one sideband of 0.707 × (1 + j) × the tone is 0.5, times
    // 2); a compression of 2 drives it 6 dB into the clipper.
    for (double compression : {1.0, 2.0}) {
        auto ssb = std::make_shared<ssbModDemod>(group);
        auto am = std::make_shared<amModDemod>(group);
        ssb->compression.hostSet(compression);
        am->compression.hostSet(compression);
        float ssbPeak = 0, amLimited = 0, amAudio = 0;
        buff<cplx> out(512);
        for (int b = 0; b < 40; ++b) {
            auto in = micBlock(1000, 1.0);
            ssb->modulate(in, out);
            ssbPeak = std::max(ssbPeak, peak(out));
            am->modulate(in, out);
            // AM's limiter writes into its last band filter; the audio that
            // moves the envelope away from 0.5 comes out of that filter.
            amLimited = std::max(amLimited, peak(am->postLimiterFilter.inBlock));
            for (auto s : out) amAudio = std::max(amAudio, std::abs(std::abs(s) - 0.5f) / 0.48f);
        }
        std::printf("Full-scale tone, compression %.0f: SSB output peak %.4f, AM limiter output peak %.4f (after "
                    "its band filter %.4f), OpLevel SSB %.4f AM %.4f\n",
                    compression, ssbPeak, amLimited, amAudio, ssb->OpLevel.get(), am->OpLevel.get());
        // To the float's last bit: c × k with |c| = 1 may round one step up.
        EXPECT_LE(ssbPeak, 0.94f * (1 + 1e-6f));
        EXPECT_GT(ssbPeak, 0.9f);
        EXPECT_LE(amLimited, 0.97f * (1 + 1e-6f));
        EXPECT_GT(amLimited, 0.9f);
        EXPECT_LE(amAudio, 0.97f * 1.02f); // the band filter's overshoot
        if (compression > 1) {
            EXPECT_GT(ssb->OpLevel.get(), 1.0f);
            EXPECT_GT(am->OpLevel.get(), 1.0f);
        }
    }
}

TEST_F(VoiceModes, CompressionZeroSilencesSsbAndLeavesAmItsBareCarrier) {
    auto ssb = std::make_shared<ssbModDemod>(group);
    auto am = std::make_shared<amModDemod>(group);
    ssb->compression.hostSet(0.0);
    am->compression.hostSet(0.0);
    for (int b = 0; b < 6; ++b) {
        auto in = micBlock(1000, 0.5);
        buff<cplx> s(512), a(512);
        ssb->modulate(in, s);
        am->modulate(in, a);
        for (size_t i = 0; i < 512; ++i) {
            ASSERT_EQ(s[i], cplx{});
            ASSERT_EQ(a[i], cplx(0.35355338f, 0.35355338f));
        }
    }
}

TEST_F(VoiceModes, BadHostValuesAndNarrowBandsAreRefusedAndTheOldOnesKept) {
    LogCapture log;
    auto ssb = std::make_shared<ssbModDemod>(group);
    ssb->setTxFilter(300, 2800);
    const double good = rms(transmit(*ssb, 12, 1000, 0.3));
    // A pass-band of 200 Hz leaves nothing after the 100 Hz insets.
    ssb->setTxFilter(1000, 1200);
    ssb->compression.hostSet(std::nan(""));
    const double kept = rms(transmit(*ssb, 4, 1000, 0.3));
    EXPECT_NEAR(kept, good, good * 1e-4);
    EXPECT_TRUE(log.contains("error|ssbModDemod transmit pass-band 1000 .. 1200 Hz too narrow, filters kept"));
    EXPECT_EQ(log.count("error|ssbModDemod.compression nan refused, keeping 1"), 1u);
    EXPECT_NEAR(ssb->eqLow, 400.0, 1e-9);
    EXPECT_NEAR(ssb->eqHigh, 2700.0, 1e-9);

    auto gen = std::make_shared<sigGenModDemod>(group);
    gen->ampl2.hostSet(0.5);
    gen->freq2.hostSet(INFINITY);
    buff<cplx> out(512);
    gen->modulate({}, out);
    for (auto s : out) ASSERT_TRUE(std::isfinite(s.real()) && std::isfinite(s.imag()));
    EXPECT_TRUE(log.contains("error|sigGenModDemod.freq2 inf refused, keeping 200"));
    EXPECT_EQ(gen->freq2.get(), 200.0); // set back, and so told to the host

    // Up to the limits the values are taken; a step past them is refused.
    gen->ampl1.hostSet(-1e6);
    gen->ampl2.hostSet(0.0);
    gen->freq2.hostSet(-24000);
    gen->modulate({}, out);
    EXPECT_EQ(out[0], cplx(-1e6f, 0.0f));
    gen->ampl1.hostSet(1.000001e6);
    gen->freq2.hostSet(24000.001);
    EXPECT_EQ(gen->ampl1.get(), -1e6);
    EXPECT_EQ(gen->freq2.get(), -24000.0);
    EXPECT_TRUE(log.contains("error|sigGenModDemod.ampl1 1000001 refused, keeping -1000000"));
    EXPECT_TRUE(log.contains("error|sigGenModDemod.freq2 24000.001 refused, keeping -24000"));
    ssb->compression.hostSet(1e6);
    ssb->compression.hostSet(-1e6 - 1);
    EXPECT_EQ(ssb->compression.get(), 1e6);
    transmit(*ssb, 4, 1000, 1.0);
    EXPECT_GT(rms(transmit(*ssb, 1, 1000, 1.0)), 0.5); // driven hard into the clipper, and still sounding
    EXPECT_TRUE(log.contains("error|ssbModDemod.compression -1000001 refused, keeping 1000000"));
}

TEST_F(VoiceModes, ALongMicrophoneBlockPrintsTheCopyTrace) {
    LogCapture log; // the log stays off standard output
    auto ssb = std::make_shared<ssbModDemod>(group);
    buff<cplx> out(512);
    StdoutCapture trace;
    ssb->modulate(buff<cplx>(600, cplx{0.1f, 0.1f}), out);
    EXPECT_EQ(trace.stop(), " buff copy error600 > 512");
}

TEST_F(VoiceModes, AmDetectorRemovesTheCarrierWithItsRunningMean) {
    auto am = std::make_shared<amModDemod>(group);
    buff<cplx> in(512, cplx{0.3f, 0.4f}); // magnitude 0.5
    auto audio = am->demodulate(in);
    for (size_t n = 1; n <= 512; n += 73) EXPECT_NEAR(audio[n - 1], std::pow(0.99, double(n)) * 0.5, 1e-6) << n;
    // A sample that is no number is dropped, and the mean carries on.
    in[0] = {std::nanf(""), 0};
    audio = am->demodulate(in);
    EXPECT_EQ(audio[0], 0.0f);
    EXPECT_NEAR(audio[1], std::pow(0.99, 513.0) * 0.5, 1e-6); // the NaN skipped, no step taken
    EXPECT_TRUE(am->demodulate({}).empty());
}

TEST_F(VoiceModes, GeneratorPhaseRunsOnAcrossBlocks) {
    auto gen = std::make_shared<sigGenModDemod>(group);
    buff<cplx> out(512);
    gen->modulate({}, out);
    for (auto s : out) ASSERT_EQ(s, cplx(1.0f, 0.0f)); // the defaults: a bare carrier

    gen->ampl1.hostSet(0.0);
    gen->ampl2.hostSet(1.0);
    for (double f : {1000.0, -1000.0}) {
        gen->freq2.hostSet(f);
        std::vector<cplx> x;
        for (int b = 0; b < 3; ++b) {
            gen->modulate({}, out);
            x.insert(x.end(), out.begin(), out.end());
        }
        // Every step, block edges included, turns by 2π f / 48000.
        const cplx turn = std::polar(1.0f, float(2 * std::numbers::pi * f / 48000));
        for (size_t i = 1; i < x.size(); ++i) ASSERT_LT(std::abs(x[i] - x[i - 1] * turn), 2e-5f) << i;
    }
    EXPECT_LT(gen->phase, -6.0); // below zero it runs on without a wrap
}

// Chunks reach the host in order, each a copy of its block, and every
// handle is freed once: by the host, by a task that finds no callback, or
// by a task dropped unrun (ASan checks the last two).
std::vector<std::pair<std::vector<cplx>, unsigned>> chunks;
void onChunk(void* chunk, unsigned sequence) {
    auto* d = reinterpret_cast<cplx*>(complexArray_data(chunk));
    chunks.push_back({std::vector<cplx>(d, d + complexArray_size(chunk)), sequence});
    complexArray_delete(chunk);
}

TEST_F(VoiceModes, ClientHandsEveryBlockToTheHostNumberedWithoutGaps) {
    auto client = std::make_shared<clientModDemod>(group);
    void* handle = newHandle(client);
    clientModDemod_bindrxChunk(handle, onChunk);
    chunks.clear();
    for (unsigned b = 0; b < 1000; ++b) {
        buff<cplx> block(512);
        for (size_t i = 0; i < 512; ++i) block[i] = {float(b), float(i)};
        auto audio = client->demodulate(block);
        ASSERT_EQ(audio.size(), 512u);
        ASSERT_EQ(audio[7], float(b));
        if (b % 100 == 99) poll();
    }
    poll();
    ASSERT_EQ(chunks.size(), 1000u);
    for (unsigned b = 0; b < 1000; ++b) {
        ASSERT_EQ(chunks[b].second, b);
        ASSERT_EQ(chunks[b].first.size(), 512u);
        for (size_t i = 0; i < 512; ++i) ASSERT_EQ(chunks[b].first[i], cplx(float(b), float(i))) << b;
    }
    // An empty block is an empty array; transmit is silence.
    client->demodulate({});
    buff<cplx> out(512, cplx{1, 1});
    client->modulate({}, out);
    for (auto s : out) ASSERT_EQ(s, cplx{});
    poll();
    ASSERT_EQ(chunks.size(), 1001u);
    EXPECT_TRUE(chunks.back().first.empty());
    EXPECT_EQ(chunks.back().second, 1000u);

    // Unbound when the task runs: the task frees the chunk.
    client->demodulate(buff<cplx>(512, cplx{}));
    clientModDemod_bindrxChunk(handle, nullptr);
    poll();
    EXPECT_EQ(chunks.size(), 1001u);
    EXPECT_EQ(client->sequence, 1002u);
    delete static_cast<objectHandle*>(handle);
}

TEST_F(VoiceModes, ClientChunksDroppedUnrunFreeTheirHandles) {
    // No task group: nothing can be queued, the chunk goes at once.
    auto client = std::make_shared<clientModDemod>(nullptr);
    void* handle = newHandle(client);
    clientModDemod_bindrxChunk(handle, onChunk);
    chunks.clear();
    client->demodulate(buff<cplx>(512, cplx{}));
    EXPECT_EQ(client->sequence, 1u);
    poll();
    EXPECT_TRUE(chunks.empty());
    delete static_cast<objectHandle*>(handle);
}

TEST_F(VoiceModes, RawIqHasNoAudioAndBypassesTheTransmitFilter) {
    auto raw = std::make_shared<RawIQModDemod>(group);
    EXPECT_TRUE(raw->demodulate(buff<cplx>(512, cplx{1, 1})).empty());
    EXPECT_FALSE(raw->txFiltered);
    EXPECT_TRUE(raw->txBlockMode);
}

} // namespace
