// The FM mode on its own and, for broadcast reception, behind a transceiver
// fed by the tests' radio at 384000 with a multiplex made here: L+R at 45 %,
// the pilot sin(theta) at 10 %, L-R on sin(2 theta) at 45 %, 75 kHz
// deviation.
#include "modes/voice/fmDiscriminator.h"
#include "modes/voice/fmModDemod.h"

#include "core/agc.h"
#include "core/drainTasks.h"
#include "core/testRadio.h"
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <mutex>
#include <numbers>
#include <vector>

namespace {

using cplx = std::complex<float>;
constexpr double pi = std::numbers::pi;

// A carrier frequency-modulated by f(t) (Hz of deviation at sample t), rate r.
struct fmSource {
    double rate;
    std::function<double(double)> deviationAt; // Hz at time t
    double phase = 0;
    long t = 0;
    buff<cplx> next(size_t n) {
        buff<cplx> b{n};
        for (size_t i = 0; i < n; ++i, ++t) {
            phase += 2 * pi * deviationAt(double(t) / rate) / rate;
            b[i] = {float(0.5 * std::cos(phase)), float(0.5 * std::sin(phase))};
        }
        return b;
    }
};

// The broadcast multiplex, in units of full deviation.
double multiplex(double t, double pilotHz, double left, double right) {
    const double theta = 2 * pi * pilotHz * t;
    return 0.45 * (left + right) / 2 + 0.1 * std::sin(theta) + 0.45 * (left - right) / 2 * std::sin(2 * theta);
}

// Amplitude of the hz component of x at rate r (a whole number of cycles
// assumed over x).
double amplitudeAt(const std::vector<double>& x, double hz, double r) {
    std::complex<double> s = 0;
    for (size_t i = 0; i < x.size(); ++i) s += x[i] * std::polar(1.0, -2 * pi * hz * double(i) / r);
    return 2 * std::abs(s) / double(x.size());
}

std::vector<float> run(fmModDemod& m, fmSource& src, size_t total, size_t block) {
    std::vector<float> all;
    for (size_t done = 0; done < total; done += block) {
        buff<float> a = m.demodulate(src.next(std::min(block, total - done)));
        all.insert(all.end(), a.begin(), a.end());
    }
    return all;
}

bool allFinite(const std::vector<float>& x) {
    for (float v : x)
        if (!std::isfinite(v)) return false;
    return true;
}

} // namespace

TEST(FmMode, ReceiveRateFollowsDeviationAndStaysBroadcastOnceBuilt) {
    fmModDemod m(nullptr);
    EXPECT_EQ(m.rxInputSamplerate(), 384000);
    for (auto [d, rate] : std::vector<std::pair<double, int>>{
             {75000, 384000}, {5000, 48000}, {12000, 384000}, {11999.9, 48000}, {-1, 48000}, {0, 48000}}) {
        m.deviation.hostSet(d);
        EXPECT_EQ(m.rxInputSamplerate(), rate) << d;
    }
    // A broadcast block builds the filters; deviation 0 then stays at 384000.
    m.deviation.hostSet(75000);
    buff<float> first = m.demodulate(buff<cplx>(512, cplx{}));
    EXPECT_TRUE(m.wideBuilt);
    EXPECT_EQ(first.size(), 128u);
    m.deviation.hostSet(0);
    EXPECT_EQ(m.rxInputSamplerate(), 384000);
    // Narrow-band again: 48000 is asked for, and it sounds exactly as
    // narrow-band from the start (a 1500 Hz tone at 3 kHz deviation).
    m.deviation.hostSet(5000);
    EXPECT_EQ(m.rxInputSamplerate(), 48000);
    fmModDemod fresh(nullptr);
    fresh.deviation.hostSet(5000);
    fmSource tone{48000, [](double t) { return 3000 * std::sin(2 * pi * 1500 * t); }}, same = tone;
    EXPECT_EQ(run(m, tone, 9600, 512), run(fresh, same, 9600, 512));
    // Stored only.
    m.MaxDeviation.hostSet(5);
    EXPECT_EQ(m.rxInputSamplerate(), 48000);
}

