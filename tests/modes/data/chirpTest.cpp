// The chirp link test: its chirps against their formulas, its transmission,
// and its receiver fed its own signal: straight, in blocks of any length,
// through the loop-back test radio, and as Golay test words over a noisy
// loop-back at several signal-to-noise ratios (in 2500 Hz).
#include "chirpStream.h"

#include "core/TestRadio.h"
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "modes/data/chirp/generateChirp.h"
#include "support/noisyLoopRadio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using chirptest::cplx;

/// A mode outside any transceiver (its channels are too large for a stack).
std::shared_ptr<chirpyModDemod> make() { return std::make_shared<chirpyModDemod>(nullptr); }

/// Instantaneous frequency between samples i-1 and i, in Hz.
double frequencyAt(const buff<cplx>& c, size_t i, double rate) {
    return std::arg(std::complex<double>(c[i]) * std::conj(std::complex<double>(c[i - 1]))) * rate / (2 * M_PI);
}

TEST(Chirp, SweepsFollowTheirFrequencyLaws) {
    const double rate = 48000;
    buff<cplx> linear = generateChirp(4096, rate, 0.0, 3000.0);
    buff<cplx> hyperbolic = generateHyperbolicChirp(buff<cplx>(1000), rate, 500.0, 2000.0);
    ASSERT_EQ(linear.count, 4096u);
    // The phase advances before the first sample: sample 0 is at f0's step.
    EXPECT_NEAR(std::arg(linear[1]), 2 * M_PI * (3000.0 / 4096) / rate, 1e-6);
    for (size_t i : {1, 1000, 2048, 4095}) {
        EXPECT_NEAR(frequencyAt(linear, i, rate), 3000.0 * double(i) / 4096, 0.05) << i;
        EXPECT_NEAR(std::abs(linear[i]), 0.97, 1e-6);
    }
    for (size_t i : {1, 250, 500, 999}) {
        const double period = 1.0 / 500 + (1.0 / 2000 - 1.0 / 500) * double(i) / 1000;
        EXPECT_NEAR(frequencyAt(hyperbolic, i, rate), 1.0 / period, 0.05) << i;
    }
    // The mode's chirps: A the linear sweep, B the same rotated by half.
    auto m = make();
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(m->chirpA[i], linear[i]);
        ASSERT_EQ(m->chirpB[(i + 2048) % 4096], linear[i]);
    }
}

TEST(Chirp, SendsBThenAAndTheReceiverSeesTheirAlternation) {
    auto tx = make(), rx = make();
    const auto x = chirptest::transmission(*tx, 40 * 4096);
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(x[i], tx->chirpB[i]);
        ASSERT_EQ(x[4096 + i], tx->chirpA[i]);
        ASSERT_EQ(x[38 * 4096 + i], tx->chirpB[i]);
    }
    EXPECT_TRUE(tx->transmitting);

    rx->transmitting = true; // as when it receives its own transmission
    chirptest::receive(*rx, x, {512});
    EXPECT_EQ(rx->chirpCounter, 40);
    // A chirp ends on sample 4095 of its slot; the channel at phase 0 looks
    // one sample later, the nearest step to the correlation peak.
    const int k = chirptest::strongestChannel(*rx);
    EXPECT_EQ(k, 0);
    const auto bits = chirptest::recentBits(rx->channels[size_t(k)], 20);
    for (size_t i = 1; i < bits.size(); ++i) EXPECT_NE(bits[i], bits[i - 1]) << "bit " << i;
    EXPECT_EQ(bits.back(), 0) << "channel 0 last saw chirp 38, a B";

    // The receiver's magnitudes against the correlation summed sample by
    // sample at that step (sample 39 * 4096).
    const size_t n = 39 * 4096;
    const double a = chirptest::correlation(rx->chirpA, x, n);
    const double b = chirptest::correlation(rx->chirpB, x, n);
    EXPECT_GT(b, 0.9 * 4096 * 0.97 * 0.97);
    EXPECT_LT(a, 0.1 * b);
    EXPECT_NEAR(rx->channels[0].difference, b - a, 1e-4 * b);
}

