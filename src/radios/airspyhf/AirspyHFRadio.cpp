#include "radios/airspyhf/AirspyHFRadio.h"

#include "radios/airspyhf/airspyhfDriver.h"

#include <airspyhf.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>

namespace {

airspyhf_device_t* dev(void* d) { return static_cast<airspyhf_device_t*>(d); }

/// Each attenuator step is 6 dB and the device has 8.
constexpr long long maxAttenuatorSteps = 8;

} // namespace

AirspyHFRadio::AirspyHFRadio(std::shared_ptr<syncTask> group) : UsbStreamRadio(std::move(group), airspyhfDriver) {
    maxRxRFGain.reinit(6);
    minRxRFGain.reinit(-48);
}

void AirspyHFRadio::setupOpenFailed(int code) { spdlog::error("airspyhf setup open failed {}", code); }

void AirspyHFRadio::applyGainRule() {
    if (!device()) return; // a closed device changes nothing, the scale included
    applyGain(calibratedFrequency() <= hfTop);
}

void AirspyHFRadio::applyGain(bool hf) {
    const double calibration = rxLevelCalibration.get();
    if (!hf) {
        if (acceptGainScale(calibration)) feed.gainScale.store(float(calibration), std::memory_order_relaxed);
        return;
    }
    const long long g = rxGain.get(); // 64 bits: negating any int is defined
    const double scale = 10.0 / std::pow(10.0, double(g) / 20.0) * calibration;
    if (!acceptGainScale(scale)) return;
    // Steps toward zero, held to what the attenuator has: a deep rxGain
    // would otherwise wrap around the 8-bit value to no attenuation.
    const long long steps = std::clamp(-g / 6, 0LL, maxAttenuatorSteps);
    airspyhf_set_hf_lna(dev(device()), g > 0 ? 1 : 0);
    airspyhf_set_hf_att(dev(device()), uint8_t(steps));
    feed.gainScale.store(float(scale), std::memory_order_relaxed);
}

void AirspyHFRadio::tune() {
    if (!device() || !isRunning()) return;
    auto product = deviceFrequency();
    if (!product) return;
    const float f = float(*product);
    auto aboveHF = [this] {
        airspyhf_set_hf_agc(dev(device()), 1);
        airspyhf_set_hf_lna(dev(device()), 0);
        airspyhf_set_hf_att(dev(device()), 0);
        // The device's AGC sets the level now: the HF scale must go.
        applyGain(false);
    };
    // Above 63 MHz the state alternates between 2 and 1, so every retune
    // there sends the settings again.
    if (band_ != 2 && f > 63000000.0f) {
        band_ = 2;
        aboveHF();
    } else if (band_ != 1 && f > 30000000.0f) {
        band_ = 1;
        aboveHF();
    } else if (band_ != 0 && f <= 30000000.0f) {
        band_ = 0;
        airspyhf_set_hf_agc(dev(device()), 0);
        // Back at HF the front end and the scale must follow rxGain again,
        // or the level is off by what the band above left behind.
        applyGain(true);
    }
    sendFrequency(double(f));
}

void AirspyHFRadio::sendFrequency(double f) {
    driver.setFrequency(device(), toHz(f));
    // The blocks are centred where the device really is.
    setTuningError(airspyhfTuningError(device()));
}

void AirspyHFRadio::startRadio() {
    addVtrxIfNone();
    if (!device()) {
        int r = openDevice();
        if (r != 0) {
            spdlog::error("airspyhf start open failed {}", r);
        } else {
            airspyhf_set_hf_agc(dev(device()), 0);
            applyGainRule();
            driver.setRate(device(), uint32_t(receivers[0].sampleRate));
            r = startStreaming();
            if (r != 0) {
                closeDevice();
                spdlog::error("airspyhf start failed {}", r);
            } else {
                airspyhf_set_hf_agc(dev(device()), 0);
                if (auto f = deviceFrequency()) sendFrequency(*f);
                spdlog::info("airspyhf started");
            }
        }
    }
    setRunning();
}

void AirspyHFRadio::stopRadio() {
    const bool wasOpen = isOpen();
    UsbStreamRadio::stopRadio();
    if (wasOpen) spdlog::info("airspyhf stopped");
}