// Zeros, a deviation of 0 and samples that are no number leave silence at
// most for their own block; the next signal block demodulates as if they
// had never come.
TEST(FmMode, NarrowReceiveKeepsOnlyFiniteValues) {
    fmModDemod m(nullptr), clean(nullptr);
    for (auto* x : {&m, &clean}) x->deviation.hostSet(1000);
    // A carrier 1000 Hz off: the discriminator gives 2 pi / 3.14.
    fmSource tone{48000, [](double) { return 1000.0; }};
    buff<float> a = m.demodulate(tone.next(512));
    for (size_t i = 1; i < 512; ++i) ASSERT_NEAR(m.rxAudioFilter.inBlock[i].real(), 2 * pi / 3.14, 2e-5) << i;
    ASSERT_TRUE(allFinite({a.begin(), a.end()}));

    fmModDemod z(nullptr);
    z.deviation.hostSet(5000);
    for (int k = 0; k < 3; ++k) {
        buff<float> s = z.demodulate(buff<cplx>(512, cplx{}));
        for (float v : s) ASSERT_EQ(v, 0.0f);
    }

    LogCapture log;
    m.deviation.hostSet(0);
    clean.deviation.hostSet(0);
    fmSource voice{48000, [](double t) { return 700 * std::sin(2 * pi * 1000 * t); }};
    for (int k = 0; k < 3; ++k) {
        buff<cplx> b = voice.next(512);
        for (auto* x : {&m, &clean})
            for (float v : x->demodulate(b)) ASSERT_EQ(v, 0.0f);
    }
    size_t silentLines = 0;
    for (auto& l : log.lines()) silentLines += l.find("fmModDemod deviation 0 Hz") != std::string::npos;
    EXPECT_EQ(silentLines, 2u); // one per mode, not one per block
    m.deviation.hostSet(1000);
    clean.deviation.hostSet(1000);
    // Infinity and NaN in one block of m only.
    buff<cplx> bad = voice.next(512);
    buff<cplx> good{512};
    good.copy(bad);
    bad[7] = {INFINITY, 0};
    bad[100] = {NAN, NAN};
    m.demodulate(bad);
    clean.demodulate(good);
    // The audio filter holds two blocks; after them both modes agree.
    for (int k = 0; k < 4; ++k) {
        buff<cplx> b = voice.next(512);
        buff<float> x = m.demodulate(b), y = clean.demodulate(b);
        ASSERT_TRUE(allFinite({x.begin(), x.end()}));
        if (k < 2) continue;
        for (size_t i = 0; i < 512; ++i) ASSERT_NEAR(x[i], y[i], 1e-6) << k << " " << i;
    }

    // A deviation within a hair of 0 is the same as 0: its receive gain
    // would take the discriminator's output past a float.
    m.deviation.hostSet(1e-34);
    clean.deviation.hostSet(-1e-31);
    for (int k = 0; k < 3; ++k) {
        buff<cplx> b = voice.next(512);
        for (auto* x : {&m, &clean})
            for (float v : x->demodulate(b)) ASSERT_EQ(v, 0.0f);
    }
    EXPECT_TRUE(log.contains("error|fmModDemod deviation 1e-34 Hz leaves no receive gain: receive is silent"));
    EXPECT_TRUE(log.contains("error|fmModDemod deviation -1e-31 Hz leaves no receive gain: receive is silent"));
}

