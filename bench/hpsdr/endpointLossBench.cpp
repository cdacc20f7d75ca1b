// Loss of the UDP endpoint on loopback: the board simulator sends 100,000
// Ep6-sized datagrams, paced at 19200 per second (8 receivers at 384000)
// or as fast as it can, to an endpoint whose owner only counts what reaches
// its task group. Needs port 1024 on 127.0.0.1.
#include "framework/library.h"
#include "framework/syncTask.h"
#include "radios/hpsdr/asyncUdpServer.h"
#include "sim/hpsdrP1Sim.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct countingOwner : asyncObject {
    countingOwner() : asyncObject(std::make_shared<syncTask>(*globalPool)), endpoint(1032) {}
    asyncUdpServer endpoint;
};

void EndpointLoss(benchmark::State& state) {
    static bool started = false;
    if (!started) vireo::init("/tmp/vireo_hpsdr_bench.log", 0);
    started = true;
    const double rate = double(state.range(0)); // packets per second, 0: unpaced
    const int total = 100000;

    hpsdrP1Sim sim;
    std::string why;
    if (!sim.open("127.0.0.1", &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        auto owner = std::make_shared<countingOwner>();
        auto counted = std::make_shared<std::atomic<int>>(0);
        owner->endpoint.connect([counted](buff<char>) { counted->fetch_add(1, std::memory_order_relaxed); }, owner,
                                sim.peer.local());
        buff<char> hello(64, char(0));
        owner->endpoint.send(hello);
        while (!sim.peer.lastSender()) std::this_thread::yield();

        std::vector<uint8_t> packet(1032, 0x55);
        const auto t0 = std::chrono::steady_clock::now();
        for (int k = 0; k < total; ++k) {
            if (rate > 0 && k % 16 == 0)
                std::this_thread::sleep_until(t0 + std::chrono::duration<double>(k / rate));
            sim.sendToHost(packet);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Whatever is still on its way arrives within a moment on loopback.
        int last = -1;
        while (counted->load() != last) {
            last = counted->load();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        state.counters["received"] = last;
        state.counters["lost"] = total - last;
        state.counters["loss %"] = 100.0 * (total - last) / total;
        state.counters["sent/s"] = total / seconds;
        owner.reset();
    }
}

} // namespace

BENCHMARK(EndpointLoss)->Arg(19200)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
