#include "framework/syncTask.h"

#include "framework/asyncObject.h"
#include "framework/criticalErrorDump.h"
#include "framework/sothreadPool.h"

#include <spdlog/spdlog.h>

syncTask::syncTask(sothreadPool& pool) : pool_(&pool) {}

syncTask::~syncTask() = default; // queued callables are destroyed unrun

void syncTask::schedule(const std::shared_ptr<asyncObject>& obj) {
    // Whoever flips the flag from false submits; everyone else only adds to
    // the queues. The exchange is sequentially consistent and pairs with the
    // clear-then-recheck at the end of TryProcess.
    if (!scheduled_.exchange(true)) {
        if (!pool_->submit(obj)) {
            // Not on the ready queue after all: let the next producer retry
            // instead of leaving the lane marked scheduled forever.
            scheduled_.store(false);
        }
    }
}

bool syncTask::queueSetItem(const seqTask& task, std::shared_ptr<asyncObject> obj) {
    if (!propertySet_.push(task)) {
        spdlog::error("Can't queue property set");
        return false;
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
    schedule(obj);
    return true;
}

void syncTask::asyncProcess(const seqTask& task, std::shared_ptr<asyncObject> obj) {
    if (!seq_.push(task)) {
        spdlog::error("Can't queue seq process");
        return;
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
    schedule(obj);
}

void syncTask::processPropertySetQueue() {
    seqTask task;
    // The slot is freed before the request runs, so a request may queue
    // further requests; they run in this same loop.
    while (propertySet_.pop(task)) {
        try {
            task.fn();
        } catch (const std::exception& e) {
            spdlog::error("processPropertySetQueue {} {}", e.what(), task.name);
        } catch (...) {
            criticalErrorDump::logException("processPropertySetQueue", task.name);
            spdlog::error("processPropertySetQueue {}", task.name);
        }
        task.fn = nullptr; // release the captures before the next request
    }
}

void syncTask::TryProcess(std::shared_ptr<asyncObject> obj) {
    processPropertySetQueue();

    seqTask task;
    if (seq_.pop(task)) {
        // The task may have been queued after a host request that came too
        // late for the requests above, by a thread that had seen the request
        // made (a transceiver passing on a key the host made after its unkey
        // of the radio): the request still runs first, as the host made it.
        processPropertySetQueue();
        try {
            task.fn();
        } catch (const std::exception& e) {
            spdlog::error("procesSeqQueue {} {}", e.what(), task.name);
        } catch (...) {
            criticalErrorDump::logException("TryProcess", task.name);
            spdlog::error("processSeqSetQueue {}", task.name);
        }
        task.fn = nullptr;
    }

    scheduled_.store(false);
    // Pairs with the fence after each push: either the producer sees the flag
    // clear and submits, or this check sees its item. Never both, never none.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (seq_.hasItems() || propertySet_.read_available() > 0) schedule(obj);
}

void syncTask::SendEvent(asTask t) {
    if (!pool_->updateQueue.enqueue(std::move(t))) spdlog::error("Can't queue property");
}

void syncTask::SendRenderEvent(asTask t) {
    // Display data that does not fit is simply lost.
    if (!pool_->renderQueue.enqueue(std::move(t))) pool_->renderDropped.fetch_add(1, std::memory_order_relaxed);
}
