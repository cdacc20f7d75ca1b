#pragma once
// A pool of threads for plain jobs that belong to no object.
#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class fnThreadPool {
public:
    /// Starts min(hardware threads, 20) workers, at least one.
    explicit fnThreadPool(int unused = 0);
    ~fnThreadPool();
    fnThreadPool(const fnThreadPool&) = delete;
    fnThreadPool& operator=(const fnThreadPool&) = delete;

    /// Queues a job and wakes a worker; false when it could not be queued.
    bool submit(std::function<void()> job);

private:
    void worker();

    std::atomic<bool> stop_{false};
    std::vector<std::thread> workers_;
    moodycamel::BlockingConcurrentQueue<std::function<void()>> jobs_;
};
