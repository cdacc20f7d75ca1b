#pragma once
// cwDecoder: reads Morse keying from the magnitude of a receive block.
//
// Every 32nd sample (1500 envelope samples per second at 48000) is compared
// with a threshold between a fast-rising, slowly decaying peak and a slowly
// rising floor, with hysteresis. The lengths of marks and gaps are compared
// with the dot estimate d: a mark of 2d or more is a dash, a gap of 2d or
// more ends the letter, 5d of silence ends it too and adds one word space.
// The estimate learns from a dot that follows a letter gap and a dash that
// follows an element gap, whose lengths sum to four dots in both cases; a
// dash after a word gap, whose lengths stand in the same ratio as the first,
// is left out.
#include "dsp/buff.h"

#include <complex>
#include <cstdint>
#include <string>

namespace cw {

class cwDecoder {
public:
    static constexpr int envelopeStep = 32;

    /// The characters completed in the block: a-z, 0-9 and " " for a word
    /// gap. Magnitudes that are not finite count as silence.
    std::string process(const buff<std::complex<float>>& block);

    /// The dot estimate as the decoder uses it, in envelope samples.
    int dot() const { return int(dotEstimate_); }
    /// Receive speed in words per minute from the dot estimate (0 for none).
    int wpm() const {
        const int d = dot();
        return d != 0 ? (57600 / d) / 32 : 0;
    }

private:
    void endLetter(int d, std::string& out);

    double floor_ = 1e10;
    double peak_ = 0.0;
    bool raw_ = false;
    int run_ = 0;
    int previousRun_ = 0;
    bool settled_ = false;
    int settledCount_ = 0;
    uint32_t code_ = 0;
    uint32_t elements_ = 0;
    bool spaceSent_ = false;
    double dotEstimate_ = 40.0;
    int learned_ = 0; // dots measured so far (counted up to where it no longer matters)
};

} // namespace cw
