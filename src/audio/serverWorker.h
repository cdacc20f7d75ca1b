#pragma once
// serverWorker: one thread of the library's own through which go the calls
// that a server outside the process may hold inside one call for as long as
// it likes: a sound server that is stopped answers nothing, and PortAudio's
// stream calls and a MIDI client's open or close wait for it meanwhile.
// Callers post jobs and return at once; the thread takes them in the order
// they were posted, from whichever threads.
//
// The process's exit waits for the jobs posted before it began (each holds
// the worker's exitGate::outsideWork) only while the thread is not held
// inside one piece of work for longer than heldAfter; then it leaves the
// worker, logged. Once the exit has begun the thread takes no job any more:
// it drops the job in hand and those queued, with their exit holds, and
// stays idle until the process has gone. A job that a server held and that
// finds the exit begun as it returns must do nothing more of the library's:
// it looks at exitGate::closed() after each call that the server may hold.
//
// The sound back-end's worker is one; the MIDI worker is another.
#include "audio/busyWatch.h"
#include "framework/exitGate.h"

#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class serverWorker {
public:
    using job = std::function<void()>;
    /// How long the sound back-end's close waits on a worker inside one
    /// piece of work, and so the process's exit: the bound of both workers.
    static constexpr std::chrono::milliseconds heldAfter{250};

    /// `what` names it in the log; `heldAfter`: how long it may be inside
    /// one piece of work before it counts as held by its server.
    serverWorker(std::string what, std::chrono::milliseconds heldAfter);
    /// Joins the thread when it has finished; a worker that may still run
    /// is never destroyed (the process-wide ones never are).
    ~serverWorker();
    serverWorker(const serverWorker&) = delete;
    serverWorker& operator=(const serverWorker&) = delete;

    /// Starts the thread, which runs `body`; body takes its jobs with
    /// next(). Once.
    void start(std::function<void()> body);

    /// Queues j and returns at once: true, or false (j dropped unrun) when
    /// the worker takes no jobs any more, when the process is exiting and
    /// the caller is outside library work, or once close() began unless
    /// `afterClose`. Any thread.
    bool post(job j, bool afterClose = false);

    /// Whether the thread has been inside one piece of work for more than
    /// heldAfter: held by its server, as a rule. Any thread; never blocks.
    bool held() const;

    /// Whether the thread is the caller.
    bool isCaller() const { return thread_.get_id() == std::this_thread::get_id(); }

    enum class closing {
        again,   // a second close: nothing
        own,     // from the thread itself, which goes on to finish
        joined,  // body finished, and the thread was joined
        exiting, // the process's exit has begun: left to it
        held,    // held by its server: left to finish on its own
    };
    /// Marks the closing (post() refuses from now on but after-close jobs),
    /// runs `announce` first, queues `last`, whose running must make body
    /// finish, and waits for the thread until body has finished or the
    /// thread is held, or the exit has begun. Any thread; blocks for at
    /// most about heldAfter while the thread is held.
    closing close(job last, const std::function<void()>& announce);

    // The thread's own:

    /// Lets go of the job in hand (its exit hold goes back), then takes the
    /// next one into it, waiting for it; the thread is then inside it (a
    /// piece of work) until the next call. Once the process's exit has
    /// begun it takes none: it drops those queued, and stays idle until the
    /// process has gone, never to return.
    void next(job& inHand);
    /// The next job if one comes within `limit` (false: none came); the
    /// exit is the caller's to look at.
    bool next(job& j, std::chrono::milliseconds limit);
    /// A job queued, if any, without waiting.
    bool tryNext(job& j);
    /// Runs j; what it throws is logged with `who` (the job's kind), never
    /// let out to end the thread.
    static void run(const job& j, const char* who) noexcept;
    /// A piece of work that is no job begins now (a shut-down's step).
    void begin();
    /// Takes no job from now on, and drops, unrun, the one in hand and
    /// those queued: their exit holds go back. Every way the thread stops
    /// goes through it.
    void stopTakingJobs(job& inHand);
    /// body has finished: close() may join the thread.
    void finish();

private:
    /// Until body has finished (true), or the thread is held, or the exit
    /// has begun (false).
    bool awaitFinished() const;

    const std::string what_;
    const std::chrono::milliseconds heldAfter_;
    std::thread thread_;
    /// Since when the thread has been inside its current piece of work.
    busyWatch busy_;
    exitGate::outsideWork work_;
    /// Set by the thread last, once body has finished (release; close
    /// acquires it before it joins).
    std::atomic<bool> done_{false};
    /// Set by the first close().
    std::atomic<bool> closing_{false};
    // Orders post() against close() and against the thread's end: a job is
    // queued either while the thread will still take it, and runs, or not
    // at all. One queued after that would never run and keep its exit hold
    // for ever.
    std::mutex postMutex_;
    /// Cleared by the thread, under postMutex_, as it stops taking jobs.
    bool takesJobs_ = true;
    moodycamel::BlockingConcurrentQueue<job> jobs_{192};
    /// Every job goes in through this one producer, under postMutex_: the
    /// queue keeps order per producer only.
    moodycamel::ProducerToken posting_{jobs_};
};
