#include "radios/sdrplay/SDRPlayRadio.h"

#include "core/vtrx.h"
#include "framework/handOff.h"
#include "framework/refuseNonFinite.h"
#include "radios/sdrplay/sdrplayDevice.h"
#include "radios/sdrplay/sdrplayRates.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

/// The loop values of both channels' gain control: enabled, set point
/// −30 dBFS, attack and decay 500 ms, decay delay 200 ms, threshold 5 dB.
void setAgc(sdrplay_api_AgcT& agc) {
    agc.control = 4;
    agc.setPointDbfs = -30;
    agc.attackMs = 500;
    agc.decayMs = 500;
    agc.decayDelayMs = 200;
    agc.decayThresholdDb = 5;
}

/// Holds what must outlive the process's use of a library that would not
/// stop: it may still call in. Reachable, so no leak checker minds.
void keepForever(std::shared_ptr<void> a, std::shared_ptr<void> b) {
    static std::mutex m;
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    std::lock_guard<std::mutex> lock(m);
    kept->push_back(std::move(a));
    kept->push_back(std::move(b));
}

} // namespace

SDRPlayRadio::SDRPlayRadio(std::shared_ptr<syncTask> group)
    : Radio(std::move(group)), lib_(std::make_shared<SDRPlayLib>()), link_(std::make_shared<callbackLink>()) {
    const std::pair<int, const char*> rates[] = {{768000, "768k"},    {1536000, "1536k"}, {6144000, "6144k"},
                                                 {8000000, "8000k"}, {10000000, "10M"},  {2000000, "2000k"}};
    for (auto& [rate, label] : rates) SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), rate, label));
    lib_->loadApi();
    updater_ = std::make_shared<asyncObject>(taskGroup() ? std::make_shared<syncTask>(taskGroup()->pool()) : nullptr);
    offsetTuning = true;
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = receiverRate;
    appendReceiver(r);
    link_->callbacks = {&StreamACallback, &StreamBCallback, &RawEventCallback};

    Model.changeHook = [this] { setUpModel(); };
    acceptSampleRates(
        "sdrplay", [](int rate) { return sdrplayRates::find(rate) != nullptr; }, [this] { sampleRateChanged(); });
    rxGain.changeHook = [this] { whenLive([this] { SetGain(true); }); };
    rxGain2.changeHook = [this] { whenLive([this] { SetGain2(true); }); };
    BiasT.changeHook = [this] { whenLive([this] { SetBiasT(true); }); };
    RFNotch.changeHook = [this] { whenLive([this] { SetRFNotch(true); }); };
    DABNotch.changeHook = [this] { whenLive([this] { SetDABNotch(true); }); };
    Antenna.changeHook = [this] { whenLive([this] { SetAntenna(true); }); };
    ClockOut.changeHook = [this] { whenLive([this] { SetClockout(true); }); };
    frequencyCalibration.changeHook = [this] {
        if (!refuseNonFinite(frequencyCalibration, keptFrequencyCalibration_, "sdrplay", "frequencyCalibration")) tune();
    };
    // It reaches the samples with the next gain event; a value that is no
    // number would turn every sample into one.
    rxLevelCalibration.changeHook = [this] {
        refuseNonFinite(rxLevelCalibration, keptLevel_, "sdrplay", "rxLevelCalibration");
    };
}

SDRPlayRadio::~SDRPlayRadio() {
    updater_.reset();
    sdrplay_api_DeviceT* d = device_.load();
    if (!d || !lib_->loaded()) return;
    // The library's own thread must not wait for the exit, which stops it.
    if (!exitStop_.clear(!onLibraryThread())) return; // the exit stopped it
    if (onLibraryThread()) {
        // The library's stop waits for this very thread: stop from another,
        // with a copy of the record, as this radio is going.
        auto record = std::make_shared<sdrplay_api_DeviceT>(*d);
        handOff("sdrplay", [lib = lib_, link = link_, record] { shutDown(lib, link, record.get()); });
        return;
    }
    shutDown(lib_, link_, d);
}

void SDRPlayRadio::shutDown(const std::shared_ptr<SDRPlayLib>& lib, const std::shared_ptr<callbackLink>& link,
                            sdrplay_api_DeviceT* d) {
    if (const sdrplay_api_ErrT err = lib->sdrplay_api_Uninit(d->dev); err != 0) {
        spdlog::error("sdrplay_api_Uninit {}", lib->errorText(err));
        spdlog::error("sdrplay library kept loaded: its callbacks may not have stopped");
        keepForever(lib, link);
        return;
    }
    if (const sdrplay_api_ErrT err = lib->sdrplay_api_ReleaseDevice(d); err != 0)
        spdlog::error("sdrplay_api_ReleaseDevice {}", lib->errorText(err));
}

