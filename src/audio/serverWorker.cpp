#include "audio/serverWorker.h"

#include "audio/audioClock.h"

#include <pthread.h>
#include <signal.h>
#include <spdlog/spdlog.h>

#include <exception>

serverWorker::serverWorker(std::string what, std::chrono::milliseconds heldAfter)
    : what_(std::move(what)), heldAfter_(heldAfter), work_(what_, [this] { return held(); }) {}

serverWorker::~serverWorker() {
    if (thread_.joinable() && done_.load(std::memory_order_acquire) && !isCaller()) thread_.join();
    else if (thread_.joinable()) thread_.detach();
}

void serverWorker::start(std::function<void()> body) {
    thread_ = std::thread([body = std::move(body)] {
        // A request to a server that has died writes to a socket whose far
        // end has gone, and the signal that raises would end the process:
        // the call fails instead, as it should.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        body();
    });
}

bool serverWorker::post(job j, bool afterClose) {
    std::lock_guard<std::mutex> lock(postMutex_);
    if (!takesJobs_) return false;                                            // the thread is gone
    if (!afterClose && closing_.load(std::memory_order_acquire)) return false; // or going
    // The process's exit waits for a job posted before it began, unless the
    // thread is held; once it has begun, no job is taken.
    exitGate::hold h = work_.take();
    if (!h) return false;
    jobs_.enqueue(posting_, [h = std::move(h), j = std::move(j)] { j(); });
    return true;
}

void serverWorker::run(const job& j, const char* who) noexcept {
    try {
        j();
    } catch (const std::exception& e) {
        spdlog::error("{} {}", who, e.what());
    } catch (...) {
        spdlog::error("{}", who);
    }
}

bool serverWorker::held() const {
    return busy_.heldFor(audioClock::now(), std::chrono::nanoseconds(heldAfter_).count());
}

bool serverWorker::awaitFinished() const {
    while (!done_.load(std::memory_order_acquire)) {
        // The exit waits for the thread itself, as far as it waits for it.
        if (held() || exitGate::closed()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

serverWorker::closing serverWorker::close(job last, const std::function<void()>& announce) {
    {
        std::lock_guard<std::mutex> lock(postMutex_);
        if (closing_.exchange(true, std::memory_order_acq_rel)) return closing::again;
        announce();
        // Straight onto the queue: post() refuses jobs from now on. The jobs
        // already queued run first. Its hold keeps the process's exit
        // waiting as any job's does. A thread that the exit stopped takes
        // nothing.
        if (takesJobs_) jobs_.enqueue(posting_, [h = work_.take(), last = std::move(last)] { last(); });
    }
    if (!thread_.joinable() || isCaller()) return closing::own;
    if (awaitFinished()) {
        thread_.join();
        return closing::joined;
    }
    thread_.detach();
    return exitGate::closed() ? closing::exiting : closing::held;
}

void serverWorker::next(job& inHand) {
    inHand = nullptr;
    busy_.idle();
    jobs_.wait_dequeue(inHand);
    if (exitGate::closed()) {
        // What the work would use may be going with the process. The thread
        // stays until the process has gone: nobody joins it from now on.
        stopTakingJobs(inHand);
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    busy_.begin(audioClock::now());
}

bool serverWorker::next(job& j, std::chrono::milliseconds limit) { return jobs_.wait_dequeue_timed(j, limit); }

bool serverWorker::tryNext(job& j) { return jobs_.try_dequeue(j); }

void serverWorker::begin() { busy_.begin(audioClock::now()); }

void serverWorker::stopTakingJobs(job& inHand) {
    {
        std::lock_guard<std::mutex> lock(postMutex_);
        takesJobs_ = false;
    }
    // Dropped unrun, and their exit holds with them: the exit would wait
    // for them, to its limit, on a thread that runs nothing more.
    inHand = nullptr;
    for (job j; jobs_.try_dequeue(j);) j = nullptr;
}

void serverWorker::finish() {
    busy_.idle();
    done_.store(true, std::memory_order_release);
}
