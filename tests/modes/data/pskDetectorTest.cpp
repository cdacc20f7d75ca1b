// The PSK detector on its own: its tables and filters against independent
// computations, every character through the modulator and back, and the
// squelch, limit and AFC behaviour at their edges.
#include "modes/data/psk/CPSKDet.h"
#include "modes/data/psk/pskFilters.h"
#include "modes/data/psk/pskTables.h"

#include "pskSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

namespace {

int codeLength(uint16_t code) {
    int n = 16;
    while (n > 0 && !(code >> (16 - n) & 1u)) --n;
    return n;
}

bool validWord(uint16_t code) {
    const int n = codeLength(code);
    if (n == 0 || !(code & 0x8000u)) return false;
    for (int i = 0; i + 1 < n; ++i)
        if (!(code >> (15 - i) & 1u) && !(code >> (14 - i) & 1u)) return false;
    return true;
}

/// Runs audio through a detector in blocks of 512, as the mode does.
std::string detect(CPSKDet& det, const std::vector<float>& audio, int limit = 10) {
    std::string out;
    char buf[64];
    for (size_t i = 0; i + 512 <= audio.size(); i += 512) {
        const int n = det.ProcPSKDet(audio.data() + i, 512, 1, buf, limit);
        out.append(buf, size_t(n));
    }
    return out;
}

CPSKDet detectorAt(int mode, int hz) {
    CPSKDet det;
    det.setMode(mode);
    det.Init(8000);
    det.SetRXFrequency(hz);
    det.ResetDetector();
    return det;
}

std::string allCharacters() {
    std::string s;
    for (int c = 1; c < 256; ++c) s.push_back(char(c));
    return s;
}

} // namespace

TEST(PskTables, VaricodeExtendsThePublishedHalfByTheRule) {
    const auto& t = psk::VARICODE_TABLE;
    std::set<uint16_t> distinct(t.begin(), t.end());
    EXPECT_EQ(distinct.size(), 256u);
    std::map<int, int> upperLengths;
    for (int c = 0; c < 256; ++c) {
        EXPECT_TRUE(validWord(t[size_t(c)])) << c;
        if (c >= 128) ++upperLengths[codeLength(t[size_t(c)])];
    }
    // Only if the lower half holds all 143 words up to 10 bits but 15 does
    // the rule leave exactly these: a check on the published table too.
    EXPECT_EQ(upperLengths, (std::map<int, int>{{10, 15}, {11, 89}, {12, 24}}));
    for (int c = 128; c < 255; ++c) {
        const int a = codeLength(t[size_t(c)]), b = codeLength(t[size_t(c + 1)]);
        EXPECT_TRUE(a < b || (a == b && t[size_t(c)] < t[size_t(c + 1)])) << c;
    }
    EXPECT_EQ(t[' '], 0x8000);
    EXPECT_EQ(t['e'], 0xC000);
    EXPECT_EQ(t['t'], 0xA000);
}

TEST(PskTables, MorsePatternsAndAngles) {
    EXPECT_EQ(psk::CW_TABLE['A' - 32], 0x6C00);  // .- gap
    EXPECT_EQ(psk::CW_TABLE[' ' - 32], 0xF000);  // two gaps
    EXPECT_EQ(psk::CW_TABLE['*' - 32], 0x566C);  // ...-.- gap
    EXPECT_EQ(psk::CW_TABLE['!' - 32], 0);
    int letters = 0;
    for (auto p : psk::CW_TABLE) letters += p != 0;
    EXPECT_EQ(letters, 26 + 10 + 7 + 1);
    EXPECT_DOUBLE_EQ(psk::ANGLE_TBL2[1] - psk::ANGLE_TBL1[1], 2 * M_PI);
}

