#pragma once
// Two transceivers on the noisy loop-back radio, each with a PSK mode: one
// sends, the other listens 3000 Hz above it. The sender's audio carrier at
// +1500 Hz then lies at -1500 Hz in the listener's band, so its audio
// arrives mirrored: the sense in which the detector reads the modulator's
// QPSK (the detector mixes with e^(+j phase), the modulator's "forward" is
// -90 degrees). BPSK does not care.
#include "modes/data/psk/PskModDemod.h"
#include "support/editDistance.h"

#include "modeLoop.h"

#include "pskSignals.h"

#include <algorithm>
#include <string>
#include <vector>

namespace psktest {

using textmatch::editDistance;

/// Mean power of the modulator's signal over a text, for setting the SNR.
inline double meanPower(int mode, const std::string& text) {
    CPSKMod mod;
    TextSource source{text};
    startModulator(mod, source, mode, 1500.0);
    double sum = 0;
    size_t n = 0;
    while (!source.done()) {
        for (auto s : iq(mod, 4800)) sum += std::norm(s);
        n += 4800;
    }
    return sum / double(n);
}

class PskLoop : public ModeLoop {
protected:
    std::shared_ptr<PskModDemod> sender, listener;

    void SetUp() override {
        addTransceivers(3000);
        sender = std::make_shared<PskModDemod>(group);
        listener = std::make_shared<PskModDemod>(group);
        attach(tx, sender);
        attach(rx, listener);
        listener->newChars.bind(host::onText<"rx">, listener.get());
        sender->sentChars.bind(host::onText<"sent">, sender.get());
        radio->atTransmitter = true;
    }

    /// Both sides in one variant.
    void setMode(int m) {
        onGroup(sender, [&] { sender->mode.hostSet(m); });
        onGroup(listener, [&] { listener->mode.hostSet(m); });
    }
};

} // namespace psktest
