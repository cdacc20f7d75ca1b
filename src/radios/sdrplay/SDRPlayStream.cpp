// The running side of SDRPlayRadio: the library's stream and event
// callbacks, the level meters, and frequency updates sent one at a time.
#include "radios/sdrplay/SDRPlayRadio.h"

#include "framework/exitGate.h"
#include "radios/sdrplay/sdrplayDevice.h"
#include "radios/sdrplay/sdrplaySamples.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdio>

namespace {

thread_local bool insideLibraryCallback = false;

/// Marks the thread as the library's for the length of a callback,
/// including the release of the radio at its end.
struct libraryThreadScope {
    bool before = insideLibraryCallback;
    libraryThreadScope() { insideLibraryCallback = true; }
    ~libraryThreadScope() { insideLibraryCallback = before; }
};

void raiseTo(std::atomic<double>& peak, double v) {
    double seen = peak.load(std::memory_order_relaxed);
    while (v > seen && !peak.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
    }
}

} // namespace

bool SDRPlayRadio::onLibraryThread() { return insideLibraryCallback; }

// ---- callbacks ----

void SDRPlayRadio::deliver(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count,
                           void* context, int receiver) {
    if (!context) return;
    exitGate::pass pass;
    if (!pass) return; // the process is exiting
    libraryThreadScope scope; // before the radio: it outlives the reference
    auto radio = static_cast<callbackLink*>(context)->radio.lock();
    if (!radio) return; // released; its destructor stops the stream
    if (count != 0) radio->Callback(i, q, count, receiver);
    if (params && params->rfChanged) radio->frequencyReady_.store(true);
}

void SDRPlayRadio::StreamACallback(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count,
                                   unsigned int, void* context) {
    deliver(i, q, params, count, context, 0);
}

void SDRPlayRadio::StreamBCallback(short* i, short* q, sdrplay_api_StreamCbParamsT* params, unsigned int count,
                                   unsigned int, void* context) {
    deliver(i, q, params, count, context, 1);
}

void SDRPlayRadio::RawEventCallback(sdrplay_api_EventT event, sdrplay_api_TunerSelectT tuner,
                                    sdrplay_api_EventParamsT* params, void* context) {
    if (!context) return;
    exitGate::pass pass;
    if (!pass) return;
    libraryThreadScope scope;
    auto radio = static_cast<callbackLink*>(context)->radio.lock();
    if (radio) radio->EventCallback(event, tuner, params);
}

void SDRPlayRadio::Callback(const short* i, const short* q, unsigned int n, int receiver) {
    if (!i || !q) return;
    {
        // Tuner B may stream without a receiver 1 (an RSPduo at the
        // two-tuner rate whose Model says otherwise): its samples have
        // nowhere to go.
        std::lock_guard<std::mutex> lock(listMutex);
        if (size_t(receiver) >= receivers.size()) {
            if (!dropLogged_.exchange(true))
                spdlog::error("sdrplay samples of tuner {} dropped: no receiver {}", receiver == 0 ? 'A' : 'B',
                              receiver);
            return;
        }
    }
    struct source {
        const short* i;
        const short* q;
        float scale;
        int peak;
    } src{i, q, float((receiver == 0 ? gainScaleA : gainScaleB).load(std::memory_order_relaxed)), 0};
    // Captures one pointer, so the function needs no allocation.
    unlockedWrite(
        [&src](cplx* destination, size_t count) {
            src.peak = std::max(src.peak, convertSdrplaySamples(src.i, src.q, destination, count, src.scale));
            src.i += count;
            src.q += count;
        },
        n, receiver);
    meter(n, receiver, src.peak);
}

void SDRPlayRadio::meter(unsigned int n, int receiver, int blockPeak) {
    // Both tuners count into one counter: in two-tuner mode the meters move
    // twice as often.
    const uint64_t total = counter_.fetch_add(n, std::memory_order_relaxed) + n;
    raiseTo(receiver == 0 ? peakA_ : peakB_, blockPeak / peakFullScale);
    const int rate = rateInForce();
    if (rate <= 0) return;
    if (total * 1000 / uint64_t(rate) < uint64_t(meterIntervalMs)) return;
    // Of two threads past the mark only the one that empties the counter
    // publishes; the other counted on and its total includes this one's.
    uint64_t seen = total;
    if (!counter_.compare_exchange_strong(seen, 0, std::memory_order_relaxed)) return;
    adcPeak.set(peakA_.exchange(0.0, std::memory_order_relaxed));
    adcPeak2.set(peakB_.exchange(0.0, std::memory_order_relaxed));
    tune();
}

