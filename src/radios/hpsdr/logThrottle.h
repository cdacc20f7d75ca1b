#pragma once
// logThrottle: for a log line that a peer can provoke with every packet it
// sends. The first event is logged at once, later ones at most once a
// second; the caller puts total() in the line, so nothing goes uncounted.
// One thread only (each user's own task group or the I/O thread).
#include <chrono>
#include <cstdint>

class logThrottle {
public:
    using clock = std::chrono::steady_clock;

    /// Counts one event; true when a line is due for it.
    bool due(clock::time_point now = clock::now()) {
        ++total_;
        if (total_ > 1 && now - last_ < std::chrono::seconds(1)) return false;
        last_ = now;
        return true;
    }
    /// Events counted so far.
    uint64_t total() const { return total_; }

private:
    uint64_t total_ = 0;
    clock::time_point last_{};
};
