#pragma once
// AirspyRadio: one Airspy receiver, opened by serial number. Linearity gain
// with a gain scale that undoes 4 dB per step, bias tee, and tuning through
// the 32-bit float frequency the device takes.
#include "radios/airspy/UsbStreamRadio.h"

class AirspyRadio : public UsbStreamRadio {
public:
    explicit AirspyRadio(std::shared_ptr<syncTask> group);
    ~AirspyRadio() override = default;

    /// Bias-tee power on the antenna input.
    asyncProperty<bool> BiasT{false};

    /// Sends the device frequency while the device is open and running.
    /// Radio's task group.
    void tune() override;
    /// Adds a transceiver if there is none, opens, applies the gain, starts
    /// streaming at receiver 0's rate, tunes and sets the bias tee. A
    /// failure is logged; the running flag is set in every case. Radio's
    /// task group.
    void startRadio() override;

protected:
    void applyGainRule() override;
};
