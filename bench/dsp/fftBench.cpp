// Forward complex transforms of 1024, 2048 and 4096 points: the own plans
// against kissfft<float> and FFTW, each on the same input and output buffers.
#include "dsp/fft/fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <random>

namespace {

using cf = std::complex<float>;

struct Buffers {
    explicit Buffers(size_t n) : in(n), out(n) {
        std::mt19937 rng(1);
        std::normal_distribution<float> g;
        for (auto& v : in) v = cf(g(rng), g(rng));
    }
    buff<cf> in, out;
};

void finish(benchmark::State& state, size_t n) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    state.SetLabel("items = points");
}

void ownPlan(benchmark::State& state) {
    const size_t n = size_t(state.range(0));
    Buffers b(n);
    for (auto _ : state) {
        fft::fwd(b.in, b.out);
        benchmark::DoNotOptimize(b.out.data);
        benchmark::ClobberMemory();
    }
    finish(state, n);
}

void kissfftFloat(benchmark::State& state) {
    const size_t n = size_t(state.range(0));
    Buffers b(n);
    kissfft<float> plan(n, false);
    for (auto _ : state) {
        plan.transform(b.in.data, b.out.data);
        benchmark::DoNotOptimize(b.out.data);
        benchmark::ClobberMemory();
    }
    finish(state, n);
}

void fftwMeasure(benchmark::State& state) {
    const size_t n = size_t(state.range(0));
    Buffers b(n);
    // FFTW_MEASURE runs trial transforms over the arrays it plans for; plan on
    // a copy of the input so every library transforms the same samples.
    buff<cf> saved(n);
    saved.copy(b.in);
    fftwf_plan plan = fftwf_plan_dft_1d(int(n), reinterpret_cast<fftwf_complex*>(b.in.data),
                                        reinterpret_cast<fftwf_complex*>(b.out.data), FFTW_FORWARD, FFTW_MEASURE);
    b.in.copy(saved);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(b.out.data);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    finish(state, n);
}

BENCHMARK(ownPlan)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(kissfftFloat)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(fftwMeasure)->Arg(1024)->Arg(2048)->Arg(4096);

} // namespace
