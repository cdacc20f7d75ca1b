#include "framework/sothreadPool.h"

#include "framework/asyncObject.h"
#include "framework/criticalErrorDump.h"
#include "framework/exitGate.h"
#include "framework/threadPriority.h"

#include <spdlog/spdlog.h>

#include <algorithm>

sothreadPool::sothreadPool(unsigned workerCount) : ready_(192) {
    unsigned n = workerCount;
    if (n == 0) {
        n = std::min(std::thread::hardware_concurrency(), 20u);
        n = std::max(n, 1u); // a machine reporting 0 threads still needs a worker
    }
    try {
        for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { worker(); });
    } catch (...) {
        criticalErrorDump::logException("sothreadpool", "??");
        stop_.store(true);
        for (size_t i = 0; i < workers_.size(); ++i) ready_.enqueue(nullptr);
        for (auto& w : workers_)
            if (w.joinable()) w.join();
        throw;
    }
}

sothreadPool::~sothreadPool() {
    stop_.store(true);
    stop_.notify_all(); // workers parked at process exit
    // One empty entry per worker wakes every one of them to see the flag.
    for (size_t i = 0; i < workers_.size(); ++i) ready_.enqueue(nullptr);
    for (auto& w : workers_)
        if (w.joinable()) w.join();
}

bool sothreadPool::submit(std::shared_ptr<asyncObject> obj) {
    bool ok = false;
    busy_.fetch_add(1);
    try {
        ok = ready_.enqueue(std::move(obj));
    } catch (...) {
    }
    if (!ok) {
        busy_.fetch_sub(1);
        spdlog::error("failed to queue task");
    }
    return ok;
}

void sothreadPool::worker() {
    threadPriority prio(threadPriority::realtime);
    exitGate::watchThisThread(); // a host callback here may end the process
    if (stop_.load()) return;
    for (;;) {
        std::shared_ptr<asyncObject> obj;
        ready_.wait_dequeue(obj);
        if (obj) {
            exitGate::pass pass;
            if (!pass) {
                // The process is exiting: run nothing more. The object stays
                // with this worker (its destructor is library code too) until
                // the pool goes, which only a pool of a test's own does.
                stop_.wait(false);
                return;
            }
            try {
                if (auto& tg = obj->taskGroup()) tg->TryProcess(obj);
            } catch (const std::exception& e) {
                spdlog::error("worker {}", e.what());
            } catch (...) {
                criticalErrorDump::logException("worker", "??");
                spdlog::error("worker");
            }
            obj.reset(); // may run a destructor: still inside the worker's turn
            busy_.fetch_sub(1);
        }
        if (stop_.load()) return;
    }
}
