// A dense and a GRU layer on small hand-set weights, checked against values
// worked out by hand (weights are in units of 1/256).
#include "dsp/denoise/rnnLayers.h"

#include <gtest/gtest.h>

using namespace denoise;

TEST(DenseLayer, WeighsInputsPerNeuronWithBiasAndActivation) {
    // Two inputs, three neurons; input j's weight to neuron i at j * 3 + i.
    const rnn_weight bias[3] = {64, -128, 10};
    const rnn_weight weights[6] = {
        127, 0, -64,  // from input 0
        -64, 32, 100, // from input 1
    };
    const float input[2] = {1.f, 2.f};
    float out[3];

    // (64 + 127 - 128) / 256, (-128 + 64) / 256, (10 - 64 + 200) / 256
    const DenseLayer relu{bias, weights, 2, 3, ACTIVATION_RELU};
    compute_dense(relu, out, input);
    EXPECT_FLOAT_EQ(out[0], 63.f / 256.f);
    EXPECT_FLOAT_EQ(out[1], 0.f);
    EXPECT_FLOAT_EQ(out[2], 146.f / 256.f);

    // tanh(146 / 256) = 0.515589; sigmoid(63 / 256) = 0.561216
    const DenseLayer tanh{bias, weights, 2, 3, ACTIVATION_TANH};
    compute_dense(tanh, out, input);
    EXPECT_NEAR(out[2], 0.515589f, 1e-4);
    const DenseLayer sigmoid{bias, weights, 2, 3, ACTIVATION_SIGMOID};
    compute_dense(sigmoid, out, input);
    EXPECT_NEAR(out[0], 0.561216f, 1e-4);
}

TEST(GRULayer, GatesTheCandidateOnTheResetState) {
    // One input, two neurons; gates at offsets 0 (update), 2 (reset) and
    // 4 (candidate) of every row of six.
    const rnn_weight bias[6] = {0, 64, 0, -64, 32, 0};
    const rnn_weight input_weights[6] = {64, 0, 0, 64, 96, -32};
    const rnn_weight recurrent_weights[12] = {
        0, 64, 64, 0, 64, 32,    // from state 0
        -64, 0, 0, 0, -64, 64,   // from state 1
    };
    const GRULayer gru{bias, input_weights, recurrent_weights, 1, 2, ACTIVATION_RELU};
    float state[2] = {0.5f, 0.25f};
    const float input[1] = {1.f};
    compute_gru(gru, state, input);

    // z0 = sig(48/256) = 0.546738, z1 = sig(96/256) = 0.592667
    // r0 = sig(32/256) = 0.531209, r1 = sig(0) = 0.5
    // h0 = (32 + 96 + 64 x 0.5 x r0 - 64 x 0.25 x r1) / 256 = 0.535151
    // h1 = relu((-32 + 32 x 0.5 x r0 + 64 x 0.25 x r1) / 256) = 0
    // state0 = z0 x 0.5 + (1 - z0) h0, state1 = z1 x 0.25
    EXPECT_NEAR(state[0], 0.515933f, 1e-4);
    EXPECT_NEAR(state[1], 0.148167f, 1e-4);
}
