#include "radios/airspy/UsbStreamRadio.h"

#include "framework/exitGate.h"
#include "framework/handOff.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

/// The context the driver calls back with. It outlives every callback: the
/// radio owns it until its destructor, which either stops the driver first
/// or gives the link to the thread that does.
struct UsbStreamRadio::link {
    std::weak_ptr<UsbStreamRadio> radio;
    const char* name;
};

namespace {
/// The link whose transfer this thread is delivering, if any.
thread_local const void* deliveringFor = nullptr;
} // namespace

UsbStreamRadio::UsbStreamRadio(std::shared_ptr<syncTask> group, const usbDriver& drv)
    : Radio(std::move(group)), driver(drv) {
    hwReceiver r;
    r.frequency = 99000000;
    r.sampleRate = 768000;
    r.block = buff<cplx>(hwReceiver::blockSizeFor(r.sampleRate));
    r.blockRate = r.sampleRate;
    appendReceiver(r);

    Serial.changeHook = [this] { serialChanged(); };
    rxGain.changeHook = [this] { applyGainRule(); };
    rxLevelCalibration.changeHook = [this] { applyGainRule(); };
    // Only a rate the device listed: the driver takes no other.
    acceptSampleRates(
        driver.name,
        [this](int rate) {
            return rate > 0 && std::find(deviceRates_.begin(), deviceRates_.end(), uint32_t(rate)) != deviceRates_.end();
        },
        [this] { sampleRateChanged(); });
    frequencyCalibration.changeHook = [this] { tune(); };
}

UsbStreamRadio::~UsbStreamRadio() {
    if (!device_) return;
    if (link_ && deliveringFor == link_.get()) {
        closeFromAnotherThread();
        return;
    }
    stopStreaming();
    driver.close(device_);
}

void UsbStreamRadio::closeFromAnotherThread() noexcept {
    try {
        spdlog::info("{} released during a transfer: closing from another thread", driver.name);
    } catch (...) {
    }
    // The link goes with the closing job: the driver may call back until it
    // is stopped, and then finds the radio gone. The exit waits for the job
    // (and this transfer must not wait for the exit's stop of the driver).
    exitStop_.clear(false);
    handOff(driver.name, [d = &driver, device = device_, l = std::move(link_)] {
        d->stop(device);
        d->close(device);
    });
}

// ---- the device ----

int UsbStreamRadio::openDevice() {
    void* d = nullptr;
    int r = driver.open(&d, Serial.get());
    if (r == 0 && !d) r = -1; // success without a device is no success
    if (r == 0) device_ = d;
    return r;
}

void UsbStreamRadio::closeDevice() {
    if (!device_) return;
    driver.close(device_);
    device_ = nullptr;
}

int UsbStreamRadio::startStreaming() {
    if (!link_) {
        link_ = std::make_unique<link>();
        link_->radio = std::static_pointer_cast<UsbStreamRadio>(shared_from_this());
        link_->name = driver.name;
    }
    const int r = driver.start(device_, link_.get());
    // At exit the driver's threads are stopped before its statics go, and
    // after what its first start built.
    if (r == 0) exitStop_.set([d = &driver, device = device_] { d->stop(device); });
    exitGate::rearmAfterFirst(std::string(driver.name) + " start", r == 0);
    return r;
}

void UsbStreamRadio::stopStreaming() {
    exitStop_.clear();
    driver.stop(device_);
}

void UsbStreamRadio::stopRadio() {
    if (device_) {
        stopStreaming();
        closeDevice();
    }
    running_ = false;
}

void UsbStreamRadio::addVtrxIfNone() {
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(99000000, 0, 0);
}

// ---- serial, rates ----

void UsbStreamRadio::serialChanged() {
    if (Serial.get() == 0) return;
    // Listing the rates of the new device needs the handle, which the
    // running stream holds: stop and close first, and start the new device
    // once its rates are in.
    const bool wasRunning = running_.load();
    if (wasRunning || device_) stopRadio();
    setup();
    if (wasRunning) startRadio();
}

void UsbStreamRadio::setup() {
    void* d = nullptr;
    int r = driver.open(&d, Serial.get());
    if (r != 0 || !d) {
        setupOpenFailed(r);
        return;
    }
    const std::vector<uint32_t> rates = readRates(d);
    driver.close(d);

    for (uint32_t rate : rates)
        SampleRates.add(std::make_shared<ValueLabelItem>(taskGroup(), int(rate), formatSR(int(rate))));
    // No rates, no first rate: SampleRate, and the rates it may take, stay
    // as they are.
    if (rates.empty()) return;
    deviceRates_ = rates;
    SampleRate.set(int(rates.front()), true);
}

