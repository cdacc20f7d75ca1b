#pragma once
// FractionalDownConverter<T>: polyphase rational resampler, rate x L / M.
//
// Output j lies at input position j x M / L. The prototype low-pass (47 taps
// per phase, cut-off at 14000/48000 of the output rate) is split into L phases;
// each output is the inner product of one phase with 47 consecutive inputs.
// Inputs are written by the caller into a store of 8192 samples behind 160
// places of zero history; when a request no longer fits, the samples still
// needed are moved to the front.
//
// Banks are designed once per (L, M) and shared process-wide; the cache is the
// only shared state and `filterWriteLock` serialises it. A resampler itself
// belongs to one task group.
//
// L is bounded (maxPhases): a ratio such as 48000 / 48007 would need a bank of
// millions of taps, designed under the lock on a receive path. Such ratios,
// and factors that are not positive, are refused with a log line; a resampler
// built for one has no bank and produces nothing.
#include "dsp/buff.h"

#include <complex>
#include <cstdint>

template <class T>
class FractionalDownConverter {
public:
    using cplx = std::complex<T>;

    /// Empty state, never asked to process.
    FractionalDownConverter() = default;
    /// Resampler by L / M with zero history; without a bank (and inert) when
    /// the ratio is refused (see supports).
    FractionalDownConverter(int L, int M);

    /// Whether a bank can be made for L / M: both positive, L at most
    /// maxPhases.
    static bool supports(int L, int M) { return L > 0 && M > 0 && L <= maxPhases; }

    /// n samples of the input store for the caller to fill before Process.
    /// If the store cannot hold n more samples even after moving the kept
    /// ones to the front, the returned view is shorter (only what fits). A
    /// negative n is refused with a log line: an empty view, nothing moves.
    buff<cplx> GetInputBuffer(int n);
    /// Writes as many outputs as the written input allows, at most out.count,
    /// from out[0] on; returns their number. The last input samples a later
    /// output still needs are held back for the next call.
    int Process(buff<cplx> out);

    /// The shared bank for (L, M), designed on first request; empty (and
    /// logged) for a ratio that supports refuses. Thread-safe.
    static buff<float> GetFilter(int L, int M);
    /// Designs a bank: L phases x 47 taps, each tap stored twice in a row.
    /// [result: L x 47 x 2]
    static buff<float> GenerateFilter(int L, int M);

    buff<float> bank;
    buff<cplx> input;
    int64_t L = 0;
    int64_t M = 0;
    int64_t counter = 0;
    int64_t taps = 47;
    int64_t history = 160;
    int64_t writePos = 160;
    int64_t offset = -113;

    static constexpr int64_t storeSize = 8192;
    /// Largest interpolation factor: a bank of 1024 x 47 x 2 floats (385 KB).
    static constexpr int maxPhases = 1024;
};

extern template class FractionalDownConverter<float>;
