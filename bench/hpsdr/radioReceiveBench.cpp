// The protocol 1 radio's receive path at 384000 samples per second per
// receiver: Ep6 packets through handleRxPacket into the receive blocks and
// on to one transceiver per receiver (a host-driven mode, so the chain
// runs up to the mode). Counters: samples per second through the radio and
// the transceivers, and the real-time factor.
//
// Loss through the radio on loopback: the board simulator streams 100,000
// Ep6 packets for 8 receivers at 19200 per second to a started radio;
// lost packets show as ep6SeqErrors (one per gap) and as samples missing
// at the transceivers. Needs port 1024 on 127.0.0.1.
#include "core/proxyModDemod.h"
#include "core/vtrx.h"
#include "framework/library.h"
#include "radios/hpsdr/HpsdrRadio.h"
#include "sim/hpsdrP1Sim.h"
#include "support/runOnLane.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::array<std::atomic<long long>, 8> delivered; // samples at 48000 reaching each mode

template <int R>
void onChunk(void* block) {
    auto* b = static_cast<buff<std::complex<float>>*>(block);
    delivered[R] += (long long)b->count;
    delete b;
}
constexpr void (*chunkOf[8])(void*) = {onChunk<0>, onChunk<1>, onChunk<2>, onChunk<3>,
                                       onChunk<4>, onChunk<5>, onChunk<6>, onChunk<7>};

void startLibrary() {
    static bool started = false;
    if (!started) vireo::init("/tmp/vireo_hpsdr_bench.log", 0);
    started = true;
}

/// A radio at 384000 with n receivers, a transceiver with a host-driven
/// mode on each.
std::shared_ptr<HpsdrRadio> makeRadio(int n, std::vector<std::shared_ptr<vtrx>>& transceivers) {
    auto r = std::make_shared<HpsdrRadio>(globalTaskGroup);
    runOnLane(r, [&] {
        r->SampleRate.hostSet(384000);
        r->maxHwReceivers.hostSet(n);
        r->disableVirtualReceivers.hostSet(true);
        r->ipAddress.hostSet("127.0.0.1");
        for (int k = 0; k < n; ++k) r->addVtrx(7000000 + 100000LL * k, 0, 0);
        std::lock_guard<std::mutex> lock(r->listMutex);
        transceivers = r->vtrxList;
    });
    for (size_t k = 0; k < transceivers.size(); ++k) {
        auto mode = std::make_shared<proxyModDemod>(globalTaskGroup);
        mode->rxChunk.bind(chunkOf[k], nullptr);
        runOnLane(transceivers[k], [&] {
            transceivers[k]->setModulation(mode);
            transceivers[k]->start();
        });
    }
    return r;
}

void RadioReceive(benchmark::State& state) {
    startLibrary();
    const int n = int(state.range(0));
    std::vector<std::shared_ptr<vtrx>> transceivers;
    auto r = makeRadio(n, transceivers);
    std::vector<std::vector<simTone>> tones(size_t(n), {simTone{0.3, 0.01}});
    ep6Stream stream(n, tones);
    std::vector<buff<char>> packets;
    for (uint32_t s = 0; s < 256; ++s) {
        auto p = stream.next(s);
        packets.emplace_back(p.size());
        std::memcpy(packets.back().data, p.data(), p.size());
    }
    const size_t perPacket = 2 * stream.samplesPerFrame() * size_t(n);
    size_t samples = 0;
    for (auto _ : state) {
        // 256 packets on the radio's lane, then until every transceiver has
        // processed its blocks.
        runOnLane(r, [&] {
            for (auto& p : packets) r->handleRxPacket(p);
        });
        for (auto& v : transceivers) runOnLane(v, [] {});
        samples += packets.size() * perPacket;
    }
    state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    state.counters["x realtime"] = benchmark::Counter(double(samples) / (384000.0 * n), benchmark::Counter::kIsRate);
    runOnLane(r, [&] { r->packetSink = [](const buff<char>&) {}; });
}

void RadioLoopbackLoss(benchmark::State& state) {
    startLibrary();
    const int n = 8, total = 100000;
    const double rate = 19200; // packets per second: 8 receivers at 384000
    hpsdrP1Sim sim;
    std::string why;
    if (!sim.openBoard("127.0.0.1", &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        for (auto& d : delivered) d = 0;
        std::vector<std::shared_ptr<vtrx>> transceivers;
        auto r = makeRadio(n, transceivers);
        runOnLane(r, [&] { r->start(); });
        while (!sim.streaming()) std::this_thread::yield();

        std::vector<std::vector<simTone>> tones(size_t(n), {simTone{0.3, 0.01}});
        ep6Stream stream(n, tones);
        const auto t0 = std::chrono::steady_clock::now();
        for (int k = 0; k < total; ++k) {
            if (k % 16 == 0) std::this_thread::sleep_until(t0 + std::chrono::duration<double>(k / rate));
            sim.sendToHost(stream.next(uint32_t(k)));
        }
        // Let what is on its way arrive and be processed.
        uint32_t last = 0, now = 1;
        while (now != last) {
            last = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            runOnLane(r, [&] { now = r->expectedEp6Sequence; });
        }
        for (auto& v : transceivers) runOnLane(v, [] {});
        int errors = 0;
        runOnLane(r, [&] {
            errors = r->ep6SeqErrors.get();
            r->stop();
        });
        long long got = 0;
        for (auto& d : delivered) got += d;
        // Each transceiver's 48000 samples stand for 8 of the receiver's;
        // the chain holds back a block or two at the end.
        const double sent = double(total) * 2 * stream.samplesPerFrame() * n;
        state.counters["ep6SeqErrors"] = errors;
        state.counters["samples sent"] = sent;
        state.counters["samples delivered"] = double(got) * 8;
        state.counters["delivered %"] = 100.0 * double(got) * 8 / sent;
        for (auto& v : transceivers) runOnLane(v, [&] { v->stop(); });
    }
}

} // namespace

BENCHMARK(RadioReceive)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RadioLoopbackLoss)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
