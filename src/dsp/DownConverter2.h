#pragma once
// DownConverter2<T>: mixes a chosen frequency of a complex block to 0 Hz and
// lowers the rate by a power of two through a cascade of half-band stages.
//
// Stage 0 is the last stage (it writes the output), stage S-1 the first (it
// takes the mixer's output). Each stage keeps the last N samples of its even
// and odd input phases, so consecutive blocks form one continuous stream; a
// change of factor clears the histories but keeps the oscillator running.
//
// The half-band filters are symmetric with a centre tap of 0.5 and zeros at
// every even offset from it, so a stage only needs one coefficient per pair of
// odd-offset taps. Feeding each stage its input already split into the even
// and odd phases lets it read both as contiguous runs: the odd phase carries
// the centre tap alone, the even phase every other tap.
//
// One instance belongs to one task group; nothing here locks. The stage work
// buffers are kept by the instance and only grow, so a steady stream of
// blocks allocates nothing.
//
// A step or sample that is not finite spoils at most the block it comes in:
// a step that is not finite gives a silent block and leaves the state alone,
// the oscillator is renormalised (or restarted) at every chunk, and a stage
// history that caught such a sample is cleared at the end of the block.
//
// The mixer and stage bodies are DownConverterKernels: eight lanes where the
// CPU has AVX2 with FMA, four otherwise.
#include "dsp/buff.h"

#include "dsp/DownConverterKernels.h"
#include "dsp/HalfbandCoefficients.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace downconv_detail {

// Product written out so that it is neither a library call (the NaN/Inf
// recovery of the standard complex product) nor reassociated.
inline std::complex<float> cmul(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

inline std::complex<float> rotation(double angle) {
    return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
}

}  // namespace downconv_detail

template <class T>
class DownConverter2 {
public:
    using cplx = std::complex<T>;

    /// Mixes in by an oscillator turning +step radians per input sample and
    /// decimates by `decimation` (1 or a power of two; 8 and more that is not
    /// a power of two runs as the power below it). Writes and returns the
    /// number of outputs, in.count / decimation; out holds at least that many.
    /// Factors the cascade has no stages for (3, 5, 6, 7, or below 1) leave
    /// out alone and return 0. Never writes past out.count. Owner's task group.
    int tuneDecimate(double step, int decimation, buff<cplx> in, buff<cplx> out) {
        if (!std::isfinite(step)) return silence(decimation, in, out);
        if (decimation != factor) reset(decimation);
        if (decimation == 1) {
            tunev(step, in, out);
            if (out.count >= in.count) return static_cast<int>(in.count);
            return step == 0 ? 0 : static_cast<int>(out.count);  // short out: only what was written
        }
        if (decimation < 2 || (decimation < 8 && decimation != 2 && decimation != 4)) return 0;

        const size_t S = evenLines.size();
        size_t len = in.count / 2;
        size_t n = historyOf(S - 1);
        int pair = 0; // the work buffers of this stage: 0 and 1, or 2 and 3
        buff<cplx> E = work(0, n + len), O = work(1, n + len);
        tunev(step, in, E.data + n, O.data + n);

        for (size_t s = S; s-- > 0;) {
            n = historyOf(s);
            keepHistory(s, E, O, len);
            if (s == 0) {
                // The last stage writes what the caller asked for, but never
                // more than its input can feed.
                size_t want = std::min<size_t>(in.count / decimation, out.count);
                if (want > len) want = len;
                firLevel1v(E.data, O.data, buff<cplx>(out, 0, want));
                return static_cast<int>(want);
            }
            size_t pairs = len / 2;
            size_t nn = historyOf(s - 1);
            pair = 2 - pair;
            buff<cplx> nextE = work(pair, nn + pairs), nextO = work(pair + 1, nn + pairs);
            if (s == 1)
                firLevel2v(E.data, O.data, nextE.data + nn, nextO.data + nn, pairs);
            else
                firLevel3v(E.data, O.data, nextE.data + nn, nextO.data + nn, pairs);
            E = nextE;
            O = nextO;
            len = pairs;
        }
        return 0;
    }

    /// Rebuilds the stages for a factor with zeroed histories; the oscillator
    /// keeps its phase.
    void reset(int decimation) {
        evenLines.clear();
        oddLines.clear();
        auto addStage = [this](size_t n) {
            evenLines.emplace_back(n, cplx(0));
            oddLines.emplace_back(n, cplx(0));
        };
        if (decimation >= 2) addStage(19);
        if (decimation >= 3) addStage(9);
        if (decimation >= 8) {
            int v = decimation / 4;
            addStage(5);
            while (v > 3) {
                v /= 2;
                addStage(5);
            }
        }
        factor = decimation;
    }

    /// The mixer alone. With step exactly 0 the samples are copied unchanged
    /// and the oscillator neither applied nor advanced.
    void tunev(double step, buff<cplx> in, buff<cplx> out) {
        if (step == 0) {
            out.copy(in);
            return;
        }
        size_t n = in.count;
        if (n > out.count) n = out.count;
        const size_t body = n - n % 4;
        restartIfLost();
        mixBody(step, body, [&](size_t start, size_t c, const cplx* p, cplx r4) {
            downConverterKernels().mix(in.data + start, c, p, r4, out.data + start);
        });
        const cplx r1 = downconv_detail::rotation(step);
        for (size_t i = body; i < n; ++i) {
            out.data[i] = downconv_detail::cmul(in.data[i], osc);
            osc = downconv_detail::cmul(osc, r1);
        }
    }

