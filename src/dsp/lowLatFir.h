#pragma once
// lowLatFir: uniformly partitioned overlap-save FIR filter with one block of
// latency.
//
// The taps are cut into P partitions of B taps. Each partition's spectrum
// (2B points) is computed once, when the filter is set. Every block of B new
// samples then costs one forward transform of the 2B-sample window (previous
// block + current block), P spectrum products against the transforms of the
// last P windows (kept in a ring), and one inverse transform; the second half
// of the inverse is the filtered block, the first half circular wrap-around.
//
// A process-wide cache of band-pass designs is built by init before any filter
// exists and is only read afterwards, without a lock. A filter whose band and
// rate match an entry shares the entry's spectra instead of designing: edges
// in Hz are a different filter at every rate.
//
// A filter belongs to one object and is used on its task group only.
//
// A block size or tap count of 0 or less, taps for a filter never built and
// calc on one are refused with a log line and change nothing.
#include "dsp/buff.h"

#include <complex>
#include <cstdint>
#include <vector>

/// One cached design: the partition spectra of a band-pass, keyed by its
/// edges, rate, length and block.
struct filterCachEntry {
    float low;
    float high;
    int rate;
    int length;
    int block;
    std::vector<buff<std::complex<float>>> spectra;  // floor(length / block) x [2 * block], last partition first
};

class lowLatFir {
public:
    using cplx = std::complex<float>;

    /// Empty filter; it must be assigned a built filter before calc.
    lowLatFir() = default;
    /// Band-pass low .. high (Hz) of len taps at rate, in blocks of B. Takes a
    /// cached design when one matches.
    lowLatFir(float low, float high, int rate, int len, int B);
    /// Filter of the given taps, in blocks of B.
    lowLatFir(buff<cplx> taps, int B);

    /// Replaces the filter by taps; the input history is kept. Taps beyond
    /// P x B are ignored, missing ones are zero.
    void setFilter(buff<cplx> taps);
    /// Replaces the filter by the cached design of (low, high, rate, len) for
    /// the filter's own block size, or by a new band-pass design. len is the one
    /// the filter was built with; the block argument is the caller's idea of
    /// it and is not used. A shorter cached design is zero-padded to the
    /// filter's partitions.
    void setFilter(float low, float high, int rate, int len, int B);

    /// Filters the B samples in inBlock into outBlock. Allocates nothing.
    void calc();

    /// Forgets all past input, so that the next block starts from silence.
    void clearState();
    /// Samples per block (B).
    size_t blockLength() const { return size_t(B); }

    /// Designs one band-pass and appends its partition spectra to the cache.
    /// Start-up only.
    static void AddToFilterCache(float low, float high, int rate, int len, unsigned long block);
    /// Appends the 24 start-up designs. Called once by init, host thread.
    static void BuildFilterCache();
    /// The process-wide cache.
    static std::vector<filterCachEntry>& cache();

    std::vector<buff<cplx>> spectra;  // P x [2B], last partition first
    buff<cplx> window;                // [2B]: previous block, current block
    buff<cplx> accumulator;           // [2B]
    buff<cplx> output;                // [2B]: wrap-around, filtered block
    std::vector<buff<cplx>> ring;     // P x [2B]: transforms of recent windows
    int P = 0;
    int r = 0;
    buff<cplx> inBlock;   // window[B .. 2B): callers write B samples here
    buff<cplx> outBlock;  // output[B .. 2B): callers read B samples here
    uint64_t B = 0;

private:
    void build(size_t tapCount, int block);
    static std::vector<buff<cplx>> partitionSpectra(buff<cplx> taps, size_t parts, size_t block);
};