template <class F>
void SDRPlayRadio::whenLive(F control) {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (live()) control();
}

sdrplay_api_TunerSelectT SDRPlayRadio::deviceTuner() const {
    const sdrplay_api_DeviceT* d = device_.load();
    return d ? d->tuner : sdrplayTuner::A;
}

// ---- model ----

void SDRPlayRadio::setUpModel() {
    const sdrplayModel m = sdrplayModels::fromText(Model.get());
    model_.store(m);
    maxRxIFGain.set(59);
    minRxIFGain.set(20);
    auto antennas = [this](std::initializer_list<const char*> labels) {
        int value = 0;
        for (const char* label : labels) Antennas.add(std::make_shared<ValueLabelItem>(taskGroup(), value++, label));
    };
    switch (m) {
    case sdrplayModel::rsp1:
        maxRxRFGain.set(3);
        minRxRFGain.set(0);
        antennas({"RX"});
        break;
    case sdrplayModel::rsp1a:
        maxRxRFGain.set(9);
        minRxRFGain.set(0);
        antennas({"RX"});
        break;
    case sdrplayModel::rsp2:
        maxRxRFGain.set(8);
        minRxRFGain.set(0);
        antennas({"A", "B", "Hi-Z"});
        break;
    case sdrplayModel::rspDuo:
        maxRxRFGain.set(9);
        minRxRFGain.set(0);
        antennas({"50 ohm", "Hi-Z"});
        HasClockOut.set(true);
        maxRxRFGain2.set(9);
        minRxRFGain2.set(0);
        if (SampleRate.get() == sdrplayRates::dualTunerRate) {
            maxADCs.set(2);
            maxHwReceivers.set(2);
            addTunerBReceiver();
        }
        break;
    case sdrplayModel::rspDx:
        maxRxRFGain.set(27);
        minRxRFGain.set(0);
        antennas({"A", "B", "C"});
        break;
    case sdrplayModel::other:
        break;
    }
}

void SDRPlayRadio::addTunerBReceiver() {
    // Once: receivers are never removed, and tuner B streams into the one.
    if (receivers.size() >= 2) return;
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = receiverRate;
    r.slot = 1;
    appendReceiver(r);
}

void SDRPlayRadio::sampleRateChanged() {
    const int rate = SampleRate.get();
    const bool dual = rate == sdrplayRates::dualTunerRate;
    offsetTuning = !dual;
    {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        if (live()) {
            const uint32_t bits =
                sdrplayRates::SetSampleRate(rate, params_.load()->devParams, channelA_.load());
            send(deviceTuner(), bits, 0, "sdrplay set smaple rate {}");
        }
    }
    {
        std::lock_guard<std::mutex> lock(listMutex);
        for (auto& r : receivers) r.sampleRate = rate;
    }
    if (model_.load() != sdrplayModel::rspDuo) return;
    maxADCs.set(dual ? 2 : 1);
    maxHwReceivers.set(dual ? 2 : 1);
    // The model may have come first, at another rate.
    if (dual) addTunerBReceiver();
    const sdrplay_api_DeviceT* d = device_.load();
    if (d && (d->tuner == sdrplayTuner::both) != dual) {
        // The tuner mode is chosen when the device is claimed.
        stopRadio();
        startRadio();
    }
}

// ---- start and stop ----

void SDRPlayRadio::startRadio() {
    spdlog::info("sdrplay starting");
    if (!lib_->loaded()) {
        spdlog::info("sdrplay dll 0");
        return;
    }
    if (const sdrplay_api_DeviceT* d = device_.load()) {
        // Claiming again would lose the device that streams now.
        spdlog::info("sdrplay already started on {}", sdrplayDevice::serial(*d));
        return;
    }
    if (!linked_) {
        link_->radio = std::static_pointer_cast<SDRPlayRadio>(shared_from_this());
        linked_ = true;
    }
    {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        lastA_ = lastB_ = 0.0;
    }
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(startFrequency, 0, 0);
    removed_.store(false);
    dropLogged_.store(false);

    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_LockDeviceApi(); err != 0)
        spdlog::error("sdrplay_api_LockDeviceApi {}", lib_->errorText(err));
    claimAndStream();
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_UnlockDeviceApi(); err != 0)
        spdlog::error("sdrplay_api_UnLockDeviceApi {}", lib_->errorText(err));
}

