#pragma once
// A task group: a serial lane of work for the objects that share it. It is
// not a thread: it sits on the scheduler's ready queue while it has work and
// is run by one pool worker at a time, so the requests and data tasks of its
// objects never run concurrently and need no locks on object state.
#include "framework/asTask.h"
#include "framework/mpscQueue.h"
#include "framework/seqTask.h"

#include <boost/lockfree/spsc_queue.hpp>

#include "framework/objectHandle.h"

#include <atomic>
#include <memory>

class asyncObject;
class sothreadPool;

class syncTask {
public:
    explicit syncTask(sothreadPool& pool);
    virtual ~syncTask();
    syncTask(const syncTask&) = delete;
    syncTask& operator=(const syncTask&) = delete;

    /// Appends a host request. Host thread only (one producer): a host must
    /// not call set, reset or method functions from inside the callbacks that
    /// run on workers (the host-driven mode's). A request may queue further
    /// requests of its own group. A full ring drops the request with
    /// "Can't queue property set" and returns false.
    bool queueSetItem(const seqTask& task, std::shared_ptr<asyncObject> obj);

    /// Appends a data task. Any thread. A failed push drops the task with
    /// "Can't queue seq process".
    void asyncProcess(const seqTask& task, std::shared_ptr<asyncObject> obj);

    /// One scheduling turn: every pending host request, then one data task
    /// (after any request that came meanwhile), then back on the ready queue
    /// if work remains. Pool workers only.
    void TryProcess(std::shared_ptr<asyncObject> obj);

    /// Runs pending host requests, including those queued while it runs.
    void processPropertySetQueue();

    /// Queues a host task for getUpdates ("Can't queue property" when full).
    /// The task is moved through to the queue, never copied.
    void SendEvent(asTask t);
    /// Queues a host task for getRenderUpdates; dropped silently when full.
    void SendRenderEvent(asTask t);

    /// Scalar property event: callback(value) at the host's next poll,
    /// unless the host set the property since (told).
    template <class T>
    void SendTEvent(void (*callback)(T), T value, std::shared_ptr<asyncObject> keepAlive, toldAfter told = {}) {
        if (!callback) return;
        asTask t;
        t.fn = [callback, value] { callback(value); };
        t.keepAlive = std::move(keepAlive);
        t.told = told;
        SendEvent(std::move(t));
    }

    /// Collection event: callback(op, index, new handle on item). The handle
    /// is made at delivery, so an event dropped on a full queue leaks nothing.
    template <class Item>
    void SendTEvent(void (*callback)(unsigned long, unsigned long, void*), unsigned long op, unsigned long index,
                    std::shared_ptr<Item> item, std::shared_ptr<asyncObject> keepAlive) {
        if (!callback) return;
        asTask t;
        t.fn = [callback, op, index, item = std::move(item)] { callback(op, index, newHandle(item)); };
        t.keepAlive = std::move(keepAlive);
        SendEvent(std::move(t));
    }

    /// Object property event: callback(new handle on object), made at delivery.
    template <class P>
    void SendTOEvent(void (*callback)(void*), P object, std::shared_ptr<asyncObject> keepAlive, toldAfter told = {}) {
        if (!callback) return;
        asTask t;
        t.fn = [callback, object = std::move(object)] { callback(newHandle(object)); };
        t.keepAlive = std::move(keepAlive);
        t.told = told;
        SendEvent(std::move(t));
    }

    sothreadPool& pool() const { return *pool_; }
    bool scheduled() const { return scheduled_.load(); }

private:
    void schedule(const std::shared_ptr<asyncObject>& obj);

    boost::lockfree::spsc_queue<seqTask, boost::lockfree::capacity<1024>> propertySet_;
    sothreadPool* pool_;
    std::atomic<bool> scheduled_{false};
    lockfreempscqueue<seqTask, boost::lockfree::capacity<1024>> seq_;
};
