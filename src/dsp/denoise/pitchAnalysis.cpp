#include "dsp/denoise/pitchAnalysis.h"

#include "dsp/denoise/denoiseKernels.h"
#include "dsp/denoise/denoiseSizes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace denoise {
namespace {

constexpr int kMaxHalfPeriod = kPitchMaxPeriod / 2;

float inner_prod(const float* x, const float* y, int n) { return denoiseKernels().inner(x, y, n); }

// ac[k] = sum x[i] x[i + k], k = 0 .. lag, each in order of i. The lanes
// take the lags side by side over all but the last samples (the margin keeps
// their reads within x); each lag then finishes its own sum.
void autocorr(const float* x, float* ac, int lag, int n) {
    constexpr int kMargin = 8;
    const int body = std::max(0, n - kMargin - lag);
    denoiseKernels().xcorr(x, x, n, body, ac, lag + 1);
    for (int k = 0; k <= lag; ++k)
        for (int i = body; i < n - k; ++i) ac[k] += x[i] * x[i + k];
}

// Levinson-Durbin recursion for an order-p predictor.
void lpc_from_autocorr(float* lpc, const float* ac, int p) {
    for (int i = 0; i < p; ++i) lpc[i] = 0.f;
    if (ac[0] == 0.f) return;
    float error = ac[0];
    for (int i = 0; i < p; ++i) {
        float rr = 0.f;
        for (int j = 0; j < i; ++j) rr += lpc[j] * ac[i - j];
        rr += ac[i + 1];
        const float r = -rr / error;
        lpc[i] = r;
        for (int j = 0; j < (i + 1) >> 1; ++j) {
            const float tmp1 = lpc[j];
            const float tmp2 = lpc[i - 1 - j];
            lpc[j] = tmp1 + r * tmp2;
            lpc[i - 1 - j] = tmp2 + r * tmp1;
        }
        error -= r * r * error;
        // Stop once the prediction gain passes 30 dB.
        if (error < 0.001f * ac[0]) break;
    }
}

// y[i] = x[i] + sum_k num[k] x[i - 1 - k], in place, memory starting at zero.
void fir5(float* x, const float* num, int n) {
    float mem[5] = {};
    for (int i = 0; i < n; ++i) {
        const float xi = x[i];
        float sum = xi;
        for (int k = 0; k < 5; ++k) sum += num[k] * mem[k];
        for (int k = 4; k > 0; --k) mem[k] = mem[k - 1];
        mem[0] = xi;
        x[i] = sum;
    }
}

// The two lags with the largest xcorr^2 / energy of y under the window; only
// positive correlations count. Compared in double: squared correlations of
// signals on the 16-bit scale come close to the float range.
void find_best_pitch(const float* xcorr, const float* y, int len, int max_pitch, int* best_pitch) {
    double syy = 1.0;
    for (int j = 0; j < len; ++j) syy += static_cast<double>(y[j]) * y[j];
    double best_num[2] = {-1.0, -1.0};
    double best_den[2] = {0.0, 0.0};
    best_pitch[0] = 0;
    best_pitch[1] = 1;
    for (int i = 0; i < max_pitch; ++i) {
        if (xcorr[i] > 0.f) {
            const double num = static_cast<double>(xcorr[i]) * xcorr[i];
            if (num * best_den[1] > best_num[1] * syy) {
                if (num * best_den[0] > best_num[0] * syy) {
                    best_num[1] = best_num[0];
                    best_den[1] = best_den[0];
                    best_pitch[1] = best_pitch[0];
                    best_num[0] = num;
                    best_den[0] = syy;
                    best_pitch[0] = i;
                } else {
                    best_num[1] = num;
                    best_den[1] = syy;
                    best_pitch[1] = i;
                }
            }
        }
        syy += static_cast<double>(y[i + len]) * y[i + len] - static_cast<double>(y[i]) * y[i];
        syy = std::max(1.0, syy);
    }
}

// -1, 0 or +1: where the peak of a parabola through (a, b, c) lies, with a
// margin so that near-symmetric peaks stay put.
int interpolation_offset(float a, float b, float c) {
    if ((c - a) > 0.7f * (b - a)) return 1;
    if ((a - c) > 0.7f * (b - c)) return -1;
    return 0;
}

float compute_pitch_gain(float xy, float xx, float yy) { return xy / std::sqrt(1.f + xx * yy); }

} // namespace

void pitch_downsample(const float* x, float* x_lp, int len) {
    const int half = len >> 1;
    for (int i = 1; i < half; ++i) x_lp[i] = 0.5f * (0.5f * (x[2 * i - 1] + x[2 * i + 1]) + x[2 * i]);
    x_lp[0] = 0.5f * (0.5f * x[1] + x[0]);

    float ac[5];
    autocorr(x_lp, ac, 4, half);
    // A -40 dB noise floor and a lag window keep the predictor well
    // conditioned on pure tones.
    ac[0] *= 1.0001f;
    for (int i = 1; i <= 4; ++i) ac[i] -= ac[i] * (0.008f * i) * (0.008f * i);

    float lpc[4];
    lpc_from_autocorr(lpc, ac, 4);
    float tmp = 1.f;
    for (int i = 0; i < 4; ++i) {
        tmp *= 0.9f;
        lpc[i] *= tmp;
    }
    constexpr float c1 = 0.8f;
    const float lpc2[5] = {lpc[0] + c1, lpc[1] + c1 * lpc[0], lpc[2] + c1 * lpc[1], lpc[3] + c1 * lpc[2],
                           c1 * lpc[3]};
    fir5(x_lp, lpc2, half);
}

