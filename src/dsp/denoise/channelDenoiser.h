#pragma once
// channelDenoiser: the noise suppressor of one audio channel whose blocks are
// shorter than a frame, or interleaved with another channel. The channel's
// samples (every stride-th sample of a block, from first on) are collected
// into 512-sample frames; each full frame is reduced whole and the block
// gets back the samples of the frame before, in order. A channel of 512
// samples per block is its own frame and comes back without delay. A
// channel whose length does not divide a frame passes unreduced: its blocks
// could not fill frames exactly.
#include "dsp/buff.h"

#include <cstddef>

struct DenoiseState;

/// Reduces one frame of 512 samples at full scale 1 in place at strength
/// (percent); the suppressor itself works on 16-bit sample levels.
void denoiseFrame(DenoiseState* st, buff<float> frame, float strength);

class channelDenoiser {
public:
    channelDenoiser() = default;
    ~channelDenoiser();
    channelDenoiser(const channelDenoiser&) = delete;
    channelDenoiser& operator=(const channelDenoiser&) = delete;

    /// Reduces in place the channel made of sample first (below stride) of
    /// every whole group of stride samples of block. The suppressor is made
    /// on first use (one allocation); when it cannot be made the channel
    /// passes unreduced. Never allocates after.
    void reduce(buff<float> block, size_t first, size_t stride, float strength);

    /// Samples of the current frame already collected (below 512).
    size_t fill() const { return fill_; }

    static constexpr size_t frame = 512;

private:
    DenoiseState* state = nullptr;
    buff<float> fifo{frame, 0.0f}; // zeroed: the first framed output is silence
    size_t fill_ = 0;
};
