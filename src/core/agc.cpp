#include "core/agc.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {

/// Per-sample smoothing factor of a time constant in seconds. A constant
/// that is not positive (or not a number) acts at once: left to the formula
/// it would give a factor above 1 and the gain would run away.
float smoothing(float seconds) {
    if (!(seconds > 0.0f)) return 0.0f;
    return std::exp(-1.0f / (seconds * agc::sampleRate));
}

/// Hang time in samples, kept within the counter's range.
int32_t hangSamples(float seconds) {
    float samples = seconds * agc::sampleRate;
    if (!(samples >= 1.0f)) return 0;
    if (samples >= float(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int32_t(samples);
}

/// Gain cap from MaxGain in dB; a cap the float factor cannot carry (or a
/// MaxGain that is not a number) is held at the largest float, so the gain
/// stays finite and recovers on the next loud block.
double gainCap(float maxGainDb) {
    double cap = std::pow(10.0, double(maxGainDb / 20.0f));
    return cap <= double(FLT_MAX) ? cap : double(FLT_MAX);
}

/// A fixed factor made finite: an overflow becomes the largest float, so
/// silence stays silence instead of 0 × inf.
float finiteFactor(float f) {
    if (std::isnan(f)) return 0.0f;
    return std::clamp(f, -FLT_MAX, FLT_MAX);
}

void scaleAndClip(buff<float>& audio, float factor) {
    for (auto& x : audio) x = std::clamp(x * factor, -1.0f, 1.0f);
}

} // namespace

agc::agc(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {
    // What a host may set; anything else is refused with a log line.
    constexpr float anyFinite = FLT_MAX;
    Attack.hostRange(0.0f, 3600.0f); // seconds
    Decay.hostRange(0.0f, 3600.0f);
    Hang.hostRange(0.0f, 3600.0f);
    MaxGain.hostRange(-anyFinite, anyFinite); // dB
    Volume.hostRange(-anyFinite, anyFinite);
    Squelch.hostRange(-anyFinite, anyFinite);
    ManualGain.hostRange(-38.0, 38.0); // an exponent of ten the float gain can carry
}

buff<float> agc::process(buff<float> audio, bool hold, bool applyVolume, float level) {
    const float volume = applyVolume ? Volume.get() : 1.0f;

    if (!Enabled.get()) {
        // ManualGain is an exponent, not decibels: 1.0 gives x10.
        float manual = std::pow(10.0f, float(ManualGain.get()));
        scaleAndClip(audio, finiteFactor(volume * manual));
        return audio;
    }

    if (float squelch = Squelch.get(); squelch > -180.0f) {
        // An open squelch passes the audio at its own level: no control, no clipping.
        const float factor = squelch > level ? 0.0f : volume;
        for (auto& x : audio) x *= factor;
        return audio;
    }

    if (hold) {
        scaleAndClip(audio, finiteFactor(float(gain * double(volume))));
        return audio;
    }

    follow(audio, volume);
    return audio;
}

void agc::follow(buff<float> audio, float volume) {
    const float a = smoothing(Attack.get());
    const float d = smoothing(Decay.get());
    const int32_t hang = hangSamples(Hang.get());
    const double cap = gainCap(MaxGain.get());

    float peak = 0.0f;
    for (float x : audio) peak = std::max(peak, std::fabs(x));
    // A silent block lets the gain rise to 200; a vanishing (denormal) peak
    // would give an infinite target, held at the largest float instead.
    float target = peak > 0.0f ? 1.0f / (1.2f * peak) : 200.0f;
    target = std::min(target, FLT_MAX);
    const float attackStep = (1.0f - a) * target;
    const float decayStep = (1.0f - d) * target;

    // One gain step per sample so that a loud onset inside the block is
    // caught at once while quiet passages are held; kept plain for the
    // compiler, with the state in locals.
    double g = gain;
    int32_t left = hangCount;
    for (auto& x : audio) {
        if (g > target) {
            g = g * a + attackStep;
            left = hang;
        } else if (left >= 1) {
            --left;
        } else {
            g = g * d + decayStep;
        }
        if (!(g <= cap)) g = cap; // also catches a gain that is not a number
        x = std::clamp(x * float(g * volume), -1.0f, 1.0f);
    }
    gain = g;
    hangCount = left;
}
