// The spectrum of a transceiver: processed receive blocks become lines of
// 2048 log10 power values for the host's panorama and waterfall.
//
// Samples collect in a frame of 2048 (specBuffer, specFill). Zooming in mixes
// the line's centre to 0 Hz and decimates by the zoom; zooming out places the
// whole block in the middle of a wider line, taking every B-th transform bin,
// and fills what lies outside the received band from the radio's wide-band
// ADC spectrum when it has one. Overlapping transforms slide the frame by
// 2048 / K samples instead of starting it again, never to more than
// maxLinesPerSecond lines; in the background the work is paced down to about
// one frame every 500 ms; at high decimated rates
// several spectra are summed in linear power before one logarithm. Lines go
// to the host on the render queue.
//
// Everything here runs on the transceiver's task group, inside the receive
// chain's data task.
#include "core/vtrx.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "framework/hostArrays.h"
#include "framework/immortal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int N = 2048;           // points per transform and values per line
constexpr double pi = 3.1415927;  // as the receive chain takes it
// Line bins with nothing to show: -20 after the logarithm, well below any
// received power (an empty band reads about -37).
constexpr float floorPower = 1e-20f;
// Decimated rates from here on sum several spectra per line.
constexpr int averageFromRate = 491520;
// A host shows a few hundred lines a second. Overlap beyond this only costs
// the receive chain the time it needs for the audio: at 1.536 MS/s the
// fastest waterfall would take 768000 transforms a second.
constexpr int maxLinesPerSecond = 400;

buff<float> blackmanHarris7() {
    constexpr double a[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                             0.01081174209837, 0.00077658482522, 0.00001388721735};
    buff<float> w(N);
    float sum = 0.0f;
    for (int n = 0; n < N; ++n) {
        // Half-sample points keep the table exactly symmetric about N / 2.
        double t = 2.0 * std::numbers::pi * (n + 0.5) / N;
        double v = a[0] - a[1] * std::cos(t) + a[2] * std::cos(2 * t) - a[3] * std::cos(3 * t) +
                   a[4] * std::cos(4 * t) - a[5] * std::cos(5 * t) + a[6] * std::cos(6 * t);
        w[n] = float(v);
        sum += w[n];
    }
    // A mean of 1 keeps the power of a frame's samples across the window.
    float scale = float(N) / sum;
    for (float& v : w) v *= scale;
    return w;
}

/// Largest zoom the block rate allows, so that a zoomed frame never falls
/// below about 750 samples per second (48000 / 64).
double zoomLimit(int rate) {
    long long m;
    if (rate == 10000000 || rate == 8000000)
        m = 131072;
    else if (rate == 2000000)
        m = 32768;
    else if (rate >= 48000)
        m = (rate / 48000) * 512LL;
    else // the whole-multiple form gives 0 here; scale with the rate, never under a zoom of 1
        m = std::max(8LL, rate * 512LL / 48000);
    return m * 0.125;
}

/// A line position truncated toward zero; positions far outside the line are
/// pinned at ±4 lines so that the conversion stays defined.
int binIndex(double x) {
    return int(std::clamp(x, -2.0 * N, 2.0 * N));
}

} // namespace

// Never destroyed: a transceiver's turn may still read them while the exit
// waits for the workers (see exitGate.h).
const buff<float>& vtrx::bsSpecWindow = immortal<const buff<float>>(blackmanHarris7());
const buff<vtrx::cplx>& vtrx::specWindow = immortal<const buff<vtrx::cplx>>(dspMath::DupToComplex(vtrx::bsSpecWindow));

/// What one call works with: the zoom as it applies to this block rate, and
/// the counts derived from it.
struct vtrx::SpectrumPlan {
    long long frequency;
    int rate;
    double zoom;
    int izoom; // decimation of the zoomed frame, a power of two; 1 at zoom 1 or less
    int B;     // transform bins per line bin when zoomed out; 1 otherwise
    int K;     // transforms per 2048 new samples
    int D;     // rate of the frame's samples
    int A;     // spectra per line
};

