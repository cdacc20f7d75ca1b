#pragma once
// Array handles: heap-allocated sample buffers handed across the boundary.
// The handle owns one reference to the pooled samples, so they stay valid
// until the host deletes the handle, whatever the library does meanwhile.
#include "dsp/buff.h"

#include <spdlog/spdlog.h>

namespace vireo::api {

/// Arrays carry blocks and spectrum lines; anything near this is a caller's
/// mistake, not a request to honour.
constexpr int maxArraySamples = 1 << 26;

template <class T>
void* arrayCreate(int n, const char* fn) noexcept {
    if (n < 0 || n > maxArraySamples) {
        spdlog::error("{} size {} refused", fn, n);
        return nullptr;
    }
    try {
        return new buff<T>(size_t(n));
    } catch (const std::exception& e) {
        spdlog::error("{} {}", fn, e.what());
        return nullptr;
    }
}

/// A new handle sharing a library buffer (events that deliver blocks).
template <class T>
void* arrayHandle(const buff<T>& b) {
    return new buff<T>(b);
}

template <class T>
T* arrayData(void* h) noexcept {
    return h ? static_cast<buff<T>*>(h)->data : nullptr;
}

template <class T>
int arraySize(void* h) noexcept {
    return h ? int(static_cast<buff<T>*>(h)->count) : 0;
}

template <class T>
void arrayDelete(void* h) noexcept {
    delete static_cast<buff<T>*>(h);
}

} // namespace vireo::api