    /// The mixer with its output split into the even and odd input phases of
    /// the first stage; a last unpaired sample is dropped.
    void tunev(double step, buff<cplx> in, cplx* even, cplx* odd) {
        const size_t n = in.count;
        const size_t body = n - n % 4;
        restartIfLost();
        mixBody(step, body, [&](size_t start, size_t c, const cplx* p, cplx r4) {
            downConverterKernels().mixSplit(in.data + start, c, p, r4, even + start / 2, odd + start / 2);
        });
        const cplx r1 = downconv_detail::rotation(step);
        for (size_t i = body; i + 1 < n; i += 2) {
            even[i >> 1] = downconv_detail::cmul(in.data[i], osc);
            osc = downconv_detail::cmul(osc, r1);
            odd[i >> 1] = downconv_detail::cmul(in.data[i + 1], osc);
            osc = downconv_detail::cmul(osc, r1);
        }
    }

    /// Last stage (39 taps): out.count outputs from the phases, each holding
    /// 19 history places followed by at least out.count new samples.
    void firLevel1v(cplx* even, cplx* odd, buff<cplx> out) {
        downConverterKernels().lastStage(even, odd, out.data, out.count);
    }

    /// Second stage from the end (19 taps): 2 x pairs outputs into the next
    /// stage's phases.
    void firLevel2v(cplx* even, cplx* odd, cplx* nextEven, cplx* nextOdd, unsigned long pairs) {
        downConverterKernels().secondStage(even, odd, nextEven, nextOdd, pairs);
    }

    /// Earlier stages (11 taps): 2 x pairs outputs into the next stage's phases.
    void firLevel3v(cplx* even, cplx* odd, cplx* nextEven, cplx* nextOdd, unsigned long pairs) {
        downConverterKernels().earlyStage(even, odd, nextEven, nextOdd, pairs);
    }

    int factor = -1;
    std::complex<float> osc{1.0f, 0.0f};
    std::vector<buff<cplx>> evenLines;
    std::vector<buff<cplx>> oddLines;

private:
    size_t historyOf(size_t stage) const { return evenLines[stage].count; }

    // n samples of work buffer i, grown (never shrunk) when too short.
    buff<cplx> work(int i, size_t n) {
        if (workBuffers[i].count < n) workBuffers[i] = buff<cplx>(n);
        return buff<cplx>(workBuffers[i], 0, n);
    }

    // The block's outputs are zeros; nothing else changes.
    int silence(int decimation, const buff<cplx>& in, buff<cplx> out) {
        if (decimation < 1) return 0;
        const size_t want = std::min<size_t>(in.count / decimation, out.count);
        for (size_t i = 0; i < want; ++i) out.data[i] = cplx(0);
        return static_cast<int>(want);
    }

    // Puts the stage's history in front of the new samples, then keeps the
    // last N samples of this block as the history of the next one; a kept
    // sample that is not finite clears the history, so that the next block
    // starts clean.
    void keepHistory(size_t s, buff<cplx> E, buff<cplx> O, size_t len) {
        const size_t n = historyOf(s);
        E.copy(evenLines[s]);
        O.copy(oddLines[s]);
        evenLines[s].copy(buff<cplx>(E, len, n));
        oddLines[s].copy(buff<cplx>(O, len, n));
        bool finite = true;
        for (size_t i = 0; i < n; ++i)
            finite = finite && std::isfinite(evenLines[s][i].real() + evenLines[s][i].imag() + oddLines[s][i].real() +
                                             oddLines[s][i].imag());
        if (!finite)
            for (size_t i = 0; i < n; ++i) evenLines[s][i] = oddLines[s][i] = cplx(0);
    }

    // An oscillator that is not a number, or has no magnitude left, starts
    // again at phase 0 rather than stay NaN or silent for good.
    void restartIfLost() {
        const float m = std::hypot(osc.real(), osc.imag());
        if (!(m > 0.0f) || !std::isfinite(m)) osc = cplx(1.0f, 0.0f);
    }

    buff<cplx> workBuffers[4];

    // Mixes the first `body` samples (a multiple of 4) in chunks of up to 1024,
    // each run by run(start, count, phasors, r4) on the kernels: four phasors
    // one sample apart, stepping by r4 per group of four. At each chunk the
    // oscillator is renormalised and re-anchored by a double-precision
    // rotation, so single precision never accumulates more than 256 rotations.
    template <class Run>
    void mixBody(double step, size_t body, Run&& run) {
        using downconv_detail::cmul;
        const cplx r1 = downconv_detail::rotation(step);
        const float s = static_cast<float>(step);
        const cplx r4{std::cos(4 * s), std::sin(4 * s)};
        for (size_t start = 0; start < body; start += 1024) {
            const size_t c = std::min<size_t>(1024, body - start);
            restartIfLost();
            osc /= std::hypot(osc.real(), osc.imag());
            cplx p[4];
            p[0] = osc;
            for (int k = 1; k < 4; ++k) p[k] = cmul(p[k - 1], r1);
            run(start, c, p, r4);
            osc = cmul(osc, downconv_detail::rotation(static_cast<double>(c) * step));
        }
    }
};
