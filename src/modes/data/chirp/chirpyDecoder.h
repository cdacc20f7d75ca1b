#pragma once
// chirpyDecoder: one word alignment of one sample phase of the chirp
// receiver. It shifts in one bit per chirp and, every 23rd bit, undoes the
// test word's scrambling and decodes the 23 bits with the Golay code. The 23
// decoders of a channel start their counters at 0 to 22, so that one of them
// closes its words on the transmitter's word boundaries.
#include <cstdint>

struct chirpyDecoder {
    static constexpr int wordLength = 23;
    static constexpr uint32_t scramble = 0x7AFAFA;
    static constexpr uint32_t offset = 101; // added to the scrambled word by the sender

    /// One bit: 1 when d (= a - b) is above 0.
    void newBit(double d);

    int bitCounter = 0; // bits since the last word; starts at the alignment
    uint64_t shiftRegister = 0;
    int value = 0;              // the last decoded 12-bit value
    double averageErrors = 2.0; // corrected bits per word, smoothed by halves
};
