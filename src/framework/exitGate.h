#pragma once
// exitGate: keeps the library's threads out of its code, and out of the
// device drivers it streams from, while the process ends.
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
//    audio period) runs inside a `pass`. At process exit a handler closes
//    the gate: no new pass is given out, and the exiting thread waits until
//    every pass given out before has been returned (for at most drainLimit,
//    so that a turn stuck for ever cannot hold the process).
//  - Then it stops every stream the library runs in a device driver, each
//    through the driver's own calls (`driverStop`), and waits until no
//    thread of the library is left inside a driver. Only then do the
//    statics go: the drivers' and the library's own.
//  - The handler runs before the destructors of every static the library's
//    threads use, whatever thread calls exit and whatever order the host,
//    the drivers and the C runtime built them in. The C runtime runs exit
//    handlers and static destructors (a library's are registered as its
//    statics are built, a dlopen'ed one's as it loads) in the reverse order
//    of their registration, so the handler is registered again after what
//    may build a static the library's threads then use:
//      - init, after the logger, the scheduler and the filter cache (`arm`);
//      - every load of a driver library by the library (librtlsdr,
//        SoapySDR, each sdrplay_api copy, codec2), which also covers one the
//        host loaded itself before, and every SoapySDR module a discovery
//        loads (`rearm`);
//      - the first discovery, device open and stream start of each kind
//        (`rearmAfterFirst`): a driver builds its lazy statics on the first
//        run of a call (SoapySDR its device table on the first make, a
//        module its own on the first make and stream of its driver), and a
//        later run of the same call builds none. The first success and the
//        first failure count apart, as they run apart. Kinds are per library
//        image: an sdrplay_api copy has its own (`firstCalls`).
//    So the handler comes after the statics of every driver call that came
//    before, on whatever thread exit is called: the exit waits for a call
//    still running (it holds a pass) and stops every stream before a
//    driver's state goes. A static that a driver builds later, inside a
//    read or on a later run of a call it already made, is not covered; nor
//    one built by a call still running when the exit begins (its
//    registration comes after). Each registration is one entry of the C
//    runtime's exit list; their number is bounded by the kinds of driver
//    call and the libraries loaded, and does not grow with discoveries,
//    opens and starts. The end of a thread that may be the process's own
//    end registers it too (`watchThisThread`): the C runtime destroys the
//    exiting thread's thread-locals before it runs any exit handler, so
//    there the handler runs first even before a static built after the
//    last registration (a host's own, or a driver's built inside a read).
//    Such an end is the end of the thread that loaded the library (the
//    host's main thread, as a rule) or of a thread inside library work (a
//    host callback calling exit); a thread ending otherwise is no exit, and
//    registers nothing. Exit called on any other thread, outside library
//    work, runs the handler where its last registration put it.
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
//  - Work handed to a thread that a server outside the process may hold
//    inside one call for as long as it likes (the sound back-end's worker:
//    a stopped sound server answers nothing) carries a hold of that thread's
//    own (`outsideWork`). The exit waits for such holds as for any other,
//    but only while the thread is not held so for longer than its owner
//    would wait for it; then it leaves that work, logged, and goes on. That
//    thread looks at the gate (closed()) before each further piece of work
//    and after each call that the server held, and does nothing more once
//    it has closed: should the server answer while the process ends, what
//    it would use may be going.
//
// What is not: a drain that reaches its limit leaves a thread inside the
// library while the statics go, so what the library's threads use is built
// so as never to be destroyed (framework/immortal.h), and the exit costs
// time, not memory safety. The asio thread takes no passes and is stopped by
// an exit handler of its own (ASIORunner). The library is linked so that
// unloading it leaves it in memory: the threads it leaves behind idle in its
// code.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

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
    hold(hold&& other) noexcept : count_(std::exchange(other.count_, nullptr)) {}
    hold& operator=(hold other) noexcept {
        std::swap(count_, other.count_);
        return *this;
    }
    ~hold() { release(); }

    explicit operator bool() const noexcept { return count_ != nullptr; }
    /// Done: the exit need not wait for this any longer.
    void release() noexcept;

private:
    friend class outsideWork;
    /// The count it was taken on (the gate's own, or an outsideWork's),
    /// which never goes; null when empty.
    std::atomic<long>* count_ = nullptr;
};

/// Work handed to one thread of the library that a server outside the
/// process may hold inside one call for as long as the server likes (the
/// sound back-end's worker, inside a stream open that a stopped JACK server
/// never answers). Its holds keep the exit waiting as any hold does while
/// `held` answers false; once it answers true, the exit leaves the work,
/// logged ("exit: <what> ... left"), and goes on. The thread must then do
/// nothing more: it looks at closed() before each piece of work and after
/// each call that the server may hold.
class outsideWork {
public:
    /// `what` names the thread in the log. `held`: whether the thread is
    /// held now by the server, for longer than its owner waits for it
    /// elsewhere; the exit asks it on the exiting thread, and it must
    /// neither block nor wait. Any thread.
    outsideWork(std::string what, std::function<bool()> held);
    /// From now on `held` is not asked, and the exit waits for holds still
    /// out as for any other. Any thread.
    ~outsideWork();
    outsideWork(const outsideWork&) = delete;
    outsideWork& operator=(const outsideWork&) = delete;

