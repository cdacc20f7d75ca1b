#pragma once
// Base of every object the host can create and of every object that takes
// work from other threads. Work addressed to an object keeps it alive: every
// queued request, data task and host task holds a strong reference taken
// from the object's weak self.
#include "framework/seqTask.h"
#include "framework/syncTask.h"

#include <atomic>
#include <functional>
#include <memory>

class asyncObject : public std::enable_shared_from_this<asyncObject> {
public:
    using intCallback = void (*)(int);

    explicit asyncObject(std::shared_ptr<syncTask> taskGroup);
    virtual ~asyncObject();
    asyncObject(const asyncObject&) = delete;
    asyncObject& operator=(const asyncObject&) = delete;

    /// Queues a host request on the task group; whether it was queued. Host
    /// thread only; never throws.
    bool queueSetItem(const seqTask& task) noexcept;

    /// Queues a data task. Any thread. Dropped quietly when the object has no
    /// task group or is already being destroyed.
    void asyncProcess(const seqTask& task);

    /// Queues a host task on the update / render queue with this object as
    /// keep-alive. Dropped quietly as asyncProcess.
    void SendEvent(std::function<void()> fn, toldAfter told = {});
    void SendRenderEvent(std::function<void()> fn);

    /// Scalar event through this object's task group, kept alive by it.
    /// Nothing happens without a task group or once the object is going.
    template <class T>
    void SendTEvent(void (*callback)(T), T value, toldAfter told = {}) {
        if (!taskGroup_ || !callback) return;
        if (auto self = weak_from_this().lock()) taskGroup_->SendTEvent<T>(callback, value, std::move(self), told);
    }

    /// Answers with Echo(n) at the host's next poll.
    void Ping(int n);

    /// The host lets go of a handle on the object, through whichever release
    /// function: the object queues what must happen once nobody can ask for
    /// it any more (a transmitter's release). Nothing by default. Host
    /// thread, before the handle goes.
    virtual void hostLetGo() {}

    const std::shared_ptr<syncTask>& taskGroup() const { return taskGroup_; }

    // Written on the host thread, read by whichever thread delivers or
    // destroys: atomics keep the two sides from racing.
    std::atomic<intCallback> Deleted{nullptr};
    std::atomic<intCallback> Echo{nullptr};

private:
    std::shared_ptr<syncTask> taskGroup_;
};
