// The IQ rate one MultiPSK client sustains through the bridge in both
// directions at once, over loop-back TCP, without a transmit underrun.
//
// The transceiver side runs at a fixed sample rate (the argument): every
// 512 samples' time it sends one receive chunk to the client and takes one
// transmit block out of the ring. The client behaves as MultiPSK does: it
// sends a start of 8192 transmit samples, then answers every receive chunk
// with as many transmit samples, so the ring stays filled only as long as
// the round trip keeps up. The transmit IQ is a tone; a block sample near 0
// after the start means the ring ran dry (underrun_samples, counted after a
// warm-up of a quarter second in which the pools and threads settle). The
// highest rate with no underrun is the figure; 48000 is what MultiPSK needs.
// Packets run through the mode's task group and the shared I/O thread as
// they do in use (no transceiver attached, so nothing is tuned or keyed).
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"
#include "modes/data/multipsk/MultiPskModDemod.h"

#include "modes/data/multipsk/multiPskClient.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

using namespace mpsktest;
using cplx = std::complex<float>;

constexpr size_t chunk = 512;

/// n samples of a tone at a quarter of the rate, amplitude 8000.
std::string toneFrame(long& at, size_t n) {
    std::vector<std::pair<int16_t, int16_t>> pairs;
    static const int16_t cycle[4][2] = {{8000, 0}, {0, 8000}, {-8000, 0}, {0, -8000}};
    for (size_t k = 0; k < n; ++k, ++at) pairs.emplace_back(cycle[at % 4][0], cycle[at % 4][1]);
    return frame(samplesBody(pairs));
}

void bothWaysAtRate(benchmark::State& state) {
    spdlog::set_level(spdlog::level::off);
    sothreadPool pool(2);
    auto group = std::make_shared<syncTask>(pool);
    auto mode = std::make_shared<MultiPskModDemod>(group);
    mode->hostSetPort(freePort());
    mode->init();
    Client client(mode->servedPort());
    while (!mode->connected.get()) std::this_thread::yield();

    const double rate = double(state.range(0));
    const long warmUp = long(std::max(50.0, rate * 0.25 / chunk));
    const long blocks = long(std::max(200.0, rate * 1.0 / chunk)); // a second's worth
    buff<cplx> rxChunk(chunk, cplx{0.1f, -0.1f});
    buff<cplx> in(chunk, cplx{}), out(chunk);
    long long samples = 0, underrun = 0;
    for (auto _ : state) {
        mode->multiPskMsg([] {
            buff<char> b(8);
            std::copy_n("SwitchTX", 8, b.data);
            return b;
        }());
        std::atomic<bool> stop{false};
        std::thread peer([&] {
            long at = 0;
            for (int k = 0; k < 16; ++k) client.write(toneFrame(at, chunk));
            while (!stop) {
                auto f = client.readFrame(std::chrono::milliseconds(200));
                if (!f) continue;
                if (f->compare(4, 8, "TXHWdata") == 0) client.write(toneFrame(at, readLe32(*f, 12) / 4));
            }
        });
        const auto period = std::chrono::duration<double>(double(chunk) / rate);
        auto next = std::chrono::steady_clock::now();
        bool started = false;
        for (long k = -warmUp; k < blocks; ++k) {
            std::this_thread::sleep_until(next);
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
            mode->sendMultiPsk(rxChunk);
            mode->modulate(in, out);
            for (const cplx s : out) {
                const bool silent = std::abs(s) < 0.05f;
                started = started || !silent;
                if (started && silent && k >= 0) ++underrun;
            }
        }
        stop = true;
        peer.join();
        samples += (warmUp + blocks) * long(chunk);
    }
    state.counters["samples_per_second"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    state.counters["underrun_samples"] = double(underrun);
    client.close();
    while (mode->connected.get()) std::this_thread::yield();
    mode.reset();
    while (pool.busy() != 0) std::this_thread::yield();
    std::fflush(stdout);
}

} // namespace

BENCHMARK(bothWaysAtRate)
    ->Arg(48000)
    ->Arg(192000)
    ->Arg(768000)
    ->Arg(3072000)
    ->Arg(12288000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