vtrx::SpectrumPlan vtrx::planSpectrum(long long frequency, int rate) const {
    SpectrumPlan p{};
    p.frequency = frequency;
    p.rate = rate;
    // At least one line bin for the received band.
    p.zoom = std::max(std::min(specZoomInUse, zoomLimit(rate)), 1.0 / N);
    p.izoom = 1;
    p.B = 1;
    if (p.zoom < 1.0) {
        // Whole bin steps only, so that the band's bins land where its
        // frequencies are: the span widens to exactly B times the band.
        p.B = int(1.0 / p.zoom);
        p.zoom = 1.0 / p.B;
    } else {
        // The half-band cascade decimates by powers of two only.
        p.izoom = int(std::bit_floor(unsigned(p.zoom)));
    }
    p.D = rate / p.izoom;
    p.A = p.D >= averageFromRate ? p.D / 245760 : 1;

    // Up to 1024 transforms per 2048 samples: the frame slides by at least 2.
    int g = 1 << std::clamp(waterfallSpeed.get(), 0, 10);
    bool fg = foregroundDisplay.get();
    if (p.zoom > 1.0)
        p.K = fg ? std::min(1024, int(std::max(p.zoom * 0.5 * g, 1.0))) : 1;
    else
        p.K = (fg && g >= 2) ? g : 1;
    // The frame slides by N / K samples per transform and A transforms make
    // a line: no slide shorter than the one that gives maxLinesPerSecond.
    // Without overlap every sample is still used once.
    const long long perLine = (long long)p.A * maxLinesPerSecond;
    const long long minSlide = std::max((p.D + perLine - 1) / perLine, 1LL);
    p.K = std::max(1, std::min(p.K, int(N / minSlide)));
    return p;
}

void vtrx::specZoomChanged() {
    double z = specZoom.get();
    if (!(z > 0.0)) return; // 0, negative or NaN: no span to show
    specZoomInUse = z;
    specFill = 0;
    specAverageCount = 0; // a partial average belongs to the old span
}

void vtrx::processRxSpectrumChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand,
                                  double wideBandValue) {
    if (rate <= 0) return; // nothing can be paced or placed
    if (!foregroundDisplay.get()) {
        specMillis += int(static_cast<long long>(block.count) * 1000 / rate);
        // Leave room for the 2048 samples of the frame itself.
        if (specMillis < 500.0 - 2048000.0 / rate) return;
    }
    SpectrumPlan p = planSpectrum(frequency, rate);
    size_t pos = 0;
    while (pos < block.count) {
        if (!fillSpectrumFrame(p, block, pos)) return;
        if (specFill >= N) completeSpectrumFrame(p, wideBand, wideBandValue);
    }
}

/// Moves as much of the block from pos as fits into the frame; false when
/// nothing fitted (the rest of the block is dropped and the frame restarts).
bool vtrx::fillSpectrumFrame(const SpectrumPlan& p, buff<cplx> block, size_t& pos) {
    size_t left = block.count - pos;
    size_t room = size_t(N - specFill);
    size_t m, consumed;
    if (p.zoom > 1.0) {
        // Mix the line's centre to 0 Hz and decimate into the frame.
        m = std::min(left, room * p.izoom) / p.izoom;
        consumed = m * p.izoom;
        if (m > 0) {
            buff<cplx> dst(specBuffer, specFill, m);
            double step = 2.0 * pi * double(p.frequency - specCentre) / p.rate;
            specDownConverter.tuneDecimate(step, p.izoom, buff<cplx>(block, pos, consumed), dst);
            if (p.K == 1) dspMath::scalarMul(dst, buff<cplx>(specWindow, specFill, m), dst);
        }
    } else {
        m = std::min(room, left);
        consumed = m;
        buff<cplx> src(block, pos, m), dst(specBuffer, specFill, m);
        // Without overlap each sample is windowed once, on the way in.
        if (p.K == 1)
            dspMath::scalarMul(src, buff<cplx>(specWindow, specFill, m), dst);
        else
            src.copyTo(dst);
    }
    if (consumed == 0) {
        std::printf("%g  %zu %zu ############\n", p.zoom, room, m);
        std::fflush(stdout);
        specFill = 0;
        return false;
    }
    specFill += int(m);
    pos += consumed;
    return true;
}

