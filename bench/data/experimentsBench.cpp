// Receive cost of the two experimental modes. "realtime_x" is the duration
// of the signal over the time its processing took on one core.
// chirp_demodulate: the chirp receiver (two 4096-tap correlators, 256
// channels of 23 Golay decoders) on its own transmission in 512-sample
// blocks at 48000/s. dab_demodulate: the DAB matched filter (2048 taps) and
// peak detector on 512-sample blocks at 2048000/s; its reports (one line per
// 96 ms frame and the marker samples) go to standard output, which the
// benchmark sends to /dev/null for the run.
#include "modes/data/chirp/chirpyModDemod.h"
#include "modes/data/dab/DABModDemod.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <complex>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

using cplx = std::complex<float>;

void chirp_demodulate(benchmark::State& state) {
    auto tx = std::make_shared<chirpyModDemod>(nullptr);
    auto rx = std::make_shared<chirpyModDemod>(nullptr);
    std::vector<buff<cplx>> blocks;
    for (int i = 0; i < 8 * 46; ++i) { // two test words' length of chirps
        buff<cplx> b(512);
        tx->modulate(buff<cplx>(512, cplx{}), b);
        blocks.push_back(b);
    }
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rx->demodulate(blocks[k]));
        k = (k + 1) % blocks.size();
    }
    state.counters["realtime_x"] =
        benchmark::Counter(512.0 / 48000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void dab_demodulate(benchmark::State& state) {
    auto mode = std::make_shared<DABModDemod>(nullptr);
    const buff<cplx> block(512, cplx{});
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    for (auto _ : state) benchmark::DoNotOptimize(mode->demodulate(block));
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    state.counters["realtime_x"] =
        benchmark::Counter(512.0 / 2048000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(chirp_demodulate);
BENCHMARK(dab_demodulate);
