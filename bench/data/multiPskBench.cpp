// The IQ rate one MultiPSK client gets through the bridge in both
// directions at once, over loop-back TCP: the client sends transmit IQ in
// "TXHWdata" packets of 512 samples and reads every reply, while the
// transceiver side sends receive IQ chunks of 512 samples and takes
// transmit blocks out of the ring. samples_per_second is per direction;
// 48000 is what MultiPSK needs. Packets run through the mode's task group
// and the shared I/O thread as they do in use (no transceiver attached, so
// nothing is tuned or keyed).
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"
#include "modes/data/multipsk/MultiPskModDemod.h"

#include "modes/data/multipsk/multiPskClient.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

using namespace mpsktest;
using cplx = std::complex<float>;

void bothWays(benchmark::State& state) {
    spdlog::set_level(spdlog::level::off);
    sothreadPool pool(2);
    auto group = std::make_shared<syncTask>(pool);
    auto mode = std::make_shared<MultiPskModDemod>(group);
    mode->hostSetPort(freePort());
    mode->init();
    Client client(mode->servedPort());
    while (!mode->connected.get()) std::this_thread::yield();

    const size_t chunk = 512;
    const long packets = state.range(0);
    const std::string tx = frame(samplesBody(std::vector<std::pair<int16_t, int16_t>>(chunk, {1000, -1000})));
    buff<cplx> rxChunk(chunk, cplx{0.1f, -0.1f});
    buff<cplx> in(chunk, cplx{}), out(chunk);
    long long samples = 0;
    for (auto _ : state) {
        std::atomic<long> received{0}, iq{0};
        std::thread reader([&] {
            while (received < packets || iq < packets) {
                auto f = client.readFrame();
                if (!f) return;
                if (f->compare(4, 8, "Received") == 0) ++received;
                if (f->compare(4, 8, "TXHWdata") == 0) ++iq;
            }
        });
        std::thread writer([&] {
            for (long k = 0; k < packets; ++k) client.write(tx);
        });
        for (long k = 0; k < packets; ++k) {
            mode->sendMultiPsk(rxChunk);
            mode->modulate(in, out);
        }
        writer.join();
        reader.join();
        if (received < packets || iq < packets) state.SkipWithError("replies missing");
        samples += packets * long(chunk);
    }
    state.counters["samples_per_second"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    client.close();
    while (mode->connected.get()) std::this_thread::yield();
    mode.reset();
    while (pool.busy() != 0) std::this_thread::yield();
    std::fflush(stdout);
}

} // namespace

BENCHMARK(bothWays)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
