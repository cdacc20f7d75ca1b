// The RTL-SDR's receive road. "ns_per_sample" is the cost of turning one IQ
// byte pair into a complex float (ours with the I peak, VOLK's plain signed
// conversion of the same bytes); "realtime_x" is seconds of 3.2 MS/s signal
// carried per second: a radio with one transceiver fed buffer by buffer as
// the reader thread feeds it, until the transceiver has demodulated all.
#include "core/drainTasks.h"
#include "core/realPartMode.h"
#include "core/vtrx.h"
#include "framework/sothreadPool.h"
#include "radios/rtl/RTLRadio.h"
#include "radios/rtl/RTLSamples.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>
#include <volk/volk.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr size_t bufferBytes = 32768; // as the reader thread receives them
constexpr size_t bufferSamples = bufferBytes / 2;

std::vector<unsigned char> noiseBytes(size_t n) {
    std::mt19937 rng(7);
    std::vector<unsigned char> b(n);
    for (auto& x : b) x = (unsigned char)(rng() & 0xff);
    return b;
}

void perSample(benchmark::State& state) {
    // Inverted rate of samples counted in billions: nanoseconds per sample.
    state.counters["ns_per_sample"] = benchmark::Counter(double(bufferSamples) * double(state.iterations()) / 1e9,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void convertOurs(benchmark::State& state) {
    auto in = noiseBytes(bufferBytes);
    std::vector<std::complex<float>> out(bufferSamples);
    for (auto _ : state) {
        int peak = convertRtlSamples(in.data(), out.data(), bufferSamples, 1.0f / 128.0f);
        benchmark::DoNotOptimize(peak);
        benchmark::DoNotOptimize(out.data());
    }
    perSample(state);
}

void convertVolk(benchmark::State& state) {
    auto in = noiseBytes(bufferBytes);
    float* out = static_cast<float*>(volk_malloc(bufferBytes * sizeof(float), volk_get_alignment()));
    for (auto _ : state) {
        volk_8i_s32f_convert_32f(out, reinterpret_cast<const int8_t*>(in.data()), 128.0f, bufferBytes);
        benchmark::DoNotOptimize(out);
    }
    volk_free(out);
    perSample(state);
}

void radioRealTime(benchmark::State& state) {
    spdlog::set_level(spdlog::level::err);
    static sothreadPool pool(2); // the radio's work and the transceiver's side by side
    auto group = std::make_shared<syncTask>(pool);
    auto radio = std::make_shared<RTLRadio>(group);
    radio->SampleRate.set(3200000, false);
    radio->addVtrx(RTLRadio::startFrequency + 250000, 0, 0);
    auto v = radio->vtrxList.front();
    auto mode = std::make_shared<RealPartMode>(group);
    v->setModulation(mode);
    v->start();

    // A tone 250 kHz up, where the transceiver listens, with a little noise.
    std::vector<unsigned char> bytes(bufferBytes * 64);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (size_t i = 0; i < bytes.size() / 2; ++i) {
        double ph = 2 * M_PI * 250000.0 * double(i) / 3200000.0;
        bytes[2 * i] = (unsigned char)std::lround(128 + 60 * std::cos(ph) + noise(rng));
        bytes[2 * i + 1] = (unsigned char)std::lround(128 + 60 * std::sin(ph) + noise(rng));
    }

    const size_t buffersPerRun = 196; // one second at 3.2 MS/s
    for (auto _ : state) {
        for (size_t b = 0; b < buffersPerRun; ++b)
            radio->Process(bytes.data() + (b % 64) * bufferBytes, uint32_t(bufferBytes));
        drainDataTasks(radio);
        drainDataTasks(v);
    }
    state.counters["realtime_x"] = benchmark::Counter(double(buffersPerRun * bufferSamples) / 3200000.0 *
                                                          double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
    asTask t;
    while (pool.renderQueue.pop(t)) {
    }
    while (pool.updateQueue.pop(t)) {
    }
}

} // namespace

BENCHMARK(convertOurs);
BENCHMARK(convertVolk);
BENCHMARK(radioRealTime)->Unit(benchmark::kMillisecond)->UseRealTime();
