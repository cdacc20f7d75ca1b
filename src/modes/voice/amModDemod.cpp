#include "modes/voice/amModDemod.h"

#include "modes/voice/micEqualiser.h"

#include <cmath>

amModDemod::amModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)),
      eqFilter(150.0f, 3000.0f, voiceTx::rate, voiceTx::eqTaps, voiceTx::blockLength),
      postClipFilter(150.0f, 3000.0f, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength),
      postLimiterFilter(150.0f, 3000.0f, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength) {
    limiter = delay<float>(voiceTx::limiterHistory, voiceTx::blockLength);
    compressionInUse_.guard(compression, "amModDemod.compression", voiceTx::carriesLevel);
    setTxAudioFilter();
}

buff<float> amModDemod::demodulate(buff<std::complex<float>> block) {
    buff<float> audio(block.size());
    for (size_t i = 0; i < block.size(); ++i) {
        const float e = std::hypot(block[i].real(), block[i].imag());
        // A sample that is no number would stay in the mean for good.
        if (!std::isfinite(e)) {
            audio[i] = 0.0f;
            continue;
        }
        dcMean += (double(e) - dcMean) * 0.01;
        audio[i] = float(double(e) - dcMean);
    }
    return audio;
}

void amModDemod::modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    if (micEqualiser::changedSince(eqVersion)) setTxAudioFilter();
    voiceTx::shapeBlock(*this, in, eqFilter, voiceTx::compressionGain(compressionInUse_.get()), postClipFilter);
    voiceTx::lookAheadLimit(limiter, limiterWindow, postClipFilter.outBlock, postLimiterFilter.inBlock,
                            voiceTx::amFmCeiling);
    postLimiterFilter.calc();

    // Carrier and audio on one direction, so the audio moves the envelope
    // only; at 45 degrees the carrier alone is 0.35355338 on both parts.
    constexpr float toAxis = 0.70710677f; // cos 45° = sin 45°
    const buff<std::complex<float>>& y = postLimiterFilter.outBlock;
    const size_t n = std::min(out.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
        const float v = (carrierLevel + audioLevel * y[i].real()) * toAxis;
        out[i] = {v, v};
    }
}

void amModDemod::setTxAudioFilter() {
    eqFilter.setFilter(voiceTx::equaliserTaps(300.0, 3000.0, micEqualiser::curve()));
}
