#pragma once
// The scheduler: one pool of workers that runs the turns of every task group
// with work, plus the two queues of host tasks that the host drains.
#include "framework/asTask.h"
#include "framework/mpscQueue.h"

#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

class asyncObject;

/// The queue library's default traits, but the semaphore spins only 1000
/// times before it blocks, so idle workers give the cores back sooner.
struct VireoConcurrentQueueDefaultTraits : moodycamel::ConcurrentQueueDefaultTraits {
    static const int MAX_SEMA_SPINS = 1000;
};

class sothreadPool {
public:
    /// Starts min(hardware threads, 20) workers, at least one; workerCount
    /// above 0 overrides the count (tests). A worker that cannot start leaves
    /// a crash-dump entry, stops the ones already started and throws.
    explicit sothreadPool(unsigned workerCount = 0);
    ~sothreadPool();
    sothreadPool(const sothreadPool&) = delete;
    sothreadPool& operator=(const sothreadPool&) = delete;

    /// Puts an object on the ready queue and wakes one worker. False (logged
    /// "failed to queue task") when the queue cannot take it.
    bool submit(std::shared_ptr<asyncObject> obj);

    size_t workerCount() const { return workers_.size(); }

    /// Task groups on the ready queue or in a turn. A group with work is
    /// always one of them, so 0 means every queue of every group is empty
    /// (modulo work queued while this is read). For shutting down cleanly.
    int busy() const { return busy_.load(); }

    lockfreempscqueue<asTask, boost::lockfree::capacity<65536>> updateQueue;
    lockfreempscqueue<asTask, boost::lockfree::capacity<64>> renderQueue;
    /// Render tasks lost to a full renderQueue: a host that polls too seldom
    /// misses display data. Observation, for tests and tools.
    std::atomic<uint64_t> renderDropped{0};

private:
    void worker();

    std::atomic<bool> stop_{false};
    std::atomic<int> busy_{0};
    std::vector<std::thread> workers_;
    moodycamel::BlockingConcurrentQueue<std::shared_ptr<asyncObject>, VireoConcurrentQueueDefaultTraits> ready_;
};
