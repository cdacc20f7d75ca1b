#pragma once
// buff<T>: a reference-counted view of samples on pooled storage.
//
// A buff is three fields: the shared storage, the first sample of the view
// and the sample count. Copies and slices share the storage and never copy
// samples, so a block can be handed by value to other threads for one atomic
// increment; the storage returns to the pool when the last view is gone.
// The counts are atomic; the samples are not guarded: a sender does not write
// a buffer after handing it on.
#include "framework/poolAlloc.h"

#include <boost/smart_ptr/allocate_shared_array.hpp>
#include <boost/smart_ptr/shared_ptr.hpp>

#include <cstddef>
#include <cstdio>
#include <limits>
#include <new>

template <class T>
class buff {
public:
    buff() noexcept = default;

    /// n uninitialised samples; n = 0 gives an empty buffer without storage.
    explicit buff(size_t n) { allocate(n); }

    /// n samples, every one set to value.
    buff(size_t n, T value) {
        allocate(n);
        for (size_t i = 0; i < count; ++i) data[i] = value;
    }

    /// A view of len samples of source from offset, sharing its storage. A
    /// range outside the source prints a trace and gives an empty buffer.
    buff(const buff& source, size_t offset, size_t len) {
        if (offset > source.count || len > source.count - offset) {
            std::printf(" buff slice error %zu  %zu  %zu %zu", offset, len, source.count, sizeof(T));
            std::fflush(stdout);
            return;
        }
        storage = source.storage;
        data = source.data + offset;
        count = len;
    }

    buff(const buff&) noexcept = default;
    buff(buff&&) noexcept = default;
    buff& operator=(const buff&) noexcept = default;
    buff& operator=(buff&&) noexcept = default;
    ~buff() = default;

    /// Copies all samples to the start of destination; skipped with a trace
    /// when destination is shorter.
    void copyTo(buff destination) const {
        if (count > destination.count) {
            std::fputs("buff copyTo error ", stdout);
            std::fflush(stdout);
            return;
        }
        for (size_t i = 0; i < count; ++i) destination.data[i] = data[i];
    }

    /// Copies source's samples to the start of this buffer; skipped with a
    /// trace when this buffer is shorter.
    void copy(const buff& source) {
        if (source.count > count) {
            std::printf(" buff copy error%zu > %zu", source.count, count);
            std::fflush(stdout);
            return;
        }
        for (size_t i = 0; i < source.count; ++i) data[i] = source.data[i];
    }

    T& operator[](size_t i) const noexcept { return data[i]; }
    T* begin() const noexcept { return data; }
    T* end() const noexcept { return data + count; }
    size_t size() const noexcept { return count; }
    bool empty() const noexcept { return count == 0; }
    /// Number of views sharing the storage (0 without storage).
    long use_count() const noexcept { return storage.use_count(); }

    boost::shared_ptr<unsigned char[]> storage;
    T* data = nullptr;
    size_t count = 0;

private:
    void allocate(size_t n) {
        if (n == 0) return;
        if (n > (std::numeric_limits<size_t>::max() - 64) / sizeof(T)) throw std::bad_alloc();
        // Sample bytes padded to 8; the pool block also carries the shared
        // array's control header in front of the samples.
        size_t bytes = (n * sizeof(T) + 7) & ~size_t(7);
        storage = boost::allocate_shared_noinit<unsigned char[]>(pooled_allocator<unsigned char>(), bytes);
        data = reinterpret_cast<T*>(storage.get());
        count = n;
    }
};
