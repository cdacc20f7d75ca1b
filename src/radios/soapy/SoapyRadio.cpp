#include "radios/soapy/SoapyRadio.h"

#include "core/vtrx.h"
#include "framework/exitGate.h"
#include "radios/soapy/SoapyController.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/SoapyStream.h"
#include "radios/soapy/soapyCapabilities.h"
#include "radios/soapy/soapyOwned.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>

namespace {

/// Gives an open device back when the capability read is done or fails.
class deviceCloser {
public:
    deviceCloser(SoapyLib& lib, SoapySDRDevice* device) : lib_(lib), device_(device) {}
    ~deviceCloser() {
        const int rc = lib_.unmake(device_);
        if (rc != 0) spdlog::error("soapy unmake error {}", lib_.errorText(rc));
    }
    deviceCloser(const deviceCloser&) = delete;
    deviceCloser& operator=(const deviceCloser&) = delete;

private:
    SoapyLib& lib_;
    SoapySDRDevice* device_;
};

} // namespace

SoapyRadio::SoapyRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)), lib_(SoapyLib::getInstance()) {
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = 1536000;
    appendReceiver(r);
    rxLevelCalibration.changeHook = [this] { requests.levelCalibration.bump(); };
    // Until the device is read any rate may be chosen; the read checks it.
    acceptSampleRates("soapy", [](int rate) { return rate >= 0; }, [] {});
    auto named = [this] {
        if (!label.get().empty() && !driver.get().empty()) setup();
    };
    label.changeHook = named;
    driver.changeHook = named;
}

SoapyRadio::~SoapyRadio() { stopRadio(); }

// ---- finding and reading the device ----

SoapySDRDevice* SoapyRadio::FindRadio() {
    if (const char* m = lib_.missing<&SoapyLib::KwargsFromString, &SoapyLib::enumerate, &SoapyLib::make,
                                     &SoapyLib::unmake>()) {
        spdlog::error("soapy missing {}", m);
        return nullptr;
    }
    soapyKwargs args(lib_, lib_.KwargsFromString(("driver=" + driver.get()).c_str()));
    size_t n = 0;
    SoapySDRKwargs* list = lib_.enumerate(args.get(), &n);
    soapyKwargsList devices(lib_, list, n);
    const std::string wanted = label.get();
    for (SoapySDRKwargs& device : devices) {
        if (soapyDeviceFields::of(device, false).label != wanted) continue;
        spdlog::info("soapy make found {}", wanted);
        SoapySDRDevice* d = lib_.make(&device);
        // After SoapySDR's device table, built by the first make, and the
        // driver's statics, built by its first.
        exitGate::rearmAfterFirst("SoapySDR make " + driver.get(), d != nullptr);
        if (!d) spdlog::error("soapy make failed {}", lib_.lastErrorText());
        return d;
    }
    spdlog::error("soapy find failed {} {}", devices.size(), lib_.lastErrorText());
    return nullptr;
}

void SoapyRadio::setup() {
    if (connected_) return;
    try {
        SoapySDRDevice* device = FindRadio();
        if (!device) return; // a later driver or label change tries again
        deviceCloser closer(lib_, device);
        found_ = initialConnect(device);
    } catch (const std::exception& e) {
        spdlog::error("soapy setup  {}", e.what());
    } catch (...) {
        spdlog::error("soapy setup ??");
    }
}

