#pragma once
// ssbModDemod: single-sideband voice. The transceiver's receive filter has
// already chosen the sideband, so receive is the real part. Transmit is the
// shared voice chain over the transmit pass-band: the equaliser, placed on
// one side of zero, passes one side of the complex microphone signal and so
// forms the sideband (positive band: upper, negative: lower).
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "modes/data/checkedValue.h"
#include "modes/voice/delay.h"
#include "modes/voice/voiceTxChain.h"

#include <cstdint>

class ssbModDemod : public modDemod {
public:
    explicit ssbModDemod(std::shared_ptr<syncTask> taskGroup);
    ~ssbModDemod() override = default;

    // ---- the owning transceiver's task group ----
    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    void setRxFilter(int low, int high) override;
    /// Transmit pass-band edges in Hz; the mode's filters sit 100 Hz inside
    /// them. A band of 200 Hz or less is refused (logged), the filters kept.
    void setTxFilter(int low, int high) override;
    /// The equaliser for low .. high Hz: curve-shaped with UseMicEQ, else a
    /// plain band. Remembered for the redesign when the curve changes.
    void setTxEqFilter(double low, double high);

    asyncProperty<double> compression{1.0}; // gain before the clipper: 2 × compression
    asyncProperty<bool> UseMicEQ{true};     // shape the equaliser with the root's curve

    lowLatFir eqFilter;
    lowLatFir sidebandFilter;
    delay<float> limiter;
    int limiterWindow = voiceTx::limiterWindowLength;
    int64_t eqVersion = -1; // curve version of the last shaped design
    double eqLow = 150.0;
    double eqHigh = 3000.0;

private:
    checkedValue<double> compressionInUse_; // what the chain carries of compression
};