// Blocks of any length are carried across filter blocks: 300 and 700 give
// the audio of 512, one filter block later, on both paths.
TEST(FmMode, AnyBlockLengthGivesTheAudioOf512) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "broadcast" : "narrow");
        const double rate = wide ? 384000 : 48000;
        auto dev = [wide](double t) {
            return wide ? 75000 * multiplex(t, 19000, std::sin(2 * pi * 1000 * t), 0.0)
                        : 2000 * std::sin(2 * pi * 1100 * t);
        };
        const size_t total = 512 * 60;
        std::vector<std::vector<float>> outs;
        for (size_t block : {512, 300, 700}) {
            fmModDemod m(nullptr);
            m.deviation.hostSet(wide ? 75000 : 5000);
            m.Stereo.hostSet(true);
            fmSource src{rate, dev};
            outs.push_back(run(m, src, total, block));
        }
        const size_t perBlock = wide ? 128 : 512; // values out per 512 in
        ASSERT_EQ(outs[0].size(), total / 512 * perBlock);
        for (size_t v : {1, 2}) {
            ASSERT_EQ(outs[v].size(), outs[0].size()) << v;
            for (size_t i = perBlock; i < outs[0].size(); ++i)
                ASSERT_NEAR(outs[v][i], outs[0][i - perBlock], 1e-5) << v << " " << i;
        }
    }
}

TEST(FmMode, TransmitsASteadyCarrierForSilenceAndRenormalisesTheTone) {
    fmModDemod m(nullptr);
    m.deviation.hostSet(5000);
    buff<cplx> silence(512, cplx{}), out{512};
    for (int k = 0; k < 3; ++k) {
        m.modulate(silence, out);
        for (auto s : out) {
            ASSERT_FLOAT_EQ(s.real(), 0.99f);
            ASSERT_FLOAT_EQ(s.imag(), 0.0f);
        }
    }
    // 100 Hz CTCSS for 10 s: the oscillator keeps its magnitude and its
    // frequency; the modulating signal is 0.1 cos of it times 0.85 × 5000.
    m.CTCSS.hostSet(100);
    std::vector<double> f;
    cplx prev = out[511];
    for (int k = 0; k < 938; ++k) {
        m.modulate(silence, out);
        for (auto s : out) {
            f.push_back(std::arg(std::complex<double>(s) * std::conj(std::complex<double>(prev))) * 48000 / (2 * pi));
            prev = s;
        }
    }
    EXPECT_NEAR(std::abs(m.tonePhasor), 1.0f, 1e-6f);
    std::vector<double> last(f.end() - 48000, f.end());
    EXPECT_NEAR(amplitudeAt(last, 100, 48000), 0.1 * 0.85 * 5000, 0.01 * 425);
    m.CTCSS.hostSet(0);
    m.modulate(silence, out);
    const cplx held = out[0];
    for (auto s : out) ASSERT_EQ(s, held);
    EXPECT_NEAR(std::abs(held), 0.99f, 1e-6f);
}

namespace {

// Records what the transceiver's mode returns and the loop after each block.
struct TappedFm : fmModDemod {
    using fmModDemod::fmModDemod;
    std::vector<float> pairs;
    struct blockState {
        float phase, freq;
        std::vector<float> multiplex;
    };
    std::vector<blockState> blocks;
    buff<float> demodulate(buff<cplx> in) override {
        buff<float> a = fmModDemod::demodulate(in);
        pairs.insert(pairs.end(), a.begin(), a.end());
        blockState s{pilotPll.phase, pilotPll.freq, {}};
        for (auto x : rxAudioFilter.inBlock) s.multiplex.push_back(x.real());
        blocks.push_back(std::move(s));
        return a;
    }
};

std::mutex audioMutex;
std::vector<float> hostAudio;
void onAudio(void* h) {
    auto* b = static_cast<buff<float>*>(h);
    std::lock_guard<std::mutex> l(audioMutex);
    hostAudio.insert(hostAudio.end(), b->begin(), b->end());
    delete b;
}

class Broadcast : public ObjectTest {
protected:
    static constexpr long long centre = 100000000;
    std::shared_ptr<FakeRadio> radio;
    std::shared_ptr<vtrx> v;
    std::shared_ptr<TappedFm> mode;

