#pragma once
// A host as the library's users write one: plain function-pointer callbacks
// that record what they receive, a poll loop on one thread, and every
// received handle freed exactly once with the release function of its kind.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {

template <size_t N>
struct name {
    char s[N];
    constexpr name(const char (&v)[N]) { std::copy_n(v, N, s); }
};

struct Call {
    std::string what;              // the callback's name
    std::vector<std::string> args; // its arguments, as text
    void* handle = nullptr;        // a received handle, if any
};

class Log {
public:
    static Log& get() {
        static Log log;
        return log;
    }

    void add(Call c, void (*release)(void*) = nullptr) {
        std::lock_guard<std::mutex> l(m_);
        if (c.handle && release) owned_.push_back({c.handle, release});
        calls_.push_back(std::move(c));
    }

    /// Calls of one callback, in delivery order.
    std::vector<Call> of(const std::string& what) {
        std::lock_guard<std::mutex> l(m_);
        std::vector<Call> out;
        for (auto& c : calls_)
            if (c.what == what) out.push_back(c);
        return out;
    }
    /// The first arguments of one callback's calls joined in order: the
    /// text that a text event delivered piece by piece.
    std::string joined(const std::string& what) {
        std::string s;
        for (auto& c : of(what))
            if (!c.args.empty()) s += c.args[0];
        return s;
    }
    std::vector<Call> all() {
        std::lock_guard<std::mutex> l(m_);
        return calls_;
    }

    /// Drops the recorded calls of one callback (markers of a test's own).
    void forget(const std::string& what) {
        std::lock_guard<std::mutex> l(m_);
        std::erase_if(calls_, [&](const Call& c) { return c.what == what; });
    }

    /// Frees every handle received so far, once, and forgets the calls.
    void clear() {
        std::vector<std::pair<void*, void (*)(void*)>> owned;
        {
            std::lock_guard<std::mutex> l(m_);
            owned.swap(owned_);
            calls_.clear();
        }
        for (auto& [h, release] : owned) release(h);
    }

private:
    std::mutex m_;
    std::vector<Call> calls_;
    std::vector<std::pair<void*, void (*)(void*)>> owned_;
};

template <class T>
std::string text(T v) {
    if constexpr (std::is_same_v<T, bool>)
        return v ? "true" : "false";
    else
        return std::to_string(v);
}

/// Scalar callback: records the value.
template <name N, class T>
void on(T v) {
    Log::get().add({N.s, {text(v)}});
}

/// Text callback: records a copy (the pointer is valid during the call only).
template <name N>
void onText(const char* v) {
    Log::get().add({N.s, {v ? std::string(v) : std::string("(null)")}});
}

/// Object callback: records the new handle, freed later with Release.
template <name N, void (*Release)(void*)>
void onObject(void* h) {
    Log::get().add({N.s, {}, h}, Release);
}

/// Collection callback: op, index and a new item handle.
template <name N, void (*Release)(void*)>
void onCollection(unsigned long op, unsigned long index, void* h) {
    Log::get().add({N.s, {std::to_string(op), std::to_string(index)}, h}, Release);
}

/// Polls until cond holds or the time-out passes; returns cond's last value.
inline bool pollUntil(void (*poll)(), const std::function<bool()>& cond,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        poll();
        if (cond()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

/// Polls for a while, for checks that something does NOT arrive.
inline void pollFor(void (*poll)(), std::chrono::milliseconds span) {
    pollUntil(poll, [] { return false; }, span);
}

/// Polls for a while, for checks that something stands: true when cond held
/// at every poll, false as soon as it did not.
inline bool pollHolds(void (*poll)(), const std::function<bool()>& cond, std::chrono::milliseconds span) {
    bool held = true;
    pollUntil(poll, [&] { return !(held = cond()); }, span);
    return held;
}

/// The transceivers a radio announces through its vtrxAdded event, in the
/// order they come: bind `Transceivers::onAdded`.
struct Transceivers {
    static void onAdded(void* v, long long, int, int) {
        std::lock_guard<std::mutex> l(mutex());
        list().push_back(v);
    }
    static void clear() {
        std::lock_guard<std::mutex> l(mutex());
        list().clear();
    }
    /// Polls until n have been announced; the first n, or none on time-out.
    static std::vector<void*> await(void (*poll)(), size_t n) {
        std::vector<void*> got;
        pollUntil(poll, [&] {
            std::lock_guard<std::mutex> l(mutex());
            if (list().size() < n) return false;
            got.assign(list().begin(), list().begin() + std::ptrdiff_t(n));
            return true;
        });
        return got;
    }
    static std::vector<void*> all() {
        std::lock_guard<std::mutex> l(mutex());
        return list();
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<void*>& list() {
        static std::vector<void*> v;
        return v;
    }
};

} // namespace host
