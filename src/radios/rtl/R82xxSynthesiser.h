#pragma once
// The local oscillator an R82xx tuner really produces. Its fractional-N
// synthesiser divides a 28.8 MHz reference by an integer part and a 16-bit
// fraction found by successive approximation, so most frequencies come out a
// few hertz off; repeating the tuner's own integer arithmetic predicts by how
// much, and the radio hands that error to its receive blocks.
#include <cstdint>

struct R82xxPll {
    uint32_t lo = 0;        ///< oscillator asked for: requested frequency + intermediate frequency
    uint32_t divider = 0;   ///< output divider, 2 to 128
    uint32_t integer = 0;   ///< integer part of the division (8 bits)
    uint32_t fraction = 0;  ///< 16-bit fraction
    bool valid = false;     ///< false when the integer part reaches 64: no setting exists
    uint32_t predicted = 0; ///< oscillator really produced (when valid)

    /// Predicted minus asked-for oscillator; 0 when no setting exists, the
    /// error of a tuner that cannot be modelled.
    int32_t error() const { return valid ? int32_t(predicted - lo) : 0; }
};

/// The tuner's arithmetic for a requested centre frequency at a sample rate
/// (which sets the intermediate frequency). Pure; any thread.
R82xxPll r82xxPredict(uint32_t frequency, int sampleRate);
