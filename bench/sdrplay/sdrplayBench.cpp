// The SDRplay receive road. "ns_per_sample" is the cost of turning one pair
// of 16-bit I and Q samples into a complex float (ours with the |Q| peak,
// VOLK's plain conversion of the same 2n values); "realtime_x" is seconds of
// signal carried per second: stream callbacks of 1008 samples into a radio
// with one transceiver per tuner, until the transceivers have demodulated
// all. No library is loaded: the callbacks are called as its threads would.
#include "core/drainTasks.h"
#include "core/realPartMode.h"
#include "core/vtrx.h"
#include "framework/sothreadPool.h"
#include "radios/sdrplay/SDRPlayRadio.h"
#include "radios/sdrplay/sdrplaySamples.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>
#include <volk/volk.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr size_t block = 1008; // samples per callback, as the library sends them

std::vector<short> noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<short> v(n);
    for (auto& x : v) x = short(int(rng() & 0xffff) - 32768);
    return v;
}

void perSample(benchmark::State& state, size_t samples) {
    // Inverted rate of samples counted in billions: nanoseconds per sample.
    state.counters["ns_per_sample"] = benchmark::Counter(double(samples) * double(state.iterations()) / 1e9,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void convertOurs(benchmark::State& state) {
    auto i = noise(block, 1), q = noise(block, 2);
    std::vector<std::complex<float>> out(block);
    for (auto _ : state) {
        int peak = convertSdrplaySamples(i.data(), q.data(), out.data(), block, 1.0f / 32768.0f);
        benchmark::DoNotOptimize(peak);
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state, block);
}

void convertVolk(benchmark::State& state) {
    // The same values, interleaved as VOLK takes them.
    auto iq = noise(2 * block, 3);
    float* out = static_cast<float*>(volk_malloc(2 * block * sizeof(float), volk_get_alignment()));
    for (auto _ : state) {
        volk_16i_s32f_convert_32f(out, iq.data(), 32768.0f, unsigned(2 * block));
        benchmark::DoNotOptimize(out);
    }
    volk_free(out);
    perSample(state, block);
}

/// One second of callbacks at `rate` on `tuners` tuners (two: an RSPduo at
/// its two-tuner rate), each tuner on a thread of its own as the library
/// runs them.
void radioRealTime(benchmark::State& state, int rate, int tuners) {
    spdlog::set_level(spdlog::level::off); // the library is not installed here
    static sothreadPool pool(3); // the radio's work and the transceivers' side by side
    auto group = std::make_shared<syncTask>(pool);
    auto radio = std::make_shared<SDRPlayRadio>(group);
    radio->SampleRate.set(rate);
    radio->Model.set(tuners == 2 ? "RSPduo" : "RSP1A");
    std::vector<std::shared_ptr<vtrx>> listeners;
    for (int k = 0; k < tuners; ++k) {
        radio->addVtrx(SDRPlayRadio::startFrequency + 250000, k, 0);
        auto v = radio->vtrxList.back();
        v->setModulation(std::make_shared<RealPartMode>(group));
        v->start();
        v->ADCs.hostSet(1 << k); // tuner k's receiver
        listeners.push_back(v);
    }
    for (auto& v : listeners) drainDataTasks(v);
    drainDataTasks(radio);

    // A tone 250 kHz up, where the transceivers listen, with a little noise.
    std::vector<short> i(block * 64), q(block * 64);
    std::mt19937 rng(3);
    std::normal_distribution<double> n(0.0, 30.0);
    for (size_t s = 0; s < i.size(); ++s) {
        double ph = 2 * M_PI * 250000.0 * double(s) / rate;
        i[s] = short(std::lround(8000 * std::cos(ph) + n(rng)));
        q[s] = short(std::lround(8000 * std::sin(ph) + n(rng)));
    }

    const size_t callbacks = size_t(rate) / block; // one second
    for (auto _ : state) {
        std::vector<std::thread> streams;
        for (int k = 0; k < tuners; ++k)
            streams.emplace_back([&, k] {
                for (size_t c = 0; c < callbacks; ++c)
                    radio->Callback(i.data() + (c % 64) * block, q.data() + (c % 64) * block, unsigned(block), k);
            });
        for (auto& t : streams) t.join();
        drainDataTasks(radio);
        for (auto& v : listeners) drainDataTasks(v);
    }
    state.counters["realtime_x"] =
        benchmark::Counter(double(callbacks * block) / rate * double(state.iterations()), benchmark::Counter::kIsRate);
    asTask t;
    while (pool.renderQueue.pop(t)) {
    }
    while (pool.updateQueue.pop(t)) {
    }
}

} // namespace

BENCHMARK(convertOurs);
BENCHMARK(convertVolk)->Name("volk_16i_s32f_convert_32f");
BENCHMARK_CAPTURE(radioRealTime, at10MSps, 10000000, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(radioRealTime, dual2MSps, 2000000, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
