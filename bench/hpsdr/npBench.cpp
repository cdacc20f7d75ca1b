// HPSDR protocol 2 receiving.
//
// NpDecode: DDC IQ packets (238 samples each) decoded into the receive
// blocks of 1, 4 and 8 receivers at 384000 samples per second and of one
// at 1536000 (6450 packets per second), as the radio's task group does it,
// without transceivers. Counters: samples per second and the real-time
// factor against the receivers' combined rate.
//
// NpLoopbackLoss: the board simulator streams 100,000 DDC IQ packets, paced
// at the board's rate for 8 receivers at 384000 and 4 at 1536000, to a
// started radio through the C interface; what got through is counted from
// the decoded samples and from ep6SeqErrors (one per gap). Needs the board's
// ports on 127.0.0.1.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "framework/library.h"
#include "radios/hpsdr/HpsdrNpRadio.h"
#include "sim/hpsdrP2Sim.h"
#include "support/waitFor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr size_t samplesPerPacket = 238;

void NpDecode(benchmark::State& state) {
    const int n = int(state.range(0));
    const int rate = int(state.range(1));
    auto radio = std::make_shared<HpsdrNpRadio>(nullptr);
    radio->SampleRate.set(rate, false);
    for (int d = 1; d < n; ++d) radio->addHWReceiver(7000000 + 1000000LL * d);
    // 64 consecutive packets per DDC: one sequence gap per 64, as a wrap.
    std::vector<std::vector<buff<char>>> packets(static_cast<size_t>(n));
    for (int d = 0; d < n; ++d) {
        ddcIqStream tone({{0.5, 0.01 * (d + 1), 0.0}}, d % 2);
        for (uint32_t q = 0; q < 64; ++q) {
            auto bytes = tone.next(q);
            buff<char> p(bytes.size());
            std::memcpy(p.data, bytes.data(), bytes.size());
            packets[size_t(d)].push_back(p);
        }
    }
    size_t k = 0, samples = 0;
    for (auto _ : state) {
        for (int d = 0; d < n; ++d) radio->decodeRxPacket(packets[size_t(d)][k % 64], d);
        ++k;
        samples += samplesPerPacket * size_t(n);
    }
    state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    state.counters["x realtime"] = benchmark::Counter(double(samples) / (double(rate) * n), benchmark::Counter::kIsRate);
}

void NpLoopbackLoss(benchmark::State& state) {
    static bool started = false;
    if (!started) init("/tmp/vireo_hpsdr_np_bench.log", 0);
    started = true;
    const int n = int(state.range(0));
    const int rate = int(state.range(1));
    const int total = 100000;
    const double packetsPerSecond = double(rate) * n / samplesPerPacket;

    hpsdrP2Sim sim;
    std::string why;
    if (!sim.open("127.0.0.1", &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        void* h = HpsdrNpRadio_create();
        auto radio = vireo::api::target<HpsdrNpRadio>(h, "bench");
        HpsdrNpRadio_setipAddress(h, "127.0.0.1");
        Radio_setmaxHwReceivers(h, n);
        Radio_setSampleRate(h, rate);
        Radio_start(h);
        // One transceiver per receiver, each on a DDC of its own.
        for (int d = 1; d < n; ++d) Radio_addVtrx(h, 20000000 + 5000000LL * d, 0, 0);
        if (!waitFor([&] { return sim.host() && sim.at(1027).count() > 0; })) {
            state.SkipWithError("the radio did not start");
            break;
        }
        if (!waitFor([&] {
                std::lock_guard<std::mutex> lock(radio->listMutex);
                return int(radio->receivers.size()) == n;
            })) {
            state.SkipWithError(("receivers: " + std::to_string(radio->receivers.size())).c_str());
            break;
        }

        std::vector<ddcIqStream> streams;
        for (int d = 0; d < n; ++d) streams.emplace_back(std::vector<simTone>{{0.5, 0.01, 0.0}}, false);
        const auto t0 = std::chrono::steady_clock::now();
        for (int k = 0; k < total; ++k) {
            if (k % 16 == 0)
                std::this_thread::sleep_until(t0 + std::chrono::duration<double>(k / packetsPerSecond));
            const int d = k % n;
            sim.send(hpsdrP2Sim::ddcPort(d), streams[size_t(d)].next(uint32_t(k / n)));
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        uint64_t last = ~uint64_t(0);
        while (radio->received.ddcPackets.load() != last) {
            last = radio->received.ddcPackets.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        state.counters["received"] = double(last);
        state.counters["lost"] = double(total - int64_t(last));
        state.counters["loss %"] = 100.0 * double(total - int64_t(last)) / total;
        state.counters["ep6SeqErrors"] = radio->ep6SeqErrors.get();
        state.counters["samples"] = double(last * samplesPerPacket);
        state.counters["sent/s"] = total / seconds;
        Radio_stop(h);
        radio.reset();
        HpsdrNpRadio_release(h);
        sim.clear();
    }
}

} // namespace

BENCHMARK(NpDecode)->Args({1, 384000})->Args({4, 384000})->Args({8, 384000})->Args({1, 1536000});
BENCHMARK(NpLoopbackLoss)
    ->Args({8, 384000})
    ->Args({4, 1536000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