    void SetUp() override {
        {
            std::lock_guard<std::mutex> l(audioMutex);
            hostAudio.clear();
        }
        radio = std::make_shared<FakeRadio>(group, 384000, centre);
        onGroup(radio, [&] { radio->addVtrx(centre, 0, 0); });
        v = radio->vtrxList.back();
        mode = std::make_shared<TappedFm>(group);
        onGroup(v, [&] {
            v->setModulation(mode);
            auto rx = v->rxagc.get();
            rx->Enabled.hostSet(false);
            rx->ManualGain.hostSet(0.0);
            v->SendAudio.hostSet(true);
            v->setRxFilter(-150000, 150000); // the whole multiplex deviated by 75 kHz
            v->start();
        });
        v->bindnewAudio(onAudio);
    }
    void TearDown() override {
        onGroup(v, [&] { v->stop(); });
        drainDataTasks(v);
    }

    /// Feeds seconds of the multiplex with left and right audio functions.
    void feed(double seconds, double pilotHz, std::function<double(double)> left,
              std::function<double(double)> right) {
        fmSource src{384000, [=](double t) { return 75000 * multiplex(t, pilotHz, left(t), right(t)); }};
        const size_t total = size_t(seconds * 384000);
        for (size_t done = 0; done < total;) {
            const size_t n = std::min<size_t>(8192, total - done);
            buff<cplx> b = src.next(n);
            size_t at = 0;
            radio->write(
                [&](cplx* d, size_t k) {
                    for (size_t i = 0; i < k; ++i) d[i] = b[at++];
                },
                n, 0);
            done += n;
            drainDataTasks(radio);
            drainDataTasks(v);
            asTask t;
            while (pool.renderQueue.pop(t)) t.fn();
        }
    }

    /// Phase error of the loop after each block: its phase against the
    /// pilot's phase at the same sample, fitted over the last 384 samples
    /// of the block's multiplex.
    std::vector<double> phaseErrors(double pilotHz) {
        std::vector<double> errors;
        for (auto& b : mode->blocks) {
            const size_t n = b.multiplex.size();
            std::complex<double> c = 0;
            for (size_t i = n - 384; i < n; ++i)
                c += double(b.multiplex[i]) * std::polar(1.0, -2 * pi * pilotHz / 384000 * (double(i) - double(n)));
            const double pilot = std::arg(c) + pi / 2; // sin theta = cos(theta - pi/2)
            errors.push_back(std::remainder(double(b.phase) - pilot, 2 * pi));
        }
        return errors;
    }

    /// 1 kHz amplitudes of left and right over the last 4800 pairs.
    std::pair<double, double> levels() {
        std::vector<double> l, r;
        const auto& p = mode->pairs;
        for (size_t i = p.size() - 9600; i < p.size(); i += 2) {
            l.push_back(p[i]);
            r.push_back(p[i + 1]);
        }
        return {amplitudeAt(l, 1000, 48000), amplitudeAt(r, 1000, 48000)};
    }
};

auto tone = [](double t) { return std::sin(2 * pi * 1000 * t); };
auto quiet = [](double) { return 0.0; };

} // namespace

