// The built-in model: its shape, and that the embedded tables are
// weights.i8 byte for byte.
#include "dsp/denoise/RNNModel.h"
#include "dsp/denoise/RNNState.h"
#include "dsp/denoise/modelWeights.h"
#include "sha256.h"

#include <gtest/gtest.h>

using namespace denoise_test;

TEST(BuiltInModel, HasTheDefaultShape) {
    const RNNModel& m = *getDefaultModel();
    ASSERT_EQ(&m, &rnnoise_model_orig);
    struct Shape { int inputs, neurons, activation; };
    const auto check = [](const auto& layer, Shape s) {
        EXPECT_EQ(layer.nb_inputs, s.inputs);
        EXPECT_EQ(layer.nb_neurons, s.neurons);
        EXPECT_EQ(layer.activation, s.activation);
    };
    check(*m.input_dense, {42, 24, ACTIVATION_TANH});
    check(*m.vad_gru, {24, 24, ACTIVATION_RELU});
    check(*m.noise_gru, {90, 48, ACTIVATION_RELU});
    check(*m.denoise_gru, {114, 96, ACTIVATION_RELU});
    check(*m.denoise_output, {96, 22, ACTIVATION_SIGMOID});
    check(*m.vad_output, {24, 1, ACTIVATION_SIGMOID});
    EXPECT_EQ(m.input_dense_size, 24);
    EXPECT_EQ(m.vad_gru_size, 24);
    EXPECT_EQ(m.noise_gru_size, 48);
    EXPECT_EQ(m.denoise_gru_size, 96);
    EXPECT_EQ(m.denoise_output_size, 22);
    EXPECT_EQ(m.vad_output_size, 1);
    EXPECT_TRUE(denoise::modelFits(m));
}

TEST(BuiltInModel, TablesLieBackToBackInTheEmbeddedWeights) {
    const RNNModel& m = *getDefaultModel();
    const rnn_weight* base = rnnoiseWeightBytes;
    // Every table starts where the one before it ends; the last ends at the
    // end of the 87,503 bytes.
    const rnn_weight* tables[] = {
        m.input_dense->bias, m.input_dense->input_weights,
        m.vad_gru->bias, m.vad_gru->input_weights, m.vad_gru->recurrent_weights,
        m.noise_gru->bias, m.noise_gru->input_weights, m.noise_gru->recurrent_weights,
        m.denoise_gru->bias, m.denoise_gru->input_weights, m.denoise_gru->recurrent_weights,
        m.denoise_output->bias, m.denoise_output->input_weights,
        m.vad_output->bias, m.vad_output->input_weights, base + 87503};
    const long sizes[] = {24, 1008, 72, 1728, 1728, 144, 12960, 6912, 288, 32832, 27648, 22, 2112, 1, 24};
    EXPECT_EQ(tables[0], base);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(tables[i + 1] - tables[i], sizes[i]) << "table " << i;
    ASSERT_EQ(rnnoiseWeightBytes_size, 87503u);

    const rnn_weight first[8] = {-10, 0, -3, 1, -8, -6, 3, -13};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(m.input_dense->input_weights[i], first[i]);
}

TEST(BuiltInModel, EmbeddedBytesMatchTheDataFileChecksum) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(rnnoiseWeightBytes);
    EXPECT_EQ(sha256(bytes, rnnoiseWeightBytes_size),
              "e7b21630506486dab0f6fce0de581a3884b118d1daa05e984de8f6b7cd50c5b0");
    // The checker itself, on the standard test vector.
    EXPECT_EQ(sha256(reinterpret_cast<const unsigned char*>("abc"), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
