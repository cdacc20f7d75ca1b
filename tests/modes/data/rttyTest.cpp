// The RTTY mode from the inside: the alphabet and its reverse table, the
// transmitter's frames read back from its tones, the end of a transmission,
// and the receiver's empty block and detector trace.
#include "modes/data/rtty/ITA2.h"
#include "modes/data/rtty/RTTYModDemod.h"
#include "modes/data/rtty/rttyReceiver.h"
#include "modes/data/rtty/rttyTransmitter.h"

#include "core/drainTasks.h"
#include "core/testRadio.h"
#include "core/vtrx.h"
#include "framework/hostArrays.h"
#include "framework/objectFixture.h"
#include "support/hostHarness.h"
#include "textModeRig.h"
#include "support/logCapture.h"
#include "support/stdoutCapture.h"

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using cplx = std::complex<float>;

constexpr int element = 1056;
constexpr int frameLength = 6 * element + 1584; // start, five code elements, 1.5 stop

/// Mark (true) or space from the mean phase step over the middle of the
/// element starting at `at`.
bool markAt(const std::vector<cplx>& s, size_t at, size_t length) {
    std::complex<double> sum{};
    for (size_t i = at + length / 4; i < at + 3 * length / 4; ++i)
        sum += std::complex<double>(s[i]) * std::conj(std::complex<double>(s[i - 1]));
    const double hz = std::arg(sum) * 48000.0 / (2 * std::numbers::pi);
    EXPECT_TRUE(std::abs(hz - 2170) < 5 || std::abs(hz - 2000) < 5) << hz;
    return hz > 2085;
}

/// The 5-bit codes of every whole frame in s, read from its tones: each
/// frame a space start element and a mark stop element.
std::vector<int> framesOf(const std::vector<cplx>& s) {
    std::vector<int> codes;
    for (size_t at = 0; at + frameLength <= s.size(); at += frameLength) {
        EXPECT_FALSE(markAt(s, at, element)) << "start element at " << at;
        int code = 0;
        for (int b = 0; b < 5; ++b)
            if (markAt(s, at + size_t(element * (1 + b)), element)) code |= 1 << b;
        EXPECT_TRUE(markAt(s, at + 6 * element, 1584)) << "stop element at " << at;
        codes.push_back(code);
    }
    return codes;
}


class RttyMode : public TextModeRig<RTTYModDemod> {
protected:
    std::vector<cplx> sent;

    void queue(std::string text, int base) {
        onGroup(mode, [&] { mode->QueueText(text, base); });
    }
    /// n whole frames of transmit signal, appended to `sent`; their codes.
    std::vector<int> send(int frames) {
        const size_t from = sent.size();
        for (int i = 0; i < frames; ++i) {
            buff<cplx> out(frameLength), mic(frameLength);
            onGroup(v, [&] { mode->modulate(mic, out); });
            for (auto x : out) {
                EXPECT_NEAR(std::abs(x), 0.95f, 1e-3f);
                sent.push_back(x);
            }
        }
        poll();
        return framesOf(std::vector<cplx>(sent.begin() + long(from), sent.end()));
    }
};

} // namespace

