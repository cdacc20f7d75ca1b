#pragma once
// exitGate: keeps the library's threads out of its code while the process
// ends.
//
// A host may return from main, or call exit, with radios streaming and
// transceivers receiving: it rarely stops anything first. The process then
// runs the destructors of static objects (the transform plans, the logger,
// a driver library's own state) on the exiting thread while pool workers,
// driver callbacks, back-end loops and audio callbacks would go on using
// them.
//
// What is guaranteed:
//  - Every stretch of library work on a thread other than the host's (a
//    scheduler turn, a driver's transfer, a turn of a back-end loop, an
//    audio period) runs inside a `pass`. At process exit a handler, which
//    init registers and which therefore runs before the destructors of
//    everything built before init, closes the gate: no new pass is given
//    out, and the exiting thread waits until every pass given out before has
//    been returned (for at most drainLimit, so that a turn stuck for ever
//    cannot hold the process). Only then do the statics go.
//  - A thread already inside a pass always gets another: the exit waits for
//    it anyway. So exit may be called from inside library work (a host
//    callback on a pool worker): the exiting thread's own passes are not
//    waited for.
//  - Work handed to another thread (a device closed on a thread of its own,
//    a recording written, an audio job) carries a `hold`, taken by the
//    thread that hands it over while it is inside a pass or before the exit
//    began, and returned when the work is done: the exit waits for it too.
//  - A thread refused a pass does no library work from then on. A driver
//    callback returns at once; a pool worker parks; a loop of the library's
//    own idles until its owner stops it (idleUntilStopped), because an owner
//    that stops it joins it, and may do so inside a pass.
//
// What is not: objects built lazily after init are destroyed before the
// gate closes, so those that these threads use are made immortal instead
// (framework/immortal.h); the asio thread takes no passes and is stopped by
// an exit handler of its own (ASIORunner). The library is linked so that
// unloading it leaves it in memory: the threads it leaves behind idle in its
// code.
#include <chrono>
#include <memory>
#include <thread>

namespace exitGate {

/// How long the exit waits for the passes given out before it closed.
inline constexpr std::chrono::seconds drainLimit{10};
/// How often an idling thread looks whether it was stopped.
inline constexpr std::chrono::milliseconds idleStep{10};

/// One stretch of library work on the calling thread. Two atomic operations;
/// never blocks. Any thread.
class pass {
public:
    pass() noexcept;
    ~pass();
    pass(const pass&) = delete;
    pass& operator=(const pass&) = delete;

    /// False when the process is exiting: do no library work.
    explicit operator bool() const noexcept { return entered_; }

private:
    bool entered_;
};

/// Keeps the exit waiting for work handed to another thread. Copying takes
/// another hold (always granted when the original holds). Any thread.
class hold {
public:
    hold() noexcept = default;
    /// A hold, or an empty one when the process is exiting and the calling
    /// thread holds no pass.
    static hold take() noexcept;
    hold(const hold& other) noexcept;
    hold(hold&& other) noexcept : held_(other.held_) { other.held_ = false; }
    hold& operator=(hold other) noexcept {
        std::swap(held_, other.held_);
        return *this;
    }
    ~hold() { release(); }

    explicit operator bool() const noexcept { return held_; }
    /// Done: the exit need not wait for this any longer.
    void release() noexcept;

private:
    bool held_ = false;
};

/// Registers the exit handler that closes the gate, once; later calls do
/// nothing. init calls it once the logger and the scheduler exist, so that
/// the handler runs before they go.
void arm() noexcept;

/// Whether the gate has closed.
bool closed() noexcept;

/// For the loop of a thread of the library's own that was refused a pass:
/// waits until running(object) turns false (its owner stopped it) or the
/// object is gone, holding the object meanwhile so that its destructor
/// cannot run on this thread. Returns the object (null when gone); the
/// caller may end as it would when stopped, as its owner now joins it.
template <class T, class Running>
std::shared_ptr<T> idleUntilStopped(const std::weak_ptr<T>& weak, Running running) {
    std::shared_ptr<T> object = weak.lock();
    while (object && running(*object)) std::this_thread::sleep_for(idleStep);
    return object;
}

} // namespace exitGate
