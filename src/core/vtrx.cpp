#include "core/vtrx.h"
#include "core/vtrxToRadio.h"

#include "audio/AudioProvider.h"
#include "core/Radio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "dsp/denoise/rnnoise.h"
#include "dsp/filterDesign.h"

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
    // A transceiver that claimed the mode meanwhile takes it.
    if (mode) mode->letGo(this);
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

    ptt.changeHook = [this] { tx.pttChanged(); };
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

void vtrx::remove(transmission::serial at) {
    stop();
    tx.endWhateverIsOn("its transceiver was removed", at);
    toRadio("radio.removeVtrx", [at](Radio& r, vtrx& v) { r.removeVtrx(&v, at); });
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

void vtrx::setModulation(std::shared_ptr<modDemod> m, transmission::serial at) {
    modeAskedAt_ = at;
    const bool replaced = mode && mode != m;
    // The outgoing mode takes the transmission with it, whoever keyed it:
    // what it was sending ends with it (a text's end mark, a message's end
    // would never come), and no other mode goes out in its name.
    if (replaced) tx.endWhateverIsOn("its mode was detached or replaced", at);
    // A replaced mode the host still holds must not reach this transceiver;
    // a transceiver that claimed it meanwhile may now take it.
    if (replaced) std::exchange(mode, nullptr)->letGo(this);
    // While another transceiver still runs it, the mode comes later
    // (takeMode), once that one has let go.
    bool joins = false;
    if (m && m->claim(std::static_pointer_cast<vtrx>(shared_from_this()), at) == modDemod::claimed::taken)
        joins = runMode(std::move(m), at);
    ModClosing.set(false, true);
    modeSettled();
    if (joins) tx.modeJoins();
}

void vtrx::takeMode(std::shared_ptr<modDemod> m, transmission::serial at) {
    // Unwanted once the host has changed this transceiver's mode since.
    const bool wanted = modeAskedAt_ == at && !mode;
    if (!m->take(std::static_pointer_cast<vtrx>(shared_from_this()), at, wanted)) return;
    const bool joins = runMode(std::move(m), at);
    modeSettled();
    if (joins) tx.modeJoins();
}

void vtrx::modeMovedAway(const std::shared_ptr<modDemod>& m, transmission::serial at) {
    if (mode == m) {
        setModulation(nullptr, at);
        return;
    }
    modeAskedAt_ = at; // the mode may still be on its way here: not wanted any more
    // Its key for a call made before the move, should it come, is ended.
    tx.endedAt(at, "its mode was moved to another transceiver");
}

bool vtrx::runMode(std::shared_ptr<modDemod> m, transmission::serial at) {
    // Attached again while it runs here, it has been here all along.
    const bool comes = mode != m;
    if (comes) modeSince_ = at;
    mode = std::move(m);
    mode->init();
    return comes;
}

void vtrx::modeSettled() {
    setRxFilter(rxFilterLow.load(), rxFilterHigh.load());
    // A mode attached after the host chose a transmit pass-band sends in
    // that band (the right sideband), not in its own default.
    if (mode && txFilterEdges) mode->setTxFilter(txFilterEdges->first, txFilterEdges->second);
}

void vtrx::hostLetGo() {
    // Only a radio's transceiver transmits; one the host made alone has no
    // hooks and goes with its handle.
    if (owner.expired()) return;
    auto self = std::static_pointer_cast<vtrx>(weak_from_this().lock());
    if (!self) return;
    const auto at = transmission::now();
    tx.hostLetsGo();
    tx.hostEnded.made(at);
    seqTask t;
    t.fn = [self, at] { self->tx.hostLetGo(at); };
    t.name = "vtrx.release()";
    queueSetItem(t);
}
