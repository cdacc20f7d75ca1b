#pragma once
// The noise suppressor's interface: recurrent-network noise reduction on
// frames of 512 samples at 48000 samples per second, samples on the 16-bit
// scale (full scale about 32768).
#include "dsp/denoise/DenoiseState.h"
#include "dsp/denoise/RNNModel.h"

/// A new zeroed state running model, or the built-in model when model is
/// null. Returns null (and logs why) when model does not fit the network's
/// fixed arrays. Allocates; not for the audio path's every frame.
DenoiseState* rnnoise_create(const RNNModel* model);

/// Frees st and its GRU states; null is ignored.
void rnnoise_destroy(DenoiseState* st);

/// Denoises one frame of 512 samples from in to out (which may be the same
/// buffer); the output lags the input by 512 samples. level is the strength
/// in percent (100 full effect, 0 none; other finite values extrapolate, NaN
/// and infinities count as 100). Returns the voice-activity probability of
/// the frame, 0 for a silent frame. Input samples that are not finite count
/// as 0; a frame whose processing overflowed all the same goes out silent
/// and the suppressor starts the next frame afresh. Never allocates. Thread-safe for
/// distinct states.
float rnnoise_process_frame(DenoiseState* st, float* out, const float* in, float level);