TEST(RttyTables, AlphabetAndReverseTable) {
    using rtty::ITA2;
    for (int shift : {0, 32}) {
        EXPECT_EQ(ITA2[size_t(shift + 0)], 0x00);
        EXPECT_EQ(ITA2[size_t(shift + 2)], '\n');
        EXPECT_EQ(ITA2[size_t(shift + 4)], ' ');
        EXPECT_EQ(ITA2[size_t(shift + 8)], '\r');
        EXPECT_EQ(ITA2[size_t(shift + 27)], 0x0E);
        EXPECT_EQ(ITA2[size_t(shift + 31)], 0x0F);
    }
    // Figures D, J, F, G, H; their letters for the positions.
    EXPECT_EQ(ITA2[9], 'D');
    EXPECT_EQ(ITA2[32 + 9], 0x05);
    EXPECT_EQ(ITA2[11], 'J');
    EXPECT_EQ(ITA2[32 + 11], 0x07);
    EXPECT_EQ(ITA2[13], 'F');
    EXPECT_EQ(ITA2[32 + 13], '!');
    EXPECT_EQ(ITA2[26], 'G');
    EXPECT_EQ(ITA2[32 + 26], '&');
    EXPECT_EQ(ITA2[20], 'H');
    EXPECT_EQ(ITA2[32 + 20], 0xA3);

    const auto& t = rtty::ITA2Table();
    EXPECT_EQ(t, rtty::buildTables());
    // Frames: start 0, code least significant first, stop 1.
    EXPECT_EQ(rtty::frameOf(t['A']), 0b1000110u); // code 3
    EXPECT_EQ(t['A'], t['a']);
    EXPECT_EQ(t['Z'], t['z']);
    EXPECT_EQ(t['A'] & 3, 0u);                    // letters shift
    EXPECT_EQ(t['1'], 0x100u | 23u << 3 | 1u);    // figures shift
    EXPECT_EQ(t[0xA3], 0x100u | 20u << 3 | 1u);   // the pound sign, not a negative index
    EXPECT_EQ(t[' '], 0x100u | 4u << 3 | 2u);     // both shifts
    EXPECT_EQ(t[0x0F], 0x100u | 31u << 3 | 2u);   // letters shift itself
    for (int c : {int('%'), 0xC3, 0xFF, int('\t'), int('*')}) EXPECT_EQ(t[size_t(c)], 0x102u) << c;
    int letters = 0;
    for (int c = 'A'; c <= 'Z'; ++c) letters += t[size_t(c)] == t[size_t(c + 32)];
    EXPECT_EQ(letters, 26);

    EXPECT_EQ(rtty::circularDistance(2, 58, 60), 4);
    EXPECT_EQ(rtty::circularDistance(0, 30, 60), 30);
    EXPECT_EQ(rtty::circularDistance(10, 41, 60), 29);
}

// Idle letters-shift frames without pause; a figures character after the
// shift frame; space needing no shift, but leaving receivers in either
// shift, so that the figure after it sends its shift again; idle frames
// putting receivers in letters; case; codes outside the alphabet; "~"
// ending the transmission.
TEST_F(RttyMode, FramesAndShifts) {
    EXPECT_EQ(send(3), (std::vector<int>{31, 31, 31}));

    queue("1 2", 0);
    EXPECT_EQ(send(6), (std::vector<int>{27, 23, 4, 27, 19, 31}));
    queue("3", 3);
    EXPECT_EQ(send(2), (std::vector<int>{27, 1})); // the idle frame went back to letters

    queue("aA%\xA3\xC3", 4);
    EXPECT_EQ(send(8), (std::vector<int>{31, 3, 3, 0, 27, 20, 0, 31}));
    EXPECT_EQ(host::Log::get().joined("sent"), "1 23aA%\xA3\xC3");

    v->ptt.set(true, false);
    queue("E~", mode->sentCount());
    EXPECT_EQ(send(3), (std::vector<int>{1, 31, 31})); // in letters since the idle frame
    EXPECT_FALSE(v->ptt.get());
    EXPECT_EQ(host::Log::get().of("ptt").back().args[0], "false");
    EXPECT_EQ(mode->sentCount(), 11);
    EXPECT_EQ(host::Log::get().joined("sent"), "1 23aA%\xA3\xC3" "E~");
    EXPECT_EQ(send(2), (std::vector<int>{31, 31}));

    // What is queued after the end mark waits for the next transmission,
    // which starts with its idle frames.
    queue("XYZ", 11);
    EXPECT_EQ(send(1), (std::vector<int>{31}));
    onGroup(v, [&] {
        v->rampUpPending = false;
        mode->pttChanged(true);
    });
    EXPECT_EQ(send(4), (std::vector<int>(4, 31)));

    // The same text with its base: only what is not sent yet; a base that
    // skips part of it.
    queue("XYZ", 11);
    queue("XYZ", 11);
    EXPECT_EQ(send(3), (std::vector<int>{29, 21, 17}));
    queue("ABCDEF", 14 - 3);
    EXPECT_EQ(send(3), (std::vector<int>{9, 1, 13}));

    // A text past the queue's room is cut and the cut logged.
    LogCapture log;
    queue(std::string(1030, 'T'), mode->sentCount());
    EXPECT_TRUE(log.contains("error|RTTYModDemod.QueueText() 7 characters past the first 1023 unsent dropped"));
    queue("Q", mode->sentCount() + 1);
    EXPECT_TRUE(log.contains("error|RTTYModDemod.QueueText() nothing queued: start 18 with 17 characters sent and a "
                             "text of 1"));
    EXPECT_EQ(send(1), (std::vector<int>{16})); // the T still waiting

    // A letter after a space sent in figures goes with its shift too, for a
    // receiver that keeps figures over a space; a queued shift character
    // counts like a shift frame.
    queue("1 A\x0E" "2", mode->sentCount());
    EXPECT_EQ(send(7), (std::vector<int>{27, 23, 4, 31, 3, 27, 19}));

    // A transmission starts with idle frames until four whole frames have
    // gone out after the transceiver's lead silence and rise, whatever was
    // queued before it: five frames for a lead within one frame, six for
    // one just over.
    for (int lead : {768 + 512, 7920}) {
        queue("E", mode->sentCount());
        onGroup(v, [&] {
            v->rampUpPending = true;
            v->rampUpLeft = lead;
            mode->pttChanged(true);
        });
        std::vector<int> expected(size_t(lead / 7920 + 5), 31);
        expected.push_back(1);
        EXPECT_EQ(send(int(expected.size())), expected) << lead;
    }
}