TEST(Chirp, AnyBlockLengthGivesTheSameReceiver) {
    // A minimum-phase receive filter hands 1536 samples, a host any number:
    // the correlators still see the whole stream, 512 samples at a time.
    auto tx = make();
    const auto x = chirptest::transmission(*tx, 30 * 4096 + 300);
    auto by512 = make(), by1536 = make(), ragged = make();
    chirptest::receive(*by512, x, {512});
    chirptest::receive(*by1536, x, {1536});
    chirptest::receive(*ragged, x, {1000, 0, 7, 2500, 513, 1});
    EXPECT_EQ(by512->demodulate(buff<cplx>()).count, 0u) << "an empty block gives an empty one";
    for (const auto& m : {by1536, ragged}) {
        EXPECT_EQ(m->phaseIndex, by512->phaseIndex);
        for (size_t k = 0; k < chirpyModDemod::phases; ++k) {
            const auto& c = m->channels[k];
            const auto& r = by512->channels[k];
            ASSERT_EQ(c.difference, r.difference) << k;
            ASSERT_EQ(c.smoothedA, r.smoothedA) << k;
            ASSERT_EQ(c.smoothedB, r.smoothedB) << k;
            for (size_t j = 0; j < c.decoders.size(); ++j) {
                ASSERT_EQ(c.decoders[j].shiftRegister, r.decoders[j].shiftRegister) << k << " " << j;
                ASSERT_EQ(c.decoders[j].value, r.decoders[j].value);
            }
        }
    }
    EXPECT_GT(by512->channels[0].difference, 3000.0);

    // Samples that are not finite count as silence: they spoil nothing
    // after them, and the averages stay finite.
    auto spoilt = x, silenced = x;
    for (size_t i : {size_t(5000), size_t(5001), size_t(70000)}) {
        spoilt[i] = i == 5001 ? cplx(INFINITY, 0) : cplx(0, NAN);
        silenced[i] = 0;
    }
    auto a = make(), b = make();
    chirptest::receive(*a, spoilt, {1536});
    chirptest::receive(*b, silenced, {1536});
    for (size_t k = 0; k < chirpyModDemod::phases; ++k) {
        ASSERT_EQ(a->channels[k].smoothedA, b->channels[k].smoothedA) << k;
        ASSERT_EQ(a->channels[k].smoothedB, b->channels[k].smoothedB) << k;
        ASSERT_TRUE(std::isfinite(a->channels[k].smoothedA)) << k;
    }
    // A burst loud enough to overflow the correlators passes as well.
    auto loud = x;
    std::fill_n(loud.begin() + 8192, 512, cplx(1e37f, 1e37f));
    auto c = make();
    chirptest::receive(*c, loud, {512});
    for (size_t k = 0; k < chirpyModDemod::phases; ++k) {
        ASSERT_TRUE(std::isfinite(c->channels[k].smoothedA)) << k;
        ASSERT_TRUE(std::isfinite(c->channels[k].smoothedB)) << k;
    }
    EXPECT_EQ(c->channels[0].difference, by512->channels[0].difference) << "gone from the filters after 4096 samples";
}

// ---- the loop-back radios ----

class ChirpRadio : public ObjectTest {
protected:
    template <class R>
    std::vector<std::shared_ptr<vtrx>> transceivers(const std::shared_ptr<R>& radio) {
        std::lock_guard<std::mutex> l(radio->listMutex);
        return radio->vtrxList;
    }
    void attach(const std::shared_ptr<vtrx>& v, std::shared_ptr<modDemod> m) {
        onGroup(v, [&] {
            v->start();
            v->setModulation(m);
        });
    }
};

TEST_F(ChirpRadio, OwnSignalThroughTheTestRadioAlternatesAtTheMatchedPhase) {
    auto radio = std::make_shared<TestRadio>(group);
    onGroup(radio, [&] { radio->startRadio(); });
    auto v = transceivers(radio).at(0);
    auto mode = std::make_shared<chirpyModDemod>(group);
    attach(v, mode);
    onGroup(v, [&] { v->ptt.hostSet(true); });
    // The radio runs in real time: 16 chirps are 1.4 s.
    int chirps = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            onGroup(v, [&] { chirps = mode->chirpCounter; });
            return chirps >= 16;
        },
        std::chrono::seconds(20)));
    std::vector<int> bits;
    double matched = 0, others = 0;
    onGroup(v, [&] {
        const int k = chirptest::strongestChannel(*mode);
        bits = chirptest::recentBits(mode->channels[size_t(k)], 10);
        matched = mode->channels[size_t(k)].difference;
        others = mode->channels[size_t((k + 128) % 256)].difference;
    });
    onGroup(v, [&] { v->ptt.hostSet(false); });
    onGroup(radio, [&] { radio->stopRadio(); });
    for (size_t i = 1; i < bits.size(); ++i) EXPECT_NE(bits[i], bits[i - 1]) << "bit " << i;
    EXPECT_GT(matched, 1000.0);
    EXPECT_LT(others, 0.5 * matched) << "half a chirp away both correlators see half a chirp";
}

