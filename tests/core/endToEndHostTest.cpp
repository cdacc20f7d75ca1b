// The whole chain as a host sees it: the loop-back test radio, a transmitting
// and a receiving transceiver with host-driven modes, and what comes back
// through getUpdates / getRenderUpdates.
//
// The chain runs on its own clock, behind the host's when the machine is
// busy: audio that reaches the host a moment after a change may still be
// from before it. A tone is therefore measured from where the chain says the
// change took effect (the receiver's answer to a ping, queued behind the
// host's requests, and the tone's own arrival), not after a time of the
// host's. Audio blocks reach the host whole, but the display queue drops
// what the host does not fetch in time, so crossings are counted within
// blocks and never across a gap.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::mutex m;
std::vector<void*> added;
std::vector<std::vector<float>> audio; // the blocks heard, each as it came
std::vector<std::vector<float>> lines;
double lineLow, lineHigh;
std::vector<double> strengths;
std::vector<bool> tuningValid;
double txPhase = 0;

void onAdded(void* v, long long, int, int) {
    std::lock_guard<std::mutex> l(m);
    added.push_back(v);
}
void onAudio(void* a) {
    std::lock_guard<std::mutex> l(m);
    audio.emplace_back(floatArray_data(a), floatArray_data(a) + floatArray_size(a));
    floatArray_delete(a);
}
void onLine(void* line, int, double lo, double hi) {
    std::lock_guard<std::mutex> l(m);
    lines.emplace_back(floatArray_data(line), floatArray_data(line) + floatArray_size(line));
    lineLow = lo;
    lineHigh = hi;
    floatArray_delete(line);
}
void onStrength(double s) { strengths.push_back(s); }
int echoed = 0;
void onEcho(int n) { echoed = n; }
void onValid(bool v) { tuningValid.push_back(v); }
// Transmits a complex tone 1000 Hz above the transmitter's frequency.
void onTxChunk(void* in, void* out) {
    float* iq = complexArray_data(out);
    for (int i = 0; i < complexArray_size(out); ++i) {
        iq[2 * i] = float(0.5 * std::cos(txPhase));
        iq[2 * i + 1] = float(0.5 * std::sin(txPhase));
        txPhase = std::fmod(txPhase + 2 * M_PI * 1000.0 / 48000.0, 2 * M_PI);
    }
    complexArray_delete(in);
    complexArray_delete(out);
}
void onRxChunk(void* block) { complexArray_delete(block); }
void poll() {
    getUpdates();
    getRenderUpdates();
}

size_t samplesIn(const std::vector<std::vector<float>>& blocks) {
    size_t n = 0;
    for (auto& b : blocks) n += b.size();
    return n;
}
float peakOf(const std::vector<float>& block) {
    float p = 0;
    for (float v : block) p = std::max(p, std::fabs(v));
    return p;
}
// Upward zero crossings, counted within each block: whole periods over the
// time they span, each crossing placed between its two samples by linear
// interpolation.
double frequencyOf(const std::vector<std::vector<float>>& blocks) {
    size_t periods = 0;
    double span = 0;
    for (auto& x : blocks) {
        double first = 0, last = 0;
        size_t n = 0;
        for (size_t i = 1; i < x.size(); ++i)
            if (x[i - 1] < 0 && x[i] >= 0) {
                last = double(i - 1) + double(x[i - 1]) / double(x[i - 1] - x[i]);
                if (!n) first = last;
                ++n;
            }
        if (n > 1) {
            periods += n - 1;
            span += last - first;
        }
    }
    return span > 0 ? double(periods) * 48000.0 / span : 0.0;
}
double rmsOf(const std::vector<std::vector<float>>& blocks) {
    double s = 0;
    for (auto& x : blocks)
        for (float v : x) s += double(v) * v;
    const size_t n = samplesIn(blocks);
    return n ? std::sqrt(s / double(n)) : 0.0;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init((::testing::TempDir() + "vireo_e2e_" + std::to_string(getpid()) + ".log").c_str(), 1);
        started = true;
    }
    void SetUp() override {
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio); // adds the first transceiver at 14000000
        Radio_addVtrx(radio, 14000000, 0, 0);
        ASSERT_TRUE(host::pollUntil(poll, [] {
            std::lock_guard<std::mutex> l(m);
            return added.size() == 2;
        }));
        tx = added[0];
        rx = added[1];
        txMode = proxyModDemod_create();
        proxyModDemod_bindgetTxChunk(txMode, onTxChunk);
        vtrx_setModulation(tx, txMode);
        rxMode = proxyModDemod_create();
        proxyModDemod_bindrxChunk(rxMode, onRxChunk);
        vtrx_setModulation(rx, rxMode);
        // A fixed gain of one, so levels pass unchanged.
        vtrx_bindrxagc(rx, host::onObject<"rxagc", agc_release>);
        ASSERT_TRUE(host::pollUntil(poll, [] { return !host::Log::get().of("rxagc").empty(); }));
        void* agc = host::Log::get().of("rxagc")[0].handle;
        agc_setEnabled(agc, false);
        agc_setManualGain(agc, 0.0);
        vtrx_bindnewAudio(rx, onAudio);
        vtrx_bindnewSpectrum(rx, onLine);
        vtrx_bindsignalStrength(rx, onStrength);
        vtrx_bindTuningValid(rx, onValid);
        asyncObject_bindEcho(rx, onEcho);
        vtrx_setSendAudio(rx, true);
        vtrx_setforegroundDisplay(rx, true);
        vtrx_start(rx);
        vtrx_start(tx);
    }
    void TearDown() override {
        vtrx_setptt(tx, false);
        Radio_stop(radio);
        host::pollFor(poll, std::chrono::milliseconds(100));
        for (void* v : added) vtrx_release(v);
        added.clear();
        proxyModDemod_release(txMode);
        proxyModDemod_release(rxMode);
        Radio_release(radio);
        host::pollFor(poll, std::chrono::milliseconds(50));
        host::Log::get().clear();
        std::lock_guard<std::mutex> l(m);
        audio.clear();
        lines.clear();
        strengths.clear();
        tuningValid.clear();
    }
    // Audio and lines received while keyed for `seconds`, after a settling time.
    void listen(double seconds) {
        host::pollFor(poll, std::chrono::milliseconds(300));
        {
            std::lock_guard<std::mutex> l(m);
            audio.clear();
            lines.clear();
        }
        host::pollFor(poll, std::chrono::milliseconds(int(seconds * 1000)));
    }
    // Audio and lines of the keyed tone: `seconds` of audio, taken once every
    // request made so far has reached the receiver, the tone has arrived
    // there (a block at half its amplitude) and 0.3 s of it has passed.
    bool hearTone(double seconds) {
        const int marker = ++pings;
        asyncObject_Ping(rx, marker);
        // The echo comes after every block the receiver handled before the
        // ping; the same poll fetches their audio, which is then dropped.
        if (!host::pollUntil(poll, [&] { return echoed == marker; }, std::chrono::seconds(30))) return false;
        {
            std::lock_guard<std::mutex> l(m);
            audio.clear();
        }
        const size_t settle = 14400;
        if (!host::pollUntil(
                poll,
                [&] {
                    std::lock_guard<std::mutex> l(m);
                    while (!audio.empty() && peakOf(audio.front()) < 0.25f) audio.erase(audio.begin());
                    return samplesIn(audio) >= settle;
                },
                std::chrono::seconds(30)))
            return false;
        {
            std::lock_guard<std::mutex> l(m);
            audio.clear();
            lines.clear();
        }
        const size_t wanted = size_t(seconds * 48000);
        return host::pollUntil(
            poll,
            [&] {
                std::lock_guard<std::mutex> l(m);
                return samplesIn(audio) >= wanted;
            },
            std::chrono::seconds(30));
    }
    void* radio = nullptr;
    void *tx = nullptr, *rx = nullptr, *txMode = nullptr, *rxMode = nullptr;
    int pings = 0;
};

} // namespace

