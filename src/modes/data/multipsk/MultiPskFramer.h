#pragma once
// MultiPskFramer: cuts the bytes of one TCP connection into MultiPskPacket
// bodies. The reader asks it where the next bytes go and how many it wants,
// reads at most that many, and reports what arrived; the framer hands back a
// body whenever one is complete. Reads never take more than the current
// phase needs, so nothing of the next frame is ever read early.
//
// The body length comes from the length field, cut to the buffer size
// ("tcp bad len {}"), except for a "TXHWdata" body: there the sample count
// at body offset 8 decides (12 + count bytes), whatever the length field
// says. To make that independent of how the stream happens to be segmented,
// the first 12 bytes of a longer body are read on their own, and the count
// is applied once they are in; it is kept within 12 and the buffer size.
// When the count disagrees with the length field one line goes to standard
// output: the length, the count and " xxxx".
//
// A delivered body is a view on the buffer it was read into; the framer goes
// on in a fresh one, so the body needs no copy. Not thread-safe: one reader.
#include "dsp/buff.h"

#include <cstddef>
#include <cstdint>
#include <optional>

class MultiPskFramer {
public:
    /// Bodies longer than bufferSize (at least 12) are cut to it.
    explicit MultiPskFramer(size_t bufferSize);

    /// Starts over with a fresh buffer, waiting for a length field.
    void reset();

    /// Where the next bytes go and how many are wanted (always at least 1).
    char* readPointer() const { return buffer_.data + received_; }
    size_t wanted() const;

    /// n bytes (at most wanted()) arrived at readPointer(). Returns the body
    /// that they complete, if any.
    std::optional<buff<char>> arrived(size_t n);

    size_t bufferSize() const { return bufferSize_; }

private:
    enum class phase { length, body };

    void applySampleCount();
    buff<char> deliver();

    const size_t bufferSize_;
    buff<char> buffer_;
    phase phase_ = phase::length;
    size_t received_ = 0;
    size_t expected_ = 4;
    bool countApplied_ = false;
};
