// Throughput of the down-converters, the low-latency filter and the IQ
// corrector, each beside liquid-dsp doing the same job on the same input.
// Rates are input samples per second (items_per_second).
#include "dsp/DownConverter2.h"
#include "dsp/FractionalDownConverter.h"
#include "dsp/filterDesign.h"
#include "dsp/iqbalancer/iq_balancer.h"
#include "dsp/lowLatFir.h"

#include <complex>
// liquid.h picks std::complex for its complex type when <complex> came first.
#include <liquid/liquid.h>

#include <benchmark/benchmark.h>

#include <random>

namespace {

using cf = std::complex<float>;

// One shared input for every benchmark: complex noise.
const buff<cf>& input() {
    static buff<cf> x = [] {
        buff<cf> b(1 << 17);
        std::mt19937 rng(1);
        std::normal_distribution<float> g(0.0f, 0.3f);
        for (cf& v : b) v = cf(g(rng), g(rng));
        return b;
    }();
    return x;
}

constexpr size_t radioBlock = 16384;  // a receive block at a few hundred kHz
constexpr double step = 0.1234;       // radians per sample

int log2i(int d) {
    int s = 0;
    while ((1 << s) < d) ++s;
    return s;
}

void BM_DownConverter2_tuneDecimate(benchmark::State& state) {
    const int decimation = static_cast<int>(state.range(0));
    DownConverter2<float> dc;
    buff<cf> in(input(), 0, radioBlock), out(radioBlock / decimation);
    for (auto _ : state) {
        dc.tuneDecimate(step, decimation, in, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * radioBlock);
}
BENCHMARK(BM_DownConverter2_tuneDecimate)->Arg(4)->Arg(32);

// liquid: NCO mix-down, then its multi-stage half-band decimator.
void BM_liquid_nco_msresamp2(benchmark::State& state) {
    const int decimation = static_cast<int>(state.range(0));
    nco_crcf nco = nco_crcf_create(LIQUID_NCO);
    nco_crcf_set_frequency(nco, static_cast<float>(step));
    msresamp2_crcf q = msresamp2_crcf_create(LIQUID_RESAMP_DECIM, log2i(decimation), 0.4f, 0.0f, 60.0f);
    buff<cf> mixed(radioBlock), out(radioBlock / decimation);
    for (auto _ : state) {
        nco_crcf_mix_block_down(nco, input().data, mixed.data, radioBlock);
        for (size_t i = 0; i < out.count; ++i) msresamp2_crcf_execute(q, mixed.data + i * decimation, out.data + i);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * radioBlock);
    msresamp2_crcf_destroy(q);
    nco_crcf_destroy(nco);
}
BENCHMARK(BM_liquid_nco_msresamp2)->Arg(4)->Arg(32);

constexpr int firTaps = 1500;

void BM_lowLatFir_calc(benchmark::State& state) {
    lowLatFir f(filterDesign<float>::bandpass(-2500, 2500, 48000, firTaps, firTaps), 512);
    size_t pos = 0;
    for (auto _ : state) {
        f.inBlock.copy(buff<cf>(input(), pos, 512));
        f.calc();
        benchmark::DoNotOptimize(f.outBlock.data);
        pos = (pos + 512) % input().count;
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BM_lowLatFir_calc);

// liquid's FFT filter needs a block of at least taps - 1 samples; it runs at
// its smallest power-of-two block, so compare the per-sample rate.
void BM_liquid_fftfilt(benchmark::State& state) {
    buff<cf> h = filterDesign<float>::bandpass(-2500, 2500, 48000, firTaps, firTaps);
    const unsigned n = 2048;
    fftfilt_cccf q = fftfilt_cccf_create(h.data, firTaps, n);
    buff<cf> out(n);
    size_t pos = 0;
    for (auto _ : state) {
        fftfilt_cccf_execute(q, input().data + pos, out.data);
        benchmark::DoNotOptimize(out.data);
        pos = (pos + n) % input().count;
    }
    state.SetItemsProcessed(state.iterations() * n);
    fftfilt_cccf_destroy(q);
}
BENCHMARK(BM_liquid_fftfilt);

constexpr size_t resampleChunk = 1000;  // 8 periods of 125 inputs

void BM_FractionalDownConverter_96_125(benchmark::State& state) {
    FractionalDownConverter<float> r(96, 125);
    buff<cf> out(1024);
    size_t pos = 0;
    for (auto _ : state) {
        r.GetInputBuffer(resampleChunk).copy(buff<cf>(input(), pos, resampleChunk));
        benchmark::DoNotOptimize(r.Process(out));
        pos = (pos + resampleChunk) % (input().count - resampleChunk);
    }
    state.SetItemsProcessed(state.iterations() * resampleChunk);
}
BENCHMARK(BM_FractionalDownConverter_96_125);

// liquid's rational resampler with 48 taps per phase (semi-length 24).
void BM_liquid_rresamp_96_125(benchmark::State& state) {
    rresamp_crcf q = rresamp_crcf_create_kaiser(96, 125, 24, 0.45f, 60.0f);
    buff<cf> out(1024);
    size_t pos = 0;
    for (auto _ : state) {
        rresamp_crcf_execute_block(q, input().data + pos, resampleChunk / 125, out.data);
        benchmark::DoNotOptimize(out.data);
        pos = (pos + resampleChunk) % (input().count - resampleChunk);
    }
    state.SetItemsProcessed(state.iterations() * resampleChunk);
    rresamp_crcf_destroy(q);
}
BENCHMARK(BM_liquid_rresamp_96_125);

void BM_iq_balancer_process(benchmark::State& state) {
    iq_balancer_t* s = iq_balancer_create(6e-5f, -0.0045f);
    buff<cf> block(radioBlock);
    size_t pos = 0;
    for (auto _ : state) {
        block.copy(buff<cf>(input(), pos, radioBlock));
        iq_balancer_process_buff(s, block);
        benchmark::DoNotOptimize(block.data);
        pos = (pos + radioBlock) % (input().count - radioBlock);
    }
    state.SetItemsProcessed(state.iterations() * radioBlock);
    iq_balancer_destroy(s);
}
BENCHMARK(BM_iq_balancer_process);

}  // namespace
