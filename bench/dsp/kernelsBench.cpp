// The main vector kernels against their plain loops, in samples per second.
// The plain loops are built with the same flags, so where the compiler
// vectorises a simple loop by itself the figures say so.
#include "dsp/dspMath.h"
#include "dsp/dspMathScalar.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using cf = std::complex<float>;

struct Buffers {
    explicit Buffers(size_t n) : a(n), b(n), acc(n, cf(0, 0)), out(n) {
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> u(-1.f, 1.f);
        for (size_t i = 0; i < n; ++i) a[i] = cf(u(rng), u(rng)), b[i] = cf(u(rng), u(rng));
    }
    buff<cf> a, b, acc, out;
};

template <class Body>
void run(benchmark::State& state, Body body) {
    Buffers x(size_t(state.range(0)));
    for (auto _ : state) {
        body(x);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void mul(benchmark::State& s) { run(s, [](Buffers& x) { dspMath::mul(x.a, x.b, x.out); }); }
void mulScalar(benchmark::State& s) { run(s, [](Buffers& x) { dspMathScalar::mul(x.a, x.b, x.out); }); }
void mac(benchmark::State& s) { run(s, [](Buffers& x) { dspMath::mac(x.a, x.b, x.acc); }); }
void macScalar(benchmark::State& s) { run(s, [](Buffers& x) { dspMathScalar::mac(x.a, x.b, x.acc); }); }
void log10MagSq(benchmark::State& s) {
    run(s, [](Buffers& x) { benchmark::DoNotOptimize(dspMath::Log10MagnitudeSquared(x.a).data); });
}
void log10MagSqScalar(benchmark::State& s) {
    // The plain loop gets the same one allocation per call as the kernel.
    run(s, [](Buffers& x) {
        benchmark::DoNotOptimize(dspMathScalar::Log10MagnitudeSquared(x.a, buff<float>(x.a.count)).data);
    });
}
void spectrum(benchmark::State& s) {
    run(s, [](Buffers& x) { benchmark::DoNotOptimize(dspMath::spectrum(x.a, 2.4e-6f).data); });
}
void spectrumScalar(benchmark::State& s) {
    run(s, [](Buffers& x) {
        benchmark::DoNotOptimize(dspMathScalar::spectrum(x.a, 2.4e-6f, buff<float>(x.a.count)).data);
    });
}
void log10(benchmark::State& s) {
    buff<float> in(size_t(s.range(0)), 0.37f), out(size_t(s.range(0)));
    for (auto _ : s) {
        dspMath::Log10(in, out);
        benchmark::ClobberMemory();
    }
    s.SetItemsProcessed(int64_t(s.iterations()) * s.range(0));
}
void log10Scalar(benchmark::State& s) {
    buff<float> in(size_t(s.range(0)), 0.37f), out(size_t(s.range(0)));
    for (auto _ : s) {
        dspMathScalar::Log10(in, out);
        benchmark::ClobberMemory();
    }
    s.SetItemsProcessed(int64_t(s.iterations()) * s.range(0));
}

BENCHMARK(mul)->Arg(1024)->Arg(2048);
BENCHMARK(mulScalar)->Arg(1024)->Arg(2048);
BENCHMARK(mac)->Arg(1024)->Arg(2048);
BENCHMARK(macScalar)->Arg(1024)->Arg(2048);
BENCHMARK(log10MagSq)->Arg(2048);
BENCHMARK(log10MagSqScalar)->Arg(2048);
BENCHMARK(spectrum)->Arg(2048);
BENCHMARK(spectrumScalar)->Arg(2048);
BENCHMARK(log10)->Arg(2048);
BENCHMARK(log10Scalar)->Arg(2048);

} // namespace