int pitch_search(const float* x_lp, const float* y, int len, int max_pitch) {
    const int lag = len + max_pitch;
    float x_lp4[kPitchFrameSize >> 2];
    float y_lp4[(kPitchFrameSize + kPitchMaxPeriod) >> 2];
    float xcorr[kPitchMaxPeriod >> 1] = {};
    int best_pitch[2] = {0, 0};

    // Coarse search at a quarter of the rate.
    for (int j = 0; j < len >> 2; ++j) x_lp4[j] = x_lp[2 * j];
    for (int j = 0; j < lag >> 2; ++j) y_lp4[j] = y[2 * j];
    denoiseKernels().xcorr(x_lp4, y_lp4, lag >> 2, len >> 2, xcorr, max_pitch >> 2);
    find_best_pitch(xcorr, y_lp4, len >> 2, max_pitch >> 2, best_pitch);

    // Fine search at half rate, only around the two coarse candidates.
    for (int i = 0; i < max_pitch >> 1; ++i) {
        xcorr[i] = 0.f;
        if (std::abs(i - 2 * best_pitch[0]) > 2 && std::abs(i - 2 * best_pitch[1]) > 2) continue;
        xcorr[i] = std::max(-1.f, inner_prod(x_lp, y + i, len >> 1));
    }
    find_best_pitch(xcorr, y, len >> 1, max_pitch >> 1, best_pitch);

    int offset = 0;
    if (best_pitch[0] > 0 && best_pitch[0] < (max_pitch >> 1) - 1) {
        offset = interpolation_offset(xcorr[best_pitch[0] - 1], xcorr[best_pitch[0]], xcorr[best_pitch[0] + 1]);
    }
    return 2 * best_pitch[0] - offset;
}

float remove_doubling(const float* x, int maxperiod, int minperiod, int N, int* T0_, int prev_period,
                      float prev_gain) {
    // Second lag checked for each divisor k: a multiple of T0 / k that is
    // not T0 itself, to confirm the shorter period.
    static constexpr int second_check[16] = {0, 0, 3, 2, 3, 2, 5, 2, 3, 2, 3, 2, 5, 2, 3, 2};
    const int minperiod0 = minperiod;
    maxperiod /= 2;
    minperiod /= 2;
    *T0_ /= 2;
    prev_period /= 2;
    N /= 2;
    x += maxperiod;
    if (*T0_ >= maxperiod) *T0_ = maxperiod - 1;

    int T = *T0_;
    const int T0 = *T0_;
    float yy_lookup[kMaxHalfPeriod + 1];
    const float xx = inner_prod(x, x, N);
    float xy = inner_prod(x, x - T0, N);
    // Energy of the frame delayed by every lag, as a running sum.
    yy_lookup[0] = xx;
    float yy = xx;
    for (int i = 1; i <= maxperiod; ++i) {
        yy = yy + x[-i] * x[-i] - x[N - i] * x[N - i];
        yy_lookup[i] = std::max(0.f, yy);
    }
    yy = yy_lookup[T0];
    float best_xy = xy;
    float best_yy = yy;
    const float g0 = compute_pitch_gain(xy, xx, yy);
    float g = g0;

    for (int k = 2; k <= 15; ++k) {
        const int T1 = (2 * T0 + k) / (2 * k);
        if (T1 < minperiod) break;
        int T1b;
        if (k == 2) {
            T1b = (T1 + T0 > maxperiod) ? T0 : T0 + T1;
        } else {
            T1b = (2 * second_check[k] * T0 + k) / (2 * k);
        }
        xy = 0.5f * (inner_prod(x, x - T1, N) + inner_prod(x, x - T1b, N));
        yy = 0.5f * (yy_lookup[T1] + yy_lookup[T1b]);
        const float g1 = compute_pitch_gain(xy, xx, yy);
        float cont;
        if (std::abs(T1 - prev_period) <= 1) {
            cont = prev_gain;
        } else if (std::abs(T1 - prev_period) <= 2 && 5 * k * k < T0) {
            cont = 0.5f * prev_gain;
        } else {
            cont = 0.f;
        }
        // Very short periods need more evidence: short-term correlation of
        // the formants alone can look like a high pitch.
        float thresh = std::max(0.3f, 0.7f * g0 - cont);
        if (T1 < 3 * minperiod) thresh = std::max(0.4f, 0.85f * g0 - cont);
        if (g1 > thresh) {
            best_xy = xy;
            best_yy = yy;
            T = T1;
            g = g1;
        }
    }

    best_xy = std::max(0.f, best_xy);
    float pg = (best_yy <= best_xy) ? 1.f : best_xy / (best_yy + 1.f);
    float xcorr[3];
    for (int k = 0; k < 3; ++k) xcorr[k] = inner_prod(x, x - (T + k - 1), N);
    const int offset = interpolation_offset(xcorr[0], xcorr[1], xcorr[2]);
    if (pg > g) pg = g;
    *T0_ = 2 * T + offset;
    if (*T0_ < minperiod0) *T0_ = minperiod0;
    return pg;
}

} // namespace denoise
