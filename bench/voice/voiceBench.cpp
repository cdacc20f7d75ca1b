// The voice transmit chains per 512-sample block, and one equaliser design.
// "realtime_x" is the block's duration (10.67 ms at 48000) over the time
// its processing took.
#include "modes/voice/amModDemod.h"
#include "modes/voice/micEqualiser.h"
#include "modes/voice/ssbModDemod.h"
#include "modes/voice/voiceTxChain.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cmath>
#include <complex>
#include <memory>

namespace {

using cplx = std::complex<float>;
constexpr double blockSeconds = 512.0 / 48000.0;

buff<cplx> micTone() {
    buff<cplx> in(512);
    for (size_t i = 0; i < 512; ++i) {
        const float v = 0.35f * std::sin(2.0f * 3.1415927f * 1000.0f * float(i) / 48000.0f);
        in[i] = {v, v};
    }
    return in;
}

template <class Mode>
void modulate(benchmark::State& state) {
    spdlog::set_level(spdlog::level::off); // the flat-curve notice, once
    auto mode = std::make_shared<Mode>(nullptr);
    buff<cplx> in = micTone(), out(512);
    mode->modulate(in, out); // the first block designs the equaliser
    for (auto _ : state) {
        mode->modulate(in, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["realtime_x"] =
        benchmark::Counter(blockSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(modulate<ssbModDemod>)->Name("ssbModDemod::modulate")->Unit(benchmark::kNanosecond);
BENCHMARK(modulate<amModDemod>)->Name("amModDemod::modulate")->Unit(benchmark::kNanosecond);

void equaliserDesign(benchmark::State& state) {
    buff<float> curve(1024, 1.0f);
    for (auto _ : state) {
        auto taps = voiceTx::equaliserTaps(400.0, 2700.0, curve);
        benchmark::DoNotOptimize(taps.data);
    }
}
BENCHMARK(equaliserDesign)->Unit(benchmark::kMicrosecond);

} // namespace