void SDRPlayRadio::claimAndStream() {
    std::unique_lock<std::mutex> lock(deviceMutex_);
    sdrplay_api_DeviceT* d = nullptr;
    unsigned int count = 0;
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_GetDevices(devices_, &count, capacity); err != 0) {
        spdlog::error("sdrplay_api_GetDevices {}", lib_->errorText(err));
    } else {
        count = std::min(count, capacity); // from the library: never past the array
        const std::string wanted = SerialNo.get();
        for (unsigned int i = 0; i < count; ++i) {
            if (sdrplayDevice::serial(devices_[i]) != wanted) continue;
            d = &devices_[i];
            spdlog::info("sdrplay radio found");
        }
    }
    if (!d) {
        spdlog::error("sdrplay Serial not found");
        return;
    }
    const int rate = SampleRate.get();
    if (d->hwVer == sdrplayDevice::rspDuo && (d->rspDuoMode & sdrplayDevice::masterBit)) {
        const bool dual = rate == sdrplayRates::dualTunerRate;
        d->tuner = dual ? sdrplayTuner::both : sdrplayTuner::A;
        d->rspDuoMode = dual ? sdrplayDevice::dualMode : sdrplayDevice::singleMode;
    }
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_SelectDevice(d); err != 0) {
        spdlog::error("sdrplay_api_SelectDevice {}", lib_->errorText(err));
        return;
    }
    // From here on a failure releases the device: a claimed device that is
    // not streaming could never be stopped, nor claimed again.
    sdrplay_api_DeviceParamsT* p = nullptr;
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_GetDeviceParams(d->dev, &p); err != 0) {
        spdlog::error("sdrplay_api_GetDeviceParams {}", lib_->errorText(err));
        abandon(d);
        return;
    }
    if (!p || !p->devParams || !p->rxChannelA) {
        spdlog::error("sdrplay deviceParams == nullptr");
        abandon(d);
        return;
    }
    device_.store(d);
    params_.store(p);
    channelA_.store(p->rxChannelA);

    sdrplay_api_RxChannelParamsT& a = *p->rxChannelA;
    sdrplayRates::SetSampleRate(rate, p->devParams, &a);
    a.rfHz = 1000.0;
    if (d->hwVer == sdrplayDevice::rspDuo && d->rspDuoMode == sdrplayDevice::dualMode && p->rxChannelB) {
        p->rxChannelB->rfHz = 1000.0;
        setAgc(p->rxChannelB->agc);
    }
    SetBiasT(false);
    SetRFNotch(false);
    SetDABNotch(false);
    SetAntenna(false);
    if (model_.load() == sdrplayModel::rspDuo) p->devParams->rspDuo.clockOutput = ClockOut.get() ? 1 : 0;
    setAgc(a.agc);

    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_Init(d->dev, &link_->callbacks, link_.get()); err != 0) {
        spdlog::error("sdrplay_api_Init {}", lib_->errorText(err));
        abandon(d);
        return;
    }
    // At exit the library's threads are stopped before its statics go. With
    // a copy of the record, as the destructor's hand-off has.
    exitStop_.set([lib = lib_, link = link_, record = std::make_shared<sdrplay_api_DeviceT>(*d)] {
        shutDown(lib, link, record.get());
    });
    lib_->firstCalls.rearmAfter("stream"); // after what this copy built for its first
    SetGain(true);
    SetGain2(true);
    lock.unlock();

    std::vector<std::shared_ptr<vtrx>> list;
    {
        std::lock_guard<std::mutex> l(listMutex);
        list = vtrxList;
    }
    for (auto& v : list) setRxFrequency(v->vfo.get(), v.get(), v->ADCs.get());
    std::fputs("radio started\r\n", stdout);
    std::fflush(stdout);
}

void SDRPlayRadio::abandon(sdrplay_api_DeviceT* d) {
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_ReleaseDevice(d); err != 0)
        spdlog::error("sdrplay_api_ReleaseDevice {}", lib_->errorText(err));
    forget();
}

void SDRPlayRadio::forget() {
    device_.store(nullptr);
    params_.store(nullptr);
    channelA_.store(nullptr);
}

void SDRPlayRadio::stopRadio() {
    // Held across Uninit, which waits for the library's threads: none of
    // them takes it, and a retune waiting for it then finds no tree.
    std::lock_guard<std::mutex> lock(deviceMutex_);
    sdrplay_api_DeviceT* d = device_.load();
    if (!d) return;
    if (!exitStop_.clear()) { // the exit stopped it
        forget();
        return;
    }
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_Uninit(d->dev); err != 0) {
        spdlog::error("sdrplay_api_Uninit {}", lib_->errorText(err));
        if (!removed_.load()) return;
        spdlog::error("sdrplay device {} was removed: forgotten", sdrplayDevice::serial(*d));
    }
    if (const sdrplay_api_ErrT err = lib_->sdrplay_api_ReleaseDevice(d); err != 0)
        spdlog::error("sdrplay_api_ReleaseDevice {}", lib_->errorText(err));
    forget();
}
