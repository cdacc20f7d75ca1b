#include "core/TestRadio.h"

#include "core/vtrx.h"
#include "framework/exitGate.h"
#include "framework/threadPriority.h"

#include <chrono>

namespace {

using cplx = std::complex<float>;

/// A fill function copying from the start of a buffer.
Radio::fillFunction from(const buff<cplx>& source) {
    return [&source](cplx* destination, size_t count) { std::copy_n(source.data, count, destination); };
}

} // namespace

TestRadio::TestRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)) {
    hwReceiver r;
    r.frequency = 14000000;
    r.sampleRate = sampleRate;
    appendReceiver(r);
    // The loop paces its blocks at this one rate.
    acceptSampleRates("TestRadio", [](int rate) { return rate == sampleRate; }, [] {});
    iqCorrection = false;
    canTransmit.set(true, true);
}

TestRadio::~TestRadio() {
    workerRunning = false;
    if (!worker.joinable()) return;
    // The worker drops its hold on the radio at the end of each turn; when
    // that was the last one, this runs on the worker itself, which then finds
    // the radio gone and ends on its own.
    if (worker.get_id() == std::this_thread::get_id())
        worker.detach();
    else
        worker.join();
}

void TestRadio::transmit(buff<cplx> samples) {
    // A full ring (the worker stopped, or PTT off on the radio while the
    // transceiver still sends) drops the newest block without a word: it is
    // a test signal, and the radio keeps going.
    txRing.push(std::move(samples));
}

void TestRadio::startRadio() {
    bool empty;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        empty = vtrxList.empty();
    }
    if (empty) addVtrx(14000000, 0, 0);
    if (workerRunning) return;
    // A worker that ended without being joined must be joined before its
    // thread object is reused.
    if (worker.joinable()) worker.join();
    workerRunning = true;
    // Only a weak reference goes to the thread: a strong one would keep the
    // radio, and so the thread, alive after the host released it.
    std::weak_ptr<TestRadio> self = std::static_pointer_cast<TestRadio>(shared_from_this());
    worker = std::thread(WorkerLoop, std::move(self));
}

void TestRadio::stopRadio() {
    workerRunning = false;
    // The thread must end, not merely idle: it holds producer slots of the
    // queues it posts to until it does.
    if (worker.joinable()) worker.join();
}

void TestRadio::WorkerLoop(std::weak_ptr<TestRadio> weak) {
    // It paces the transmitter as a device's stream would: at the priority
    // of the library's other threads, so that their load cannot hold it up
    // past the transceivers' stall limit.
    threadPriority prio(threadPriority::realtime);
    const buff<cplx> silence(blockLength, cplx{});
    const auto t0 = std::chrono::steady_clock::now();
    {
        exitGate::pass pass;
        if (pass)
            if (auto radio = weak.lock()) radio->blockCount = 0;
    }
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        exitGate::pass pass;
        if (!pass) {
            // The process is exiting: no more blocks. Whoever stops the
            // radio joins this thread, so it still ends when asked.
            exitGate::idleUntilStopped(weak, [](TestRadio& r) { return r.workerRunning.load(); });
            return;
        }
        auto radio = weak.lock(); // released before the pass
        if (!radio || !radio->workerRunning) return;
        radio->turn(silence, t0);
    }
}

void TestRadio::turn(const buff<cplx>& silence, std::chrono::steady_clock::time_point t0) {
    using namespace std::chrono;
    const long long elapsed = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    const int total = int(elapsed * (sampleRate / 1000) / static_cast<long long>(blockLength));
    const int due = total - blockCount;
    blockCount = total;

    if (!ptt.get()) {
        for (int i = 0; i < due; ++i) unlockedWrite(from(silence), blockLength, 0);
        return;
    }
    // Pacing while transmitting comes from the transceiver: one request per
    // block due, its answers looped back as they arrive.
    if (due >= 1) {
        if (auto v = txVtrx())
            for (int i = 0; i < due; ++i) v->askToModulate(blockLength, "modulate");
    }
    loopBack();
}

void TestRadio::loopBack() {
    buff<cplx> block;
    while (txRing.pop(block)) unlockedWrite(from(block), block.count, 0);
}
