// The Airspy's sample path. "fill": the gain scale and the |I| peak of one
// 65,536-sample transfer, against VOLK's plain scaling of the same floats
// (which keeps no peak); ns_per_sample counts complex samples. "process":
// Process of such transfers into an Airspy radio at 10 MS/s with one
// transceiver, each transfer waited for until the radio and the transceiver
// are idle again; realtime_x is the transfers' duration over the time taken.
#include "core/proxyModDemod.h"
#include "core/vtrx.h"
#include "framework/sothreadPool.h"
#include "radios/airspy/AirspyRadio.h"
#include "radios/airspy/SampleFeed.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>
#include <volk/volk.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <thread>
#include <vector>

namespace {

constexpr size_t transfer = 65536;
constexpr int rate = 10000000;

std::vector<float> toneTransfer() {
    std::vector<float> iq(2 * transfer);
    for (size_t i = 0; i < transfer; ++i) {
        double ph = 2 * M_PI * 50000.0 * double(i) / rate;
        iq[2 * i] = float(0.01 * std::cos(ph));
        iq[2 * i + 1] = float(0.01 * std::sin(ph));
    }
    return iq;
}

void perSample(benchmark::State& state) {
    state.counters["ns_per_sample"] = benchmark::Counter(double(state.iterations()) * transfer,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void fill(benchmark::State& state) {
    const auto iq = toneTransfer();
    std::vector<std::complex<float>> out(transfer);
    float peak = 0;
    for (auto _ : state) {
        peak = SampleFeed::scaleAndPeak(iq.data(), out.data(), transfer, 10.0f, 0.0f);
        benchmark::DoNotOptimize(peak);
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state);
}

void volkScale(benchmark::State& state) {
    const auto iq = toneTransfer();
    std::vector<float> out(2 * transfer);
    for (auto _ : state) {
        volk_32f_s32f_multiply_32f(out.data(), iq.data(), 10.0f, unsigned(2 * transfer));
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state);
}

void process(benchmark::State& state) {
    spdlog::set_level(spdlog::level::err);
    sothreadPool pool(2);
    {
        auto group = std::make_shared<syncTask>(pool);
        auto radio = std::make_shared<AirspyRadio>(group);
        {
            // No device has listed its rates here, so SampleRate would
            // refuse this one: the receiver takes it directly.
            std::lock_guard<std::mutex> lock(radio->listMutex);
            radio->receivers[0].sampleRate = rate;
        }
        radio->addVtrx(99000000, 0, 0);
        auto v = radio->vtrxList.front();
        // With no host callback bound the mode's audio is the channel's real part.
        v->setModulation(std::make_shared<proxyModDemod>(v->taskGroup()));
        v->start();
        const auto iq = toneTransfer();
        auto idle = [&] {
            while (pool.busy() != 0) std::this_thread::yield();
        };
        idle();
        for (auto _ : state) {
            radio->Process(iq.data(), int(transfer));
            idle();
        }
        state.counters["realtime_x"] = benchmark::Counter(double(transfer) / rate * double(state.iterations()),
                                                          benchmark::Counter::kIsRate);
        perSample(state);
        asTask t;
        while (pool.updateQueue.pop(t)) {
        }
        while (pool.renderQueue.pop(t)) {
        }
        radio->removeVtrx(v.get());
    }
    while (pool.busy() != 0) std::this_thread::yield();
}

} // namespace

BENCHMARK(fill)->Unit(benchmark::kMicrosecond);
BENCHMARK(volkScale)->Unit(benchmark::kMicrosecond);
BENCHMARK(process)->Unit(benchmark::kMicrosecond)->UseRealTime();
