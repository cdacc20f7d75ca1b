// Character error rates of every PSK variant over the noisy loop-back: 300
// characters, the high codes among them, sent by one transceiver and read by
// another's primary channel, at several signal-to-noise ratios (in 2500 Hz).
#include "pskLoop.h"

#include <cstdio>

namespace {

using psktest::PskLoop;

std::string sweepText() {
    std::string s =
        "cq cq de vireo: the quick brown fox jumps over the lazy dog 0123456789. "
        "pack my box with five dozen liquor jugs, how vexingly quick daft zebras jump! "
        "sphinx of black quartz, judge my vow; ";
    const unsigned char high[] = {0x80, 0xA3, 0xFD, 0xFE, 0xFF};
    for (unsigned char c : high) s.push_back(char(c));
    s += " THE FIVE BOXING WIZARDS JUMP QUICKLY ";
    while (s.size() < 300) s += "e";
    return s.substr(0, 300);
}

struct Case {
    int mode;
    double snr;
    double maxRate; // negative: measured and reported only
};

class PskErrorRate : public PskLoop, public ::testing::WithParamInterface<Case> {};

TEST_P(PskErrorRate, ThreeHundredCharacters) {
    const Case c = GetParam();
    const std::string text = sweepText();
    setMode(c.mode);
    radio->setSnr(c.snr, psktest::meanPower(c.mode, text));
    ASSERT_TRUE(stepFor(0.5)); // noise alone first
    host::Log::get().forget("rx");

    onGroup(sender, [&] { sender->QueueText(text, 0); });
    setPtt(true);
    ASSERT_TRUE(stepUntil([&] { return sender->sentCount() == long(text.size()); }, 200));
    // What is in flight: the last character and, for QPSK, the decoder's
    // delay of 20 symbols, at 31.25 baud.
    ASSERT_TRUE(stepFor(c.mode & 1 ? 1.5 : 0.8));
    const std::string got = psktest::joined("rx");
    const double rate = double(psktest::editDistance(text, got)) / double(text.size());
    std::printf("mode %2d at %+5.1f dB: character error rate %.4f\n", c.mode, c.snr, rate);
    if (c.maxRate >= 0) {
        EXPECT_LE(rate, c.maxRate) << got;
        EXPECT_EQ(psktest::joined("sent"), text);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, PskErrorRate,
                         ::testing::Values(Case{0, 10, 0.01}, Case{8, 10, 0.01}, Case{16, 10, 0.01},
                                           Case{1, 10, 0.01}, Case{9, 10, 0.01}, Case{17, 10, 0.01},
                                           Case{0, 0, 0.01}, Case{8, 0, 0.01}, Case{16, 0, 0.01},
                                           Case{1, 0, 0.01}, Case{9, 0, 0.01}, Case{17, 0, -1},
                                           Case{0, -10, -1}),
                         [](const auto& info) {
                             const Case& c = info.param;
                             return "mode" + std::to_string(c.mode) + "_" + (c.snr < 0 ? "minus" : "plus") +
                                    std::to_string(int(std::abs(c.snr))) + "dB";
                         });

} // namespace
