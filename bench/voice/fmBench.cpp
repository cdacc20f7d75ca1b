// The FM mode: transmit per 512-sample block, broadcast receive per second
// of input (750 blocks of 512 at 384000), and the discriminator against
// liquid-dsp's freqdem on the same buffer. "realtime_x" is the signal's
// duration over the time its processing took.
#include "modes/voice/fmDiscriminator.h"
#include "modes/voice/fmModDemod.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cmath>
#include <complex>
// liquid.h picks std::complex for its complex type when <complex> came first.
#include <liquid/liquid.h>
#include <memory>
#include <numbers>
#include <vector>

namespace {

using cplx = std::complex<float>;
constexpr double pi = std::numbers::pi;

// One second of a stereo broadcast multiplex at 384000, 75 kHz deviation.
std::vector<buff<cplx>> broadcastSecond() {
    std::vector<buff<cplx>> blocks;
    double phase = 0;
    long t = 0;
    for (int b = 0; b < 750; ++b) {
        buff<cplx> block{512};
        for (size_t i = 0; i < 512; ++i, ++t) {
            const double s = double(t) / 384000, theta = 2 * pi * 19000 * s;
            const double l = std::sin(2 * pi * 1000 * s), r = std::sin(2 * pi * 400 * s);
            const double m = 0.45 * (l + r) / 2 + 0.1 * std::sin(theta) + 0.45 * (l - r) / 2 * std::sin(2 * theta);
            phase += 2 * pi * 75000 * m / 384000;
            block[i] = {float(0.5 * std::cos(phase)), float(0.5 * std::sin(phase))};
        }
        blocks.push_back(block);
    }
    return blocks;
}

void modulate(benchmark::State& state) {
    spdlog::set_level(spdlog::level::off); // the flat-curve notice, once
    auto mode = std::make_shared<fmModDemod>(nullptr);
    mode->deviation.hostSet(5000);
    mode->CTCSS.hostSet(100);
    buff<cplx> in{512}, out{512};
    for (size_t i = 0; i < 512; ++i) {
        const float v = 0.1f * std::sin(2.0f * 3.1415927f * 1000.0f * float(i) / 48000.0f);
        in[i] = {v, v};
    }
    mode->modulate(in, out); // the first block designs the equaliser
    for (auto _ : state) {
        mode->modulate(in, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["realtime_x"] =
        benchmark::Counter(512.0 / 48000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(modulate)->Name("fmModDemod::modulate")->Unit(benchmark::kMicrosecond);

void broadcastReceive(benchmark::State& state) {
    auto blocks = broadcastSecond();
    auto mode = std::make_shared<fmModDemod>(nullptr);
    mode->Stereo.hostSet(true);
    mode->demodulate(blocks[0]); // builds the broadcast filters
    for (auto _ : state) {
        for (auto& b : blocks) benchmark::DoNotOptimize(mode->demodulate(b).data);
    }
    state.counters["realtime_x"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(broadcastReceive)->Name("fmModDemod broadcast, 1 s at 384000")->Unit(benchmark::kMillisecond);

void discriminator(benchmark::State& state) {
    auto blocks = broadcastSecond();
    buff<cplx> out{512};
    cplx last{1, 0};
    for (auto _ : state) {
        for (auto& b : blocks) fmDiscriminator::run(b.data, 512, last, 2.0f, out.data);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * 750 * 512);
}
BENCHMARK(discriminator)->Name("fmDiscriminator, 1 s at 384000")->Unit(benchmark::kMicrosecond);

void liquidFreqdem(benchmark::State& state) {
    auto blocks = broadcastSecond();
    std::vector<float> out(512);
    freqdem q = freqdem_create(0.5f);
    for (auto _ : state) {
        for (auto& b : blocks) freqdem_demodulate_block(q, b.data, 512, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    freqdem_destroy(q);
    state.SetItemsProcessed(state.iterations() * 750 * 512);
}
BENCHMARK(liquidFreqdem)->Name("liquid freqdem, 1 s at 384000")->Unit(benchmark::kMicrosecond);

} // namespace
