// RTTY against minimodem (Debian package minimodem), an outside modem, both
// ways, clean and at -5 dB: minimodem's transmission played into the
// loop-back radio is read by this mode; this mode's transmission through
// the loop-back radio, as the listening transceiver plays it, is read by
// minimodem. Both use the standard tones: mark 2170 Hz, space 2000 Hz.
//
// Signal-to-noise ratios are in 2500 Hz, against the power of the signal as
// it reaches the listening transceiver: this mode's 0.95 amplitude; for
// minimodem's audio, played as the real part of the signal, the power of its
// upper half (half the audio's mean square), which is what the listener's
// upper-sideband filter passes. The text mixes letters and figures.
#include "support/editDistance.h"
#include "support/externalTool.h"
#include "support/skipOrFail.h"

#include "rttyLoop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const std::string text = "CQ CQ CQ DE VIREO VIREO RST 599 599 (1/2) 3.5-7.0 MHZ "
                         "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 "
                         "QTH 52.5N 13.4E, WX 21C, PWR 100W, ANT 3-EL YAGI AT 12M? "
                         "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS SPHINX OF BLACK QUARTZ JUDGE MY VOW "
                         "NOW IS THE TIME FOR ALL GOOD MEN TO COME TO THE AID OF THE PARTY 73 SK";

struct Case {
    double snr;        // above 100: clean
    double maxRate;    // character error rate
    double maxOwnRate; // this mode reading its own transmission; negative: reported only
};

class RttyOutsideModem : public RttyLoop, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        RttyLoop::SetUp();
        if (!tool::available("minimodem"))
            VIREO_SKIP_OR_FAIL("minimodem is not installed (scripts/deps installs it)");
    }

    double rateOf(const std::string& got, const char* reading) {
        const double rate = double(textmatch::bestMatchDistance(text, got)) / double(text.size());
        std::string shown = got;
        for (char& ch : shown)
            if (ch < ' ' || ch > '~') ch = '.';
        const double snr = GetParam().snr;
        std::printf("RTTY %s at %+5.1f dB: character error rate %.4f\n%s\n", reading,
                    snr > 100 ? INFINITY : snr, rate, shown.c_str());
        return rate;
    }
};

// minimodem's transmission begins, as RTTY transmissions customarily do,
// with a carriage return and a line feed: it leads with only two mark
// elements, and a receiver that heard nothing at all before (no noise, as
// here when clean) may need a frame or two to find the character timing.
TEST_P(RttyOutsideModem, FromMinimodem) {
    const Case c = GetParam();
    tool::ScratchDir dir;
    const tool::Result made =
        tool::run({"minimodem", "--tx", "rtty", "-M", "2170", "-S", "2000", "-R", "48000", "-f", "tx.wav"}, dir.path,
                  "\r\n" + text);
    const std::vector<float> audio = tool::readWav(dir.file("tx.wav"));
    ASSERT_FALSE(audio.empty()) << made.err;

    std::vector<NoisyLoopRadio::cplx> signal(audio.size());
    double power = 0;
    for (size_t i = 0; i < audio.size(); ++i) {
        signal[i] = {audio[i], 0.0f};
        power += double(audio[i]) * audio[i];
    }
    power /= 2.0 * double(audio.size());
    if (c.snr > 100)
        radio->setClean();
    else
        radio->setSnr(c.snr, power);
    ASSERT_TRUE(stepFor(0.5));
    onGroup(radio, [&] { radio->play(std::move(signal)); });
    ASSERT_TRUE(stepUntil([&] { return radio->playedLeft.load() == 0; }, double(audio.size()) / 48000 + 1));
    ASSERT_TRUE(stepFor(1.0));
    const std::string got = host::Log::get().joined("rx");
    EXPECT_LE(rateOf(got, "from minimodem"), c.maxRate) << got;
    if (c.maxRate == 0) {
        EXPECT_NE(got.find(text), std::string::npos) << got;
    }
}

// The transmission, after half a second of silence (clean) or of noise, is
// read by minimodem and by this mode, each from the first word: the
// receiver was left in whatever shift the silence or the noise decoded to,
// and the idle lead has to bring it to letters before "CQ".
TEST_P(RttyOutsideModem, ToMinimodem) {
    const Case c = GetParam();
    listener->recording = true;
    const std::string own = roundTrip(text, c.snr);
    listener->recording = false;
    const double ownRate = rateOf(own, "to itself");
    if (c.maxOwnRate >= 0) {
        EXPECT_LE(ownRate, c.maxOwnRate) << own;
        EXPECT_NE(own.find(text.substr(0, 17)), std::string::npos) << own;
    }
    std::vector<float> heard = listener->heard();
    ASSERT_FALSE(heard.empty());
    float peak = 0;
    for (float s : heard) peak = std::max(peak, std::abs(s));
    for (float& s : heard) s *= 0.9f / peak;

    tool::ScratchDir dir;
    tool::writeWav(dir.file("rx.wav"), heard, 48000);
    const tool::Result read =
        tool::run({"minimodem", "--rx", "rtty", "-M", "2170", "-S", "2000", "-f", "rx.wav"}, dir.path);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_LE(rateOf(read.out, "to minimodem"), c.maxRate) << read.out;
    if (c.maxRate == 0) {
        EXPECT_NE(read.out.find(text), std::string::npos) << read.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Snr, RttyOutsideModem,
                         ::testing::Values(Case{1000, 0.0, 0.01}, Case{10, 0.0, 0.01}, Case{-5, 0.05, -1}),
                         [](const auto& info) {
                             const double snr = info.param.snr;
                             return snr > 100 ? std::string("clean")
                                              : (snr < 0 ? "minus" : "plus") + std::to_string(int(std::abs(snr))) + "dB";
                         });

} // namespace
