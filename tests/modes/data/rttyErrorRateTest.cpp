// RTTY over the noisy loop-back: one transceiver sends, another on the same
// frequency reads, and what the reader prints on standard output is
// compared with the text.
//
// The transmitter puts mark above space (+2170 / +2000 Hz), the receiver
// mark below space (rxFreq, space 170 Hz above). No tuning reconciles the
// two, so the loop mirrors the spectrum as swapped I and Q would
// (conjugated blocks: the tones arrive at -2170 / -2000 Hz) and the reader
// listens with rxFreq -2170.
#include "modes/data/rtty/RTTYModDemod.h"
#include "support/editDistance.h"
#include "support/stdoutCapture.h"

#include "modeLoop.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace {

/// The printed text without the phase-jump marks ("#n") and the score
/// lines (six numbers, the last followed by three blanks).
std::string letters(const std::string& printed) {
    // A decoded letter may stand right before a score: numbers only.
    static const std::regex scores("(-?[0-9]+(\\.[0-9]+)?(e[-+][0-9]+)? ){5}-?[0-9]+(\\.[0-9]+)?(e[-+][0-9]+)?   ");
    static const std::regex jumps("#[0-9]+");
    return std::regex_replace(std::regex_replace(printed, scores, ""), jumps, "");
}

class RttyLoop : public ModeLoop {
protected:
    std::shared_ptr<RTTYModDemod> sender, listener;

    void SetUp() override {
        addTransceivers(0);
        sender = std::make_shared<RTTYModDemod>(group);
        listener = std::make_shared<RTTYModDemod>(group);
        attach(tx, sender, false);
        attach(rx, listener);
        onGroup(listener, [&] { listener->rxFreq.hostSet(-2170); });
        sender->sentChars.bind(host::onText<"sent">, sender.get());
        radio->conjugate = true;
    }

    /// Sends text after a second of idle frames and returns what the reader
    /// printed meanwhile, marks and scores taken out. A blank and "~" end
    /// the text: "~" releases ptt as the character before it has been
    /// keyed, and the transceiver's fade-out then shortens that
    /// character's stop element.
    std::string roundTrip(const std::string& text, double snr) {
        if (snr > 100)
            radio->setClean();
        else
            radio->setSnr(snr, 0.95 * 0.95);
        StdoutCapture out;
        EXPECT_TRUE(stepFor(0.5)); // noise alone first
        setPtt(true);
        EXPECT_TRUE(stepFor(1.0));
        onGroup(sender, [&] { sender->QueueText(text + " ~", int(sender->sentCount())); });
        const double seconds = double(text.size() + 10) * 7920 / 48000;
        EXPECT_TRUE(stepUntil([&] { return !tx->ptt.get(); }, seconds));
        EXPECT_TRUE(stepFor(1.0)); // the last characters through the detectors
        return letters(out.stop());
    }
};

const std::string text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG CQ CQ DE VIREO VIREO PSE K "
                         "NOW IS THE TIME FOR ALL GOOD MEN TO COME TO THE AID OF THE PARTY RYRYRYRY "
                         "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS SPHINX OF BLACK QUARTZ JUDGE MY VOW";

// Clean: the text exactly, the transmission ended by "~"; then "1 2" reads
// back as "1 W": the receiver's space clears its figures flag while the
// sender, whose space needs no shift, stays in figures.
TEST_F(RttyLoop, CleanTextAndFiguresAfterASpace) {
    // The power the noise is set against: the sender's 0.95 through the
    // transceiver's transmit chain, measured on whole keyed blocks.
    double power = 0;
    long blocks = 0;
    radio->tap = [&](const buff<NoisyLoopRadio::cplx>& sent, const buff<NoisyLoopRadio::cplx>&) {
        double p = 0, least = 1;
        for (auto s : sent) {
            p += std::norm(s);
            least = std::min(least, double(std::abs(s)));
        }
        if (least < 0.5) return; // a fade or silence
        power += p / double(sent.count);
        ++blocks;
    };
    const std::string got = roundTrip(text, 1000);
    onGroup(radio, [&] { radio->tap = nullptr; });
    ASSERT_GT(blocks, 100);
    EXPECT_NEAR(power / double(blocks), 0.95 * 0.95, 0.02);
    EXPECT_NE(got.find(text), std::string::npos) << got;
    EXPECT_EQ(host::Log::get().of("sent").size(), text.size() + 2);
    EXPECT_FALSE(tx->ptt.get());

    const std::string figures = roundTrip(" 1 2 ", 1000);
    EXPECT_NE(figures.find(" 1 W "), std::string::npos) << figures;
}

struct Case {
    double snr;
    double maxRate; // negative: measured and reported only
};

class RttyErrorRate : public RttyLoop, public ::testing::WithParamInterface<Case> {};

TEST_P(RttyErrorRate, LettersOnly) {
    const Case c = GetParam();
    const std::string got = roundTrip(text, c.snr);
    const double rate = double(textmatch::bestMatchDistance(text, got)) / double(text.size());
    std::string shown = got;
    for (char& ch : shown)
        if (ch < ' ' || ch > '~') ch = '.';
    std::printf("RTTY at %+5.1f dB: character error rate %.4f\n%s\n", c.snr, rate, shown.c_str());
    if (c.maxRate >= 0) {
        EXPECT_LE(rate, c.maxRate) << got;
    }
}

INSTANTIATE_TEST_SUITE_P(Snr, RttyErrorRate,
                         ::testing::Values(Case{10, 0.01}, Case{0, 0.01}, Case{-5, -1}, Case{-10, -1}),
                         [](const auto& info) {
                             const int snr = int(info.param.snr);
                             return (snr < 0 ? std::string("minus") : std::string("plus")) +
                                    std::to_string(std::abs(snr)) + "dB";
                         });

} // namespace
