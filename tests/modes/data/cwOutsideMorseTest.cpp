// CW read from Morse that ebook2cw (an outside keyer, Debian package
// ebook2cw) makes, at 12 to 40 wpm: the audio (a 600 Hz tone, decoded from
// its Ogg file by oggdec of vorbis-tools) is played into the loop-back
// radio as another station's upper sideband would arrive, and a transceiver
// with a receive filter of 500 to 700 Hz reads it. The received speed must
// come within 10 % of the keyed one; the character error rate is reported
// and bounded. The first word is the decoder's to learn the speed on and is
// not counted.
#include "modes/data/cw/cwModDemod.h"
#include "support/editDistance.h"
#include "support/externalTool.h"
#include "support/skipOrFail.h"

#include "modeLoop.h"

#include <cstdio>
#include <fstream>

namespace {

struct Case {
    int wpm;
    double maxRate;
};

class CwOutsideMorse : public ModeLoop, public ::testing::WithParamInterface<Case> {
protected:
    std::shared_ptr<cwModDemod> listener;

    void SetUp() override {
        addTransceivers(0);
        listener = std::make_shared<cwModDemod>(group);
        attach(rx, listener);
        onGroup(rx, [&] { rx->setRxFilter(500, 700); });
        listener->newChars.bind(host::onText<"rx">, listener.get());
    }

    /// ebook2cw's audio of text at wpm, 48000 samples per second; empty (with
    /// the reason in why) when it could not be made.
    static std::vector<float> keyed(const std::string& text, int wpm, std::string& why) {
        tool::ScratchDir dir;
        std::ofstream(dir.file("text.txt")) << text << "\n";
        const tool::Result made = tool::run({"ebook2cw", "-w", std::to_string(wpm), "-f", "600", "-s", "48000", "-O",
                                             "-c", "", "-o", "cw", "text.txt"},
                                            dir.path);
        const tool::Result decoded = tool::run({"oggdec", "-Q", "-R", "-o", "cw.raw", "cw.ogg"}, dir.path);
        std::vector<float> audio = tool::fromPcm16(tool::readFile(dir.file("cw.raw")));
        if (audio.empty()) why = "ebook2cw: " + made.err + " oggdec: " + decoded.err;
        return audio;
    }
};

TEST_P(CwOutsideMorse, SpeedAndText) {
    if (!tool::available("ebook2cw")) VIREO_SKIP_OR_FAIL("ebook2cw is not installed (scripts/deps installs it)");
    if (!tool::available("oggdec")) VIREO_SKIP_OR_FAIL("oggdec is not installed (vorbis-tools; scripts/deps)");
    const Case c = GetParam();
    const std::string text = "vvv cq de vireo the quick brown fox jumps over the lazy dog 0123456789 k";
    const std::string counted = text.substr(text.find(' ') + 1);
    std::string why;
    const std::vector<float> audio = keyed(text, c.wpm, why);
    ASSERT_FALSE(audio.empty()) << why;

    // The tone as the real part of the played signal: its upper half is
    // what the receive filter passes.
    std::vector<NoisyLoopRadio::cplx> signal(audio.size());
    for (size_t i = 0; i < audio.size(); ++i) signal[i] = {audio[i], 0.0f};
    radio->setClean();
    onGroup(radio, [&] { radio->play(std::move(signal)); });
    const double seconds = double(audio.size()) / 48000 + 1;
    ASSERT_TRUE(stepUntil([&] { return radio->playedLeft.load() == 0; }, seconds));
    ASSERT_TRUE(stepFor(1.0)); // the last letter's gap

    const std::string got = host::Log::get().joined("rx");
    const double rate = double(textmatch::bestMatchDistance(counted, got)) / double(counted.size());
    const double wpm = listener->rxwpm.get();
    std::printf("CW from ebook2cw at %d wpm: rxwpm %g, character error rate %.4f\n%s\n", c.wpm, wpm, rate,
                got.c_str());
    EXPECT_NEAR(wpm, c.wpm, 0.1 * c.wpm);
    EXPECT_LE(rate, c.maxRate) << got;
}

INSTANTIATE_TEST_SUITE_P(Speeds, CwOutsideMorse,
                         ::testing::Values(Case{12, 0}, Case{15, 0}, Case{20, 0}, Case{30, 0}, Case{40, 0}),
                         [](const auto& info) { return std::to_string(info.param.wpm) + "wpm"; });

} // namespace
