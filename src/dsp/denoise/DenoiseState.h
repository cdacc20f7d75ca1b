#pragma once
// Everything one audio stream's noise suppressor carries from frame to
// frame. Created zeroed by rnnoise_create; used by one task group at a time.
#include "dsp/denoise/RNNState.h"
#include "dsp/denoise/denoiseSizes.h"

struct DenoiseState {
    float analysis_mem[denoise::kFrameSize];
    float cepstral_mem[denoise::kCepsMem][denoise::kNbBands];
    int memid;
    float synthesis_mem[denoise::kFrameSize];
    float pitch_buf[denoise::kPitchBufSize];
    float pitch_enh_buf[denoise::kPitchBufSize];  ///< reserved; no stage reads it
    float last_gain;
    int last_period;
    float mem_hp_x[2];
    float lastg[denoise::kNbBands];
    RNNState rnn;
};
