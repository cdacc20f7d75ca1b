#include "framework/exitGate.h"

#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace exitGate {
namespace {

// Passes and holds given out and not yet returned.
std::atomic<long> inside{0};
std::atomic<bool> shut{false};
// Passes the calling thread holds.
thread_local long depth = 0;

/// Counts one more unit of work unless the gate is shut and the calling
/// thread is outside. The increment comes first and both are sequentially
/// consistent, so that either this sees the gate shut or the exit sees the
/// increment (and waits for it).
bool enter() noexcept {
    inside.fetch_add(1, std::memory_order_seq_cst);
    if (depth > 0 || !shut.load(std::memory_order_seq_cst)) return true;
    inside.fetch_sub(1, std::memory_order_release);
    return false;
}

/// Pairs with the exit's load: what the work did happens before the statics
/// go.
void leave() noexcept { inside.fetch_sub(1, std::memory_order_release); }

/// The driver streams that run now. Never destroyed: stops are cleared by
/// objects that may outlive every static.
struct stopRegistry {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::shared_ptr<driverStop::entry>> live;
};
stopRegistry& stops() {
    static auto& r = immortal<stopRegistry>();
    return r;
}

void drain() {
    // Exit called from inside library work (a host callback on a pool
    // worker): this thread's own passes never come back.
    const long own = depth;
    const auto limit = std::chrono::steady_clock::now() + drainLimit;
    long left;
    while ((left = inside.load(std::memory_order_seq_cst)) > own) {
        if (std::chrono::steady_clock::now() > limit) {
            spdlog::error("exit: {} stretches of library work still running after {} s", left - own,
                          drainLimit.count());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void stopDriverStreams();

std::atomic<bool> armed{false};

void onExit() {
    // Registered more than once (see watchThisThread); the first call to run
    // is the one that counts.
    static std::atomic<bool> ran{false};
    if (ran.exchange(true)) return;
    shut.store(true, std::memory_order_seq_cst);
    drain();
    stopDriverStreams();
}

// The thread that loads the library: the host's main thread, as a rule.
const std::thread::id loader = std::this_thread::get_id();

/// Re-registers the exit handler when its thread ends, if that end may be
/// the process's: the C runtime ends the thread that calls exit by running
/// its thread-locals' destructors first. The loader's end is the process's
/// as a rule; a thread inside library work ends no other way (its passes
/// are never returned). Any other thread's end is no exit, and a
/// registration there would only lengthen the exit list.
struct exitWatch {
    ~exitWatch() {
        if (depth > 0 || std::this_thread::get_id() == loader) rearm();
    }
};
thread_local exitWatch watch;

[[maybe_unused]] const bool loaderWatched = (watchThisThread(), true);

firstCalls& processFirstCalls() {
    static auto& calls = immortal<firstCalls>();
    return calls;
}

} // namespace

struct driverStop::entry {
    std::function<void()> stop;
    bool taken = false; // by the exit, which runs it on `runner`
    bool done = false;
    std::thread::id runner;
};

namespace {

void stopDriverStreams() {
    stopRegistry& r = stops();
    std::vector<std::shared_ptr<driverStop::entry>> all;
    {
        std::lock_guard<std::mutex> lock(r.m);
        all.swap(r.live);
        for (auto& e : all) {
            e->taken = true;
            e->runner = std::this_thread::get_id();
        }
    }
    for (auto& e : all) {
        try {
            e->stop();
        } catch (const std::exception& x) {
            spdlog::error("exit: a driver stream did not stop: {}", x.what());
        } catch (...) {
            spdlog::error("exit: a driver stream did not stop");
        }
        {
            std::lock_guard<std::mutex> lock(r.m);
            e->done = true;
        }
        r.cv.notify_all();
    }
}

} // namespace

pass::pass() noexcept : entered_(enter()) {
    if (entered_) ++depth;
}

pass::~pass() {
    if (!entered_) return;
    --depth;
    leave();
}

hold hold::take() noexcept {
    hold h;
    h.held_ = enter();
    return h;
}

hold::hold(const hold& other) noexcept : held_(other.held_) {
    // The original keeps the exit waiting, so this cannot be refused.
    if (held_) inside.fetch_add(1, std::memory_order_seq_cst);
}

void hold::release() noexcept {
    if (!held_) return;
    held_ = false;
    leave();
}

void arm() noexcept {
    if (armed.exchange(true)) return;
    if (std::atexit(onExit) != 0)
        spdlog::error("exit handler not registered: the library's threads may outlive its statics");
}

void rearm() noexcept {
    // A failed registration leaves the earlier ones, which still run at exit.
    if (armed.load(std::memory_order_acquire)) static_cast<void>(std::atexit(onExit));
}

void firstCalls::rearmAfter(std::string_view call, bool ok) noexcept {
    try {
        std::string kind(call);
        kind += ok ? " ok" : " failed";
        std::lock_guard<std::mutex> lock(m_);
        if (!seen_.insert(std::move(kind)).second) return;
    } catch (...) {
        // Unrecorded: registered again, as every call once was.
    }
    rearm();
}

void rearmAfterFirst(std::string_view call, bool ok) noexcept { processFirstCalls().rearmAfter(call, ok); }

bool threadEnd::waitEnded(std::chrono::milliseconds limit) const noexcept {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!ended_.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void watchThisThread() noexcept { static_cast<void>(&watch); }

void driverStop::set(std::function<void()> stop) {
    clear();
    auto e = std::make_shared<entry>();
    e->stop = std::move(stop);
    stopRegistry& r = stops();
    {
        std::lock_guard<std::mutex> lock(r.m);
        r.live.push_back(e);
        entry_ = std::move(e);
    }
}

bool driverStop::clear(bool wait) noexcept {
    if (!entry_) return true;
    std::shared_ptr<entry> e = std::move(entry_);
    stopRegistry& r = stops();
    std::unique_lock<std::mutex> lock(r.m);
    if (!e->taken) {
        r.live.erase(std::remove(r.live.begin(), r.live.end(), e), r.live.end());
        return true;
    }
    // The stop clearing itself has nothing to wait for. No limit here: the
    // exit runs the stops one after another, each up to its own limit, and
    // this one may still use its objects however late it runs.
    if (wait && e->runner != std::this_thread::get_id()) r.cv.wait(lock, [&] { return e->done; });
    return false;
}

bool closed() noexcept { return shut.load(std::memory_order_acquire); }

} // namespace exitGate
