#include "radios/airspy/AirspyRadio.h"

#include "radios/airspy/airspyDriver.h"

#include <airspy.h>
#include <spdlog/spdlog.h>

#include <cmath>

namespace {
airspy_device* dev(void* d) { return static_cast<airspy_device*>(d); }
} // namespace

AirspyRadio::AirspyRadio(std::shared_ptr<syncTask> group) : UsbStreamRadio(std::move(group), airspyDriver) {
    maxRxRFGain.reinit(21);
    minRxRFGain.reinit(0);
    BiasT.changeHook = [this] {
        if (device()) airspy_set_rf_bias(dev(device()), BiasT.get() ? 1 : 0);
    };
}

void AirspyRadio::applyGainRule() {
    // Each linearity step counts as 4 dB; the product is taken in 64 bits so
    // that no host value overflows it.
    const long long g = rxGain.get();
    const double scale = 10.0 / std::pow(10.0, double(g * 4) / 20.0) * rxLevelCalibration.get();
    if (!acceptGainScale(scale)) return;
    if (device()) airspy_set_linearity_gain(dev(device()), uint8_t(g & 0xff));
    feed.gainScale.store(float(scale), std::memory_order_relaxed);
}

void AirspyRadio::tune() {
    if (!device() || !isRunning()) return;
    if (auto f = deviceFrequency()) driver.setFrequency(device(), toHz(*f));
}

void AirspyRadio::startRadio() {
    addVtrxIfNone();
    if (device()) {
        setRunning();
        return;
    }
    int r = openDevice();
    if (r != 0) {
        spdlog::error("airspy start open failed {}", r);
        setRunning();
        return;
    }
    applyGainRule();
    driver.setRate(device(), uint32_t(receivers[0].sampleRate));
    r = startStreaming();
    if (r != 0) {
        closeDevice();
        spdlog::error("airspy start open failed {}", r);
        setRunning();
        return;
    }
    if (auto f = deviceFrequency()) driver.setFrequency(device(), toHz(*f));
    airspy_set_rf_bias(dev(device()), BiasT.get() ? 1 : 0);
    spdlog::info("airspy started");
    setRunning();
}
