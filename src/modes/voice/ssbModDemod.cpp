#include "modes/voice/ssbModDemod.h"

#include "modes/voice/micEqualiser.h"
#include "core/realAudio.h"

#include <spdlog/spdlog.h>

ssbModDemod::ssbModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)),
      eqFilter(150.0f, 3000.0f, voiceTx::rate, voiceTx::eqTaps, voiceTx::blockLength),
      sidebandFilter(150.0f, 3000.0f, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength) {
    limiter = delay<float>(voiceTx::limiterHistory, voiceTx::blockLength);
    compressionInUse_.guard(compression, "ssbModDemod.compression", voiceTx::carriesLevel);
}

buff<float> ssbModDemod::demodulate(buff<std::complex<float>> block) {
    return realAudio(block);
}

void ssbModDemod::modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    if (UseMicEQ.get() && micEqualiser::changedSince(eqVersion)) setTxEqFilter(eqLow, eqHigh);
    voiceTx::shapeBlock(*this, in, eqFilter, voiceTx::compressionGain(compressionInUse_.get()), sidebandFilter);
    voiceTx::lookAheadLimit(limiter, limiterWindow, sidebandFilter.outBlock, out, voiceTx::ssbCeiling);
}

void ssbModDemod::setRxFilter(int, int) {}

void ssbModDemod::setTxFilter(int low, int high) {
    const float lo = float(int64_t(low) + 100), hi = float(int64_t(high) - 100);
    if (!(lo < hi)) {
        spdlog::error("ssbModDemod transmit pass-band {} .. {} Hz too narrow, filters kept", low, high);
        return;
    }
    sidebandFilter.setFilter(lo, hi, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength);
    setTxEqFilter(lo, hi);
}

void ssbModDemod::setTxEqFilter(double low, double high) {
    if (!(low < high)) return; // only setTxFilter's bands come here, already checked
    eqLow = low;
    eqHigh = high;
    if (UseMicEQ.get())
        eqFilter.setFilter(voiceTx::equaliserTaps(low, high, micEqualiser::curve()));
    else
        eqFilter.setFilter(float(low), float(high), voiceTx::rate, voiceTx::eqTaps, voiceTx::blockLength);
}
