#pragma once
// amModDemod: amplitude modulation. Receive detects the envelope and takes
// away its slowly moving mean (the carrier). Transmit is the shared voice
// chain over 300 .. 3000 Hz, a second band filter after the limiter, and a
// carrier of magnitude 0.5 at 45 degrees that the audio moves along its own
// direction: out = (0.5 + 0.48 y) × (cos 45°, sin 45°), y the real part of
// the limited audio, so the envelope follows the audio (93 % deep at the
// limiter's ceiling) and the phase stays put.
#include "core/modDemod.h"
#include "dsp/lowLatFir.h"
#include "modes/data/checkedValue.h"
#include "modes/voice/delay.h"
#include "modes/voice/voiceTxChain.h"

#include <cstdint>

class amModDemod : public modDemod {
public:
    /// Designs the equaliser from the root's curve (flat without a root).
    explicit amModDemod(std::shared_ptr<syncTask> taskGroup);
    ~amModDemod() override = default;

    // ---- the owning transceiver's task group ----
    buff<float> demodulate(buff<std::complex<float>> block) override;
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override;
    /// The curve-shaped equaliser for the fixed band 300 .. 3000 Hz.
    void setTxAudioFilter();

    asyncProperty<double> compression{1.0}; // gain before the clipper: 2 × compression

    lowLatFir eqFilter;
    lowLatFir postClipFilter;
    lowLatFir postLimiterFilter;
    delay<float> limiter;
    int limiterWindow = voiceTx::limiterWindowLength;
    double dcMean = 0.0;    // running mean of the received envelope
    int64_t eqVersion = -1; // curve version of the last design

    static constexpr float carrierLevel = 0.5f;
    static constexpr float audioLevel = 0.48f;

private:
    checkedValue<double> compressionInUse_; // what the chain carries of compression
};
