#pragma once
// The decoder's spectrogram and its sync candidates.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ft8 {

/// Magnitudes in half-dB steps (byte = 2 x (dB + 120), 0 .. 255), two time
/// and two frequency sub-steps per block and bin. The byte of block b, time
/// sub-step t, frequency sub-step f and bin j is at
/// ((b * 2 + t) * 2 + f) * bins + j, so one block spans 4 * bins bytes.
struct MagArray {
    int32_t blocks = 0;
    int32_t bins = 0;
    int32_t timeOsr = 2;
    int32_t freqOsr = 2;
    int32_t noise = 0; // 30th percentile of the bytes of the bins a signal can be in
    std::vector<uint8_t> mag;

    int32_t blockStride() const { return 4 * bins; }
    /// The byte of bin 0 of a (block, sub-step) row.
    const uint8_t* row(int block, int timeSub, int freqSub) const {
        return mag.data() + ((std::size_t(block) * 2 + std::size_t(timeSub)) * 2 + std::size_t(freqSub)) * std::size_t(bins);
    }
};

/// A sync position: where a frame of the mode may start.
struct Candidate {
    int16_t score;
    int16_t timeOffset; // blocks; may be negative
    int16_t freqOffset; // bins
    uint8_t timeSub;
    uint8_t freqSub;
};
static_assert(sizeof(Candidate) == 8);

} // namespace ft8
