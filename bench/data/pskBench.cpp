// The PSK mode's receive cost. "realtime_x" of psk_demodulate is the
// duration of the audio over the time its processing took on one core: a
// 48000/s band with PSK31 signals on half the scanning frequencies, through
// all 66 channels, the peak search and the channel assignment.
// psk_detector_block is one channel's ProcPSKDet on one 512-sample block.
#include "modes/data/psk/CPSKDet.h"
#include "modes/data/psk/CPSKMod.h"
#include "modes/data/psk/PskModDemod.h"
#include "framework/sothreadPool.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

using cplx = std::complex<float>;

int idle(void*) { return CPSKMod::sourceIdle; }

/// Ten seconds of a band: idle PSK31 on every other 100 Hz step from 200 Hz
/// (15 signals) and a little noise.
const std::vector<cplx>& band() {
    static const std::vector<cplx> samples = [] {
        const size_t n = 48000 * 10;
        std::vector<cplx> sum(n);
        std::vector<cplx> one(n);
        for (int hz = 200; hz <= 3000; hz += 200) {
            CPSKMod mod;
            mod.setCharSource(&idle, nullptr);
            mod.InitPSKMod(48000, 0.05);
            mod.setCarrier(hz);
            mod.SetTXMode(0);
            mod.CalcPSK(reinterpret_cast<float*>(one.data()), int(2 * n), 1);
            for (size_t i = 0; i < n; ++i) sum[i] += one[i];
        }
        std::mt19937 rng(1);
        std::normal_distribution<float> g(0.0f, 0.01f);
        for (auto& s : sum) s += cplx(g(rng), g(rng));
        return sum;
    }();
    return samples;
}

sothreadPool& pool() {
    static sothreadPool p(1);
    spdlog::set_level(spdlog::level::err);
    return p;
}

void psk_demodulate(benchmark::State& state) {
    auto mode = std::make_shared<PskModDemod>(std::make_shared<syncTask>(pool()));
    const auto& x = band();
    std::vector<buff<cplx>> blocks;
    for (size_t i = 0; i + 512 <= x.size(); i += 512) {
        buff<cplx> b(512);
        std::copy_n(x.begin() + long(i), 512, b.data);
        blocks.push_back(b);
    }
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mode->demodulate(blocks[k]));
        k = (k + 1) % blocks.size();
    }
    state.counters["realtime_x"] =
        benchmark::Counter(512.0 / 48000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void psk_detector_block(benchmark::State& state) {
    const int mode = int(state.range(0));
    CPSKDet det;
    det.setMode(mode);
    det.Init(8000);
    det.SetRXFrequency(1400);
    det.ResetDetector();
    std::vector<float> audio(8000 * 4);
    const auto& x = band();
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = 30000.0f * x[6 * i].real();
    char out[10];
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(det.ProcPSKDet(audio.data() + k, 512, 1, out, 10));
        k = (k + 512) % (audio.size() - 512);
    }
}

} // namespace

BENCHMARK(psk_demodulate)->Unit(benchmark::kMicrosecond);
BENCHMARK(psk_detector_block)->ArgName("mode")->Arg(0)->Arg(8)->Arg(16)->Arg(1)->Unit(benchmark::kMicrosecond);
