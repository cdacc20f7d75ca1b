#pragma once
// TextQueue: the unsent transmit text of a text mode (PSK, CW, RTTY,
// Hellschreiber) and the count of characters sent so far. A transmission's
// text runs to its end mark; a transmission that ends before its end mark
// went out drops the rest of its text, through the mark. What follows the
// mark waits for a later transmission: nothing is taken between the mark
// (or the end) and the next transmission's beginning, a tail included.
//
// An ending takes only what came before it. Each replacement carries the
// moment the host made it; an ending drops the text only when it is older
// than the ending, and a text the host queued after an ending that has not
// reached the transceiver yet is not taken meanwhile (the mode's
// endingComing): it waits, whole, for the next transmission.
//
// The host replaces the text on the mode's task group while the transmitter
// takes characters on the transceiver's; one small lock covers the ring and
// the count together, so a replacement always sees the count that matches
// what is left in the ring.
#include "framework/asyncEvent.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class modDemod;

class TextQueue {
public:
    static constexpr size_t ringSize = 1024;
    /// The ring keeps one slot free to tell full from empty.
    static constexpr size_t maxUnsent = ringSize - 1;

    struct Queued {
        size_t queued = 0;    // characters now waiting
        size_t dropped = 0;   // characters past maxUnsent, not queued
        bool refused = false; // start past the sent count or the text's end
    };

    /// endMarks: the characters that end a transmission's text; `mode`: the
    /// mode whose transmissions send it.
    TextQueue(std::string_view endMarks, const modDemod& mode) : endMarks_(endMarks), mode_(mode) {}

    /// Drops the unsent text, then queues text from position (sent - start)
    /// on: a host that resends its whole text with the count it saw skips
    /// what already went out. A start above the count, or a position past
    /// the text's end, is refused and leaves the unsent text as it was.
    /// `at`: the moment the host made the call. Any thread.
    Queued replace(std::string_view text, long long start, uint64_t at);

    /// replace() for a host request named `request` ("cwModDemod.QueueText()"):
    /// a refusal or a cut is logged. Any thread.
    Queued hostReplace(std::string_view text, long long start, uint64_t at, const char* request);
    /// The same for a host's text as it came; a null text changes nothing.
    Queued hostReplace(const char* text, long long start, uint64_t at, const char* request);

    /// The next character (0-255) and counts it as sent, or -1 when nothing
    /// waits for this transmission: none while an ending the host made of
    /// it is on its way. The transceiver's task group.
    int take();

    /// take(), and the character taken told on `sentChars` as a
    /// one-character text.
    int take(asyncEvent<std::string>& sentChars);

    /// A transmission begins: its end mark is still to come. Any thread.
    void transmissionBegins();
    /// The transmission ends, by an ending made at `before`: unless its end
    /// mark went out, the unsent text up to and including the next end mark
    /// is dropped (all of it when none waits), without counting it as sent;
    /// a text queued at or after `before` stays whole. Returns whether the
    /// transmission was cut short (its end mark had not gone out). Any
    /// thread.
    bool dropTransmission(uint64_t before);
    /// The key for the replacement made at `asked` was refused: unless a
    /// later replacement has come since, the unsent text up to and including
    /// its next end mark is dropped (all of it when none waits), without
    /// counting it as sent. Any thread.
    void dropUnkeyed(uint64_t asked);

    long long sent() const;
    size_t unsent() const;

private:
    /// Drops the unsent text up to and including its next end mark. Under m_.
    void dropThroughMark();

    mutable std::mutex m_;
    std::array<uint8_t, ringSize> ring_{};
    size_t read_ = 0;
    size_t write_ = 0;
    long long sent_ = 0;
    std::string endMarks_;
    const modDemod& mode_;
    uint64_t queuedAt_ = 0; // the moment of the replacement that queued the unsent text
    bool endTaken_ = false; // the transmission's end mark went out
};
