#pragma once
// chirpyChannel: the chirp receiver at one of the 256 sample phases of a
// chirp (every 16th sample): it sees both correlators once per chirp, always
// at the same point of the chirp, and hands a - b to its 23 decoders.
#include "modes/data/chirp/chirpyDecoder.h"

#include <array>
#include <cmath>

struct chirpyChannel {
    chirpyChannel() {
        for (int j = 0; j < chirpyDecoder::wordLength; ++j) decoders[size_t(j)].bitCounter = j;
    }

    /// One chirp's correlator magnitudes a and b at this phase.
    void newBit(double a, double b) {
        for (auto& d : decoders) d.newBit(a - b);
        difference = a > b ? a - b : b - a;
        // An overflowing correlator must not stay in the averages for good.
        if (!std::isfinite(a) || !std::isfinite(b)) return;
        smoothedA = 0.5 * a + 0.5 * smoothedA;
        smoothedB = 0.5 * b + 0.5 * smoothedB;
    }

    double difference = 0.0; // |a - b| of the latest chirp
    double smoothedA = 0.0;
    double smoothedB = 0.0;
    std::array<chirpyDecoder, chirpyDecoder::wordLength> decoders;
};
