#include "core/vtrx.h"
#include "core/vtrxToRadio.h"

#include "audio/AudioProvider.h"
#include "core/Radio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "dsp/denoise/rnnoise.h"
#include "dsp/filterDesign.h"
#include "framework/delayedTask.h"

#include <spdlog/spdlog.h>

#include <limits>

vtrx::vtrx(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {
    for (auto& s : hwReceiverSlots) s.store(-1);
    // What a host may set; anything else is refused with a log line.
    constexpr double anyFinite = std::numeric_limits<double>::max();
    specFreq.hostRange(-maxRadioFrequency, maxRadioFrequency);
    specOffset.hostRange(-maxRadioFrequency, maxRadioFrequency);
    specZoom.hostRange(std::numeric_limits<double>::min(), anyFinite);
    audioInput.hostRange(0, std::numeric_limits<int>::max());
    audioOutput.hostRange(0, std::numeric_limits<int>::max());
    signalStrength.hostRange(-anyFinite, anyFinite);
    waterfallSpeed.hostRange(0, 10); // up to 1024 transforms per frame
    vfo.hostRange(-maxRadioFrequency, maxRadioFrequency);
    micLevel.hostRange(-anyFinite, anyFinite);
    VoxThreshold.hostRange(-anyFinite, anyFinite);
    VoxHold.hostRange(0.0, 3600.0); // seconds
    ADCs.hostRange(1, 15);          // a mask of slots 0 to 3
    ADC1Gain.hostRange(-anyFinite, anyFinite);
    ADC1Phase.hostRange(-anyFinite, anyFinite);
    Balance.hostRange(0.0f, 1.0f);
}

vtrx::~vtrx() {
    if (denoiser) rnnoise_destroy(denoiser);
}

void vtrx::create() {
    for (auto& s : hwReceiverSlots) s.store(-1);
    rxagc.set(std::make_shared<agc>(taskGroup()), true);
    txagc.set(std::make_shared<agc>(taskGroup()), true);
    txagc.get()->Volume.set(0.0f, true);
    innerAgc = std::make_shared<agc>(taskGroup());
    rxFir = lowLatFir(-3000.0f, 3000.0f, 48000, 1536, 512);
    rxFirRate = 48000;
    txFir = lowLatFir(-3000.0f, 6000.0f, 48000, 1536, 512);
    auto* audio = AudioProvider::getInstance();
    audioOutput.set(audio->defaultAudioOutputDevice(), true);
    audioInput.set(audio->defaultAudioInputDevice(), true);
    specFreq.set(specOffset.get() + vfo.get(), true);

    ptt.changeHook = [this] { onPtt(); };
    vfo.changeHook = [this] {
        setRxFrequency(vfo.get());
        specFreq.set(specOffset.get() + vfo.get(), true);
        if (mode) mode->vfoChanged(vfo.get());
    };
    specOffset.changeHook = [this] { specFreq.set(specOffset.get() + vfo.get(), true); };
    audioOutput.changeHook = [this] { applyStreamIds(true, false); };
    audioInput.changeHook = [this] { applyStreamIds(false, true); };
    muted.changeHook = [this] {
        if (muted.get()) {
            outputStream.setStreamId(0);
            inputStream.setStreamId(0);
        } else {
            outputStream.setStreamId(running ? audioOutput.get() : 0);
            inputStream.setStreamId(audioInput.get());
        }
    };
    specCentre = specFreq.get();
    ADCs.changeHook = [this] { setRxFrequency(vfo.get()); };
    DelayAudio.changeHook = [this] {
        if (DelayAudio.get()) {
            delayBuffer = buff<float>(240000);
            delayPos = 0;
            delayFull = false;
        } else {
            delayBuffer = buff<float>();
        }
    };
    specZoom.changeHook = [this] { specZoomChanged(); };
}

void vtrx::applyStreamIds(bool output, bool input) {
    bool live = !muted.get() && running;
    if (output) outputStream.setStreamId(live ? audioOutput.get() : 0);
    if (input) inputStream.setStreamId(live ? audioInput.get() : 0);
}

void vtrx::start() {
    running = true;
    outputStream.setStreamId(muted.get() ? 0 : audioOutput.get());
    inputStream.setStreamId(muted.get() ? 0 : audioInput.get());
}

void vtrx::stop() {
    running = false;
    outputStream.setStreamId(0);
    inputStream.setStreamId(0);
}

void vtrx::remove() {
    stop();
    toRadio("radio.removeVtrx", [](Radio& r, vtrx& v) { r.removeVtrx(&v); });
}

void vtrx::setRxFrequency(long long f) {
    if (f < -maxRadioFrequency || f > maxRadioFrequency) {
        spdlog::error("vtrx.setRxFrequency() frequency {} refused", f);
        return;
    }
    toRadio("radio.setRxFrequency", [f](Radio& r, vtrx& v) { r.setRxFrequency(f, &v, v.ADCs.get()); });
}

void vtrx::setRxFilter(int low, int high) {
    rxFilterLow.store(low);
    rxFilterHigh.store(high);
    if (ModClosing.get()) return;
    designRxFilter(mode ? mode->rxInputSamplerate() : 48000);
    if (mode) mode->setRxFilter(low, high);
    setRxFrequency(vfo.get());
}

void vtrx::designRxFilter(int rate) {
    const float low = float(rxFilterLow.load()), high = float(rxFilterHigh.load());
    if (mode && mode->rxMinPhase)
        rxFir.setFilter(filterDesign<float>::bandpassMinPhase(low, high, rate, 1536, 1536));
    else
        rxFir.setFilter(low, high, rate, 1536, 512);
    rxFirRate = rate;
}

void vtrx::setTxFilter(int low, int high) {
    txFir.setFilter(float(low), float(high), 48000, 1536, 512);
    txFilterEdges = {low, high};
    if (mode) mode->setTxFilter(low, high);
}

void vtrx::setModulation(std::shared_ptr<modDemod> m) {
    const bool replaced = mode && mode != m;
    // A transmission the outgoing mode keyed, or would end by itself (its
    // text's end mark, its message's end), ends with it: nothing else would
    // end it any more, even when the host keyed it.
    if (replaced && transmitting && (keyer_ == mode.get() || mode->endsTransmissions)) offAir();
    // A tail belongs to the mode that sent it: none of the next mode goes
    // out in its name.
    if (replaced && pttReleasing) tailLeft = std::min(tailLeft, 0);
    // A replaced mode the host still holds must not reach this transceiver.
    if (replaced) mode->setOwner({});
    mode = std::move(m);
    if (mode) {
        mode->setOwner(std::static_pointer_cast<vtrx>(shared_from_this()));
        mode->init();
    }
    ModClosing.set(false, true);
    setRxFilter(rxFilterLow.load(), rxFilterHigh.load());
    // A mode attached after the host chose a transmit pass-band sends in
    // that band (the right sideband), not in its own default.
    if (mode && txFilterEdges) mode->setTxFilter(txFilterEdges->first, txFilterEdges->second);
}

void vtrx::keyFor(const modDemod& m) {
    // A mode detached since it asked keys nothing: nothing would release it.
    if (m.lockOwner().get() == this) key(&m);
}

void vtrx::key(const void* keyer) {
    if (ptt.get()) return;
    pendingKeyer_ = keyer;
    ptt.set(true, true);
    pendingKeyer_ = nullptr;
}

void vtrx::releaseFor(const modDemod& m) {
    if (ptt.get() && keyer_ == &m) ptt.set(false, true);
}

void vtrx::offAir() {
    const bool wasOn = ptt.get() || transmitting;
    if (ptt.get()) ptt.set(false, true);
    pttReleasing = false;
    rampUpPending = false;
    transmitting = false;
    // A radio that still keys for this transceiver (it was handed back
    // meanwhile) hears the release as well.
    if (wasOn) tellRadioPtt();
}

void vtrx::postOffAir() {
    auto self = std::static_pointer_cast<vtrx>(weak_from_this().lock());
    if (!self) return;
    seqTask t;
    t.fn = [self] { self->offAir(); };
    t.name = "vtrx.offAir";
    asyncProcess(t);
}

void vtrx::watchRelease() {
    seqTask t;
    t.fn = [self = weak_from_this(), asked = txRequests_, release = releases_] {
        if (auto v = std::static_pointer_cast<vtrx>(self.lock())) v->checkRelease(asked, release);
    };
    t.name = "vtrx.checkRelease";
    postDelayed(weak_from_this(), txStallLimit, t);
}

void vtrx::checkRelease(unsigned long long asked, unsigned long long release) {
    // Keyed again, or the tail ran out: this release is over.
    if (release != releases_ || !pttReleasing || !transmitting) return;
    if (txRequests_ != asked) {
        watchRelease(); // the radio still asks: the tail runs out by itself
        return;
    }
    spdlog::warn("vtrx: the radio asked for no transmit samples for {} ms after the release; the tail is dropped "
                 "and the radio unkeyed",
                 txStallLimit.count());
    offAir();
}

void vtrx::hostReleased() {
    if (ptt.get()) ptt.set(false, true);
}

void vtrx::tellRadioPtt() {
    toRadio("radio.setPtt", [on = ptt.get()](Radio& r, vtrx& v) { r.setPtt(on, &v); });
}

void vtrx::onPtt() {
    if (ptt.get()) {
        keyer_ = pendingKeyer_;
        tellRadioPtt();
        rampUpPending = true;
        rampUpLeft = txLeadSilence + rampUpLength;
        pttReleasing = false;
        // Transmission starts from silence, with a fresh filter block.
        txFir.clearState();
        txFirPos = txFir.blockLength();
        if (mode) {
            if (!mode->txBlockMode) rampUpLeft = rampUpLength;
            mode->pttReleased = false;
            mode->pttChanged(true);
        }
        transmitting = true;
        return;
    }
    if (mode) mode->pttChanged(false);
    pttReleasing = true;
    rampUpPending = false;
    ++releases_;
    if (mode) {
        // The radio is told once the transmit chain has run out the tail,
        // which only the radio's requests run out.
        tailLeft = mode->txTailLength;
        mode->pttReleased = true;
        watchRelease();
    } else {
        tailLeft = 0;
        tellRadioPtt();
        transmitting = false;
    }
}
