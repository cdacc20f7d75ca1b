#pragma once
// TestRadio: a radio without hardware. One receiver at 48000 samples per
// second, paced by the clock on the radio's own worker thread: silence while
// receiving, and while PTT is on exactly the transmit IQ its transceiver
// produced, fed back into the receive path.
//
// Threads: the worker runs between startRadio and stopRadio; it reads ptt
// and the transmitting transceiver as they are at that moment, asks that
// transceiver for samples ("modulate") and writes through the deferred fill
// function, so the hand-out to the transceivers happens on the radio's task
// group. transmit runs on the radio's task group and is the only producer of
// txRing; the worker is its only consumer.
#include "core/Radio.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

class TestRadio : public Radio {
public:
    static constexpr size_t blockLength = 512;
    /// The only rate it delivers; SampleRate takes no other.
    static constexpr int sampleRate = 48000;
    static constexpr size_t ringCapacity = 128;

    explicit TestRadio(std::shared_ptr<syncTask> group);
    /// Stops and joins the worker if it still runs.
    ~TestRadio() override;

    void tune() override {}
    /// Queues a transmitted block for the loop-back; a full ring drops it.
    /// Radio's task group.
    void transmit(buff<cplx> samples) override;
    /// Adds a transceiver at 14000000 when there is none and starts the
    /// worker unless it runs. Radio's task group.
    void startRadio() override;
    /// Stops and joins the worker; nothing to do when it never ran. Radio's
    /// task group.
    void stopRadio() override;

    std::thread worker;
    std::atomic<bool> workerRunning{false};
    boost::lockfree::spsc_queue<buff<cplx>, boost::lockfree::capacity<ringCapacity>> txRing;
    int blockCount = 0; // worker thread only

private:
    /// The worker's loop. It holds the radio only for one turn at a time, so
    /// a released radio ends it.
    static void WorkerLoop(std::weak_ptr<TestRadio> radio);
    /// One turn: accounts for the blocks due since the loop started.
    void turn(const buff<cplx>& silence, std::chrono::steady_clock::time_point t0);
    void loopBack();
};
