#include "dsp/denoise/rnnLayers.h"

#include "dsp/denoise/denoiseKernels.h"
#include "dsp/denoise/denoiseSizes.h"

namespace denoise {
namespace {

constexpr float kWeightScale = 1.f / 256.f;

} // namespace

// The weights of one input lie contiguously, so the kernels' lanes run along
// neurons; this is where the network spends its time.

void compute_dense(const DenseLayer& layer, float* output, const float* input) {
    const DenoiseKernels& k = denoiseKernels();
    const int n = layer.nb_neurons;
    float sums[kMaxNeurons];
    for (int i = 0; i < n; ++i) sums[i] = layer.bias[i];
    k.accumulate(sums, layer.input_weights, n, input, layer.nb_inputs, n);
    k.activate(sums, n, kWeightScale, layer.activation);
    for (int i = 0; i < n; ++i) output[i] = sums[i];
}

void compute_gru(const GRULayer& layer, float* state, const float* input) {
    const DenoiseKernels& k = denoiseKernels();
    const int n = layer.nb_neurons;
    const int stride = 3 * n;
    // Update gate, reset gate and candidate sums side by side, as the
    // weights hold them.
    float sums[3 * kMaxNeurons];
    for (int i = 0; i < stride; ++i) sums[i] = layer.bias[i];
    k.accumulate(sums, layer.input_weights, stride, input, layer.nb_inputs, stride);
    // Recurrent part of both gates on the previous state, then both gates.
    k.accumulate(sums, layer.recurrent_weights, stride, state, n, 2 * n);
    k.activate(sums, 2 * n, kWeightScale, ACTIVATION_SIGMOID);
    const float* z = sums;
    const float* r = sums + n;

    // The candidate's recurrent part sees the state through the reset gate.
    float rstate[kMaxNeurons];
    for (int i = 0; i < n; ++i) rstate[i] = r[i] * state[i];
    float* candidate = sums + 2 * n;
    k.accumulate(candidate, layer.recurrent_weights + 2 * n, stride, rstate, n, n);
    k.activate(candidate, n, kWeightScale, layer.activation);
    for (int i = 0; i < n; ++i) state[i] = z[i] * state[i] + (1.f - z[i]) * candidate[i];
}

} // namespace denoise
