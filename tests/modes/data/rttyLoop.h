#pragma once
// Two RTTY modes on the noisy loop-back radio: `sender` keys `tx`, and
// `listener` reads on `rx`, tuned to the same frequency, with rxFreq 2000
// (the sender's tones arrive at +2000 and +2170 Hz) behind an upper-sideband
// receive filter of 300 to 3000 Hz. The listener's newChars are logged as
// "rx"; its receive audio, what its transceiver plays and an outside decoder
// would hear, is kept while `recording` is set.
#include "modes/data/rtty/RTTYModDemod.h"
#include "support/stdoutCapture.h"

#include "modeLoop.h"

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

/// The mode, keeping the receive audio it returns.
class ListeningRtty : public RTTYModDemod {
public:
    using RTTYModDemod::RTTYModDemod;

    std::atomic<bool> recording{false};

    buff<float> demodulate(buff<std::complex<float>> block) override {
        buff<float> audio = RTTYModDemod::demodulate(block);
        if (recording.load()) {
            std::lock_guard<std::mutex> l(lock_);
            heard_.insert(heard_.end(), audio.begin(), audio.end());
        }
        return audio;
    }
    std::vector<float> heard() {
        std::lock_guard<std::mutex> l(lock_);
        return heard_;
    }

private:
    std::mutex lock_;
    std::vector<float> heard_;
};

/// Printed text without the phase-jump marks ("#n"), the score lines (six
/// numbers, the last followed by three blanks) and the null characters that
/// silence decodes to.
inline std::string lettersOf(const std::string& printed) {
    // A decoded letter may stand right before a score: numbers only.
    static const std::regex scores("(-?[0-9]+(\\.[0-9]+)?(e[-+][0-9]+)? ){5}-?[0-9]+(\\.[0-9]+)?(e[-+][0-9]+)?   ");
    static const std::regex jumps("#[0-9]+");
    std::string text = std::regex_replace(std::regex_replace(printed, scores, ""), jumps, "");
    std::erase(text, '\0');
    return text;
}

class RttyLoop : public ModeLoop {
protected:
    static constexpr int rxFreq = 2000;
    std::shared_ptr<RTTYModDemod> sender;
    std::shared_ptr<ListeningRtty> listener;

    void SetUp() override {
        addTransceivers(0);
        sender = std::make_shared<RTTYModDemod>(group);
        listener = std::make_shared<ListeningRtty>(group);
        attach(tx, sender, false);
        attach(rx, listener);
        onGroup(listener, [&] { listener->rxFreq.hostSet(rxFreq); });
        onGroup(rx, [&] { rx->setRxFilter(300, 3000); });
        sender->sentChars.bind(host::onText<"sent">, sender.get());
        listener->newChars.bind(host::onText<"rx">, listener.get());
    }

    /// Sets the noise for the sender's signal (its 0.95 amplitude through
    /// the transmit chain) at snr dB in 2500 Hz; above 100, none.
    void noiseFor(double snr) {
        if (snr > 100)
            radio->setClean();
        else
            radio->setSnr(snr, 0.95 * 0.95);
    }

    /// Half a second of noise, then text queued as the host queues it,
    /// before ptt, and sent; " ~" ends it ("~" releases ptt as the character
    /// before it has been keyed, and the transceiver's fade-out then
    /// shortens that character's stop element). Returns what the listener
    /// printed meanwhile, marks and scores taken out; the same text is
    /// logged as "rx".
    std::string roundTrip(const std::string& text, double snr) {
        noiseFor(snr);
        StdoutCapture out;
        EXPECT_TRUE(stepFor(0.5));
        onGroup(sender, [&] { sender->QueueText(text + " ~", int(sender->sentCount())); });
        setPtt(true);
        // At most: every character after its shift frame, and the lead.
        const double seconds = double(2 * text.size() + 10) * 7920 / 48000;
        EXPECT_TRUE(stepUntil([&] { return !tx->ptt.get(); }, seconds));
        EXPECT_TRUE(stepFor(1.0)); // the last characters through the detectors
        return lettersOf(out.stop());
    }
};