bool SoapyRadio::initialConnect(SoapySDRDevice* device) {
    if (connected_) return false;
    connected_ = true;
    if (const char* m = lib_.missing<&SoapyLib::listSampleRates, &SoapyLib::listAntennas, &SoapyLib::listGains,
                                     &SoapyLib::getGainElementRange, &SoapyLib::getGainRange,
                                     &SoapyLib::getAntenna, &SoapyLib::hasGainMode, &SoapyLib::getSettingInfo,
                                     &SoapyLib::getABIVersion>()) {
        spdlog::error("soapy missing {}", m);
        return false;
    }
    readSampleRates(device);
    {
        size_t n = 0;
        char** list = lib_.listAntennas(device, SOAPY_SDR_RX, 0, &n);
        soapyStrings names(lib_, list, n);
        for (char* name : names) antennaAdded.send(soapyText(name));
    }
    {
        size_t n = 0;
        char** list = lib_.listGains(device, SOAPY_SDR_RX, 0, &n);
        soapyStrings names(lib_, list, n);
        for (char* name : names) {
            if (!name) continue;
            const SoapySDRRange r = lib_.getGainElementRange(device, SOAPY_SDR_RX, 0, name);
            if (!std::isfinite(r.minimum) || !std::isfinite(r.maximum)) {
                spdlog::error("soapy gain {} range refused", name);
                continue;
            }
            gainElementMinimum += r.minimum;
            gainElementMaximum += r.maximum;
        }
    }

    const bool offered = chooseSampleRate();

    readGains(device);

    antenna.changeHook = [this] { requests.antenna.bump(); };
    if (antenna.get().empty()) {
        soapyOwnedText name(lib_, lib_.getAntenna(device, SOAPY_SDR_RX, 0));
        antenna.set(name.str());
    }
    rxGain.changeHook = [this] { requests.rxGain.bump(); };
    if (rxGain.get() < minRxRFGain.get() || rxGain.get() > maxRxRFGain.get()) rxGain.set(maxRxRFGain.get());
    frequencyCalibration.changeHook = [this] {
        requests.frequencyCalibration.bump();
        tune();
    };
    hasGainMode = lib_.hasGainMode(device, SOAPY_SDR_RX, 0);
    if (!lib_.abiStartsWith({"0.5", "0.6", "0.7"})) readSettings(device);
    // A device that offers no rate has none to stream at: it is read, but
    // never started.
    return offered;
}

bool SoapyRadio::chooseSampleRate() {
    const auto rates = SampleRates.items();
    const bool offered = !rates.empty() && rates.front();
    if (!offered) spdlog::error("soapy no compatible sample rate found");
    const int chosen = SampleRate.get();
    // The rate in force once the device is read: its first offered rate (a
    // device that offers none keeps the default, and never streams).
    const int first = offered ? rates.front()->Value.get() : defaultSampleRate;
    auto apply = [this] {
        setReceiverRates();
        requests.sampleRate.bump();
    };
    if (chosen == defaultSampleRate) {
        acceptSampleRates("soapy", [this](int rate) { return delivers(rate); }, apply);
        if (first != chosen) SampleRate.set(first); // the host hears it
    } else {
        // A rate the host chose before the device was read is checked now,
        // as the host's change it was: taken when the device delivers it,
        // else refused and the first offered rate told back.
        SampleRate.reinit(first);
        acceptSampleRates("soapy", [this](int rate) { return delivers(rate); }, apply);
        SampleRate.hostSet(chosen);
    }
    if (offered) setReceiverRates();
    return offered;
}

void SoapyRadio::readSampleRates(SoapySDRDevice* device) {
    // Offered: the ranges' rates, or the list's when the ranges give none.
    // Delivered: whatever either of them names.
    auto offer = [this](int rate) { SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), rate, formatSR(rate))); };
    if (lib_.getSampleRateRange) {
        size_t n = 0;
        SoapySDRRange* list = lib_.getSampleRateRange(device, SOAPY_SDR_RX, 0, &n);
        soapyArray<SoapySDRRange> ranges(lib_, list, n);
        for (const SoapySDRRange& r : ranges) {
            if (driver.get() != "rtlsdr")
                for (int rate : soapyCapabilities::ratesOfRange(r.minimum, r.maximum, r.step)) offer(rate);
            deliverable_.push_back(r);
        }
    }
    const bool fromList = SampleRates.size() == 0;
    size_t n = 0;
    double* list = lib_.listSampleRates(device, SOAPY_SDR_RX, 0, &n);
    soapyArray<double> listed(lib_, list, n);
    for (double value : listed) {
        if (fromList)
            if (auto rate = soapyCapabilities::listedRate(value)) offer(*rate);
        deliverable_.push_back({value, value, 0.0});
    }
}

bool SoapyRadio::delivers(int rate) const {
    if (rate <= 0) return false;
    return std::any_of(deliverable_.begin(), deliverable_.end(), [rate](const SoapySDRRange& r) {
        return soapyCapabilities::inRange(r.minimum, r.maximum, r.step, rate);
    });
}

void SoapyRadio::readGains(SoapySDRDevice* device) {
    const SoapySDRRange r = lib_.getGainRange(device, SOAPY_SDR_RX, 0);
    const double offset = r.minimum - gainElementMinimum;
    const auto top = soapyCapabilities::wholeNumber(r.maximum - offset);
    const auto bottom = soapyCapabilities::wholeNumber(r.minimum - offset);
    if (!std::isfinite(offset) || !top || !bottom) {
        spdlog::error("soapy gain range {} {} refused", r.minimum, r.maximum);
        return;
    }
    gainOffset = offset;
    maxRxRFGain.set(*top);
    minRxRFGain.set(*bottom);
}

