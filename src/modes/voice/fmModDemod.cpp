#include "modes/voice/fmModDemod.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "dsp/filterDesign.h"
#include "modes/voice/micEqualiser.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr size_t toneRun = 128;     // the tone oscillator is renormalised after each run
constexpr float toneLevel = 0.1f;   // CTCSS level against full-scale audio
constexpr double toneScale = 0.85;  // deviation left to the audio while the tone runs
constexpr float carrierLevel = 0.99f;

// An unwindowed complex band-pass of 300 .. 3000 Hz at 48000 over rxTaps
// taps: sin(pi 2700 t / 48000) / (pi t) turned to 1650 Hz.
buff<std::complex<float>> narrowPrototype() {
    constexpr int N = fmModDemod::rxTaps;
    constexpr float pi = 3.1415927f;
    buff<std::complex<float>> taps{size_t(N)};
    for (int n = 0; n < N; ++n) {
        const float t = float(n) - 511.5f;
        const float h = std::sin(0.17671458f * t) / (pi * t);
        const float theta = float(0.2159845056259524 * double(t));
        taps[size_t(n)] = {h * std::cos(theta), h * std::sin(theta)};
    }
    return taps;
}

} // namespace

fmModDemod::fmModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)),
      eqFilter(300.0f, 3000.0f, voiceTx::rate, voiceTx::eqTaps, voiceTx::blockLength),
      postClipFilter(300.0f, 3000.0f, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength),
      postLimiterFilter(300.0f, 3000.0f, voiceTx::rate, voiceTx::bandTaps, voiceTx::blockLength),
      rxAudioFilter(narrowAudioFilter()), pilotPll(pilotLoop()) {
    limiter = delay<float>(voiceTx::limiterHistory, voiceTx::blockLength);
    txFiltered = true;
    compressionInUse_.guard(compression, "fmModDemod.compression", voiceTx::carriesLevel);
    deviationInUse_.guard(deviation, "fmModDemod.deviation", [](double d) { return std::isfinite(d); });
    // 0 or less is no tone.
    ctcssInUse_.guard(CTCSS, "fmModDemod.CTCSS",
                      [](double hz) { return std::isfinite(hz) && hz <= voiceTx::rate / 2.0; });
    setTxAudioFilter();
}

lowLatFir fmModDemod::narrowAudioFilter() {
    return lowLatFir(deEmphasised(narrowPrototype(), narrowRate, 300.0, 3000.0), voiceTx::blockLength);
}

pll<float> fmModDemod::pilotLoop() {
    // 2 pi 19000 / 384000 rad per sample, held within ± 25 Hz, a unity-gain
    // two-pole low-pass and a PI frequency update.
    return pll<float>{0.0f,
                      0.31088677f,
                      3.1415927410125732,
                      0.31088677f,
                      0.00081812311f,
                      {0.0f, 0.0f},
                      {0.0f, 0.0f},
                      4.11272049e-06f,
                      -1.99471092f,
                      0.994715035f,
                      0.0f,
                      0.000507236342f,
                      -0.000507188495f};
}

void fmModDemod::enterReceivePath(bool wide) {
    // Each path starts as a fresh mode would: the other path's filter
    // history, half-filled block, last sample and loop state belong to
    // another rate and another signal.
    if (wide) {
        buildWide();
        pilotPll = pilotLoop();
    } else {
        rxAudioFilter = narrowAudioFilter();
    }
    rxFill = 0;
    lastRxSample = {1.0f, 0.0f};
    rxWide = wide;
}

buff<fmModDemod::cplx> fmModDemod::deEmphasised(buff<cplx> taps, int rate, double corner, double top) {
    const size_t N = taps.size();
    buff<cplx> X = fft::fwd(taps);
    const float scale = 1.0f / float(N);
    for (size_t i = 0; i < N; ++i) {
        const double f = double(i) * rate / double(N);
        if (corner <= f && f < top) X[i] *= float(1.0 / (f / corner));
        X[i] *= scale;
    }
    return dspMath::mul(fft::rev(X), filterDesign<float>::window(int(N)));
}

void fmModDemod::setTxAudioFilter() {
    eqFilter.setFilter(voiceTx::equaliserTaps(300.0, 3000.0, micEqualiser::curve(), 300.0));
}

