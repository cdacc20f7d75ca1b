#pragma once
// blockLerp: a linear-interpolation resampler that works block by block.
//
// It carries its fractional read position and the last input sample(s) from
// one block to the next, so a stream can be stretched or squeezed by a ratio
// close to 1 without seams. All ratios are output rate / input rate; the read
// position advances by 1/ratio input samples per output.
//
// After a block the position lies between -1 and 0: a negative position sits
// between the previous block's last sample (carried) and the next block's
// first. With a ratio of exactly 1 every block starts with the carried sample,
// so the stream is delayed by one sample and has no seams.
//
// The VarOut forms write into a ring buffer starting at outIndex (below the
// ring's count; a stereo ring has an even count) and wrap to its start at the
// end; they return the frames (or mono samples) written, and the caller
// advances its own write index by that much. Not thread-safe: one
// owner, one task group.
//
// A ratio outside [1/1024, 1024] (NaN, 0 and negative ones included) or a
// write index the ring does not hold is refused with a log line: nothing is
// written or read and the carried state stays as it was.
#include "dsp/buff.h"

#include <cstddef>

class blockLerp {
public:
    /// Mono in, interleaved stereo ring out, each value on both channels.
    size_t interpolateVarOut(buff<float> in, buff<float> out, size_t outIndex, double ratio);
    /// As interpolateVarOut with separate gains on the two channels.
    size_t interpolateVarOutBalance(buff<float> in, buff<float> out, size_t outIndex, double ratio, float gainLeft,
                                    float gainRight);
    /// Mono in, mono ring out.
    size_t interpolateVarOutToMono(buff<float> in, buff<float> out, size_t outIndex, double ratio);
    /// Interleaved stereo in, stereo ring out, channels interpolated apart.
    size_t interpolateVarOutStereo(buff<float> in, buff<float> out, size_t outIndex, double ratio);
    /// Interleaved stereo in, mixed ((left + right) / 2) into a mono ring.
    size_t interpolateVarOutStereoToMono(buff<float> in, buff<float> out, size_t outIndex, double ratio);
    /// Fills all of out by reading the circular buffer in from the carried
    /// position onward. An empty in leaves out untouched.
    void interpolateVarIn(buff<float> in, buff<float> out, double ratio);

    /// The carried read position, in input samples (a reader of a ring moves
    /// it to resynchronise).
    double readPosition() const { return position; }
    void setReadPosition(double p) { position = p; }

private:
    template <int Channels, class Emit>
    size_t run(const float* in, size_t frames, double ratio, Emit emit);

    double position = 0;
    double previous = 0;
    double previousRight = 0;
};
