#pragma once
// firFeed: hands a stream of blocks of any length to filters that take a
// fixed block of B samples (lowLatFir), B at a time.
//
// A transceiver's blocks need not match the filters' block: a minimum-phase
// receive filter hands a mode 1536 samples, a test or a host any number. The
// samples are copied into the filters' input until B are in; then every
// filter runs and onBlock() reads their outputs. What is left over waits in
// the input for the next block, so the filters see the stream unbroken and
// sample k of the stream is always sample k mod B of a filter block. A
// sample that is not finite goes in as 0.
//
// All filters must have the same block length. Allocates nothing. Used on
// one task group only.
#include "dsp/buff.h"
#include "dsp/lowLatFir.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <initializer_list>

class firFeed {
public:
    /// Feeds samples to every filter of firs; calls onBlock() after each
    /// full block, with the filters' outBlock holding its output.
    template <class OnBlock>
    void push(const buff<std::complex<float>>& samples, std::initializer_list<lowLatFir*> firs, OnBlock&& onBlock) {
        if (firs.size() == 0) return;
        const size_t B = (*firs.begin())->blockLength();
        if (B == 0) return;
        size_t pos = 0;
        while (pos < samples.count) {
            const size_t take = std::min(B - fill, samples.count - pos);
            for (lowLatFir* f : firs)
                for (size_t i = 0; i < take; ++i) f->inBlock[fill + i] = finiteOrZero(samples[pos + i]);
            pos += take;
            fill += take;
            if (fill < B) break;
            fill = 0;
            for (lowLatFir* f : firs) f->calc();
            onBlock();
        }
    }

private:
    // A filter keeps its input for as many samples as it has taps: a NaN or
    // an infinity let in would spoil every output for that long.
    static std::complex<float> finiteOrZero(std::complex<float> x) {
        return std::isfinite(x.real()) && std::isfinite(x.imag()) ? x : std::complex<float>{};
    }

    size_t fill = 0;
};
