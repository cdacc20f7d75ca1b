// Character error rates of CW over the noisy loop-back: 100 characters at
// 20 wpm keyed by one transceiver and read by another on the same frequency
// through a receive filter of +-100 Hz, at several signal-to-noise ratios
// in 2500 Hz (signal power: the key-down carrier). The first word is the
// decoder's to learn the speed on and is not counted.
#include "modes/data/cw/cwModDemod.h"
#include "support/editDistance.h"

#include "modeLoop.h"

#include <cstdio>

namespace {

struct Case {
    double snr;
    double maxRate; // negative: measured and reported only
};

class CwErrorRate : public ModeLoop, public ::testing::WithParamInterface<Case> {
protected:
    std::shared_ptr<cwModDemod> sender, listener;

    void SetUp() override {
        addTransceivers(0);
        sender = std::make_shared<cwModDemod>(group);
        listener = std::make_shared<cwModDemod>(group);
        attach(tx, sender, false);
        attach(rx, listener);
        onGroup(rx, [&] { rx->setRxFilter(-100, 100); });
        listener->newChars.bind(host::onText<"rx">, listener.get());
    }
};


TEST_P(CwErrorRate, HundredCharacters) {
    const Case c = GetParam();
    const std::string text =
        "vvv cq de vireo the quick brown fox jumps over the lazy dog 0123456789 pack my box with five dozen k";
    ASSERT_EQ(text.size(), 100u);
    const std::string counted = text.substr(text.find(' ') + 1);
    if (c.snr > 100)
        radio->setClean();
    else
        radio->setSnr(c.snr, 0.95 * 0.95);
    ASSERT_TRUE(stepFor(0.5)); // noise alone first

    onGroup(sender, [&] { sender->QueueText(text, 0); });
    ASSERT_TRUE(stepUntil([&] { return sender->sentCount() == long(text.size()) && !tx->ptt.get(); }, 120));
    ASSERT_TRUE(stepFor(1.0)); // the last letter's gap
    const std::string got = host::Log::get().joined("rx");
    const double rate = double(textmatch::bestMatchDistance(counted, got)) / double(counted.size());
    std::printf("CW at %+5.1f dB: character error rate %.4f, rxwpm %g\n", c.snr > 100 ? INFINITY : c.snr, rate,
                listener->rxwpm.get());
    std::printf("%s\n", got.c_str());
    if (c.maxRate >= 0) {
        EXPECT_LE(rate, c.maxRate) << got;
        // Ten of its nineteen words start with a dash, right after a word gap.
        EXPECT_NEAR(listener->rxwpm.get(), 20.0, 2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Snr, CwErrorRate,
                         ::testing::Values(Case{1000, 0.0}, Case{10, 0.02}, Case{0, -1}),
                         [](const auto& info) {
                             const double snr = info.param.snr;
                             return snr > 100 ? std::string("clean")
                                              : std::string("plus") + std::to_string(int(snr)) + "dB";
                         });

} // namespace
