// The SoapySDR back-end's conversions and its stream loop.
//  - fill functions in seconds per complex sample, beside VOLK's int16 and
//    int8 to float conversions of the same samples (two values each; VOLK
//    picks its kernel for this processor at run time, our build targets the
//    baseline instruction set);
//  - the loop (read, convert, cut into receive blocks, meter) on the
//    stand-in device delivering CS16 as fast as asked, by readStream and by
//    direct buffers: "realtime" is the multiple of 10 MS/s it sustains.
#include "framework/library.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/SoapyRadio.h"
#include "radios/soapy/SoapyStream.h"
#include "radios/soapy/soapyFill.h"
#include "radios/soapy/soapyOwned.h"
#include "standins/soapy/soapyStandin.h"
#include "standins/standinControl.h"

#include <benchmark/benchmark.h>
#include <volk/volk.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr size_t samples = 16384;

void perSample(benchmark::State& state) {
    state.counters["per sample"] =
        benchmark::Counter(double(samples), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class T>
std::vector<T> noise() {
    std::mt19937 rng(1);
    std::vector<T> v(2 * samples);
    for (auto& x : v) x = T(rng() % 2001) - T(1000);
    return v;
}

template <class T, class P, P (*Fill)(const T*, std::complex<float>*, size_t, float, P)>
void fill(benchmark::State& state) {
    auto in = noise<T>();
    std::vector<std::complex<float>> out(samples);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Fill(in.data(), out.data(), samples, 1.0f / 32768, P{}));
        benchmark::ClobberMemory();
    }
    perSample(state);
}
BENCHMARK(fill<uint8_t, int, soapyFill::u8<false>>)->Name("fill/U8");
BENCHMARK(fill<uint8_t, int, soapyFill::u8<true>>)->Name("fill/U8/swapIQ");
BENCHMARK(fill<int8_t, int, soapyFill::cs8<false>>)->Name("fill/CS8");
BENCHMARK(fill<int8_t, int, soapyFill::cs8<true>>)->Name("fill/CS8/swapIQ");
BENCHMARK(fill<int16_t, int, soapyFill::cs16<false>>)->Name("fill/CS16");
BENCHMARK(fill<int16_t, int, soapyFill::cs16<true>>)->Name("fill/CS16/swapIQ");
BENCHMARK(fill<float, float, soapyFill::cf32<false>>)->Name("fill/CF32");
BENCHMARK(fill<float, float, soapyFill::cf32<true>>)->Name("fill/CF32/swapIQ");

// VOLK's kernels are dispatch pointers, chosen for this machine at load.
template <class T>
void volk(benchmark::State& state, void (*convert)(float*, const T*, const float, unsigned int), float fullScale) {
    auto in = noise<T>();
    std::vector<float> out(2 * samples);
    for (auto _ : state) {
        convert(out.data(), in.data(), fullScale, unsigned(2 * samples));
        benchmark::ClobberMemory();
    }
    perSample(state);
}
void volk16(benchmark::State& state) { volk<int16_t>(state, volk_16i_s32f_convert_32f, 32768.0f); }
void volk8(benchmark::State& state) { volk<int8_t>(state, volk_8i_s32f_convert_32f, 128.0f); }
BENCHMARK(volk16)->Name("volk_16i_s32f_convert_32f");
BENCHMARK(volk8)->Name("volk_8i_s32f_convert_32f");

/// The loop at 10 MS/s of CS16 from the stand-in, flat out.
void loop(benchmark::State& state) {
    static bool started = [] {
        setenv("SOAPY_SDR_PLUGIN_PATH", VIREO_SOAPY_STANDIN_DIR, 1);
        vireo::init("/tmp/vireo_soapy_bench.log", 0);
        return true;
    }();
    (void)started;
    SoapyLib& lib = SoapyLib::getInstance();
    lib.LoadApi();
    if (!lib.handle()) return state.SkipWithError("no SoapySDR library");
    soapyOwnedText loaded(lib, lib.loadModule((std::string(VIREO_SOAPY_STANDIN_DIR) + "/" + standin::soapy::module).c_str()));
    standin::soapy::Device d;
    d.find = {{"label", "Bench"}, {"serial", "1"}};
    d.rates = {10e6};
    d.format = "CS16";
    d.directBuffers = size_t(state.range(0));
    d.mtu = 16384;
    d.speed = 0;
    standin::control<standin::soapy::setDevicesFn>(standin::soapy::module, "standin_soapy_setDevices")({d});

    auto radio = std::make_shared<SoapyRadio>(globalTaskGroup);
    radio->driver.hostSet("vctest");
    radio->label.hostSet("Bench");
    SoapyStream stream(lib);
    if (radio->SampleRate.get() != 10000000 || !stream.open(*radio)) return state.SkipWithError("no device");
    double delivered = 0;
    for (auto _ : state) delivered += double(stream.turn(*radio));
    stream.close();
    state.counters["realtime"] = benchmark::Counter(delivered / 10e6, benchmark::Counter::kIsRate);
    state.counters["per sample"] = benchmark::Counter(delivered, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(loop)->Name("loop/CS16/stream")->Arg(0)->UseRealTime();
BENCHMARK(loop)->Name("loop/CS16/buffers")->Arg(4)->UseRealTime();

} // namespace
