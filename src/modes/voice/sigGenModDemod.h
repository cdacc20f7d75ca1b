#pragma once
// sigGenModDemod: a two-tone signal generator for testing a transmitter: a
// line of amplitude ampl1 at the transmit frequency and one of amplitude
// ampl2 freq2 Hz from it (below for a negative freq2). Receive plays the
// real part.
#include "core/modDemod.h"
#include "modes/data/checkedValue.h"
#include "modes/voice/voiceTxChain.h"

class sigGenModDemod : public modDemod {
public:
    explicit sigGenModDemod(std::shared_ptr<syncTask> taskGroup);
    ~sigGenModDemod() override = default;

    // ---- the owning transceiver's task group ----
    buff<float> demodulate(buff<std::complex<float>> block) override;
    /// Ignores the microphone and fills out with the two lines; the second
    /// line's phase runs on from block to block.
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;

    asyncProperty<double> ampl1{1.0};   // the carrier's amplitude
    asyncProperty<double> ampl2{0.0};   // the tone's amplitude
    asyncProperty<double> freq2{200.0}; // the tone's offset from the carrier, Hz

    double phase = 0.0; // the tone's phase, radians

private:
    // What the chain carries of the three: levels up to voiceTx::maxLevel,
    // offsets within half the sample rate.
    checkedValue<double> ampl1InUse_;
    checkedValue<double> ampl2InUse_;
    checkedValue<double> freq2InUse_;
};
