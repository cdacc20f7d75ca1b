// How many transceivers one core keeps in real time: the receive chain of one
// transceiver driven block by block through processRxChunk, at several radio
// rates, with the spectrum in the foreground or the background and noise
// reduction on or off. "transceivers_per_core" is the block's duration over
// the time its processing took: the number of such transceivers one core can
// carry. The waterfall's cost and line rate at its slowest and fastest speed.
#include "core/Radio.h"
#include "core/agc.h"
#include "core/hwReceiver.h"
#include "core/modDemod.h"
#include "realPartMode.h"
#include "core/vtrx.h"
#include "framework/hostArrays.h"
#include "framework/sothreadPool.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

sothreadPool& pool() {
    static sothreadPool p(1);
    spdlog::set_level(spdlog::level::err); // stream-id lines would drown the figures
    return p;
}

/// A started transceiver with the cheapest mode, and one receive block of a
/// tone 1000 Hz above its vfo at rate.
struct Receiver {
    std::shared_ptr<vtrx> v;
    buff<std::complex<float>> block;
    long long centre;
};

Receiver receiver(int rate, bool foreground, bool denoise, int waterfallSpeed = 0) {
    auto group = std::make_shared<syncTask>(pool());
    Receiver r{std::make_shared<vtrx>(group), {}, 0};
    r.v->create();
    auto mode = std::make_shared<RealPartMode>(group);
    mode->rnnoise.hostSet(denoise);
    r.v->setModulation(mode);
    r.v->foregroundDisplay.hostSet(foreground);
    r.v->waterfallSpeed.hostSet(waterfallSpeed);
    r.v->start();

    const size_t n = hwReceiver::blockSizeFor(rate);
    r.block = buff<std::complex<float>>(n);
    for (size_t i = 0; i < n; ++i) {
        double ph = 2 * M_PI * 1000.0 * double(i) / rate;
        r.block[i] = {float(0.3 * std::cos(ph)), float(0.3 * std::sin(ph))};
    }
    r.centre = r.v->vfo.get() - 1000;
    return r;
}

void dropHostTasks() {
    asTask t;
    while (pool().renderQueue.pop(t)) {
    }
    while (pool().updateQueue.pop(t)) {
    }
}

void chain(benchmark::State& state) {
    const int rate = int(state.range(0));
    Receiver r = receiver(rate, state.range(1) != 0, state.range(2) != 0);
    for (auto _ : state) r.v->processRxChunk(r.block, r.centre, rate, buff<float>(), 0.0, 0);

    // Host tasks pile up unpolled; drop them so the next run starts clean.
    dropHostTasks();
    const double blockSeconds = double(r.block.count) / rate;
    // Block duration per second of processing: transceivers per core.
    state.counters["transceivers_per_core"] =
        benchmark::Counter(blockSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

long spectrumLines = 0;
void countLine(void* line, int, double, double) {
    ++spectrumLines;
    vireo::api::arrayDelete<float>(line);
}

// The waterfall in the foreground at its slowest and fastest speed, with a
// host taking every line: "lines_per_second" is lines per second of signal,
// which the spectrum bounds whatever the speed; "transceivers_per_core" as
// above.
void waterfall(benchmark::State& state) {
    const int rate = int(state.range(0));
    Receiver r = receiver(rate, true, false, int(state.range(1)));
    r.v->bindnewSpectrum(countLine);
    spectrumLines = 0;
    for (auto _ : state) {
        r.v->processRxChunk(r.block, r.centre, rate, buff<float>(), 0.0, 0);
        asTask t;
        while (pool().renderQueue.pop(t)) t.fn();
    }
    dropHostTasks();
    const double signalSeconds = double(r.block.count) / rate * double(state.iterations());
    state.counters["lines_per_second"] = double(spectrumLines) / signalSeconds;
    state.counters["transceivers_per_core"] = benchmark::Counter(signalSeconds, benchmark::Counter::kIsRate);
}

// The radio's own share: a back-end writing whole blocks through the direct
// path of a radio without transceivers (cutting, checking and replacing the
// blocks), in samples per second.
void radioWrite(benchmark::State& state) {
    const int rate = int(state.range(0));
    auto radio = std::make_shared<Radio>(std::make_shared<syncTask>(pool()));
    hwReceiver r;
    r.sampleRate = rate;
    radio->receivers.push_back(r);
    const size_t n = hwReceiver::blockSizeFor(rate);
    buff<std::complex<float>> source(n, std::complex<float>(0.25f, -0.5f));
    const Radio::fillFunction fill = [&](std::complex<float>* d, size_t k) { std::copy_n(source.data, k, d); };
    radio->write(fill, 512, 0); // the first block is 512 long whatever the rate
    for (auto _ : state) radio->write(fill, n, 0);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

} // namespace

BENCHMARK(radioWrite)->ArgName("rate")->Arg(192000)->Arg(1536000);

BENCHMARK(chain)
    ->ArgNames({"rate", "foreground", "denoise"})
    ->ArgsProduct({{192000, 384000, 1536000}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(waterfall)
    ->ArgNames({"rate", "speed"})
    ->ArgsProduct({{48000, 1536000}, {0, 10}})
    ->Unit(benchmark::kMicrosecond);
