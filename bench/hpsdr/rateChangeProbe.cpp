// What a host's SampleRate change does to the IQ of a streaming HPSDR radio,
// protocol 1 and protocol 2, against the board simulators on loopback, the
// board's stream paced in real time at the rate it runs at. The radio runs
// at 384000; the host then sets 2147483647 (no board delivers it) and
// later 48000. Counters:
//  - refused_ms: from the refused rate to the next block of IQ;
//  - accepted_ms, accepted_samples: from the accepted rate to the first
//    block at it, and the board's samples sent meanwhile (a block at 48000
//    holds 512);
//  - blocks_after: blocks at 48000 in the second after;
//  - peak_rss_MB: the process's peak resident memory at the end.
// Run alone: both simulators bind the board's ports on 127.0.0.1.
#include "vireocore.h"

#include "sim/hpsdrP1Sim.h"
#include "sim/hpsdrP2Sim.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

struct block {
    steady::time_point at;
    size_t size;
    int rate;
};
std::mutex m;
std::vector<block> blocks;
void* transceiver = nullptr;

void onIQ(void* array, double, int rate) {
    std::lock_guard<std::mutex> l(m);
    blocks.push_back({steady::now(), size_t(complexArray_size(array)), rate});
    complexArray_delete(array);
}
void onAdded(void* v, long long, int, int) {
    if (transceiver) {
        vtrx_release(v);
        return;
    }
    transceiver = v;
    vtrx_bindnewIQ(v, onIQ);
    vtrx_setSendIQ(v, true);
    vtrx_start(v);
}

/// Polls the host queues until done() holds or the time-out passes.
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = steady::now() + timeout;
    while (steady::now() < end) {
        getUpdates();
        getRenderUpdates();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

/// Sends the board's packets on a thread of its own, `samples` per packet,
/// paced to the rate set last.
class pacedBoard {
public:
    pacedBoard(size_t samples, std::function<void()> sendOne) : samples_(samples), send_(std::move(sendOne)) {}
    ~pacedBoard() { stop(); }
    void run(int rate) {
        rate_ = rate;
        thread_ = std::thread([this] {
            auto from = steady::now();
            long sentSince = 0;
            int paced = rate_.load();
            while (running_) {
                if (rate_.load() != paced) {
                    paced = rate_.load();
                    from = steady::now();
                    sentSince = 0;
                }
                const double due = std::chrono::duration<double>(steady::now() - from).count() * paced;
                while (double(sentSince * long(samples_)) < due) {
                    send_();
                    ++sentSince;
                    sent_ += long(samples_);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    void pace(int rate) { rate_ = rate; }
    long sent() const { return sent_.load(); }
    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }

private:
    size_t samples_;
    std::function<void()> send_;
    std::atomic<int> rate_{0};
    std::atomic<long> sent_{0};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

void probe(benchmark::State& state, void* radio, pacedBoard& board) {
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_setSampleRate(radio, 384000);
    Radio_start(radio);
    if (!pollUntil([] { return transceiver != nullptr; }, std::chrono::seconds(5))) {
        state.SkipWithError("the radio added no transceiver");
        return;
    }
    board.run(384000);
    pollUntil([] { return false; }, std::chrono::milliseconds(500));
    auto after = [](steady::time_point t, int rate) {
        return [t, rate] {
            std::lock_guard<std::mutex> l(m);
            for (auto& b : blocks)
                if (b.at > t && (rate == 0 || b.rate == rate)) return true;
            return false;
        };
    };
    auto firstAfter = [](steady::time_point t, int rate) {
        std::lock_guard<std::mutex> l(m);
        for (auto& b : blocks)
            if (b.at > t && (rate == 0 || b.rate == rate)) return b.at;
        return steady::time_point{};
    };
    const double timeout = 5000;

    auto t = steady::now();
    Radio_setSampleRate(radio, INT_MAX);
    state.counters["refused_ms"] =
        pollUntil(after(t, 0), std::chrono::milliseconds(int(timeout)))
            ? std::chrono::duration<double, std::milli>(firstAfter(t, 0) - t).count()
            : timeout;
    pollUntil([] { return false; }, std::chrono::milliseconds(300));

    t = steady::now();
    const long sentBefore = board.sent();
    board.pace(48000);
    Radio_setSampleRate(radio, 48000);
    if (pollUntil(after(t, 48000), std::chrono::milliseconds(int(timeout)))) {
        state.counters["accepted_ms"] = std::chrono::duration<double, std::milli>(firstAfter(t, 48000) - t).count();
        state.counters["accepted_samples"] = double(board.sent() - sentBefore);
    } else {
        state.counters["accepted_ms"] = timeout;
        state.counters["accepted_samples"] = double(board.sent() - sentBefore);
    }
    const auto second = steady::now();
    pollUntil([] { return false; }, std::chrono::seconds(1));
    {
        std::lock_guard<std::mutex> l(m);
        int n = 0;
        for (auto& b : blocks) n += b.at > second && b.rate == 48000;
        state.counters["blocks_after"] = n;
    }
    board.stop();
    Radio_stop(radio);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
}

void reset() {
    std::lock_guard<std::mutex> l(m);
    blocks.clear();
    transceiver = nullptr;
}

void startLibrary() {
    static bool started = false;
    if (!started) init("/tmp/vireo_rate_probe.log", 0);
    started = true;
}

void protocol1(benchmark::State& state) {
    startLibrary();
    for (auto _ : state) {
        reset();
        hpsdrP1Sim sim;
        std::string why;
        if (!sim.openBoard("127.0.0.1", &why)) return state.SkipWithError(why.c_str());
        ep6Stream stream(1, {{simTone{}}});
        uint32_t sequence = 0;
        pacedBoard board(2 * stream.samplesPerFrame(), [&] { sim.sendToHost(stream.next(sequence++)); });
        void* radio = HpsdrRadio_create();
        HpsdrRadio_setipAddress(radio, "127.0.0.1");
        probe(state, radio, board);
        HpsdrRadio_release(radio);
        if (transceiver) vtrx_release(transceiver);
        pollUntil([] { return false; }, std::chrono::milliseconds(100));
    }
}

void protocol2(benchmark::State& state) {
    startLibrary();
    for (auto _ : state) {
        reset();
        hpsdrP2Sim sim;
        std::string why;
        if (!sim.open("127.0.0.1", &why)) return state.SkipWithError(why.c_str());
        ddcIqStream stream({{0.5, 0.01, 0.0}}, false);
        uint32_t sequence = 0;
        pacedBoard board(ddcIqStream::samplesPerPacket,
                         [&] { sim.send(hpsdrP2Sim::ddcPort(0), stream.next(sequence++)); });
        void* radio = HpsdrNpRadio_create();
        HpsdrNpRadio_setipAddress(radio, "127.0.0.1");
        probe(state, radio, board);
        HpsdrNpRadio_release(radio);
        if (transceiver) vtrx_release(transceiver);
        pollUntil([] { return false; }, std::chrono::milliseconds(100));
    }
}

} // namespace

BENCHMARK(protocol1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(protocol2)->Iterations(1)->Unit(benchmark::kMillisecond);
