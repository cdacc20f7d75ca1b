#include "dsp/denoise/RNNState.h"

#include "dsp/denoise/denoiseSizes.h"
#include "dsp/denoise/rnnLayers.h"

namespace denoise {

bool modelFits(const RNNModel& model) {
    const auto fits = [](int neurons) { return neurons > 0 && neurons <= kMaxNeurons; };
    const bool sizes = model.input_dense_size == model.input_dense->nb_neurons &&
                       model.vad_gru_size == model.vad_gru->nb_neurons &&
                       model.noise_gru_size == model.noise_gru->nb_neurons &&
                       model.denoise_gru_size == model.denoise_gru->nb_neurons &&
                       model.denoise_output_size == model.denoise_output->nb_neurons &&
                       model.vad_output_size == model.vad_output->nb_neurons;
    const bool neurons = fits(model.input_dense_size) && fits(model.vad_gru_size) &&
                         fits(model.noise_gru_size) && fits(model.denoise_gru_size) &&
                         model.denoise_output_size == kNbBands && model.vad_output_size == 1;
    const bool inputs =
        model.input_dense->nb_inputs == kNbFeatures &&
        model.vad_gru->nb_inputs == model.input_dense_size &&
        model.vad_output->nb_inputs == model.vad_gru_size &&
        model.noise_gru->nb_inputs == model.input_dense_size + model.vad_gru_size + kNbFeatures &&
        model.denoise_gru->nb_inputs == model.vad_gru_size + model.noise_gru_size + kNbFeatures &&
        model.denoise_output->nb_inputs == model.denoise_gru_size;
    return sizes && neurons && inputs;
}

void compute_rnn(RNNState* rnn, float* gains, float* vad, const float* input) {
    const RNNModel& model = *rnn->model;
    float dense_out[kMaxNeurons];
    float noise_input[3 * kMaxNeurons];
    float denoise_input[3 * kMaxNeurons];

    compute_dense(*model.input_dense, dense_out, input);
    compute_gru(*model.vad_gru, rnn->vad_gru_state, dense_out);
    compute_dense(*model.vad_output, vad, rnn->vad_gru_state);

    // The noise GRU sees the dense output, the VAD state and the features.
    int n = 0;
    for (int i = 0; i < model.input_dense_size; ++i) noise_input[n++] = dense_out[i];
    for (int i = 0; i < model.vad_gru_size; ++i) noise_input[n++] = rnn->vad_gru_state[i];
    for (int i = 0; i < kNbFeatures; ++i) noise_input[n++] = input[i];
    compute_gru(*model.noise_gru, rnn->noise_gru_state, noise_input);

    // The denoise GRU sees the VAD state, the noise state and the features.
    n = 0;
    for (int i = 0; i < model.vad_gru_size; ++i) denoise_input[n++] = rnn->vad_gru_state[i];
    for (int i = 0; i < model.noise_gru_size; ++i) denoise_input[n++] = rnn->noise_gru_state[i];
    for (int i = 0; i < kNbFeatures; ++i) denoise_input[n++] = input[i];
    compute_gru(*model.denoise_gru, rnn->denoise_gru_state, denoise_input);

    compute_dense(*model.denoise_output, gains, rnn->denoise_gru_state);
}

} // namespace denoise