double fmModDemod::deviationNow() { return deviationInUse_.get(); }

int fmModDemod::rxInputSamplerate() {
    const double d = deviationNow();
    if (d == 0.0) return wideBuilt ? wideRate : narrowRate;
    return d < wideFrom ? narrowRate : wideRate;
}

bool fmModDemod::receiveGain(double g, float& gain) {
    gain = float(g);
    if (std::isfinite(gain) && std::fabs(gain) <= maxReceiveGain) {
        silentLogged_ = false;
        return true;
    }
    // 1 / 0, or nearly: every sample would put an infinity into the audio
    // filter, or sums that overflow it.
    if (!silentLogged_)
        spdlog::error("fmModDemod deviation {} Hz leaves no receive gain: receive is silent", deviationNow());
    silentLogged_ = true;
    return false;
}

buff<float> fmModDemod::demodulate(buff<cplx> in) {
    const bool wide = rxInputSamplerate() >= 96000;
    if (wide != rxWide) enterReceivePath(wide);
    if (wide) return demodulateWide(in);

    buff<float> out(in.size(), 0.0f);
    float gain;
    if (!receiveGain(double(narrowRate) / (deviationNow() * 3.14), gain)) {
        if (in.size()) lastRxSample = in[in.size() - 1];
        return out;
    }
    carryBlocks(
        in, gain, [this] { rxAudioFilter.calc(); },
        [&](size_t at, size_t c, size_t to) {
            for (size_t j = 0; j < c; ++j) out[to + j] = rxAudioFilter.outBlock[at + j].real();
        });
    return out;
}

void fmModDemod::modulate(buff<cplx> in, buff<cplx> out) {
    if (micEqualiser::changedSince(eqVersion)) setTxAudioFilter();
    voiceTx::shapeBlock(*this, in, eqFilter, voiceTx::compressionGain(compressionInUse_.get()), postClipFilter);
    voiceTx::lookAheadLimit(limiter, limiterWindow, postClipFilter.outBlock, postLimiterFilter.inBlock,
                            voiceTx::amFmCeiling);
    postLimiterFilter.calc();
    buff<cplx>& y = postLimiterFilter.outBlock;

    double g = 1.0;
    const double tone = ctcssInUse_.get();
    if (tone > 0.0) {
        const double w = 2.0 * std::numbers::pi * tone / double(toneRate);
        toneStep = {float(std::cos(w)), float(std::sin(w))};
        const float sr = toneStep.real(), si = toneStep.imag();
        // A rotation per sample instead of a sine; its magnitude drifts by
        // rounding, so it is put back to 1 after every run.
        for (size_t run = 0; run < y.size(); run += toneRun) {
            const size_t end = std::min(run + toneRun, y.size());
            float pr = tonePhasor.real(), pi = tonePhasor.imag();
            for (size_t i = run; i < end; ++i) {
                const float r = pr * sr - pi * si;
                pi = pr * si + pi * sr;
                pr = r;
                y[i] += cplx(toneLevel * pr, toneLevel * pi);
            }
            const float m = std::hypot(pr, pi);
            tonePhasor = {pr / m, pi / m};
        }
        g = toneScale;
    }

    const double d = deviationNow();
    const size_t n = std::min(out.size(), y.size());
    for (size_t k = 0; k < n; ++k) {
        const double x = double(y[k].real());
        const double step = 2.0 * (g * d * x * std::numbers::pi) / 48000.0;
        // A sample that is no number would stop the oscillator for good.
        if (std::isfinite(step)) txPhase += step;
        out[k] = {float(carrierLevel * std::cos(txPhase)), float(carrierLevel * std::sin(txPhase))};
    }
    // A longer transmit block than the microphone's gets the carrier.
    for (size_t k = n; k < out.size(); ++k)
        out[k] = {float(carrierLevel * std::cos(txPhase)), float(carrierLevel * std::sin(txPhase))};
    constexpr double twoPi = 2.0 * std::numbers::pi;
    if (txPhase > twoPi)
        txPhase -= twoPi;
    else if (txPhase < -twoPi)
        txPhase += twoPi;
}
