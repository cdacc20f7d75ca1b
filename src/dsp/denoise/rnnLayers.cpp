#include "dsp/denoise/rnnLayers.h"

#include "dsp/denoise/activation.h"
#include "dsp/denoise/denoiseSizes.h"

namespace denoise {
namespace {

constexpr float kWeightScale = 1.f / 256.f;

} // namespace

void compute_dense(const DenseLayer& layer, float* output, const float* input) {
    const int m = layer.nb_inputs;
    const int n = layer.nb_neurons;
    const int stride = n;
    for (int i = 0; i < n; ++i) {
        // Plain scalar sums: the whole network is about 40k multiply-adds a
        // frame and the compiler vectorises the strided loads well enough.
        float sum = layer.bias[i];
        for (int j = 0; j < m; ++j) sum += layer.input_weights[j * stride + i] * input[j];
        output[i] = activate(layer.activation, kWeightScale * sum);
    }
}

void compute_gru(const GRULayer& layer, float* state, const float* input) {
    const int m = layer.nb_inputs;
    const int n = layer.nb_neurons;
    const int stride = 3 * n;
    float z[kMaxNeurons];
    float r[kMaxNeurons];
    float h[kMaxNeurons];

    // Update gate.
    for (int i = 0; i < n; ++i) {
        float sum = layer.bias[i];
        for (int j = 0; j < m; ++j) sum += layer.input_weights[j * stride + i] * input[j];
        for (int j = 0; j < n; ++j) sum += layer.recurrent_weights[j * stride + i] * state[j];
        z[i] = sigmoidApprox(kWeightScale * sum);
    }
    // Reset gate.
    for (int i = 0; i < n; ++i) {
        float sum = layer.bias[n + i];
        for (int j = 0; j < m; ++j) sum += layer.input_weights[n + j * stride + i] * input[j];
        for (int j = 0; j < n; ++j) sum += layer.recurrent_weights[n + j * stride + i] * state[j];
        r[i] = sigmoidApprox(kWeightScale * sum);
    }
    // Candidate on the reset-gated state; the old state is still needed for
    // every neuron, so the new one goes to h first.
    for (int i = 0; i < n; ++i) {
        float sum = layer.bias[2 * n + i];
        for (int j = 0; j < m; ++j) sum += layer.input_weights[2 * n + j * stride + i] * input[j];
        for (int j = 0; j < n; ++j) sum += layer.recurrent_weights[2 * n + j * stride + i] * state[j] * r[j];
        const float candidate = activate(layer.activation, kWeightScale * sum);
        h[i] = z[i] * state[i] + (1.f - z[i]) * candidate;
    }
    for (int i = 0; i < n; ++i) state[i] = h[i];
}

} // namespace denoise
