#include "dsp/denoise/rnnLayers.h"

#include "dsp/denoise/activation.h"
#include "dsp/denoise/denoiseKernels.h"
#include "dsp/denoise/denoiseSizes.h"

namespace denoise {
namespace {

constexpr float kWeightScale = 1.f / 256.f;

// sums[i] += w[j * stride + i] * x[j]: the weights of one input lie
// contiguously, so the lanes run along neurons; this is where the network
// spends its time.
void accumulate(float* sums, const rnn_weight* w, int stride, const float* x, int m, int n) {
    denoiseKernels().accumulate(sums, w, stride, x, m, n);
}

} // namespace

void compute_dense(const DenseLayer& layer, float* output, const float* input) {
    const int n = layer.nb_neurons;
    float sums[kMaxNeurons];
    for (int i = 0; i < n; ++i) sums[i] = layer.bias[i];
    accumulate(sums, layer.input_weights, n, input, layer.nb_inputs, n);
    for (int i = 0; i < n; ++i) output[i] = activate(layer.activation, kWeightScale * sums[i]);
}

void compute_gru(const GRULayer& layer, float* state, const float* input) {
    const int n = layer.nb_neurons;
    const int stride = 3 * n;
    // Update gate, reset gate and candidate sums side by side, as the
    // weights hold them.
    float sums[3 * kMaxNeurons];
    for (int i = 0; i < stride; ++i) sums[i] = layer.bias[i];
    accumulate(sums, layer.input_weights, stride, input, layer.nb_inputs, stride);
    // Recurrent part of both gates on the previous state.
    accumulate(sums, layer.recurrent_weights, stride, state, n, 2 * n);

    float z[kMaxNeurons];
    float rstate[kMaxNeurons];
    for (int i = 0; i < n; ++i) {
        z[i] = sigmoidApprox(kWeightScale * sums[i]);
        rstate[i] = sigmoidApprox(kWeightScale * sums[n + i]) * state[i];
    }
    // The candidate's recurrent part sees the state through the reset gate.
    float* candidate = sums + 2 * n;
    accumulate(candidate, layer.recurrent_weights + 2 * n, stride, rstate, n, n);
    for (int i = 0; i < n; ++i) {
        const float h = activate(layer.activation, kWeightScale * candidate[i]);
        state[i] = z[i] * state[i] + (1.f - z[i]) * h;
    }
}

} // namespace denoise
