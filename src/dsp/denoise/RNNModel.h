#pragma once
// The recurrent network's layers and model: plain descriptions of tables of
// signed 8-bit weights (scale 1/256) owned elsewhere.
//
// Weight layout: the input weight of input j to neuron i sits at
// j * stride + i, with stride = neurons for a dense layer and 3 * neurons for
// a GRU layer, whose biases and weights hold the update gate, the reset gate
// and the candidate at offsets 0, neurons and 2 * neurons.

using rnn_weight = signed char;

constexpr int ACTIVATION_TANH = 0;
constexpr int ACTIVATION_SIGMOID = 1;
constexpr int ACTIVATION_RELU = 2;

struct DenseLayer {
    const rnn_weight* bias;          ///< [nb_neurons]
    const rnn_weight* input_weights; ///< [nb_inputs x nb_neurons]
    int nb_inputs;
    int nb_neurons;
    int activation;
};

struct GRULayer {
    const rnn_weight* bias;              ///< [3 x nb_neurons]
    const rnn_weight* input_weights;     ///< [nb_inputs x 3 nb_neurons]
    const rnn_weight* recurrent_weights; ///< [nb_neurons x 3 nb_neurons]
    int nb_inputs;
    int nb_neurons;
    int activation;
};

/// The six layers in the order the network runs them.
struct RNNModel {
    int input_dense_size;
    const DenseLayer* input_dense;

    int vad_gru_size;
    const GRULayer* vad_gru;

    int noise_gru_size;
    const GRULayer* noise_gru;

    int denoise_gru_size;
    const GRULayer* denoise_gru;

    int denoise_output_size;
    const DenseLayer* denoise_output;

    int vad_output_size;
    const DenseLayer* vad_output;
};

/// The built-in model: the default weights of weights.i8, embedded at build
/// time.
extern const RNNModel rnnoise_model_orig;

/// Returns the built-in model. Never allocates. Thread-safe.
const RNNModel* getDefaultModel();