TEST_F(Broadcast, PilotLoopLocksAndHoldsItsRange) {
    for (double pilotHz : {19000.0, 19010.0}) {
        SCOPED_TRACE(pilotHz);
        mode->blocks.clear();
        feed(0.3, pilotHz, tone, tone);
        auto e = phaseErrors(pilotHz);
        size_t lastOff = 0;
        for (size_t i = 0; i < e.size(); ++i)
            if (std::abs(e[i]) >= 0.05) lastOff = i + 1;
        const double lockSeconds = double(lastOff) * 512 / 384000;
        std::printf("pilot %.0f Hz: phase error below 0.05 rad from %.1f ms on, %.4f rad at the end\n", pilotHz,
                    1000 * lockSeconds, e.back());
        EXPECT_LT(lockSeconds, 0.2);
        // The second pilot continues the first one's loop; start it afresh.
        TearDown();
        SetUp();
    }
    const float centreRad = 0.31088677f, halfWidth = 0.5f * 0.00081812311f;
    feed(0.2, 19100, tone, tone);
    for (auto& b : mode->blocks) {
        ASSERT_GE(b.freq, centreRad - halfWidth);
        ASSERT_LE(b.freq, centreRad + halfWidth);
        ASSERT_LE(double(b.phase), 2 * 3.1415927410125732);
    }
    std::printf("pilot 19100 Hz: loop at %.2f Hz\n", mode->blocks.back().freq * 384000 / (2 * pi));
}

TEST_F(Broadcast, StereoSeparatesLeftFromRight) {
    mode->Stereo.hostSet(true);
    feed(0.4, 19000, tone, quiet);
    auto [l, r] = levels();
    const double left = 20 * std::log10(l / r);
    mode->pairs.clear();
    feed(0.15, 19000, quiet, tone);
    auto [l2, r2] = levels();
    const double right = 20 * std::log10(r2 / l2);
    std::printf("stereo separation: left-only %.1f dB, right-only %.1f dB (levels %.4f / %.4f)\n", left, right, l,
                r2);
    EXPECT_GE(left, 26.0);
    EXPECT_GE(right, 26.0);
    EXPECT_NEAR(r2 / l, 1.0, 0.01); // the mirror image

    // The host hears the left channel of every pair.
    {
        std::lock_guard<std::mutex> lock(audioMutex);
        for (size_t i = 0; i < 4800; ++i)
            ASSERT_NEAR(hostAudio[hostAudio.size() - 4800 + i], mode->pairs[mode->pairs.size() - 9600 + 2 * i], 1e-6);
    }

    mode->Stereo.hostSet(false);
    mode->pairs.clear();
    feed(0.05, 19000, tone, quiet);
    for (size_t i = 256; i < mode->pairs.size(); i += 2) ASSERT_EQ(mode->pairs[i], mode->pairs[i + 1]) << i;

    // Noise reduction keeps the channels apart and their level: 1000 Hz on
    // the left, 2500 Hz on the right, the receive gain control on as a
    // listener has it, the suppressor off, at three strengths, off again.
    mode->Stereo.hostSet(true);
    onGroup(v, [&] { v->rxagc.get()->Enabled.hostSet(true); });
    auto heard = [&](bool reduce, double strength) {
        onGroup(v, [&] {
            mode->rnnoise.hostSet(reduce);
            mode->rnnoiseSquelch.hostSet(strength);
        });
        feed(0.4, 19000, tone, [](double t) { return std::sin(2 * pi * 2500 * t); });
        std::lock_guard<std::mutex> lock(audioMutex);
        const std::vector<double> left(hostAudio.end() - 4800, hostAudio.end());
        double power = 0;
        for (double x : left) power += x * x;
        return std::pair{20 * std::log10(amplitudeAt(left, 1000, 48000) / amplitudeAt(left, 2500, 48000)),
                         std::sqrt(power / 4800)};
    };
    const auto [plainDb, plainRms] = heard(false, 80);
    std::printf("left over right, suppressor off: %.1f dB, rms %.3f\n", plainDb, plainRms);
    for (double strength : {80.0, 20.0, 100.0}) {
        const auto [db, level] = heard(true, strength);
        std::printf("left over right, suppressor at %.0f: %.1f dB, rms %.3f\n", strength, db, level);
        EXPECT_GE(db, 40.0) << strength;
        EXPECT_NEAR(level, plainRms, 0.1 * plainRms) << strength;
    }
    EXPECT_NEAR(heard(false, 80).first, plainDb, 1.0);
}