void SoapyRadio::readSettings(SoapySDRDevice* device) {
    size_t n = 0;
    SoapySDRArgInfo* list = lib_.getSettingInfo(device, &n);
    soapyArgInfoList infos(lib_, list, n);
    int index = 0;
    for (const SoapySDRArgInfo& info : infos) {
        std::string text = soapyCapabilities::settingText(index++, info);
        settingTexts.push_back(text);
        {
            std::lock_guard<std::mutex> lock(settingsMutex_);
            settingList_.push_back({soapyText(info.key), soapyText(info.value)});
        }
        settingAdded.send(std::move(text));
    }
}

void SoapyRadio::setReceiverRates() {
    const int rate = rateInForce();
    // The stream thread reads the rate under the same lock as it starts a block.
    std::lock_guard<std::mutex> lock(listMutex);
    for (auto& r : receivers) r.sampleRate = rate;
}

// ---- host changes ----

void SoapyRadio::ChangeSetting(int index, std::string value) {
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        if (index < 0 || size_t(index) >= settingList_.size()) {
            spdlog::error("soapy setting {} refused: {} settings", index, settingList_.size());
            return;
        }
        settingList_[size_t(index)].value = std::move(value);
        lastChangedSetting_ = index;
    }
    requests.settings.bump();
}

SettingKeyValue SoapyRadio::changedSetting() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    if (lastChangedSetting_ < 0 || size_t(lastChangedSetting_) >= settingList_.size()) return {};
    return settingList_[size_t(lastChangedSetting_)];
}

long long SoapyRadio::receiverFrequency() const {
    std::lock_guard<std::mutex> lock(listMutex);
    return receivers.empty() ? 0 : receivers[0].frequency;
}

void SoapyRadio::stepGain(int step) {
    seqTask t;
    t.fn = [this, step] {
        const int g = rxGain.get() + step;
        if (g >= minRxRFGain.get() && g <= maxRxRFGain.get()) rxGain.set(g);
    };
    t.name = "SoapyRadio.agc";
    asyncProcess(t); // holds the radio until it runs
}

// ---- start and stop ----

void SoapyRadio::startRadio() {
    if (running.load(std::memory_order_acquire) || !found_) return;
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(startFrequency, 0, 0);
    if (streamThread_.joinable()) streamThread_.join(); // ended, never joined
    running.store(true, std::memory_order_release);
    // The thread gets a weak reference: it holds the radio one turn at a
    // time, so a host that releases a running radio ends the thread too.
    std::weak_ptr<SoapyRadio> self = std::static_pointer_cast<SoapyRadio>(shared_from_this());
    auto end = std::make_shared<exitGate::threadEnd>();
    threadEnd_ = end;
    streamThread_ = std::thread([self = std::move(self), end] {
        SoapyStream::run(self);
        end->ended();
    });
    // At exit: out of its idling (the gate refuses it samples) and through
    // the close of stream and device, before SoapySDR's and the module's
    // statics go. Joined once it has ended, unless it was let go: a radio
    // destroyed on it then is gone. One that does not end is left to
    // whoever stops the radio later.
    exitStop_.set([this, end] {
        running.store(false, std::memory_order_release);
        if (!end->waitEnded(exitGate::drainLimit)) {
            spdlog::error("soapy stream thread still running at exit");
            return;
        }
        if (!end->detached() && streamThread_.joinable()) streamThread_.join();
    });
}

void SoapyRadio::stopRadio() {
    running.store(false, std::memory_order_release);
    const bool onStreamThread = streamThread_.joinable() && streamThread_.get_id() == std::this_thread::get_id();
    const bool stoppedByExit = !exitStop_.clear(!onStreamThread);
    if (!streamThread_.joinable()) return;
    try {
        if (onStreamThread) {
            // The thread's turn dropped the last reference: it finds the
            // radio gone and closes the device on its own, with the exit
            // waiting for it.
            threadEnd_->letGo();
            streamThread_.detach();
            return;
        }
        if (stoppedByExit && !threadEnd_->waitEnded(std::chrono::milliseconds(0))) {
            // Still inside the driver after the exit gave up on it: nobody
            // waits for it any longer. It holds nothing of the radio.
            streamThread_.detach();
            return;
        }
        streamThread_.join();
    } catch (const std::exception& e) {
        spdlog::error("soapy stop {}", e.what());
    } catch (...) {
        spdlog::error("soapy stop ??");
    }
}
