#pragma once
// Two transceivers on the noisy loop-back radio, each with a PSK mode: one
// sends, the other listens 3000 Hz above it. The sender's audio carrier at
// +1500 Hz then lies at -1500 Hz in the listener's band, so its audio
// arrives mirrored: the sense in which the detector reads the modulator's
// QPSK (the detector mixes with e^(+j phase), the modulator's "forward" is
// -90 degrees). BPSK does not care.
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "modes/data/psk/PskModDemod.h"
#include "support/hostHarness.h"
#include "support/noisyLoopRadio.h"

#include "pskSignals.h"

#include <algorithm>
#include <string>
#include <vector>

namespace psktest {

/// Levenshtein distance: characters lost, added or changed.
inline size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

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

class PskLoop : public ObjectTest {
protected:
    static constexpr long long centre = 14000000;
    static constexpr size_t stepLength = 4096; // samples per step: fewer hand-overs
    std::shared_ptr<NoisyLoopRadio> radio = std::make_shared<NoisyLoopRadio>(group, 48000, centre, 7);
    std::shared_ptr<vtrx> tx, rx;
    std::shared_ptr<PskModDemod> sender, listener;

    void SetUp() override {
        onGroup(radio, [&] {
            radio->addVtrx(centre, 0, 0);
            radio->addVtrx(centre + 3000, 0, 0);
        });
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            ASSERT_EQ(radio->vtrxList.size(), 2u);
            tx = radio->vtrxList[0];
            rx = radio->vtrxList[1];
        }
        sender = std::make_shared<PskModDemod>(group);
        listener = std::make_shared<PskModDemod>(group);
        attach(tx, sender);
        attach(rx, listener);
        listener->newChars.bind(host::onText<"rx">, listener.get());
        sender->sentChars.bind(host::onText<"sent">, sender.get());
        radio->atTransmitter = true;
        radio->blockLength = stepLength;
    }
    void TearDown() override {
        onGroup(tx, [&] { tx->ptt.hostSet(false); });
        onGroup(radio, [&] { radio->tap = nullptr; });
        radio->settle();
        poll();
        host::Log::get().clear();
    }

    template <class M>
    void attach(const std::shared_ptr<vtrx>& v, const std::shared_ptr<M>& m) {
        onGroup(v, [&] {
            v->start();
            v->setModulation(m);
        });
    }
    /// Both sides in one variant.
    void setMode(int m) {
        onGroup(sender, [&] { sender->mode.hostSet(m); });
        onGroup(listener, [&] { listener->mode.hostSet(m); });
    }
    void setPtt(bool on) {
        onGroup(tx, [&] { tx->ptt.hostSet(on); });
    }
    /// Steps until cond holds (checked after every step), for at most
    /// `seconds` of signal.
    template <class Cond>
    bool stepUntil(Cond cond, double seconds) {
        for (int n = 0; n < steps(seconds); ++n) {
            if (!radio->step(1)) return false;
            poll();
            if (cond()) return true;
        }
        return cond();
    }
    bool stepFor(double seconds) {
        const bool ok = radio->step(steps(seconds));
        poll();
        return ok;
    }
    static int steps(double seconds) { return int(seconds * 48000 / double(stepLength)) + 1; }
};

} // namespace psktest