std::vector<uint32_t> UsbStreamRadio::readRates(void* d) const {
    uint32_t count = 0;
    if (driver.getRates(d, &count, 0) != 0) return {};
    if (count > maxRates) {
        spdlog::error("{} reports {} sample rates, the first {} are used", driver.name, count, maxRates);
        count = maxRates;
    }
    std::vector<uint32_t> rates(count);
    if (count == 0 || driver.getRates(d, rates.data(), count) != 0) return {};
    // A rate must fit the int properties that carry it and count time.
    std::erase_if(rates, [this](uint32_t rate) {
        bool bad = rate == 0 || rate > uint32_t(INT_MAX);
        if (bad) spdlog::error("{} sample rate {} ignored", driver.name, rate);
        return bad;
    });
    return rates;
}

void UsbStreamRadio::sampleRateChanged() {
    const int rate = SampleRate.get();
    {
        // The driver's thread sizes its next block from this.
        std::lock_guard<std::mutex> lock(listMutex);
        receivers[0].sampleRate = rate;
    }
    // Only a running stream is restarted: setup and a closed radio leave
    // the rate to the next start.
    if (!device_ || !running_) return;
    stopStreaming();
    driver.setRate(device_, uint32_t(rate));
    startStreaming();
}

// ---- frequency and gain ----

double UsbStreamRadio::calibratedFrequency() const {
    // Through a 32-bit float on purpose: this is the frequency the device
    // is told (8 Hz steps at 99 MHz).
    return double(float(receivers[0].frequency)) * frequencyCalibration.get();
}

std::optional<double> UsbStreamRadio::deviceFrequency() const {
    const double f = calibratedFrequency();
    if (!std::isfinite(f)) {
        spdlog::error("{} tune skipped: frequency {} Hz with frequencyCalibration {}", driver.name,
                      receivers[0].frequency, frequencyCalibration.get());
        return std::nullopt;
    }
    const double clamped = std::clamp(f, 0.0, double(UINT32_MAX));
    if (clamped != f) spdlog::error("{} frequency {} Hz out of range, {} Hz used", driver.name, f, clamped);
    return clamped;
}

uint32_t UsbStreamRadio::toHz(double hz) { return uint32_t(std::clamp(hz, 0.0, double(UINT32_MAX))); }

void UsbStreamRadio::setTuningError(int hz) {
    // Read with the receivers on the radio's task group only; the lock keeps
    // it in step with the rest of the receiver all the same.
    std::lock_guard<std::mutex> lock(listMutex);
    receivers[0].tuningError = hz;
}

bool UsbStreamRadio::acceptGainScale(double scale) const {
    if (std::isfinite(scale) && std::fabs(scale) <= double(FLT_MAX)) return true;
    spdlog::error("{} rxGain {} with rxLevelCalibration {} refused: gain scale {}", driver.name, rxGain.get(),
                  rxLevelCalibration.get(), scale);
    return false;
}

// ---- the stream ----

void UsbStreamRadio::deliver(void* context, const float* iq, int count) {
    auto* l = static_cast<const link*>(context);
    if (!l || !iq || count <= 0) return;
    exitGate::pass pass;
    if (!pass) return; // the process is exiting
    deliveringFor = l;
    try {
        // May be the last reference when it goes: see the destructor.
        if (auto radio = l->radio.lock()) radio->Process(iq, count);
    } catch (const std::exception& e) {
        try {
            spdlog::error("{} transfer dropped: {}", l->name, e.what());
        } catch (...) {
        }
    }
    deliveringFor = nullptr;
}

void UsbStreamRadio::Process(const float* iq, int count) {
    if (!iq || count <= 0) return;
    // One small capture, so that the fill function needs no allocation.
    struct cursor {
        const float* iq;
        float scale;
        float peak;
    } c{iq, feed.gainScale.load(std::memory_order_relaxed), 0.0f};
    unlockedWrite(
        [&c](cplx* out, size_t n) {
            c.peak = SampleFeed::scaleAndPeak(c.iq, out, n, c.scale, c.peak);
            c.iq += 2 * n;
        },
        size_t(count), 0);

    float peak;
    if (feed.account(c.peak, size_t(count), rateInForce(), peak)) adcPeak.set(double(peak), true);
}
