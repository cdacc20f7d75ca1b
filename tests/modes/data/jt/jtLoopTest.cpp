// JT transmission and reception through the transceiver chain: messages
// queued with queueMsg, sent by the mode's modulator, looped back with noise
// into the recording of the same period and decoded from its file.
#include "jtLoop.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using namespace jttest;

TEST_F(JtLoop, EveryProtocolAndShapeComesBackExactly) {
    std::mt19937 rng(2026);
    int hz = 700;
    for (Mode m : {Mode::ft8, Mode::ft4, Mode::js8}) {
        for (int table : {0, 1}) {
            SCOPED_TRACE(std::string(name(m)) + " FreqDevTable " + std::to_string(table));
            configure(m, table, hz);
            radio->setSnr(-10.0, 0.98 * 0.98);
            const Payload p = randomPayload(m, rng);
            const Trip t = sendOnePeriod(m, p);
            ASSERT_FALSE(t.path.empty()) << "no file announced";
            const auto found = std::find_if(t.records.begin(), t.records.end(),
                                            [&](const Record& r) { return r.payload == p; });
            ASSERT_NE(found, t.records.end()) << t.records.size() << " records, none of the payload sent";
            EXPECT_EQ(t.records.size(), 1u);
            EXPECT_NEAR(found->frequency, hz, protocol(m).spacing);
            ASSERT_GE(t.sentAt, 0.0);
            EXPECT_NEAR(found->time - info(m).timeShift, t.sentAt, 0.2);
            hz += 350;
        }
    }
}

TEST_F(JtLoop, AMessageAcrossAPauseOfTheStreamDecodesFromItsPeriodOnTime) {
    // The transceiver hears nothing 5.3 s into the period for 1.1 s: seven
    // of the 79 symbols never come.
    std::mt19937 rng(47);
    configure(Mode::ft8, 0, 1200);
    radio->setSnr(-10.0, 0.98 * 0.98);
    const Payload p = randomPayload(Mode::ft8, rng);
    pauseFrom = 64 * 4096;
    pauseTo = pauseFrom + 13 * 4096;
    const Trip t = sendOnePeriod(Mode::ft8, p);
    ASSERT_FALSE(t.path.empty()) << "no file at the period's end";
    EXPECT_TRUE(std::any_of(t.records.begin(), t.records.end(), [&](const Record& r) { return r.payload == p; }));
}

// The sanitizer builds run a fraction of the trials, against the same
// rates and bounds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int trials = 8;
constexpr int snrTrials = 1;
#else
constexpr int trials = 40;
constexpr int snrTrials = 2;
#endif

/// The SNR the decoder reports for the mode's own frames, recorded through
/// the receive chain (whose filter leaves the recording empty above 3100 Hz)
/// at random frequencies and delays, against the SNR the radio put them at.
TEST_F(JtLoop, ReportedSnrStaysWithin3dBOfTheSnrSent) {
    for (Mode m : {Mode::ft8, Mode::ft4, Mode::js8}) {
        // A level each trial decodes at: FT8 holds to about -18 dB through
        // this chain, JS8 to about -17, FT4 to about -13.
        const double weakest = m == Mode::ft8 ? -17.0 : m == Mode::js8 ? -16.0 : -12.0;
        for (double snr : {weakest, -10.0, 0.0, 10.0}) {
            radio->setSnr(snr, 0.98 * 0.98);
            for (int trial = 0; trial < snrTrials; ++trial) {
                SCOPED_TRACE(std::string(name(m)) + " at " + std::to_string(int(snr)) + " dB, trial " +
                             std::to_string(trial));
                // A trial's draws are its own, whatever the number of trials.
                std::mt19937 rng(unsigned(1000 * info(m).number + 10 * int(-snr + 20) + trial));
                const int hz = 300 + int(rng() % 2400);
                // The Gaussian shape costs about a dB at the weakest level.
                configure(m, snr > weakest ? trial : 0, hz);
                const Payload p = randomPayload(m, rng);
                const Trip t = sendOnePeriod(m, p, rng() % size_t(protocol(m).samplesPerSymbol), rng());
                const auto found = std::find_if(t.records.begin(), t.records.end(),
                                                [&](const Record& r) { return r.payload == p; });
                ASSERT_NE(found, t.records.end()) << "not decoded on " << hz << " Hz, " << t.records.size() << " records";
                std::printf("%s sent %+.0f dB, reported %+.1f dB\n", name(m), snr, found->snr);
                EXPECT_NEAR(found->snr, snr, 3.0);
            }
        }
    }
}

