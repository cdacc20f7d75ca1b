#include "framework/fnThreadPool.h"

#include <spdlog/spdlog.h>

#include <algorithm>

fnThreadPool::fnThreadPool(int) : jobs_(192) {
    unsigned n = std::max(std::min(std::thread::hardware_concurrency(), 20u), 1u);
    try {
        for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { worker(); });
    } catch (...) {
        stop_.store(true);
        for (size_t i = 0; i < workers_.size(); ++i) jobs_.enqueue([] {});
        for (auto& w : workers_) w.join();
        throw;
    }
}

fnThreadPool::~fnThreadPool() {
    stop_.store(true);
    for (size_t i = 0; i < workers_.size(); ++i) jobs_.enqueue([] {});
    for (auto& w : workers_)
        if (w.joinable()) w.join();
}

bool fnThreadPool::submit(std::function<void()> job) { return jobs_.enqueue(std::move(job)); }

void fnThreadPool::worker() {
    if (stop_.load()) return;
    for (;;) {
        std::function<void()> job;
        jobs_.wait_dequeue(job);
        try {
            job();
        } catch (const std::exception& e) {
            spdlog::error("worker {}", e.what());
        } catch (...) {
            spdlog::error("worker");
        }
        if (stop_.load()) return;
    }
}
