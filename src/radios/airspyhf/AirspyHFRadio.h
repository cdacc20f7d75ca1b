#pragma once
// AirspyHFRadio: one Airspy HF+ receiver, opened by serial number. At or
// below 30 MHz the gain is the front end's LNA and attenuator, undone by the
// gain scale; above, the device's own HF AGC runs and the scale is the level
// calibration alone. The band state remembers which band settings tune sent
// last, so a retune within a band sends only the frequency.
#include "radios/airspy/UsbStreamRadio.h"

class AirspyHFRadio : public UsbStreamRadio {
public:
    /// Highest frequency of the HF band, where the front end is ours.
    static constexpr double hfTop = 30000000.0;

    explicit AirspyHFRadio(std::shared_ptr<syncTask> group);
    ~AirspyHFRadio() override = default;

    /// Band settings if the band changed, the frequency, and the tuning
    /// error, while the device is open and running. Radio's task group.
    void tune() override;
    /// Adds a transceiver if there is none, opens, turns HF AGC off, applies
    /// the gain, starts streaming at receiver 0's rate and sends the
    /// frequency. The band state is left as it is. Radio's task group.
    void startRadio() override;
    void stopRadio() override;

    /// 0 at or below 30 MHz, 1 or 2 above, 3 before the first tune.
    int bandState() const { return band_; }

protected:
    void applyGainRule() override;
    void setupOpenFailed(int code) override;

private:
    /// The gain rule for the band the caller has decided on.
    void applyGain(bool hf);
    void sendFrequency(double f);

    int band_ = 3; // radio's task group only
};
