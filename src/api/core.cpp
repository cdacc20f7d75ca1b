// Exported functions of the transceiver core: gain control, modes, discovery,
// the radio base, the test radio and the transceiver.
#include "vireocore.h"

#include "core/Controller.h"
#include "core/Radio.h"
#include "core/TestRadio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "core/proxyModDemod.h"
#include "core/vtrx.h"
#include "framework/exportPattern.h"
#include "framework/objectHandle.h"

namespace {

/// The object behind a handle, or null; the request made with the handle
/// logs a bad one.
template <class X>
std::shared_ptr<X> quietTarget(void* h) {
    return h ? std::dynamic_pointer_cast<X>(*static_cast<objectHandle*>(h)) : nullptr;
}

hostEndings& endingsOf(vtrx& v) { return v.tx.hostEnded; }
hostEndings& endingsOf(Radio& r) { return r.hostEnded; }

/// An ending the host makes of what the object transmits, marked at its
/// moment before its request is queued: what it will end takes nothing new
/// to send meanwhile (see transmission.h).
template <class X>
void endingMade(void* h, transmission::serial at) noexcept {
    if (auto x = quietTarget<X>(h)) endingsOf(*x).made(at);
}

/// A mode is on one transceiver at a time: attached to another at `at`, it
/// leaves the one the host gave it before, as the host's detach there at
/// the same moment would, queued in the order of the host's calls on it.
void moveAway(const std::shared_ptr<vtrx>& from, const std::shared_ptr<vtrx>& to, const std::shared_ptr<modDemod>& m,
              transmission::serial at) {
    if (!from || from == to) return;
    // Unless the host has given that transceiver another mode since.
    const void* expected = m.get();
    if (!from->hostsMode.compare_exchange_strong(expected, nullptr)) return;
    from->tx.hostEnded.made(at);
    seqTask t;
    t.fn = [from, m, at] { from->modeMovedAway(m, at); };
    t.name = "vtrx.setModulation()";
    from->queueSetItem(t);
}

} // namespace

