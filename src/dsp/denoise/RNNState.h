#pragma once
// The network's memory between frames and one run of the whole network.
#include "dsp/denoise/RNNModel.h"

namespace denoise {

/// True when the layers chain as the network runs them (each layer's inputs
/// are what feeds it, the input dense layer takes the 42 features, 22 gains
/// and one probability come out) and every layer fits the fixed scratch
/// arrays (at most kMaxNeurons neurons).
bool modelFits(const RNNModel& model);

} // namespace denoise

/// The model in use and the three GRU states, allocated zeroed with the sizes
/// of the model's VAD, noise and denoise GRU layers.
struct RNNState {
    const RNNModel* model;
    float* vad_gru_state;
    float* noise_gru_state;
    float* denoise_gru_state;
};

namespace denoise {

/// Runs the network on the 42 features: gains [model.denoise_output_size]
/// and the voice-activity probability. Advances the GRU states.
/// Never allocates.
void compute_rnn(RNNState* rnn, float* gains, float* vad, const float* input);

} // namespace denoise
