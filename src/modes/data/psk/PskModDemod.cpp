// Construction, the host hooks and the text queue of the PSK mode; the
// receive path is in PskModDemodReceive.cpp, the transmit path in
// PskModDemodTransmit.cpp.
#include "modes/data/psk/PskModDemod.h"
#include "modes/data/psk/systemChange.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <numbers>

namespace {

struct ChannelPlan {
    int mode;
    int hz;
};

/// Channels 60-65: one per variant at the operating frequency.
constexpr int variantModes[6] = {0, 8, 16, 1, 9, 17};

/// The channel that becomes primary when the host selects a mode.
int channelForMode(int mode) {
    for (int i = 0; i < 6; ++i)
        if (variantModes[i] == mode) return 60 + i;
    return 0;
}

} // namespace

PskModDemod::PskModDemod(std::shared_ptr<syncTask> taskGroup) : modDemod(std::move(taskGroup)) {
    txTailLength = 96000;
    for (int m : {0, 8, 16, 1, 9, 17})
        Modes.add(std::make_shared<ValueLabelItem>(this->taskGroup(), m, PskDetector::variantName(m)));

    for (int i = 0; i < scannerCount; ++i) AddReceiver(i, 0, 100 * (i + 1));
    for (int i = 0; i < scannerCount; ++i) AddReceiver(scannerCount + i, 8, 100 * (i + 1));
    for (int i = 0; i < 6; ++i) AddReceiver(60 + i, variantModes[i], 1500);

    constexpr double pi = std::numbers::pi;
    for (int n = 0; n < blockLength; ++n) {
        const double x = 2.0 * pi * (n + 0.5) / blockLength;
        window_[size_t(n)] =
            float(0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x));
    }

    rxFreq.set(1500, true); // before the hooks: nothing reacts
    modulator_.InitPSKMod(48000, 0.707);
    modulator_.setCarrier(1500.0);
    modulator_.setCharSource(&PskModDemod::getCharCallback, this);

    rxFreq.changeHook = [this] { onRxFreq(); };
    mode.changeHook = [this] { onMode(); };
    primaryDetector.changeHook = [this] { onPrimaryDetector(); };
}

void PskModDemod::AddReceiver(int index, int m, int hz) {
    auto ch = std::make_shared<PskDetector>(taskGroup());
    dets.add(ch);
    ch->detector.setMode(m);
    ch->detector.seed(uint32_t(index) + 1u);
    ch->detector.Init(8000);
    ch->Mode.set(PskDetector::variantName(m), true);
    ch->detector.SetRXFrequency(hz);
    ch->detector.ResetDetector();
    ch->activity.set(0, true);
    ch->freq.set(hz, true);
    ch->busy = 0;
    channels_[size_t(index)] = std::move(ch);
}

int PskModDemod::primary() const {
    std::lock_guard<std::mutex> l(rxLock_);
    return primary_;
}

int PskModDemod::txMode() const {
    std::lock_guard<std::mutex> l(txLock_);
    return modulator_.txMode();
}

double PskModDemod::txCarrier() const {
    std::lock_guard<std::mutex> l(txLock_);
    return modulator_.carrier();
}

void PskModDemod::retune(PskDetector& ch, int hz, int busy) {
    ch.detector.SetRXFrequency(hz);
    ch.detector.ResetDetector();
    ch.reset.send(0);
    ch.busy = busy;
}

void PskModDemod::onRxFreq() {
    if (psk::systemChange::active()) return;
    const int hz = rxFreq.get();
    // The detectors see 0-4000 Hz; anything else cannot be received or sent.
    if (hz <= 0 || hz >= 4000) {
        spdlog::error("PskModDemod rxFreq {} refused, keeping {}", hz, rxFreqInUse_.load());
        psk::systemChange guard;
        rxFreq.set(rxFreqInUse_.load(), true);
        return;
    }
    rxFreqInUse_.store(hz);
    {
        std::lock_guard<std::mutex> l(rxLock_);
        channels_[size_t(primary_)]->detector.SetRXFrequency(hz);
        for (int i = 60; i < channelCount; ++i) channels_[size_t(i)]->detector.SetRXFrequency(hz);
    }
    {
        std::lock_guard<std::mutex> l(txLock_);
        modulator_.setCarrier(hz);
    }
    psk::systemChange guard;
    txFreq.set(hz, true);
}

void PskModDemod::onMode() {
    if (psk::systemChange::active()) return;
    const int m = mode.get();
    // A mode the transmitter does not have would key a transceiver that
    // sends nothing and never reaches the text's end.
    if (!CPSKMod::sends(m)) {
        spdlog::error("PskModDemod mode {} refused, keeping {}", m, modeKept_);
        psk::systemChange guard;
        mode.set(modeKept_, true);
        return;
    }
    modeKept_ = m;
    {
        std::lock_guard<std::mutex> l(rxLock_);
        if (channels_[size_t(primary_)]->detector.mode() != m) {
            primary_ = channelForMode(m);
            retune(*channels_[size_t(primary_)], rxFreq.get(), 200);
            psk::systemChange guard;
            primaryDetector.set(primary_, true);
        }
    }
    std::lock_guard<std::mutex> l(txLock_);
    modulator_.SetTXMode(m);
}

void PskModDemod::onPrimaryDetector() {
    if (psk::systemChange::active()) return;
    const int p = primaryDetector.get();
    int m = 0;
    {
        std::lock_guard<std::mutex> l(rxLock_);
        if (p < 0 || p >= channelCount) {
            spdlog::error("PskModDemod primaryDetector {} refused, keeping {}", p, primary_);
            psk::systemChange guard;
            primaryDetector.set(primary_, true);
            return;
        }
        primary_ = p;
        m = channels_[size_t(p)]->detector.mode();
    }
    psk::systemChange guard;
    mode.set(m, true);
    modeKept_ = m;
}

void PskModDemod::QueueText(const std::string& text, int start, uint64_t at) {
    text_.hostReplace(std::string_view(text), start, at, "PskModDemod.QueueText()");
}