/// Keys the Golay test words with the chirp mode's own chirps and bit source.
struct GolayKeyer : modDemod {
    explicit GolayKeyer(std::shared_ptr<syncTask> g) : modDemod(g), source(std::make_shared<chirpyModDemod>(g)) {}
    void modulate(buff<cplx>, buff<cplx> out) override {
        for (auto& s : out) {
            if (index == 0) source->getNextTxBit();
            s = (source->chirpSelector ? source->chirpA : source->chirpB)[index];
            index = (index + 1) % chirpyModDemod::chirpSamples;
        }
    }
    std::shared_ptr<chirpyModDemod> source;
    size_t index = 0;
};

struct WordCase {
    double snr;
    double minShare; // of words right; negative: measured and reported only
};

class ChirpGolay : public ChirpRadio, public ::testing::WithParamInterface<WordCase> {};

TEST_P(ChirpGolay, WordsReadAtTheMatchedPhaseAndAlignment) {
    const WordCase c = GetParam();
    constexpr long long centre = 14000000;
    constexpr int words = 40;
    auto radio = std::make_shared<NoisyLoopRadio>(group, 48000, centre, 11);
    onGroup(radio, [&] {
        radio->addVtrx(centre, 0, 0);
        radio->addVtrx(centre, 0, 0);
    });
    auto list = transceivers(radio);
    ASSERT_EQ(list.size(), 2u);
    auto keyer = std::make_shared<GolayKeyer>(group);
    auto rx = std::make_shared<chirpyModDemod>(group);
    attach(list[0], keyer);
    attach(list[1], rx);
    radio->blockLength = chirpyModDemod::chirpSamples; // a step is one chirp: every channel steps once
    radio->atTransmitter = true;
    radio->setSnr(c.snr, 0.97 * 0.97);
    ASSERT_TRUE(radio->step(3));
    onGroup(list[0], [&] { list[0]->ptt.hostSet(true); });

    // Every word each decoder closes, and each channel's |a - b| summed.
    std::vector<std::vector<int>> decoded(256 * 23);
    std::vector<double> strength(256, 0.0);
    for (int s = 0; s < (words + 2) * 23; ++s) {
        ASSERT_TRUE(radio->step(1));
        for (size_t k = 0; k < 256; ++k) {
            const auto& ch = rx->channels[k];
            strength[k] += ch.difference;
            for (size_t j = 0; j < 23; ++j)
                if (ch.decoders[j].bitCounter == 0) decoded[k * 23 + j].push_back(ch.decoders[j].value);
        }
    }
    onGroup(list[0], [&] { list[0]->ptt.hostSet(false); });
    radio->settle();

    const size_t k = size_t(std::max_element(strength.begin(), strength.end()) - strength.begin());
    // The alignment and word order that read most words right; the first
    // two words of each decoder may hold bits from before the key-up.
    int best = -1, right = 0, total = 0;
    for (size_t j = 0; j < 23; ++j) {
        const auto& v = decoded[k * 23 + j];
        for (size_t first = 0; first < 2; ++first) {
            int n = 0, hits = 0;
            for (size_t w = 2; w < v.size(); ++w, ++n) hits += v[w] == ((w + first) % 2 ? 2947 : 1234);
            if (hits > right) best = int(j), right = hits, total = n;
        }
    }
    ASSERT_GE(best, 0) << "no word read at phase " << k;
    ASSERT_GE(total, words - 1);
    const double share = double(right) / double(total);
    std::printf("chirp Golay words at %+5.1f dB: %d of %d right (%.3f), phase %zu, alignment %d\n", c.snr, right,
                total, share, k, best);
    if (c.minShare >= 0) {
        EXPECT_GE(share, c.minShare);
    }
}

INSTANTIATE_TEST_SUITE_P(Snr, ChirpGolay,
                         ::testing::Values(WordCase{-10, 1.0}, WordCase{-15, -1}, WordCase{-20, -1}),
                         [](const auto& info) { return "minus" + std::to_string(int(-info.param.snr)) + "dB"; });

} // namespace
