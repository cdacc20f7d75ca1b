#pragma once
// directCallback: a host callback the library calls synchronously on the
// calling worker thread, not through the update queue.
//
// This is the one exception to "host callbacks run inside getUpdates": a
// host-driven mode must hand a block to the host and have it back, changed,
// before the receive or transmit chain goes on. The host therefore has to
// expect the call on a pool worker while its own thread does other things.
//
// bind() stores the callback at once from the host thread (no request); the
// caller loads it once per call, so a worker running at that moment uses
// either the old or the new callback, never a mixture. The bind function is
// made with the export pattern's event macro, since both only store.
#include <atomic>

class asyncObject;

template <class... Args>
class directCallback {
public:
    using callback = void (*)(Args...);

    /// Host thread. owner is not needed: nothing is posted.
    void bind(callback cb, asyncObject*) { cb_.store(cb, std::memory_order_release); }

    /// The callback bound now, or null. Any thread.
    callback get() const { return cb_.load(std::memory_order_acquire); }

private:
    std::atomic<callback> cb_{nullptr};
};
