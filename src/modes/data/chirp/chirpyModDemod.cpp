#include "modes/data/chirp/chirpyModDemod.h"

#include "dsp/dspMath.h"
#include "modes/data/chirp/generateChirp.h"
#include "modes/data/chirp/golay.h"

#include <climits>
#include <cmath>

namespace {

/// Matched filter of a chirp: its samples conjugated and reversed in time.
buff<std::complex<float>> matchedTaps(const buff<std::complex<float>>& chirp) {
    return dspMath::reverse(dspMath::conjugate(chirp));
}

} // namespace

chirpyModDemod::chirpyModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)),
      chirpA(generateChirp(chirpSamples, rate, 0.0, chirpSweep)),
      chirpB(dspMath::rotate(chirpA, chirpSamples / 2)),
      correlatorA(matchedTaps(chirpA), 512),
      correlatorB(matchedTaps(chirpB), 512) {}

void chirpyModDemod::modulate(buff<cplx>, buff<cplx> out) {
    transmitting = true;
    for (auto& s : out) {
        s = (chirpSelector == 0 ? chirpB : chirpA)[txIndex];
        if (++txIndex == chirpSamples) {
            txIndex = 0;
            chirpSelector ^= 1;
        }
    }
}

buff<float> chirpyModDemod::demodulate(buff<cplx> block) {
    feed_.push(block, {&correlatorA, &correlatorB}, [this] {
        // The filter block (512) is a whole number of channel steps, so index
        // 0 of every filter block is a step of the stream.
        for (size_t i = 0; i < correlatorA.blockLength(); i += decimation)
            step(std::abs(correlatorA.outBlock[i]), std::abs(correlatorB.outBlock[i]));
    });
    buff<float> audio(block.count);
    for (size_t i = 0; i < block.count; ++i) audio[i] = block[i].real();
    return audio;
}

void chirpyModDemod::step(float a, float b) {
    if (transmitting && chirpCounter >= captureStartChirps && captureCount < captureLines) writeCapture(a, b);
    channels[size_t(phaseIndex)].newBit(a, b);
    if (++phaseIndex == phases) {
        phaseIndex = 0;
        // Only the capture's start reads the counter; it stops well before
        // it could wrap.
        if (transmitting && chirpCounter < INT_MAX) ++chirpCounter;
    }
}

void chirpyModDemod::writeCapture(float a, float b) {
    // A file that does not open leaves the stream failed: the lines are
    // counted but go nowhere, and the receiver carries on.
    if (captureCount == 0) capture.open(captureFile, std::ios::out);
    capture << a << ", " << b << ", " << a - b << "\n";
    if (++captureCount == captureLines) capture.close();
}

uint32_t chirpyModDemod::getNextTxCode() {
    const uint32_t value = wordToggle == 0 ? firstWord : secondWord;
    wordToggle ^= 1;
    const uint32_t codeword = encode_golay(value);
    txWord = ((codeword ^ scramble) + chirpyDecoder::offset) & golayWordMask;
    return codeword;
}

void chirpyModDemod::getNextTxBit() {
    if (bitMask == 0) {
        getNextTxCode();
        bitMask = 1u << 22;
    }
    chirpSelector = (txWord & bitMask) ? 1 : 0;
    bitMask >>= 1;
}
