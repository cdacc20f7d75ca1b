// The broadcast receive path of fmModDemod: the multiplex at 384000, its
// mono sum and stereo difference filtered to 15000 Hz with 50 us
// de-emphasis, the difference brought down from 38 kHz by the subcarrier
// regenerated from the 19 kHz pilot, and every 8th sample out as a
// (left, right) pair at 48000.
#include "dsp/filterDesign.h"
#include "modes/voice/fmModDemod.h"

#include <cmath>

void fmModDemod::buildWide() {
    // 3183 Hz is the corner of the 50 us time constant.
    buff<cplx> taps = filterDesign<float>::bandpass(30.0f, 15000.0f, wideRate, rxTaps, rxTaps);
    taps = deEmphasised(taps, wideRate, 3183.0, 15000.0);
    rxAudioFilter = lowLatFir(taps, voiceTx::blockLength);
    stereoDiffFilter = lowLatFir(taps, voiceTx::blockLength);
    wideBuilt = true;
}

buff<float> fmModDemod::extractPilot(buff<cplx> multiplex) {
    buff<float> carrier(multiplex.size());
    for (size_t i = 0; i < multiplex.size(); ++i) {
        // The phase this sample is mixed with is the one the loop holds
        // before its step: the subcarrier of this very sample.
        const float phase = pilotPll.phase;
        pilotPll.process(multiplex[i].real());
        carrier[i] = 2.0f * std::sin(2.0f * phase);
    }
    return carrier;
}

buff<float> fmModDemod::demodulateWide(buff<cplx> in) {
    const size_t D = size_t(std::max(1, rxInputSamplerate() / narrowRate));
    // One pair for every stream position that is a multiple of D; D divides
    // the filter block, so positions within the block decide.
    const size_t f0 = size_t(rxFill), n = in.size();
    const size_t pairs = (f0 + n + D - 1) / D - (f0 + D - 1) / D;
    buff<float> out(2 * pairs, 0.0f);

    float gain;
    if (!receiveGain(double(float(wideRate) / float(deviationNow() * 3.14)), gain)) {
        if (n) lastRxSample = in[n - 1];
        return out;
    }
    const bool stereo = Stereo.get();
    size_t k = 0;
    carryBlocks(
        in, gain,
        [this] {
            buff<float> carrier = extractPilot(rxAudioFilter.inBlock);
            for (size_t i = 0; i < carrier.size(); ++i)
                stereoDiffFilter.inBlock[i] = rxAudioFilter.inBlock[i] * carrier[i];
            rxAudioFilter.calc();
            stereoDiffFilter.calc();
        },
        [&](size_t at, size_t c, size_t) {
            for (size_t p = (at + D - 1) / D * D; p < at + c && k < pairs; p += D, ++k) {
                const float M = rxAudioFilter.outBlock[p].real();
                if (stereo) {
                    const float S = stereoDiffFilter.outBlock[p].real();
                    out[2 * k] = M + S; // left
                    out[2 * k + 1] = M - S;
                } else {
                    out[2 * k] = out[2 * k + 1] = M;
                }
            }
        });
    return out;
}
