#include "dsp/denoise/channelDenoiser.h"

#include "dsp/denoise/rnnoise.h"
#include "dsp/dspMath.h"

namespace {
constexpr float toSuppressor = 32000.0f;
constexpr float fromSuppressor = 3.125e-05f; // 1 / 32000
} // namespace

void denoiseFrame(DenoiseState* st, buff<float> frame, float strength) {
    dspMath::mul(frame, toSuppressor, frame);
    rnnoise_process_frame(st, frame.data, frame.data, strength);
    dspMath::mul(frame, fromSuppressor, frame);
}

channelDenoiser::~channelDenoiser() { rnnoise_destroy(state); }

void channelDenoiser::reduce(buff<float> block, size_t first, size_t stride, float strength) {
    if (stride == 0 || first >= stride) return;
    const size_t n = block.count / stride; // whole groups only, as the pairs are played
    if (n == 0 || frame % n != 0) return;
    if (!state) state = rnnoise_create(nullptr);
    if (!state) return;
    // A channel whose blocks changed length starts a new frame: the old one's
    // rest would not take whole blocks.
    if (fill_ % n != 0) fill_ = 0;
    // Strided copies in and out: the channel never needs a buffer of its own.
    for (size_t i = 0; i < n; ++i) fifo[fill_ + i] = block[first + i * stride];
    fill_ += n;
    if (fill_ == frame) {
        denoiseFrame(state, fifo, strength);
        fill_ = 0;
    }
    for (size_t i = 0; i < n; ++i) block[first + i * stride] = fifo[fill_ + i];
}
