// What the waterfall's speed costs a foreground transceiver on an RTL-SDR
// at 1.536 MS/s: the librtlsdr stand-in paced in real time, an AM mode, the
// host taking every audio block and spectrum line. Per phase (speed 0 for
// 5 s, speed 10 for 10 s, speed 0 again for 5 s), over its last 3 s:
//  - audio_per_s: audio samples per second reaching the host (48000 when
//    the chain keeps up);
//  - lines_per_s: spectrum lines per second;
//  - rss_MB: resident memory at the end of the phase.
// Run with the stand-in first on the library path:
//   LD_LIBRARY_PATH=<build>/standins/standin_rtlsdr rtl_waterfall_probe
#include "vireocore.h"

#include "standins/standinControl.h"

#include <benchmark/benchmark.h>
#include <rtl-sdr.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using steady = std::chrono::steady_clock;

std::atomic<long> audioSamples{0}, lines{0};
void* transceiver = nullptr;

void onAudio(void* a) {
    audioSamples += floatArray_size(a);
    floatArray_delete(a);
}
void onLine(void* l, int, double, double) {
    ++lines;
    floatArray_delete(l);
}
void onAdded(void* v, long long, int, int) {
    if (transceiver) {
        vtrx_release(v);
        return;
    }
    transceiver = v;
}

template <class F>
F* rtl(const char* name) {
    return standin::control<F>("librtlsdr.so.0", name);
}

double residentMB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

/// Polls the host queues for `seconds`; the rates over the last `measured`.
void run(double seconds, double measured, double& audioRate, double& lineRate) {
    const auto start = steady::now();
    const auto from = start + std::chrono::duration<double>(seconds - measured);
    const auto end = start + std::chrono::duration<double>(seconds);
    long a0 = -1, l0 = 0;
    while (steady::now() < end) {
        getUpdates();
        getRenderUpdates();
        if (a0 < 0 && steady::now() >= from) a0 = audioSamples, l0 = lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    audioRate = double(audioSamples - a0) / measured;
    lineRate = double(lines - l0) / measured;
}

void waterfallSpeed(benchmark::State& state) {
    init("/tmp/vireo_waterfall_probe.log", 0);
    rtl<void()>("standin_rtlsdr_reset")();
    rtl<int(const char*, int)>("standin_rtlsdr_add_device")("00000001", RTLSDR_TUNER_R820T);
    rtl<void(double)>("standin_rtlsdr_pace")(1536000.0 / 16384.0); // buffers of 16384 samples
    rtl<void(double, double)>("standin_rtlsdr_tone")(100001000.0, 60.0);

    void* radio = RTLRadio_create();
    Radio_bindvtrxAdded(radio, onAdded);
    RTLRadio_setSerial(radio, "00000001");
    Radio_setSampleRate(radio, 1536000);
    Radio_start(radio);
    for (int i = 0; i < 5000 && !transceiver; ++i) {
        getUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!transceiver) {
        state.SkipWithError("the radio added no transceiver (is the stand-in on LD_LIBRARY_PATH?)");
        return;
    }
    void* mode = amModDemod_create();
    vtrx_setModulation(transceiver, mode);
    vtrx_setvfo(transceiver, 100000000);
    vtrx_setforegroundDisplay(transceiver, true);
    vtrx_bindnewAudio(transceiver, onAudio);
    vtrx_setSendAudio(transceiver, true);
    vtrx_bindnewSpectrum(transceiver, onLine);
    vtrx_start(transceiver);

    for (auto _ : state) {
        double a, l;
        state.counters["rss_MB_start"] = residentMB();
        run(5, 3, a, l);
        state.counters["audio_per_s_0"] = a;
        state.counters["lines_per_s_0"] = l;
        vtrx_setwaterfallSpeed(transceiver, 10);
        run(10, 3, a, l);
        state.counters["audio_per_s_10"] = a;
        state.counters["lines_per_s_10"] = l;
        state.counters["rss_MB_10"] = residentMB();
        vtrx_setwaterfallSpeed(transceiver, 0);
        run(5, 3, a, l);
        state.counters["audio_per_s_0_after"] = a;
        state.counters["rss_MB_0_after"] = residentMB();
    }

    Radio_stop(radio);
    vtrx_release(transceiver);
    amModDemod_release(mode);
    RTLRadio_release(radio);
    for (int i = 0; i < 200; ++i) {
        getUpdates();
        getRenderUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

BENCHMARK(waterfallSpeed)->Iterations(1)->Unit(benchmark::kSecond);