TEST_F(EndToEnd, IdleReceiverSendsFloorLinesAndMeters) {
    listen(0.8);
    std::lock_guard<std::mutex> l(m);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].size(), 2048u);
    EXPECT_NEAR(lineHigh - lineLow, 48000.0, 1.0);
    // Silence in, silence out; the meter reads the all-zero value.
    EXPECT_LT(rmsOf(audio), 1e-6);
    ASSERT_FALSE(strengths.empty());
    EXPECT_LT(strengths.back(), -1000.0);
    for (bool v : tuningValid) EXPECT_TRUE(v);
}

TEST_F(EndToEnd, KeyedToneLandsOnItsBinAndSoundsAtItsOffset) {
    vtrx_setvfo(rx, 14000500); // the tone at 14001000 sounds at 500 Hz
    vtrx_setptt(tx, true);
    ASSERT_TRUE(hearTone(1.0));
    std::lock_guard<std::mutex> l(m);
    ASSERT_GT(samplesIn(audio), 24000u);
    std::printf("Keyed tone heard at %.2f Hz, rms %.4f, over %zu blocks\n", frequencyOf(audio), rmsOf(audio),
                audio.size());
    EXPECT_NEAR(frequencyOf(audio), 500.0, 3.0);
    EXPECT_NEAR(rmsOf(audio), 0.5 / std::sqrt(2.0), 0.05);
    ASSERT_FALSE(lines.empty());
    auto& line = lines.back();
    size_t peak = size_t(std::max_element(line.begin(), line.end()) - line.begin());
    double expected = (14001000.0 - lineLow) / (lineHigh - lineLow) * 2048.0;
    EXPECT_NEAR(double(peak), expected, 2.0);
    EXPECT_GT(strengths.back(), -20.0);
}

TEST_F(EndToEnd, RetuningMovesTheTone) {
    vtrx_setptt(tx, true);
    vtrx_setvfo(rx, 14000000);
    ASSERT_TRUE(hearTone(0.6));
    {
        std::lock_guard<std::mutex> l(m);
        std::printf("Tone heard at %.2f Hz before retuning\n", frequencyOf(audio));
        EXPECT_NEAR(frequencyOf(audio), 1000.0, 4.0);
    }
    vtrx_setvfo(rx, 14001800);
    ASSERT_TRUE(hearTone(0.6));
    std::lock_guard<std::mutex> l(m);
    // 1000 - 1800: the tone is 800 Hz below the vfo; its real part sounds at 800 Hz.
    std::printf("Tone heard at %.2f Hz after retuning\n", frequencyOf(audio));
    EXPECT_NEAR(frequencyOf(audio), 800.0, 4.0);
}

TEST_F(EndToEnd, TuningOutOfTheBandGivesSilenceAndAnInvalidFlag) {
    vtrx_setptt(tx, true);
    vtrx_setvfo(rx, 14100000); // the receiver stays with the transmitter
    listen(0.8);
    std::lock_guard<std::mutex> l(m);
    EXPECT_LT(rmsOf(audio), 1e-6);
    ASSERT_FALSE(tuningValid.empty());
    EXPECT_FALSE(tuningValid.back());
}