TEST(PskFilters, ResponsesMeetTheirPointsWithinHalfADecibel) {
    struct Case {
        const float* taps;
        size_t n;
        double rate, dc;
        double f3, f20, f40;
    };
    const Case cases[] = {
        {psk::decimationTaps.data(), 35, 8000, 1.0, 400, 714, 874},
        {psk::decimationTaps.data(), 35, 2000, 1.0, 100, 178.5, 218.5}, // the second stage
        {psk::frequencyTaps.data(), 65, 500, 1.035, 28.4, 37, 41},
        {psk::bitTaps.data(), 65, 500, 0.854, 18.2, 25.5, 29.4},
    };
    for (const auto& c : cases) {
        auto gain = [&](double f) {
            std::complex<double> h = 0;
            for (size_t k = 0; k < c.n; ++k) h += double(c.taps[k]) * std::polar(1.0, -2 * M_PI * f * double(k) / c.rate);
            return std::abs(h);
        };
        for (size_t k = 0; k < c.n; ++k) EXPECT_EQ(c.taps[k], c.taps[c.n - 1 - k]);
        EXPECT_NEAR(gain(0), c.dc, 1e-4);
        const double dc = gain(0);
        EXPECT_NEAR(20 * std::log10(gain(c.f3) / dc), -3, 0.5) << c.n << " " << c.rate;
        EXPECT_NEAR(20 * std::log10(gain(c.f20) / dc), -20, 0.5) << c.n << " " << c.rate;
        EXPECT_NEAR(20 * std::log10(gain(c.f40) / dc), -40, 0.5) << c.n << " " << c.rate;
        for (double f = c.f40; f < c.rate / 2; f += c.rate / 2000)
            EXPECT_LT(20 * std::log10(gain(f) / dc), -38.0) << f;
    }
}

// Every character 1-255 (0 has no place in the decode table) after the
// preamble, for each rate; QPSK sent with the carrier below zero arrives
// mirrored, the sense in which the detector's QPSK reads it.
TEST(PskDetector, EveryCharacterRoundTripsAtEveryRate) {
    const std::string text = allCharacters();
    for (int mode : {0, 8, 16, 1, 9, 17}) {
        const bool qpsk = mode & 1;
        auto audio = psktest::audio8k(mode, text, qpsk ? -1500.0 : 1500.0, 2.0, 30000.0f);
        CPSKDet det = detectorAt(mode, 1500);
        EXPECT_EQ(detect(det, audio, 10), text) << "mode " << mode;
    }
    // Unmirrored QPSK reads right with the sense turned round.
    auto audio = psktest::audio8k(1, "Sense", 1500.0, 1.0, 30000.0f);
    CPSKDet inverted = detectorAt(2, 1500);
    EXPECT_EQ(detect(inverted, audio), "Sense");
}

// The end of a transmission (a steady carrier) comes after the last
// character has fully gone out, whatever the decoder still holds.
TEST(PskDetector, LastCharacterBeforeTheEndArrives) {
    for (int mode : {0, 1, 17}) {
        auto audio = psktest::audio8k(mode, "last words", -1500.0, 2.0, 30000.0f, true);
        CPSKDet det = detectorAt(mode, 1500);
        EXPECT_EQ(detect(det, audio), "last words") << "mode " << mode;
    }
}

TEST(PskDetector, SteadyCarrierClosesTheSquelchAndPrintsNothing) {
    std::vector<float> audio(8000 * 3);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = float(30000 * std::cos(2 * M_PI * 1500 * double(i) / 8000));
    CPSKDet det = detectorAt(0, 1500);
    EXPECT_EQ(detect(det, audio), "");
    EXPECT_EQ(det.steadyRun(), 21);
    EXPECT_EQ(det.qualityAverage(), 100.0);
    EXPECT_EQ(det.signalQuality(), 0);
    EXPECT_FALSE(det.squelchOpen());
}

TEST(PskDetector, IdleReversalsOpenTheSquelchAndPrintNothing) {
    auto audio = psktest::audio8k(0, "", 1500.0, 3.0, 30000.0f);
    CPSKDet det = detectorAt(0, 1500);
    EXPECT_EQ(detect(det, audio), "");
    EXPECT_EQ(det.reversalRun(), 21);
    EXPECT_EQ(det.qualityAverage(), 25.0);
    EXPECT_EQ(det.signalQuality(), 75);
    EXPECT_TRUE(det.squelchOpen());
}

