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

/// Counts one more unit of work on `count` (the gate's own, or an
/// outsideWork's) unless the gate is shut and the calling thread is outside.
/// The increment comes first and both are sequentially consistent, so that
/// either this sees the gate shut or the exit sees the increment (and waits
/// for it).
bool enter(std::atomic<long>& count = inside) noexcept {
    count.fetch_add(1, std::memory_order_seq_cst);
    if (depth > 0 || !shut.load(std::memory_order_seq_cst)) return true;
    count.fetch_sub(1, std::memory_order_release);
    return false;
}

/// Pairs with the exit's load: what the work did happens before the statics
/// go.
void leave(std::atomic<long>& count = inside) noexcept { count.fetch_sub(1, std::memory_order_release); }

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

} // namespace

struct outsideWork::state {
    explicit state(std::string what) : what(std::move(what)) {}
    const std::string what;
    std::atomic<long> count{0}; // its holds out; pairs as the gate's own
    std::function<bool()> held; // under the registry's mutex; empty once its owner went
};

namespace {

/// Every outsideWork there was. Never destroyed, nor are its records: holds
/// may be returned while the statics go.
struct outsideRegistry {
    std::mutex m;
    std::vector<outsideWork::state*> all;
};
outsideRegistry& outsides() {
    static auto& r = immortal<outsideRegistry>();
    return r;
}

/// Holds of outside work that the exit waits for: those of a thread that
/// no server holds. Those of a held one go to `left`.
long outsideWaitedFor(std::vector<std::pair<const outsideWork::state*, long>>& left) {
    left.clear();
    outsideRegistry& r = outsides();
    std::lock_guard<std::mutex> lock(r.m);
    long waited = 0;
    for (const outsideWork::state* s : r.all) {
        const long n = s->count.load(std::memory_order_seq_cst);
        if (n <= 0) continue;
        if (s->held && s->held())
            left.emplace_back(s, n);
        else
            waited += n;
    }
    return waited;
}

void drain() {
    // Exit called from inside library work (a host callback on a pool
    // worker): this thread's own passes never come back.
    const long own = depth;
    const auto limit = std::chrono::steady_clock::now() + drainLimit;
    std::vector<std::pair<const outsideWork::state*, long>> left;
    for (;;) {
        const long running = inside.load(std::memory_order_seq_cst) - own + outsideWaitedFor(left);
        if (running <= 0) break;
        if (std::chrono::steady_clock::now() > limit) {
            spdlog::error("exit: {} stretches of library work still running after {} s", running,
                          drainLimit.count());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Its thread, should its server answer, finds the gate closed and stops.
    for (auto [s, n] : left)
        spdlog::error("exit: {} is held by a server outside the process: left, with {} piece(s) of its work",
                      s->what, n);
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
    if (enter()) h.count_ = &inside;
    return h;
}

hold::hold(const hold& other) noexcept : count_(other.count_) {
    // The original keeps the exit waiting, so this cannot be refused.
    if (count_) count_->fetch_add(1, std::memory_order_seq_cst);
}

void hold::release() noexcept {
    if (!count_) return;
    leave(*std::exchange(count_, nullptr));
}

outsideWork::outsideWork(std::string what, std::function<bool()> held)
    : state_(new state(std::move(what))) {
    state_->held = std::move(held);
    outsideRegistry& r = outsides();
    std::lock_guard<std::mutex> lock(r.m);
    r.all.push_back(state_);
}

outsideWork::~outsideWork() {
    outsideRegistry& r = outsides();
    std::lock_guard<std::mutex> lock(r.m);
    state_->held = nullptr;
}

hold outsideWork::take() noexcept {
    hold h;
    if (enter(state_->count)) h.count_ = &state_->count;
    return h;
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
