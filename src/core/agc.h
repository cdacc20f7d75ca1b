#pragma once
// agc: automatic gain control of a receiver's audio.
//
// The gain follows the block peak towards 1/1.2 of full scale: it falls with
// the attack constant, is held for Hang seconds after the last fall and then
// rises with the decay constant, never above MaxGain. The output is scaled by
// Volume and clipped to full scale. Squelch and a fixed manual gain replace
// the control when in use.
//
// The settings are taken from the host as they come and made harmless where
// they are used: a time constant that is not positive acts at once, the hang
// is bounded, and the gain stays finite whatever the cap and the input.
#include "dsp/buff.h"
#include "framework/asyncProperty.h"

#include <cstdint>

class agc : public asyncObject {
public:
    explicit agc(std::shared_ptr<syncTask> taskGroup);
    ~agc() override = default;

    /// Levels 48000-samples-per-second audio in place and returns it.
    /// hold keeps the gain for this block; applyVolume false leaves the volume
    /// to the caller; level is the caller's signal strength, compared with
    /// Squelch. Owner's task group only. Never allocates.
    buff<float> process(buff<float> audio, bool hold, bool applyVolume, float level);

    asyncProperty<float> Attack{0.01f};     // seconds
    asyncProperty<float> Decay{0.2f};       // seconds
    asyncProperty<float> Hang{2.0f};        // seconds after the last gain reduction
    asyncProperty<float> MaxGain{80.0f};    // dB
    asyncProperty<float> Volume{1.0f};      // linear
    asyncProperty<float> Squelch{-180.0f};  // caller's level units; -180 or below is off
    asyncProperty<double> ManualGain{1.0};  // exponent: the gain is 10^ManualGain
    asyncProperty<bool> Enabled{true};

    /// Current linear gain and the samples left before it may rise again.
    /// Owner's task group only.
    double currentGain() const { return gain; }
    int32_t hangLeft() const { return hangCount; }

    static constexpr float sampleRate = 48000.0f;

private:
    void follow(buff<float> audio, float volume);

    int32_t hangCount = 0;
    double gain = 200.0;
};
