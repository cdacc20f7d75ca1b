#include "modes/data/chirp/chirpyDecoder.h"

#include "modes/data/chirp/golay.h"

void chirpyDecoder::newBit(double d) {
    shiftRegister = shiftRegister * 2 + (d > 0 ? 1 : 0);
    if (++bitCounter != wordLength) return;
    bitCounter = 0;
    // The sender added 101 after scrambling; modulo 2^23 both ways.
    const uint32_t w = (uint32_t(shiftRegister) - offset) & golayWordMask;
    int errors = 0;
    value = int(decode_golay(w ^ scramble, &errors));
    averageErrors = 0.5 * errors + 0.5 * averageErrors;
    shiftRegister = 0;
}
