// FreeDV through the mode: one second of speech transmitted (700D, 2020),
// and one second of on-air IQ received by a mode in sync. The codec
// dominates. "realtime_x" is one second over the time the second took.
#include "modes/voice/FreeDVModDemod.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <fstream>
#include <memory>
#include <vector>

namespace {

using cplx = std::complex<float>;
constexpr size_t blocksPerSecond = 94; // 512-sample blocks, 1.003 s

/// codec2-examples' recording at 48000 (each sample held 6 times), as the
/// transceiver hands the microphone over; silence when it is missing.
std::vector<buff<cplx>> speechBlocks(size_t count) {
    std::ifstream f("/usr/share/codec2/raw/ve9qrp_10s.raw", std::ios::binary);
    std::vector<float> x;
    int16_t s;
    while (f.read(reinterpret_cast<char*>(&s), sizeof s))
        for (int k = 0; k < 6; ++k) x.push_back(0.35f * float(s) / 32768.0f);
    std::vector<buff<cplx>> blocks;
    for (size_t b = 0; b < count; ++b) {
        buff<cplx> in(512, cplx{});
        for (size_t i = 0; i < 512 && b * 512 + i < x.size(); ++i) in[i] = {x[b * 512 + i], x[b * 512 + i]};
        blocks.push_back(in);
    }
    return blocks;
}

std::shared_ptr<FreeDVModDemod> open(int mode) {
    spdlog::set_level(spdlog::level::off);
    auto m = std::make_shared<FreeDVModDemod>(nullptr);
    m->setMode(mode);
    return m;
}

void transmit(benchmark::State& state) {
    auto mode = open(int(state.range(0)));
    if (!mode->fdv) {
        state.SkipWithError("codec2 is not installed");
        return;
    }
    const auto mic = speechBlocks(blocksPerSecond * 4);
    buff<cplx> out(512);
    size_t b = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < blocksPerSecond; ++i, ++b) mode->modulate(mic[b % mic.size()], out);
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["realtime_x"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void receive(benchmark::State& state) {
    auto tx = open(int(state.range(0)));
    auto rx = open(int(state.range(0)));
    if (!tx->fdv) {
        state.SkipWithError("codec2 is not installed");
        return;
    }
    // Eight seconds on the air; the receiver syncs in the first.
    const auto mic = speechBlocks(blocksPerSecond * 8);
    std::vector<buff<cplx>> air;
    for (const auto& in : mic) {
        buff<cplx> out(512);
        tx->modulate(in, out);
        air.push_back(out);
    }
    for (size_t i = 0; i < blocksPerSecond; ++i) rx->demodulate(air[i]);
    size_t b = blocksPerSecond;
    for (auto _ : state) {
        for (size_t i = 0; i < blocksPerSecond; ++i, ++b) {
            auto audio = rx->demodulate(air[blocksPerSecond + b % (air.size() - blocksPerSecond)]);
            benchmark::DoNotOptimize(audio.data);
        }
    }
    state.counters["realtime_x"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(transmit)->Name("FreeDV transmit 1 s/700D")->Arg(7)->Unit(benchmark::kMillisecond);
BENCHMARK(transmit)->Name("FreeDV transmit 1 s/2020")->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(receive)->Name("FreeDV receive 1 s/700D")->Arg(7)->Unit(benchmark::kMillisecond);
BENCHMARK(receive)->Name("FreeDV receive 1 s/2020")->Arg(8)->Unit(benchmark::kMillisecond);

} // namespace
