#pragma once
// delay<T>: a sliding window of complex samples, H samples of history in
// front of the newest block of B. The look-ahead limiter of the voice
// transmit chain reads it: a block is written into `input`, then `window`
// shows the last H samples of the previous block followed by it.
//
//   storage  [H + B]           owns the samples, zero at construction
//   window   storage[0, H + B) history, then the newest block
//   input    storage[H, H + B) where each new block is written
//
// The three views share the storage; moving a delay moves the views. One
// owner, one task group.
#include "dsp/buff.h"

#include <complex>
#include <cstddef>
#include <cstdint>

template <class T>
class delay {
public:
    using sample = std::complex<T>;

    delay() = default;
    delay(size_t historyLength, size_t block)
        : storage(historyLength + block, sample{}),
          input(storage, historyLength, block),
          window(storage, 0, historyLength + block),
          history(historyLength) {}

    delay(delay&&) noexcept = default;
    delay& operator=(delay&&) noexcept = default;
    delay(const delay&) = delete;
    delay& operator=(const delay&) = delete;

    /// Moves the last H samples of the current block to the front of the
    /// window, making room for the next block. Allocates nothing.
    void shift() {
        const size_t block = input.size();
        if (block < history) {
            // A block shorter than the history keeps part of the old history.
            for (size_t i = 0; i < history; ++i) window[i] = window[i + block];
            return;
        }
        for (size_t i = 0; i < history; ++i) window[i] = input[block - history + i];
    }

    buff<sample> storage;
    buff<sample> input;
    buff<sample> window;
    uint64_t history = 0;
};