extern "C" {

// ---- agc ----
VC_CLASS(agc)
VC_PROPERTY(agc, Attack)
VC_PROPERTY(agc, Decay)
VC_PROPERTY(agc, Hang)
VC_PROPERTY(agc, MaxGain)
VC_PROPERTY(agc, Volume)
VC_PROPERTY(agc, Squelch)
VC_PROPERTY(agc, ManualGain)
VC_PROPERTY(agc, Enabled)

// ---- modDemod ----
// These serve every mode: each one is a modDemod.
VC_CLASS(modDemod)
VC_PROPERTY(modDemod, rxFreq)
VC_PROPERTY(modDemod, txFreq)
VC_PROPERTY(modDemod, rnnoise)
VC_PROPERTY(modDemod, rnnoiseSquelch)
VC_PROPERTY(modDemod, db1)
VC_PROPERTY(modDemod, OpLevel)

// ---- proxyModDemod ----
// The two callbacks are called directly on the transceiver's worker, not in
// getUpdates; their binds store them at once like any event bind.
VC_CLASS(proxyModDemod)
VC_EVENT(proxyModDemod, rxChunk)
VC_EVENT(proxyModDemod, getTxChunk)

// ---- Controller ----
VC_CLASS(Controller)

// ---- Radio ----
VC_CLASS(Radio)
VC_PROPERTY_BIND(Radio, ptt)
// The host's keys and endings take their moment here, on the host thread, so
// that they compare in the order the host made them (see transmission.h).
VIREO_API void Radio_setptt(void* h, bool value) {
    const auto at = transmission::now();
    if (!value) endingMade<Radio>(h, at);
    vireo::api::setRequest<&Radio::ptt>(h, "Radio.ptt.set", [value, at](Radio& r) { r.hostSetPtt(value, at); });
}
VC_PROPERTY(Radio, maxHwReceivers)
VC_PROPERTY(Radio, maxADCs)
VC_PROPERTY_BIND(Radio, canTransmit)
VIREO_API void Radio_setcanTransmit(void* h, bool value) {
    const auto at = transmission::now();
    if (!value) endingMade<Radio>(h, at);
    vireo::api::setRequest<&Radio::canTransmit>(h, "Radio.canTransmit.set",
                                                [value, at](Radio& r) { r.hostSetCanTransmit(value, at); });
}
VC_PROPERTY(Radio, rxLevelCalibration)
VC_PROPERTY(Radio, sentPackets)
VC_PROPERTY(Radio, receivedPackets)
VC_PROPERTY(Radio, SampleRate)
VC_PROPERTY(Radio, disableVirtualReceivers)
VC_PROPERTY(Radio, TransceiverOffset)
VC_PROPERTY(Radio, drive)
VC_PROPERTY(Radio, TuneDrive)
VC_PROPERTY(Radio, RadioPtt)
VC_PROPERTY(Radio, cwHangTime)
VC_PROPERTY(Radio, cwInternal)
VC_PROPERTY(Radio, ValidBandwidthRatio)
VC_PROPERTY(Radio, frequencyCalibration)
VIREO_API void Radio_start(void* h) {
    const auto at = transmission::now();
    vireo::api::request<Radio>(h, "Radio.start()", [at](Radio& r) { r.start(at); });
}
VIREO_API void Radio_stop(void* h) {
    const auto at = transmission::now();
    endingMade<Radio>(h, at);
    vireo::api::request<Radio>(h, "Radio.stop()", [at](Radio& r) { r.stop(at); });
}
VC_METHOD(Radio, addVtrx, (long long frequency, int hwRx, int ownerId), (frequency, hwRx, ownerId))
VIREO_API void Radio_removeVtrx(void* h, void* v) {
    // The host names the transceiver by address; it is compared, never read.
    const auto at = transmission::now();
    vireo::api::guarded("Radio.removeVtrx()", [&] {
        if (auto r = quietTarget<Radio>(h))
            if (auto x = r->listed(v)) x->tx.hostEnded.made(at);
    });
    vireo::api::request<Radio>(h, "Radio.removeVtrx()", [v, at](Radio& r) { r.removeVtrx(v, at); });
}
VIREO_API void Radio_bindvtrxAdded(void* h, Radio::vtrxAddedCallback cb) {
    vireo::api::guarded("Radio_bindvtrxAdded", [&] {
        if (auto r = vireo::api::target<Radio>(h, "Radio_bindvtrxAdded")) r->bindvtrxAdded(cb);
    });
}

// ---- TestRadio ----
VC_CLASS(TestRadio)

// ---- vtrx ----
VIREO_API void* vtrx_create(void) { return vireo::api::create<vtrx>("vtrx_create"); }
VIREO_API void vtrx_release(void* h) { vireo::api::release(h, "vtrx_release"); }
VC_PROPERTY_BIND(vtrx, ptt)
VIREO_API void vtrx_setptt(void* h, bool value) {
    const auto at = transmission::now();
    if (!value) endingMade<vtrx>(h, at);
    // A key takes the transmitter from the radio's other transceivers:
    // until the radio has it, what they send takes nothing new.
    auto keyed = value ? quietTarget<vtrx>(h) : nullptr;
    if (keyed) keyed->tx.hostKeyed.made(at);
    if (!vireo::api::setRequest<&vtrx::ptt>(h, "vtrx.ptt.set", [value, at](vtrx& v) { v.tx.hostKey(value, at); }) &&
        keyed)
        keyed->tx.hostKeyed.taken(at); // goes nowhere
}
VC_PROPERTY(vtrx, tune)
VC_PROPERTY(vtrx, specFreq)
VC_PROPERTY(vtrx, specOffset)
VC_PROPERTY(vtrx, specZoom)
VC_PROPERTY(vtrx, audioInput)
VC_PROPERTY(vtrx, audioOutput)
VC_PROPERTY(vtrx, muted)
VC_PROPERTY(vtrx, rxagc)
VC_PROPERTY(vtrx, txagc)
VC_PROPERTY(vtrx, signalStrength)
VC_PROPERTY(vtrx, foregroundDisplay)
VC_PROPERTY(vtrx, oversample)
VC_PROPERTY(vtrx, waterfallSpeed)
VC_PROPERTY(vtrx, vfo)
VC_PROPERTY(vtrx, TxOffset)
VC_PROPERTY(vtrx, useResampler)
VC_PROPERTY(vtrx, micLevel)
VC_PROPERTY(vtrx, bandwidthSufficient)
VC_PROPERTY(vtrx, useVox)
VC_PROPERTY(vtrx, VoxThreshold)
VC_PROPERTY(vtrx, VoxHold)
VC_PROPERTY(vtrx, drive)
VC_PROPERTY(vtrx, ADCs)
VC_PROPERTY(vtrx, ADC1Gain)
VC_PROPERTY(vtrx, ADC1Phase)
VC_PROPERTY(vtrx, Balance)
VC_PROPERTY(vtrx, DelayAudio)
VC_PROPERTY(vtrx, SendAudio)
VC_PROPERTY(vtrx, SendIQ)
VC_PROPERTY(vtrx, TuningValid)
VC_PROPERTY(vtrx, OwnerID)
VC_PROPERTY(vtrx, ModClosing)
VIREO_API void vtrx_bindnewSpectrum(void* h, vtrx::spectrumCallback cb) {
    vireo::api::guarded("vtrx_bindnewSpectrum", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewSpectrum")) v->bindnewSpectrum(cb);
    });
}
VIREO_API void vtrx_bindnewAudio(void* h, vtrx::audioCallback cb) {
    vireo::api::guarded("vtrx_bindnewAudio", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewAudio")) v->bindnewAudio(cb);
    });
}
VIREO_API void vtrx_bindnewIQ(void* h, vtrx::iqCallback cb) {
    vireo::api::guarded("vtrx_bindnewIQ", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewIQ")) v->bindnewIQ(cb);
    });
}
VC_METHOD(vtrx, setRxFrequency, (long long frequency), (frequency))
VIREO_API void vtrx_setModulation(void* h, void* modeHandle) {
    vireo::api::guarded("vtrx.setModulation()", [&] {
        std::shared_ptr<modDemod> m;
        if (modeHandle && !(m = vireo::api::target<modDemod>(modeHandle, "vtrx.setModulation()"))) return;
        // The host's next calls on the mode (a text, a key) follow the
        // attach, whichever task group gets to its work first.
        if (m) m->attachComing();
        const auto at = transmission::now();
        // Taking away the mode the host gave the transceiver last ends its
        // transmission; giving a mode to one without is no ending.
        auto v = quietTarget<vtrx>(h);
        if (v) {
            const void* before = v->hostsMode.exchange(m.get());
            if (before && before != m.get()) v->tx.hostEnded.made(at);
        }
        if (m && v) moveAway(m->hostAttachesTo(v), v, m, at);
        if (!vireo::api::request<vtrx>(h, "vtrx.setModulation()", [m, at](vtrx& v) { v.setModulation(m, at); }) &&
            m)
            m->attachDropped();
    });
}
VC_METHOD(vtrx, setRxFilter, (int low, int high), (low, high))
VC_METHOD(vtrx, setTxFilter, (int low, int high), (low, high))
VIREO_API void vtrx_remove(void* h) {
    const auto at = transmission::now();
    endingMade<vtrx>(h, at);
    vireo::api::request<vtrx>(h, "vtrx.remove()", [at](vtrx& v) { v.remove(at); });
}
VC_METHOD(vtrx, start, (), ())

} // extern "C"
