#include "dsp/lowLatFir.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "dsp/filterDesign.h"
#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cstring>

lowLatFir::lowLatFir(float low, float high, int rate, int len, int B) {
    build(static_cast<size_t>(len), B);
    setFilter(low, high, rate, len, B);
}

lowLatFir::lowLatFir(buff<cplx> taps, int B) {
    build(taps.count, B);
    setFilter(taps);
}

void lowLatFir::build(size_t tapCount, int block) {
    if (block <= 0 || tapCount == 0) {
        spdlog::error("lowLatFir: {} taps in blocks of {} refused", tapCount, block);
        return; // stays an empty filter
    }
    B = static_cast<uint64_t>(block);
    window = buff<cplx>(2 * B, cplx(0));
    accumulator = buff<cplx>(2 * B, cplx(0));
    output = buff<cplx>(2 * B, cplx(0));
    P = static_cast<int>((tapCount + B - 1) / B);
    ring.clear();
    for (int p = 0; p < P; ++p) ring.emplace_back(2 * B, cplx(0));
    r = 0;
    inBlock = buff<cplx>(window, B, B);
    outBlock = buff<cplx>(output, B, B);
}

std::vector<buff<lowLatFir::cplx>> lowLatFir::partitionSpectra(buff<cplx> taps, size_t parts, size_t block) {
    std::vector<buff<cplx>> out(parts);
    // The inverse transform in calc is unscaled; folding 1/(2B) into the taps
    // gives the filter unit gain.
    const float scale = 1.0f / static_cast<float>(2 * block);
    for (size_t p = 0; p < parts; ++p) {
        buff<cplx> part(2 * block, cplx(0));
        const size_t first = p * block;
        if (first < taps.count) {
            const size_t n = std::min(block, taps.count - first);
            for (size_t i = 0; i < n; ++i) part[i] = taps[first + i];
        }
        for (size_t i = 0; i < block; ++i) part[i] *= scale;
        out[parts - 1 - p] = fft::fwd(part);
    }
    return out;
}

void lowLatFir::setFilter(buff<cplx> taps) {
    if (P == 0 || taps.empty()) {
        spdlog::error("lowLatFir: {} taps for a filter of {} partitions refused", taps.count, P);
        return;
    }
    spectra = partitionSpectra(taps, static_cast<size_t>(P), B);
}

void lowLatFir::setFilter(float low, float high, int rate, int len, int) {
    if (P == 0) {
        spdlog::error("lowLatFir: band {} .. {} for an empty filter refused", low, high);
        return;
    }
    // Keyed on the block this filter runs, whatever the caller passed: the
    // spectra of another block size have another length. The rate is part of
    // the key: the same edges at another rate are another band.
    for (const filterCachEntry& e : cache()) {
        if (e.low != low || e.high != high || e.rate != rate || e.length != len || uint64_t(e.block) != B) continue;
        // Share the cached spectra. A design with fewer partitions than this
        // filter runs is the same filter with zero taps after its end: the
        // missing (latest) partitions go in front as zero spectra so that calc
        // always finds P of them.
        spectra.clear();
        const size_t have = e.spectra.size();
        for (size_t p = have; p < static_cast<size_t>(P); ++p) spectra.emplace_back(2 * this->B, cplx(0));
        spectra.insert(spectra.end(), e.spectra.begin(), e.spectra.end());
        return;
    }
    setFilter(filterDesign<float>::bandpass(low, high, rate, len, len));
}

void lowLatFir::calc() {
    const size_t S = spectra.size();
    if (S == 0) {
        // Reported once: a caller that gets this wrong does so every block.
        static std::atomic<bool> reported{false};
        if (!reported.exchange(true)) spdlog::error("lowLatFir: calc on a filter never built refused");
        return;
    }
    fft::fwd(window, ring[r]);
    // Newest window against the first partition, older windows against later
    // ones: the ring index walks backwards while the spectra index does too.
    dspMath::mul(ring[r], spectra[S - 1], accumulator);
    int j = r;
    for (int i = 1; i < P; ++i) {
        j = (j > 0 ? j : P) - 1;
        dspMath::mac(ring[j], spectra[S - 1 - i], accumulator);
    }
    fft::rev(accumulator, output);
    r = (r + 1 == P) ? 0 : r + 1;
    // The current block becomes the previous one (the halves never overlap).
    std::memcpy(window.data, inBlock.data, B * sizeof(cplx));
}

std::vector<filterCachEntry>& lowLatFir::cache() {
    // Never destroyed: a pool worker still inside a filter when the exit's
    // drain gives up keeps reading it while the statics go.
    static auto& entries = immortal<std::vector<filterCachEntry>>();
    return entries;
}

void lowLatFir::AddToFilterCache(float low, float high, int rate, int len, unsigned long block) {
    buff<cplx> taps = filterDesign<float>::bandpass(low, high, rate, len, len);
    const size_t parts = static_cast<uint64_t>(static_cast<int64_t>(len)) / block;
    cache().push_back(filterCachEntry{low, high, rate, len, static_cast<int>(block),
                                      partitionSpectra(taps, parts, block)});
}

void lowLatFir::BuildFilterCache() {
    struct Design {
        float low, high;
        int rate, taps;
    };
    static constexpr Design designs[] = {
        {-3000, 3000, 48000, 1536},   {-3000, 6000, 48000, 1536},   {1360, 1640, 48000, 1536},
        {100, 5000, 48000, 1536},     {0, 3000, 48000, 1536},       {150, 3000, 48000, 1536},
        {150, 3000, 48000, 2048},     {50, 3100, 48000, 1536},      {-3000, -150, 48000, 1536},
        {-3000, -150, 48000, 2048},   {-3100, -50, 48000, 1536},    {-2900, -250, 48000, 1536},
        {-2900, -250, 48000, 2048},   {-50, 3200, 48000, 1536},     {-50, 3200, 48000, 2048},
        {200, 2500, 48000, 1536},     {-250, 250, 48000, 1536},     {-15000, 15000, 48000, 1536},
        {-20000, 20000, 48000, 1536}, {300, 3000, 48000, 1536},     {300, 3000, 48000, 2048},
        {-90000, 90000, 384000, 1536}, {-8000, 8000, 48000, 1536},  {-12000, 12000, 48000, 1536},
    };
    for (const Design& d : designs) AddToFilterCache(d.low, d.high, d.rate, d.taps, 512);
}

void lowLatFir::clearState() {
    for (auto* b : {&window, &accumulator, &output})
        for (auto& x : *b) x = cplx(0);
    for (auto& spectrum : ring)
        for (auto& x : spectrum) x = cplx(0);
    r = 0;
}