    /// A hold on this work, or an empty one when the process is exiting and
    /// the calling thread holds no pass. Any thread; never blocks.
    hold take() noexcept;

    struct state; // the exit's record of it

private:
    state* state_; // never freed: holds taken on it may outlive this
};

/// One stream the library runs in a device driver, as the exit sees it: set
/// while the stream runs, with the function that ends it through the
/// driver's own calls (cancel the read loop, stop the stream, uninitialise)
/// and returns once no thread of the library waits in the driver for it, or
/// once it gave up waiting (after at most drainLimit; what it gave up on is
/// then left to end on its own: no later stop joins or waits for it).
/// The exit calls that function on the exiting thread, after the drain, with
/// every pool worker parked and every callback refused at the gate; it must
/// not queue work or wait for a pool worker. Clear it before the stream is
/// stopped the normal way, and before the function's objects go. Setting it
/// registers nothing: the caller registers the exit handler again after the
/// first start of its kind (rearmAfterFirst).
class driverStop {
public:
    driverStop() noexcept = default;
    ~driverStop() { clear(); }
    driverStop(const driverStop&) = delete;
    driverStop& operator=(const driverStop&) = delete;

    /// From now on the exit calls stop; replaces an earlier one. Any thread.
    void set(std::function<void()> stop);
    /// The exit no longer calls it. When the exit has taken it already, waits
    /// until it has returned and answers false: the stream is stopped, or
    /// given up on. A thread of the stream itself, which the stop waits for,
    /// passes wait = false. Any thread.
    bool clear(bool wait = true) noexcept;

    struct entry; // the exit's record of one stream

private:
    std::shared_ptr<entry> entry_;
};

/// The end of a thread of the library, for whoever waits for it without
/// joining it (the exit's driverStop, an owner deciding whether a join
/// would return), and for the exit itself once the thread's owner has let
/// it go (detached it, on the thread itself, as the owner was destroyed
/// there).
class threadEnd {
public:
    /// On the thread itself, as its owner detaches it: the exit waits for
    /// its end from now on (when the thread is inside library work).
    void letGo() noexcept {
        letGo_ = hold::take();
        detached_ = true;
    }
    /// The thread's last step.
    void ended() noexcept {
        ended_.store(true, std::memory_order_release);
        letGo_.release();
    }
    /// Waits until the thread has ended, at most `limit`; whether it has.
    bool waitEnded(std::chrono::milliseconds limit) const noexcept;
    /// Once it has ended: whether it was let go, or its owner may still
    /// join it.
    bool detached() const noexcept { return detached_; }

private:
    std::atomic<bool> ended_{false};
    hold letGo_;            // the thread's own
    bool detached_ = false; // the thread's own until it has ended
};

/// Registers the exit handler, once; later calls do nothing. init calls it
/// once the logger and the scheduler exist, so that the handler runs before
/// they go, whatever else happens.
void arm() noexcept;

/// Registers the exit handler again, so that it runs before the destructor
/// of every static built so far: call it right after loading a driver
/// library. Does nothing before arm(). Any thread.
void rearm() noexcept;

/// The kinds of driver call of one library image that have returned, for
/// the registration after the first of each: a loader's member where every
/// load is an image of its own (sdrplay_api's copies), the process's own
/// (rearmAfterFirst below) for the rest.
class firstCalls {
public:
    /// After a driver call of this kind returned, with `ok` telling whether
    /// it succeeded: rearm() the first time the kind returns so, nothing
    /// afterwards. Any thread.
    void rearmAfter(std::string_view call, bool ok = true) noexcept;

private:
    std::mutex m_;
    std::set<std::string, std::less<>> seen_; // call, then " ok" or " failed"
};

/// firstCalls::rearmAfter on the process's own record, for the calls of a
/// library loaded once per process (librtlsdr, SoapySDR and its modules,
/// the Airspy drivers): call it right after a discovery, a device open or a
/// stream start, naming it ("librtlsdr open", "SoapySDR make rtlsdr").
void rearmAfterFirst(std::string_view call, bool ok = true) noexcept;

/// Marks the calling thread as one the process may end on: a thread the
/// host calls the library from, a pool worker (host callbacks run there).
/// When it ends inside library work, or is the thread that loaded the
/// library, the exit handler is registered again, so that it runs before
/// every static destructor registered until then. The thread that loads the
/// library is marked as it loads. Cheap after the first call on a thread.
/// Any thread.
void watchThisThread() noexcept;

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
