#pragma once
// Two transceivers on the noisy loop-back radio, stepped as fast as the
// chain runs: `tx` at the radio's centre, `rx` at a chosen offset above it.
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/hostHarness.h"
#include "support/noisyLoopRadio.h"

#include <memory>

class ModeLoop : public ObjectTest {
protected:
    static constexpr long long centre = 14000000;
    static constexpr size_t stepLength = 4096; // samples per step: fewer hand-overs
    std::shared_ptr<NoisyLoopRadio> radio = std::make_shared<NoisyLoopRadio>(group, 48000, centre, 7);
    std::shared_ptr<vtrx> tx, rx;

    /// Makes tx at the centre and rx `offset` Hz above it.
    void addTransceivers(long long offset) {
        onGroup(radio, [&] {
            radio->addVtrx(centre, 0, 0);
            radio->addVtrx(centre + offset, 0, 0);
        });
        std::lock_guard<std::mutex> l(radio->listMutex);
        ASSERT_EQ(radio->vtrxList.size(), 2u);
        tx = radio->vtrxList[0];
        rx = radio->vtrxList[1];
        radio->blockLength = stepLength;
    }
    void TearDown() override {
        onGroup(tx, [&] { tx->ptt.hostSet(false); });
        onGroup(radio, [&] { radio->tap = nullptr; });
        radio->settle();
        poll();
        host::Log::get().clear();
    }

    /// Attaches the mode; a transceiver not started transmits but does not
    /// receive.
    template <class M>
    void attach(const std::shared_ptr<vtrx>& v, const std::shared_ptr<M>& m, bool start = true) {
        onGroup(v, [&] {
            if (start) v->start();
            v->setModulation(m);
        });
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
