#pragma once
// debugCallback: a plain host callback for a mode's detector trace, called
// with a float array handle (which the host frees), an int and two doubles.
// Binding only stores it: nothing is delivered at bind time.
#include "framework/asyncObject.h"

#include <atomic>

struct debugCallback {
    using callback = void (*)(void* floatArray, int, double, double);

    /// Host thread.
    void bind(callback cb, asyncObject*) { cb_.store(cb, std::memory_order_release); }
    /// Any thread.
    callback get() const { return cb_.load(std::memory_order_acquire); }

private:
    std::atomic<callback> cb_{nullptr};
};
