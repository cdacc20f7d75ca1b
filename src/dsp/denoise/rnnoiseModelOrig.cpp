// The built-in model: layer descriptions over the embedded weight tables.
#include "dsp/denoise/RNNModel.h"
#include "dsp/denoise/modelWeights.h"

namespace {

// Offsets into the embedded tables; all layers are constant-initialised, so
// the model is usable before any other static initialiser runs.
constexpr const rnn_weight* at(std::size_t offset) { return rnnoiseWeightBytes + offset; }

constexpr DenseLayer input_dense = {at(0), at(24), 42, 24, ACTIVATION_TANH};
constexpr GRULayer vad_gru = {at(1032), at(1104), at(2832), 24, 24, ACTIVATION_RELU};
constexpr GRULayer noise_gru = {at(4560), at(4704), at(17664), 90, 48, ACTIVATION_RELU};
constexpr GRULayer denoise_gru = {at(24576), at(24864), at(57696), 114, 96, ACTIVATION_RELU};
constexpr DenseLayer denoise_output = {at(85344), at(85366), 96, 22, ACTIVATION_SIGMOID};
constexpr DenseLayer vad_output = {at(87478), at(87479), 24, 1, ACTIVATION_SIGMOID};

} // namespace

constinit const RNNModel rnnoise_model_orig = {
    24, &input_dense,
    24, &vad_gru,
    48, &noise_gru,
    96, &denoise_gru,
    22, &denoise_output,
    1, &vad_output,
};

const RNNModel* getDefaultModel() { return &rnnoise_model_orig; }