/// Decode rate over seeded trials at one SNR (in 2500 Hz): each trial a
/// random payload on a random frequency, arriving after a random delay of
/// up to a symbol (the decoder sees a frame's start on a grid of half a
/// symbol, and loses most between grid points), counted only when it comes
/// back exactly (payload, frequency within a bin, time within 0.2 s).
struct Sweep {
    Mode mode;
    double snrDb;
    double minRate;
};

// Names the case in listings (ctest shows the parameter otherwise as bytes).
void PrintTo(const Sweep& s, std::ostream* os) { *os << name(s.mode) << " at " << s.snrDb << " dB"; }

class JtRate : public JtLoop, public ::testing::WithParamInterface<Sweep> {
protected:
    /// Decoded trials out of n.
    int run(Mode m, double snrDb, int n, unsigned seed) {
        std::mt19937 rng(seed);
        radio->setSnr(snrDb, 0.98 * 0.98);
        int decoded = 0;
        for (int trial = 0; trial < n; ++trial) {
            const int hz = 400 + int(rng() % 2200);
            configure(m, 0, hz);
            const Payload p = randomPayload(m, rng);
            const size_t delay = rng() % size_t(protocol(m).samplesPerSymbol);
            const Trip t = sendOnePeriod(m, p, delay, rng());
            decoded += std::any_of(t.records.begin(), t.records.end(), [&](const Record& r) {
                return r.payload == p && std::abs(r.frequency - hz) <= protocol(m).spacing &&
                       std::abs(r.time - info(m).timeShift - t.sentAt) <= 0.2;
            });
        }
        return decoded;
    }
};

TEST_P(JtRate, DecodesAtLeastTheRate) {
    const Sweep s = GetParam();
    // Seed 1 for every case. At -18 dB FT8 seeds 1 to 6 gave 31 to 37 of 40
    // (and one other 28): the rate asked for sits below all of them.
    const int decoded = run(s.mode, s.snrDb, trials, 1);
    std::printf("%s at %.0f dB: %d of %d decoded\n", name(s.mode), s.snrDb, decoded, trials);
    EXPECT_GE(decoded, int(std::ceil(s.minRate * trials - 1e-9)));
}

INSTANTIATE_TEST_SUITE_P(Seeded, JtRate,
                         ::testing::Values(Sweep{Mode::ft8, -14, 1.0}, Sweep{Mode::ft8, -18, 0.7},
                                           Sweep{Mode::ft4, -10, 1.0}, Sweep{Mode::js8, -10, 1.0}),
                         [](const auto& info) {
                             return std::string(name(info.param.mode)) + "_minus" +
                                    std::to_string(int(-info.param.snrDb)) + "dB";
                         });

/// Where each protocol falls to half: run by hand with
/// --gtest_also_run_disabled_tests --gtest_filter=*RateAgainstSnr*.
TEST_F(JtRate, DISABLED_RateAgainstSnr) {
    for (Mode m : {Mode::ft8, Mode::ft4, Mode::js8})
        for (int snr = -10; snr >= -24; --snr) {
            const int decoded = run(m, snr, 40, unsigned(1000 - snr));
            std::printf("%s %d dB: %d/40\n", name(m), snr, decoded);
            if (decoded == 0) break;
        }
}

} // namespace