void SDRPlayRadio::EventCallback(sdrplay_api_EventT event, sdrplay_api_TunerSelectT tuner,
                                 const sdrplay_api_EventParamsT* params) {
    switch (event) {
    case sdrplay_api_GainChange: {
        if (!params) return;
        const double gainDb = params->gain.currentGainDb;
        const double scale = rxLevelCalibration.get() * 10.0 / std::pow(10.0, gainDb / 20.0) / 32768.0;
        if (!std::isfinite(scale)) {
            spdlog::error("sdrplay gain change to {} dB ignored", gainDb);
            return;
        }
        if (tuner == sdrplayTuner::A) gainScaleA.store(scale);
        if (tuner == sdrplayTuner::B) gainScaleB.store(scale);
        return;
    }
    case sdrplay_api_PowerOverloadChange: {
        const sdrplay_api_DeviceT* d = device_.load();
        if (!d || !params) return;
        const bool overloaded = params->overload.changeType == 0;
        auto self = std::static_pointer_cast<SDRPlayRadio>(shared_from_this());
        seqTask t;
        if (tuner == sdrplayTuner::B) {
            t.fn = [self, overloaded] { self->adcOverload2.set(overloaded); };
            t.name = "Set Overload 2";
            asyncProcess(t);
        } else if (tuner == sdrplayTuner::A) {
            t.fn = [self, overloaded] { self->adcOverload.set(overloaded); };
            t.name = "Set Overload";
            asyncProcess(t);
        }
        // The library reports the next change only once this one is seen.
        if (const sdrplay_api_ErrT err =
                lib_->sdrplay_api_Update(d->dev, tuner, sdrplayReason::overloadAcknowledged, 0);
            err != 0)
            spdlog::error("sdrplay overload acknowledgement {}", lib_->errorText(err));
        return;
    }
    case sdrplay_api_DeviceRemoved: {
        std::printf("sdrplay_api_EventCb: %s\n", "sdrplay_api_DeviceRemoved");
        std::fflush(stdout);
        const sdrplay_api_DeviceT* d = device_.load();
        spdlog::error("sdrplay device {} removed", d ? sdrplayDevice::serial(*d) : std::string("?"));
        removed_.store(true);
        return;
    }
    case sdrplay_api_RspDuoModeChange:
        return;
    }
    std::printf("sdrplay_api_EventCb: %d, unknown event\n", int(event));
    std::fflush(stdout);
}

// ---- tuning ----

void SDRPlayRadio::tune() {
    auto self = std::static_pointer_cast<SDRPlayRadio>(weak_from_this().lock());
    if (!self || !updater_) return;
    seqTask t;
    t.fn = [self] { self->dotune(); };
    t.name = "dotune";
    updater_->asyncProcess(t);
}

void SDRPlayRadio::dotune() {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    const auto now = std::chrono::system_clock::now();
    if (!frequencyReady_.load() && now - lastUpdate_ >= frequencyTimeout) frequencyReady_.store(true);
    sdrplay_api_RxChannelParamsT* a = channelA_.load();
    if (!a) return;
    long long f0 = 0, f1 = 0;
    size_t count;
    {
        std::lock_guard<std::mutex> l(listMutex);
        count = receivers.size();
        if (count > 0) f0 = receivers[0].frequency;
        if (count > 1) f1 = receivers[1].frequency;
    }
    if (count == 0) return;
    const double calibration = frequencyCalibration.get();
    retune(*a, calibration * double(f0), lastA_, sdrplayTuner::A, now);

    const sdrplay_api_DeviceT* d = device_.load();
    sdrplay_api_RxChannelParamsT* b = params_.load()->rxChannelB;
    if (model_.load() == sdrplayModel::rspDuo && count >= 2 && d->rspDuoMode == sdrplayDevice::dualMode && b)
        retune(*b, calibration * double(f1), lastB_, sdrplayTuner::B, now);
}

void SDRPlayRadio::retune(sdrplay_api_RxChannelParamsT& channel, double hz, double& last,
                          sdrplay_api_TunerSelectT tuner, std::chrono::system_clock::time_point now) {
    if (hz == last || !frequencyReady_.load()) return;
    channel.rfHz = hz;
    // Until the library reports the change (or the time-out passes), no
    // other frequency goes out: the device applies one at a time.
    if (lib_->sdrplay_api_Update(device_.load()->dev, tuner, sdrplayReason::rfFrequency, 0) == 0) {
        last = hz;
        frequencyReady_.store(false);
    }
    lastUpdate_ = now;
}

void SDRPlayRadio::addHWReceiver(long long frequency) {
    hwReceiver r;
    r.frequency = frequency;
    r.sampleRate = receiverRate;
    appendReceiver(r);
    std::fputs("ahwr #############\n", stdout);
    std::fflush(stdout);
}