// Reversals, then a long run of steady symbols, then reversals again: the
// run leaves more bits in the register than the table has index bits. The
// sanitizer build checks the index against the table.
TEST(PskDetector, LongRunsOfOnesStayInsideTheTable) {
    struct Source {
        int n = 0;
        static int get(void* p) {
            int k = static_cast<Source*>(p)->n++;
            return k >= 80 && k < 96 ? CPSKMod::sourceEnd : CPSKMod::sourceIdle;
        }
    } source;
    CPSKMod mod;
    mod.setCharSource(&Source::get, &source);
    mod.InitPSKMod(48000, 0.707);
    mod.setCarrier(1500);
    mod.SetTXMode(0);
    std::vector<float> audio;
    auto iq = psktest::iq(mod, 48000 * 6);
    for (size_t i = 0; i < iq.size(); i += 6) audio.push_back(30000 * iq[i].real());
    CPSKDet det = detectorAt(0, 1500);
    EXPECT_EQ(detect(det, audio), "");
}

TEST(PskDetector, LimitAndSameFrequencyRetune) {
    // 125 baud "e"s: about 31 characters a second, all in one call.
    auto audio = psktest::audio8k(16, std::string(80, 'e'), 1500.0, 0.5, 30000.0f);
    CPSKDet det = detectorAt(16, 1500);
    char out[64];
    std::string first = detect(det, std::vector<float>(audio.begin(), audio.begin() + 4096));
    const int n = det.ProcPSKDet(audio.data() + 4096, 8000, 1, out, 10);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(std::string(out, 10), std::string(10, 'e'));

    // Retuning to where it already is does not restart acquisition.
    CPSKDet quiet = detectorAt(0, 1000);
    std::vector<float> silence(512, 0.0f);
    for (int i = 0; i < 12; ++i) quiet.ProcPSKDet(silence.data(), 512, 1, out, 10);
    EXPECT_FALSE(quiet.acquiring());
    quiet.SetRXFrequency(quiet.frequency());
    quiet.ProcPSKDet(silence.data(), 512, 1, out, 10);
    EXPECT_FALSE(quiet.acquiring());
    quiet.SetRXFrequency(quiet.frequency() + 10);
    quiet.ProcPSKDet(silence.data(), 512, 1, out, 10);
    EXPECT_TRUE(quiet.acquiring());
}

// A signal 10 Hz off is pulled in while the detector acquires after a
// retune. One that then drifts upwards is followed to the edge of the
// +-50 Hz window and no further.
TEST(PskDetector, AfcPullsInAndFollowsWithinItsWindow) {
    {
        auto audio = psktest::audio8k(0, "the quick brown fox jumps over the lazy dog", 1510.0, 1.0, 30000.0f);
        CPSKDet det = detectorAt(0, 1500);
        det.SetRXFrequency(1499); // a retune starts acquisition
        EXPECT_EQ(detect(det, audio), "the quick brown fox jumps over the lazy dog");
        EXPECT_NEAR(det.frequency(), 1510, 1);
    }
    CPSKMod mod;
    psktest::TextSource source{std::string(1000, 'e')};
    psktest::startModulator(mod, source, 0, 1500.0);
    CPSKDet det = detectorAt(0, 1400);
    det.SetRXFrequency(1500);
    char out[16];
    std::string got;
    int highest = 0;
    size_t readWhileFollowing = 0;
    double carrier = 1500;
    for (int call = 0; call < 1800; ++call) { // 115 s, the carrier 1 Hz/s higher
        std::vector<float> audio;
        for (int k = 0; k < 16; ++k) {
            auto iq = psktest::iq(mod, 192);
            for (size_t i = 0; i < iq.size(); i += 6) audio.push_back(30000 * iq[i].real());
            carrier += 1.0 * 192 / 48000;
            mod.setCarrier(carrier);
        }
        got.append(out, size_t(det.ProcPSKDet(audio.data(), 512, 1, out, 10)));
        highest = std::max(highest, det.frequency());
        if (carrier < 1540) {
            EXPECT_NEAR(det.frequency(), carrier, 3) << call; // a lag, not a loss
            readWhileFollowing = got.size();
        }
    }
    // The window was centred within a hertz of 1500 when acquisition ended.
    EXPECT_NEAR(highest, 1550, 1);
    EXPECT_GE(readWhileFollowing, 250u) << got;
}
