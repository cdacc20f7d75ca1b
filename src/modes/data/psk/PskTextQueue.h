#pragma once
// PskTextQueue: the unsent transmit text of the PSK mode and the count of
// characters sent so far. The host replaces the text on the mode's task
// group while the transmitter takes characters on the transceiver's; one
// small lock covers the ring and the count together, so a replacement always
// sees the count that matches what is left in the ring.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

class PskTextQueue {
public:
    static constexpr size_t ringSize = 1024;
    /// The ring keeps one slot free to tell full from empty.
    static constexpr size_t maxUnsent = ringSize - 1;

    struct Queued {
        size_t queued = 0;  // characters now waiting
        size_t dropped = 0; // characters past maxUnsent, not queued
        bool refused = false; // start past the sent count or the text's end
    };

    /// Drops the unsent text, then queues text from position (sent - start)
    /// on: a host that resends its whole text with the count it saw skips
    /// what already went out. Any thread.
    Queued replace(std::string_view text, long long start);

    /// The next character (0-255) and counts it as sent, or -1 when nothing
    /// waits. Any thread.
    int take();

    long long sent() const;
    size_t unsent() const;

private:
    mutable std::mutex m_;
    std::array<uint8_t, ringSize> ring_{};
    size_t read_ = 0;
    size_t write_ = 0;
    long long sent_ = 0;
};
