// Time per 512-sample frame of the noise suppressor at full strength, on
// voice-like signal in noise so that the network runs on every frame.
#include "dsp/denoise/rnnoise.h"
#include "denoise/testSignals.h"

#include <benchmark/benchmark.h>

using namespace denoise_test;

static void BM_rnnoise_process_frame(benchmark::State& state) {
    const VoicedSignal voice = voicedSyllables(8, 0.3, 0.2, 3000.f);
    std::vector<float> x = voice.samples;
    const std::vector<float> noise = whiteNoise(x.size(), 750.f, 1);
    for (size_t i = 0; i < x.size(); ++i) x[i] += noise[i];
    const size_t frames = x.size() / kFrame;

    DenoiseState* st = rnnoise_create(nullptr);
    float out[kFrame];
    size_t f = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rnnoise_process_frame(st, out, x.data() + f * kFrame, 100.f));
        benchmark::ClobberMemory();
        f = (f + 1) % frames;
    }
    rnnoise_destroy(st);
    state.SetItemsProcessed(state.iterations() * kFrame);
}
BENCHMARK(BM_rnnoise_process_frame);
