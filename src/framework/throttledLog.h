#pragma once
// throttledLog: paces a log line that an outside peer can provoke at will
// (a short datagram, a foreign sender, a bad frame). The first occurrence is
// reported at once; later ones at most once a second, the caller putting
// total() in each line, so a flood costs one line a second and no occurrence
// goes uncounted. One instance per line; not thread-safe (it lives on the
// task group or I/O thread that handles the input).
#include <chrono>
#include <cstdint>

class throttledLog {
public:
    using clock = std::chrono::steady_clock;

    /// Counts one occurrence; true when a line is due now.
    bool note(clock::time_point now = clock::now()) {
        ++total_;
        if (reported_ && now - last_ < std::chrono::seconds(1)) return false;
        reported_ = true;
        last_ = now;
        return true;
    }
    /// Occurrences counted so far.
    uint64_t total() const { return total_; }

private:
    uint64_t total_ = 0;
    bool reported_ = false;
    clock::time_point last_{};
};