void vtrx::completeSpectrumFrame(const SpectrumPlan& p, const buff<float>& wideBand, double wideBandValue) {
    specMillis = 0;
    buff<cplx> frame = specBuffer;
    if (p.K > 1) frame = dspMath::scalarMul(specBuffer, specWindow, specWindowed);
    fft::fwd(frame, specTransform);

    // Span of the line and where the received band lies in it. Zoomed in, the
    // band is drawn around the line's centre unless that centre is outside
    // the block; zoomed out, the block sits at its own frequency.
    long long R = p.zoom > 1.0 ? p.rate / p.izoom : p.rate;
    double d = p.zoom > 1.0 ? 1.0 : p.zoom;
    long long c = p.frequency;
    if (p.zoom > 1.0 && std::abs(2.0 * pi * double(p.frequency - specCentre) / p.rate) < 3.14) c = specCentre;
    long long h = R / 2;
    double lo = double(specCentre) - double(h) / d;
    double hi = double(specCentre) + double(h) / d;
    double W = (hi - lo) / N;
    int first = binIndex((double(c - h) - lo) / W);
    int last = binIndex((double(c + h) - lo) / W);

    std::fill(specLine.begin(), specLine.end(), floorPower);

    // Outside the band: the radio's wide-band ADC spectrum, when it has one.
    if (p.zoom < 1.0 && wideBand.count == size_t(N) && wideBandValue > 0.0) {
        buff<float> windowed = dspMath::mul(wideBand, bsSpecWindow, specWideWindowed);
        buff<cplx> V = fft::fwd(windowed, specWideTransform);
        const double H = double(N / 2);
        const float q = float(10.0 / (H * H));
        auto fromWideBand = [&](int i) {
            double x = (lo + i * W) * H / wideBandValue;
            if (x >= H) return;
            size_t k = x > 0.0 ? size_t(x) : 0;
            specLine[i] = q * std::norm(V[k]) + 1e-37f;
        };
        if (first >= 1)
            for (int i = 0; i <= std::min(first - 1, N - 1); ++i) fromWideBand(i);
        if (last < N - 1)
            for (int i = std::max(last + 1, 0); i < N; ++i) fromWideBand(i);
    }

    // The band itself, transform bins from the most negative frequency up.
    if (last >= 1 && first < N) {
        buff<float> P = dspMath::spectrum(specTransform, float(10.0 / (double(N) * N)), specPower);
        size_t j = size_t(p.B) * size_t(std::max(-first, 0));
        const int end = std::min(last, N - 1) + 1;
        const size_t half = size_t(N / 2);
        if (p.B == 1) {
            // One bin per point: the line is at most two runs of the transform
            // (its upper half first), copied as runs rather than bin by bin.
            for (int i = std::max(first, 0); i < end && j <= size_t(N);) {
                const size_t left = j < half ? half - j : size_t(N) + 1 - j;
                const size_t run = std::min(left, size_t(end - i));
                std::copy_n(P.data + (j < half ? j + half : j - half), run, specLine.data + i);
                i += int(run);
                j += run;
            }
        } else {
            for (int i = std::max(first, 0); i < end && j <= size_t(N); ++i, j += p.B)
                specLine[i] = j < half ? P[j + half] : P[j - half];
        }
    }

    // A count already at the line's A was gathered for a higher A (another
    // rate): start the average again rather than mix it in.
    if (specAverageCount >= p.A) specAverageCount = 0;
    int t = specAverageCount++;
    bool averaging = p.D >= averageFromRate;
    if (averaging && t < p.A) {
        if (t == 0)
            specSum.copy(specLine);
        else
            dspMath::add(specSum, specLine, specSum);
    }
    if (specAverageCount >= p.A) {
        buff<float> line = specLog;
        if (averaging)
            dspMath::Log10(dspMath::mul(specSum, 1.0f / specAverageCount, line), line);
        else
            dspMath::Log10(specLine, line);
        specAverageCount = 0;
        sendSpectrumLine(line, p.rate, lo, hi);
    }

    // A new centre shows from the next frame on, so one line has one centre.
    specCentre = specFreq.get();
    if (p.K == 1) {
        specFill = 0;
    } else {
        int s = N / p.K;
        std::copy(specBuffer.begin() + s, specBuffer.end(), specBuffer.begin());
        specFill = N - s;
    }
}

void vtrx::sendSpectrumLine(const buff<float>& computed, int rate, double lo, double hi) {
    if (!newSpectrum_.load()) return;
    // The host gets a copy of its own (the work buffer is written again with
    // the next line). The handle is made only when the task runs on the
    // host's thread: a task the render queue refuses, or finds unbound, takes
    // the line with it.
    buff<float> line(computed.count);
    line.copy(computed);
    SendRenderEvent([this, line, rate, lo, hi] {
        if (auto cb = newSpectrum_.load()) cb(vireo::api::arrayHandle(line), rate, lo, hi);
    });
}