// The receiver on the transmitter's signal, started at every phase of the
// character period (132 samples apart) after half a second of silence, or
// of white noise 10 dB below the signal in 2500 Hz that goes on under the
// text: the text exactly, from its first word. With noise, frames ending
// where the receiver decides a character would be read twice or lost.
TEST(RttyReceiver, ReadsTheTransmitterAtEveryPhase) {
    const std::string text = "CQ CQ CQ DE VIREO 599 THE QUICK BROWN FOX 73";
    rtty::rttyTransmitter tx;
    tx.begin(0);
    size_t taken = 0;
    buff<cplx> sent((2 * text.size() + 8) * frameLength);
    tx.modulate(sent, [&] { return taken < text.size() ? int(text[taken++]) : 0; });
    for (int phase = 0; phase < 60; ++phase) {
        const size_t lead = size_t(24000 + 132 * phase);
        buff<cplx> signal(lead + sent.count, cplx{});
        std::copy(sent.begin(), sent.end(), signal.begin() + long(lead));
        if (phase % 2) {
            std::mt19937 rng{unsigned(phase)};
            std::normal_distribution<float> noise(0, float(0.95 * std::sqrt(0.1 * 48000 / 2500 / 2)));
            for (auto& x : signal) x += cplx(noise(rng), noise(rng));
        }
        rtty::rttyReceiver rx;
        std::string printed, decoded;
        std::vector<buff<float>> traces;
        for (size_t at = 0; at + 512 <= signal.count; at += 512)
            rx.process(buff<cplx>(signal, at, 512), 2000, printed, decoded, traces);
        EXPECT_NE(decoded.find(text), std::string::npos) << phase << ": " << decoded;
    }
}

// Mode-level receive: an empty block gives empty audio; a block is played as
// it came; the trace reaches a bound newDebug as one array of 1024 values
// per 1024 × 256 input samples, |space| - |mark| of the detectors.
TEST_F(RttyMode, ReceiveAudioAndTrace) {
    EXPECT_EQ(mode->demodulate(buff<cplx>()).count, 0u);

    static std::vector<std::vector<float>> traces;
    traces.clear();
    mode->newDebug.bind(
        [](void* array, int i, double a, double b) {
            EXPECT_EQ(i, 0);
            EXPECT_EQ(a, 0.0);
            EXPECT_EQ(b, 0.0);
            auto* f = static_cast<buff<float>*>(array);
            traces.emplace_back(f->data, f->data + f->count);
            delete f;
        },
        mode.get());
    // A steady tone at rxFreq 1000: the space detector's.
    onGroup(mode, [&] { mode->rxFreq.hostSet(1000); });
    const size_t n = 1024 * 256;
    buff<cplx> tone(n);
    for (size_t i = 0; i < n; ++i) tone[i] = std::polar(0.5f, float(2 * std::numbers::pi * 1000 * double(i) / 48000));
    StdoutCapture printed; // what the receiver reads in a steady tone
    buff<float> audio = mode->demodulate(tone);
    printed.stop();
    ASSERT_EQ(audio.count, n);
    for (size_t i = 0; i < n; i += 997) ASSERT_EQ(audio[i], tone[i].real());
    poll();
    ASSERT_EQ(traces.size(), 1u);
    ASSERT_EQ(traces[0].size(), 1024u);
    EXPECT_EQ(traces[0][0], 0.0f); // first sample: both sums hold it alone
    // A full window: the space sum adds up, the mark sum of a tone 170 Hz
    // off turns 3.74 times round.
    const double off = std::numbers::pi * 170 / 6000;
    const double expected = 0.5 * 132 - 0.5 * std::abs(std::sin(132 * off) / std::sin(off));
    for (size_t k = 5; k < 1024; ++k) ASSERT_NEAR(traces[0][k], expected, 0.05) << k;
}
