#include "dsp/iqbalancer/iq_balancer.h"

#include "dsp/dspMath.h"
#include "dsp/fft/fft.h"
#include "framework/immortal.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

constexpr int fftSize = 4096;
constexpr int half = fftSize / 2;
constexpr int workingSize = 3 * fftSize;
constexpr int edgeBins = 186;  // bins at each edge kept out of every sum
constexpr int lastBin = fftSize - edgeBins;
constexpr float termStep = 0.01f;

// Analysis window (4-term Blackman-Harris), shared by all correctors.
buff<float>& analysisWindow() {
    // Never destroyed: a receive block may be corrected while the process
    // exits (see exitGate.h).
    static auto& window = immortal<buff<float>>(fftSize);
    return window;
}
std::once_flag tablesOnce;

}  // namespace

const buff<float>& iq_balancer_window() { return analysisWindow(); }

// Weight that favours bins near the optimal point.
float __boost_window[fftSize];

namespace {

void buildTables() {
    const double a0 = 0.35875f, a1 = 0.48829f, a2 = 0.14128f, a3 = 0.01168f;
    const double twoPi = 6.28318530718;
    for (int i = 0; i < fftSize; ++i) {
        analysisWindow()[i] = static_cast<float>(a0 - a1 * std::cos(twoPi * i / 4095) +
                                               a2 * std::cos(2 * twoPi * i / 4095) -
                                               a3 * std::cos(3 * twoPi * i / 4095));
        const double x = 2.0 * i / 163.0;
        __boost_window[i] = static_cast<float>(1.0 / std::exp(x * x) + 1e-5);
    }
}

// x' = (1 + a)(re + p im), (1 - a)(im + p re) with constant terms.
inline void correct(std::complex<float>* x, int n, float p, float a) {
    for (int i = 0; i < n; ++i) {
        const float re = x[i].real(), im = x[i].imag();
        x[i] = {(1 + a) * (re + p * im), (1 - a) * (im + p * re)};
    }
}

inline std::complex<float> cmul(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Correlates every bin with its mirror over the segments of the working
// buffer, at the current terms plus `step` steps, into sums. Returns the
// number of segments with power. Step 0 also decides which segments count and
// gathers the powers; step 1 follows its decisions.
int correlationPass(iq_balancer_t* s, int step, buff<std::complex<float>> sums) {
    const float p = s->phase + termStep * step;
    const float a = s->amplitude + termStep * step;
    const int stride = s->overlap_divisor != 0 ? fftSize / s->overlap_divisor : 0;
    const bool boosted = s->optimal_bin != half;
    int valid = 0;
    for (int m = 0; m < s->segments_per_fill; ++m) {
        const int offset = m * stride;
        if (offset > workingSize - fftSize) break;
        buff<std::complex<float>> segment(s->working, offset, fftSize);
        segment.copyTo(s->scratch);
        if (step == 0) {
            float power = 0;
            for (int i = 0; i < fftSize; ++i) power += std::norm(s->scratch[i]);
            s->segment_flags[m] = power > 0.01f ? 1 : 0;
            if (s->segment_flags[m]) s->total_power += power;
        }
        if (!s->segment_flags[m]) continue;
        correct(s->scratch.data, fftSize, p, a);
        dspMath::mul(s->scratch, analysisWindow(), s->scratch);
        fft::fwd(s->scratch, s->spectrum);
        std::complex<float>* X = s->spectrum.data;
        std::swap_ranges(X, X + half, X + half);  // 0 Hz to bin 2048
        ++valid;
        // Both members of a mirror pair are visited, so each ends with the
        // same value carrying two products per segment.
        for (int k = edgeBins; k <= lastBin; ++k) {
            sums[k] += cmul(X[k], X[fftSize - k]);
            sums[fftSize - k] = sums[k];
        }
        if (step != 0) continue;
        for (int k = edgeBins; k <= lastBin; ++k) {
            const float q = std::norm(X[k]);
            s->bin_power[k] += q;
            s->image_power += boosted ? q * __boost_window[std::abs(fftSize - k - s->optimal_bin)] : q;
        }
    }
    return valid;
}

// Moves the terms to where the correlation, extrapolated along the trial
// step, crosses zero; clamped and averaged over the last four estimates.
void update(iq_balancer_t* s) {
    const bool boosted = s->optimal_bin != half;
    std::complex<float> A = 0, B = 0;
    for (int k = edgeBins; k <= lastBin; ++k) {
        const int d = std::abs(k - half);
        if (d < 3) continue;  // DC and its immediate neighbours carry no image information
        const float g = d < 187 ? static_cast<float>(d) * 0.005376344f : 1.0f;
        const float r = s->bin_power[fftSize - k] / (s->bin_power[k] + 0.01f);
        float weight = g * r;
        if (boosted) weight *= __boost_window[std::abs(k - s->optimal_bin)];
        A += weight * s->correlation_sums[k];
        B += weight * s->trial_sums[k];
    }
    const std::complex<float> D = A - B;
    const float muPhase = std::fabs(D.imag()) > 0.1f ? std::clamp(A.imag() / D.imag(), -50.0f, 50.0f) : 0.0f;
    const float muAmplitude = std::fabs(D.real()) > 0.1f ? std::clamp(A.real() / D.real(), -50.0f, 50.0f) : 0.0f;

    s->raw_count = std::min(s->raw_count + 1, 4);
    s->raw_phases[s->raw_index] = s->phase + termStep * muPhase;
    s->raw_amplitudes[s->raw_index] = s->amplitude + termStep * muAmplitude;
    float sumPhase = 0, sumAmplitude = 0;
    for (int i = 0; i < s->raw_count; ++i) {
        const int slot = (s->raw_index - i + 4) % 4;
        sumPhase += s->raw_phases[slot];
        sumAmplitude += s->raw_amplitudes[slot];
    }
    s->phase = sumPhase / static_cast<float>(s->raw_count);
    s->amplitude = sumAmplitude / static_cast<float>(s->raw_count);
    s->raw_index = (s->raw_index + 1) % 4;
}

// One full working buffer: skipped, used to run out a reset, or analysed.
void considerFill(iq_balancer_t* s) {
    if (s->skipped_fills < s->fills_to_skip) {
        ++s->skipped_fills;
        return;
    }
    s->skipped_fills = 0;
    if (s->reset_request) {
        s->integration_counter = -1;
        s->reset_request = 0;
        s->maximum_power = 0;
        return;
    }
    if (s->integration_counter < 0) {
        ++s->integration_counter;
        return;
    }
    if (s->integration_counter == 0) {
        s->total_power = s->image_power = 0;
        std::fill(s->bin_power.begin(), s->bin_power.end(), 0.0f);
        std::fill(s->correlation_sums.begin(), s->correlation_sums.end(), std::complex<float>(0));
        std::fill(s->trial_sums.begin(), s->trial_sums.end(), std::complex<float>(0));
    }
    s->maximum_power *= 0.98f;
    const int k = correlationPass(s, 0, s->correlation_sums);
    if (k == 0) return;
    s->integration_counter += k;
    correlationPass(s, 1, s->trial_sums);
    if (s->integration_counter <= s->segments_per_fill * s->correlation_integration) return;
    s->integration_counter = 0;
    // An update needs at least the signal the reference has decayed to, so a
    // fading signal does not steer the terms.
    if (s->optimal_bin == half) {
        if (s->total_power < s->maximum_power) return;
        s->maximum_power = s->total_power;
    } else {
        const float v = s->image_power - s->total_power * 0.008421053f;
        if (v < 0.5f * s->maximum_power) return;
        s->maximum_power = v;
    }
    update(s);
}

}  // namespace

iq_balancer_t* iq_balancer_create(float phase, float amplitude) {
    std::call_once(tablesOnce, buildTables);
    auto* s = new iq_balancer_t{};
    s->phase = phase;
    s->amplitude = amplitude;
    s->fills_to_skip = 1;
    s->segments_per_fill = 4;
    s->overlap_divisor = 2;
    s->correlation_integration = 16;
    s->optimal_bin = half;
    s->segment_flags.assign(4, 0);
    s->correlation_sums = buff<std::complex<float>>(fftSize, 0);
    s->trial_sums = buff<std::complex<float>>(fftSize, 0);
    s->working = buff<std::complex<float>>(workingSize, 0);
    s->bin_power = buff<float>(fftSize, 0);
    s->scratch = buff<std::complex<float>>(fftSize);
    s->spectrum = buff<std::complex<float>>(fftSize);
    return s;
}

void iq_balancer_destroy(iq_balancer_t* state) { delete state; }

void iq_balancer_configure(iq_balancer_t* s, int fillsToSkip, int segments, int overlapDivisor,
                           int correlationIntegration) {
    s->fills_to_skip = fillsToSkip;
    s->segments_per_fill = std::max(segments, 0);
    s->overlap_divisor = overlapDivisor;
    s->correlation_integration = correlationIntegration;
    s->segment_flags.assign(static_cast<size_t>(s->segments_per_fill), 0);
    s->reset_request = 1;
}

void iq_balancer_set_optimal_point(iq_balancer_t* s, float w) {
    if (std::isnan(w)) {
        // A NaN passes the clamp and would index the boost table anywhere.
        spdlog::error("iq_balancer_set_optimal_point: {} refused", w);
        return;
    }
    w = std::clamp(w, -0.5f, 0.5f);
    s->optimal_bin = static_cast<int>(std::floor((static_cast<double>(w) + 0.5) * fftSize));
    s->reset_request = 1;
}

void iq_balancer_process(iq_balancer_t* s, airspyhf_complex_float_t* samples, int count) {
    // The ramp divides by count - 1.
    if (count < 2) return;
    auto* x = reinterpret_cast<std::complex<float>*>(samples);

    // DC removal: a running mean with a time constant of 10000 samples.
    float mRe = s->dc_re, mIm = s->dc_im;
    for (int i = 0; i < count; ++i) {
        mRe += (x[i].real() - mRe) * 9.9999997e-5f;
        mIm += (x[i].imag() - mIm) * 9.9999997e-5f;
        x[i] = {x[i].real() - mRe, x[i].imag() - mIm};
    }
    // A sample that is not finite makes the running mean so; such a block
    // is corrected (and spoilt) alone: the mean keeps its value from before
    // and the block stays out of the analysis.
    const bool finite = std::isfinite(mRe) && std::isfinite(mIm);
    if (finite) {
        s->dc_re = mRe;
        s->dc_im = mIm;
        const int n = std::min(count, workingSize - s->working_position);
        std::copy(x, x + n, s->working.data + s->working_position);
        s->working_position += n;
        if (s->working_position >= workingSize) {
            s->working_position = 0;
            considerFill(s);
        }
    }

    // Terms ramp from the previous block's (first sample) to the current ones
    // (last sample).
    const float f = 1.0f / static_cast<float>(count - 1);
    for (int i = 0; i < count; ++i) {
        const float fi = static_cast<float>(i), fr = static_cast<float>(count - 1 - i);
        const float pi = f * (s->phase * fi + s->previous_phase * fr);
        const float ai = f * (s->amplitude * fi + s->previous_amplitude * fr);
        const float re = x[i].real(), im = x[i].imag();
        x[i] = {(1 + ai) * (re + pi * im), (1 - ai) * (im + pi * re)};
    }

    s->previous_phase = s->phase;
    s->previous_amplitude = s->amplitude;
    if (!(std::fabs(s->amplitude) <= 10.0f) || !std::isfinite(s->phase)) {
        // Diverged: start again from neutral terms and forget the estimates
        // that led here, or the next smoothing would bring them back.
        s->phase = s->previous_phase = 0;
        s->amplitude = s->previous_amplitude = 0;
        s->raw_count = 0;
        s->raw_index = 0;
        std::fputs("@\r\n", stdout);
        std::fflush(stdout);
    }
}

void iq_balancer_process_buff(iq_balancer_t* s, buff<std::complex<float>> block) {
    iq_balancer_process(s, reinterpret_cast<airspyhf_complex_float_t*>(block.data), static_cast<int>(block.count));
}
