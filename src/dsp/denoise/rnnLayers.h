#pragma once
// One step of a dense layer and of a GRU layer on float inputs.
#include "dsp/denoise/RNNModel.h"

namespace denoise {

/// output[i] = activation((bias[i] + sum_j w[j][i] input[j]) / 256).
/// input: [layer.nb_inputs], output: [layer.nb_neurons].
/// Never allocates. Thread-safe for distinct outputs.
void compute_dense(const DenseLayer& layer, float* output, const float* input);

/// Advances state by one step: gates z and r, candidate h on r x state, and
/// state = z state + (1 - z) h. state: [layer.nb_neurons] (at most
/// kMaxNeurons), input: [layer.nb_inputs]. Never allocates.
void compute_gru(const GRULayer& layer, float* state, const float* input);

} // namespace denoise
