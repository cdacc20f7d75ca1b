#include "dsp/denoise/rnnoise.h"

#include "dsp/denoise/frameFeatures.h"
#include "dsp/denoise/pitchFilter.h"
#include "dsp/denoise/bandEnergy.h"
#include "dsp/denoise/strength.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

using namespace denoise;

namespace {

// Second-order high-pass (transposed direct form II): keeps DC and rumble
// out of the band energies and the pitch search.
void biquad(float* y, float mem[2], const float* x, int n) {
    constexpr float b[2] = {-2.f, 1.f};
    constexpr float a[2] = {-1.99599f, 0.99600f};
    // The memory stays in registers: through mem the recurrence would pass
    // every sample through a store and a load.
    float m0 = mem[0], m1 = mem[1];
    for (int i = 0; i < n; ++i) {
        // A sample that is not finite is taken as silence: the filter's
        // memory would keep it for good.
        const float xi = std::isfinite(x[i]) ? x[i] : 0.f;
        const float yi = xi + m0;
        m0 = m1 + (b[0] * xi - a[0] * yi);
        m1 = b[1] * xi - a[1] * yi;
        y[i] = yi;
    }
    mem[0] = m0;
    mem[1] = m1;
}

// Overlap-adds the windowed inverse transform of X to give one output frame.
void frame_synthesis(DenoiseState* st, const DenoiseTables& t, float* out, const cpx* X) {
    float x[kWindowSize];
    t.inverse_transform(x, X);
    t.apply_window(x);
    for (int i = 0; i < kFrameSize; ++i) out[i] = x[i] + st->synthesis_mem[i];
    std::memcpy(st->synthesis_mem, x + kFrameSize, sizeof(float) * kFrameSize);
}

bool allFinite(const float* x, int n) {
    // An infinity or a NaN has every exponent bit set. The test is on the
    // bits, ORed in any order, so no chain of float additions holds it up.
    uint32_t bad = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, x + i, sizeof bits);
        bad |= static_cast<uint32_t>((bits & 0x7f800000u) == 0x7f800000u);
    }
    return bad == 0;
}

// True when everything carried to the next frame is finite. Samples of
// absurd size (far beyond the 16-bit scale) can still overflow the band
// energies inside the network.
bool stateFinite(const DenoiseState* st) {
    const RNNModel& m = *st->rnn.model;
    return allFinite(st->mem_hp_x, 2) && allFinite(st->lastg, kNbBands) &&
           allFinite(st->synthesis_mem, kFrameSize) && allFinite(st->analysis_mem, kFrameSize) &&
           allFinite(&st->cepstral_mem[0][0], kCepsMem * kNbBands) && allFinite(&st->last_gain, 1) &&
           allFinite(st->rnn.vad_gru_state, m.vad_gru_size) && allFinite(st->rnn.noise_gru_state, m.noise_gru_size) &&
           allFinite(st->rnn.denoise_gru_state, m.denoise_gru_size);
}

// Back to the state of a new suppressor, keeping the model and its arrays.
void restart(DenoiseState* st) {
    RNNState rnn = st->rnn;
    const RNNModel& m = *rnn.model;
    std::fill(rnn.vad_gru_state, rnn.vad_gru_state + m.vad_gru_size, 0.f);
    std::fill(rnn.noise_gru_state, rnn.noise_gru_state + m.noise_gru_size, 0.f);
    std::fill(rnn.denoise_gru_state, rnn.denoise_gru_state + m.denoise_gru_size, 0.f);
    *st = DenoiseState{};
    st->rnn = rnn;
}

} // namespace

DenoiseState* rnnoise_create(const RNNModel* model) {
    if (!model) model = getDefaultModel();
    if (!modelFits(*model)) {
        spdlog::error("rnnoise_create: model layers do not chain or exceed {} neurons", kMaxNeurons);
        return nullptr;
    }
    auto* st = new DenoiseState{};
    st->rnn.model = model;
    st->rnn.vad_gru_state = new float[model->vad_gru_size]();
    st->rnn.noise_gru_state = new float[model->noise_gru_size]();
    st->rnn.denoise_gru_state = new float[model->denoise_gru_size]();
    return st;
}

void rnnoise_destroy(DenoiseState* st) {
    if (!st) return;
    delete[] st->rnn.vad_gru_state;
    delete[] st->rnn.noise_gru_state;
    delete[] st->rnn.denoise_gru_state;
    delete st;
}

float rnnoise_process_frame(DenoiseState* st, float* out, const float* in, float level) {
    const DenoiseTables& t = DenoiseTables::check_init();
    // in is fully consumed here, so out may alias it.
    float x[kFrameSize];
    biquad(x, st->mem_hp_x, in, kFrameSize);

    FrameAnalysis a;
    const bool silence = compute_frame_features(st, a, x);
    float vad_prob = 0.f;
    if (!silence) {
        float g[kNbBands];
        compute_rnn(&st->rnn, g, &vad_prob, a.features);
        for (int i = 0; i < kNbBands; ++i) g[i] = applyStrength(g[i], level);
        pitch_filter(a, g);
        // Gains fall no faster than 0.6 per frame, which keeps the decay of
        // reverberant speech.
        for (int i = 0; i < kNbBands; ++i) {
            g[i] = std::max(g[i], 0.6f * st->lastg[i]);
            st->lastg[i] = g[i];
        }
        float gf[kFreqSize];
        interp_band_gain(gf, g);
        for (int k = 0; k < kFreqSize; ++k) a.X[k] *= gf[k];
    }
    frame_synthesis(st, t, out, a.X);
    if (!stateFinite(st) || !allFinite(out, kFrameSize)) {
        // Whatever overflowed stays in this frame: it goes out silent and
        // the next frame starts from a fresh state.
        restart(st);
        std::fill(out, out + kFrameSize, 0.f);
        return 0.f;
    }
    return vad_prob;
}
