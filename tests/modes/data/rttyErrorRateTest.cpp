// RTTY over the noisy loop-back: one transceiver sends, another on the same
// frequency reads (rttyLoop.h), and what the reader prints on standard
// output and sends on newChars is compared with the text.
#include "support/editDistance.h"

#include "rttyLoop.h"

#include <algorithm>
#include <cstdio>

namespace {

const std::string text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG CQ CQ DE VIREO VIREO PSE K "
                         "NOW IS THE TIME FOR ALL GOOD MEN TO COME TO THE AID OF THE PARTY RYRYRYRY "
                         "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS SPHINX OF BLACK QUARTZ JUDGE MY VOW";

// Clean: the text exactly, from its first character although it was queued
// before ptt, figures after spaces included; the transmission ended by "~";
// newChars carries what standard output shows, without its marks and
// scores. Then "1 2" reads back as sent: the sender shifts to figures again
// after the space, which clears a receiver's figures flag.
TEST_F(RttyLoop, CleanMixedTextFromTheFirstCharacter) {
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
    const std::string mixed = "CQ CQ CQ DE VIREO RST 599 599 (1/2) 3.5-7.0 MHZ";
    const std::string got = roundTrip(mixed, 1000);
    onGroup(radio, [&] { radio->tap = nullptr; });
    ASSERT_GT(blocks, 20);
    EXPECT_NEAR(power / double(blocks), 0.95 * 0.95, 0.02);
    EXPECT_NE(got.find(mixed), std::string::npos) << got;
    EXPECT_EQ(host::Log::get().joined("rx"), got);
    EXPECT_EQ(host::Log::get().of("sent").size(), mixed.size() + 2);
    EXPECT_FALSE(tx->ptt.get());

    host::Log::get().clear();
    const std::string figures = roundTrip(" 1 2 ", 1000);
    EXPECT_NE(figures.find(" 1 2 "), std::string::npos) << figures;
    EXPECT_EQ(host::Log::get().joined("rx"), figures);
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
