#include "dsp/FractionalDownConverter.h"

#include "dsp/dspMath.h"
#include "dsp/filterDesign.h"
#include "dsp/FractionalKernels.h"
#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct FractionalFilterCacheEntry {
    int L;
    int M;
    buff<float> bank;
};

}  // namespace

template <class T>
FractionalDownConverter<T>::FractionalDownConverter(int l, int m) : bank(GetFilter(l, m)), L(l), M(m) {
    if (!bank.empty()) input = buff<cplx>(storeSize, cplx(0));
}

template <class T>
buff<typename FractionalDownConverter<T>::cplx> FractionalDownConverter<T>::GetInputBuffer(int n) {
    if (n < 0) {
        spdlog::error("FractionalDownConverter: input request of {} samples refused", n);
        return {};
    }
    if (input.empty()) return {}; // no bank: nothing will ever be read
    if (storeSize - writePos >= n) {
        buff<cplx> view(input, static_cast<size_t>(writePos), static_cast<size_t>(n));
        writePos += n;
        return view;
    }
    // Move what the next output still needs to the front. The kept range and
    // its destination overlap whenever more is kept than dropped, hence
    // memmove. If the next output starts beyond everything written (a strong
    // decimation), nothing is kept and the store restarts at the write point.
    const int64_t base = (counter * M + L - 1) / L;
    const int64_t start = base - offset;
    const int64_t shift = std::min(start, writePos);
    const int64_t keep = writePos - shift;
    std::memmove(input.data, input.data + shift, static_cast<size_t>(keep) * sizeof(cplx));
    offset += shift;
    const int64_t room = std::min<int64_t>(n, storeSize - keep);
    writePos = keep + room;
    return buff<cplx>(input, static_cast<size_t>(keep), static_cast<size_t>(room));
}

template <class T>
int FractionalDownConverter<T>::Process(buff<cplx> out) {
    if (bank.empty()) return 0;
    PolyphaseCursor at{L, M, counter, offset, writePos - taps};
    const size_t written = fractionalKernels().process(bank.data, input.data, at, out.data, out.count);
    counter = at.counter;
    offset = at.offset;
    return static_cast<int>(written);
}

template <class T>
buff<float> FractionalDownConverter<T>::GetFilter(int L, int M) {
    static std::mutex filterWriteLock;
    // First built on a pool worker, and used by the workers until the
    // process ends.
    static auto& entries = immortal<std::vector<FractionalFilterCacheEntry>>();
    if (!supports(L, M)) {
        spdlog::error("FractionalDownConverter: ratio {} / {} refused (at most {} phases)", L, M, maxPhases);
        return {};
    }
    std::lock_guard<std::mutex> lock(filterWriteLock);
    for (const auto& e : entries)
        if (e.L == L && e.M == M) return e.bank;
    // Designed under the lock so that two transceivers asking for the same
    // ratio share one bank and the design runs once.
    entries.push_back({L, M, GenerateFilter(L, M)});
    return entries.back().bank;
}

template <class T>
buff<float> FractionalDownConverter<T>::GenerateFilter(int L, int M) {
    constexpr int perPhase = 47;
    if (!supports(L, M)) return {};
    const float edge = static_cast<float>(14000.0 * L / M);
    const int n = perPhase * L;
    // The interpolated rate fits an int for every L that supports allows.
    buff<float> proto = filterDesign<float>::bandpassReal(-edge, edge, 48000 * L, n, n);
    // Times L: the gain lost to interpolation.
    dspMath::mul(proto, static_cast<float>(L), proto);
    buff<float> out(static_cast<size_t>(n) * 2);
    for (int p = 0; p < L; ++p)
        for (int t = 0; t < perPhase; ++t) {
            const float c = proto[p + t * L];
            out[(p * perPhase + t) * 2] = c;
            out[(p * perPhase + t) * 2 + 1] = c;
        }
    return out;
}

template class FractionalDownConverter<float>;
