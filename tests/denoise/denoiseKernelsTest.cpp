// Every body of the noise suppressor's kernels (the four-lane baseline and,
// where the CPU has it, the eight-lane AVX2 one, whichever the process
// chose): sums against double precision and activations against the scalar
// approximations, on sizes that leave every remainder of the lanes and on
// inputs allocated to their exact length, so that a wide load past the end
// shows under the address sanitizer.
#include "dsp/denoise/activation.h"
#include "dsp/denoise/denoiseKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace denoise;

namespace {

std::vector<std::pair<std::string, const DenoiseKernels*>> bodies() {
    std::vector<std::pair<std::string, const DenoiseKernels*>> b{{"baseline", &denoiseKernelsBaseline}};
#if VIREO_AVX2_KERNELS
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) b.emplace_back("avx2", &denoiseKernelsAvx2);
#endif
    return b;
}

std::vector<float> randomFloats(size_t n, std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-2.f, 2.f);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
}

// A float sum of count terms lies within count rounding steps of the exact
// sum of their magnitudes.
void expectSum(float got, double exact, double magnitude, int count, const std::string& what) {
    EXPECT_NEAR(got, exact, (count + 1) * FLT_EPSILON * magnitude + 1e-30) << what;
}

} // namespace

TEST(DenoiseKernels, EveryBodyMatchesThePlainComputationOnEverySize) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> weight(-128, 127);
    for (const auto& [name, k] : bodies()) {
        // Layers of 1 to 40 neurons (every remainder of 4 and 8 lanes, and
        // several blocks of four batches), dense and GRU strides.
        for (int n = 1; n <= 40; ++n) {
            for (int m : {1, 5, 42}) {
                for (int stride : {n, 3 * n}) {
                    std::vector<rnn_weight> w((m - 1) * stride + n);
                    for (auto& v : w) v = static_cast<rnn_weight>(weight(rng));
                    const std::vector<float> x = randomFloats(m, rng);
                    const std::vector<float> start = randomFloats(n, rng);
                    std::vector<float> sums = start;
                    k->accumulate(sums.data(), w.data(), stride, x.data(), m, n);
                    for (int i = 0; i < n; ++i) {
                        double exact = start[i], magnitude = std::fabs(start[i]);
                        for (int j = 0; j < m; ++j) {
                            exact += double(w[j * stride + i]) * x[j];
                            magnitude += std::fabs(double(w[j * stride + i]) * x[j]);
                        }
                        expectSum(sums[i], exact, magnitude, m,
                                  name + " accumulate n=" + std::to_string(n) + " m=" + std::to_string(m) +
                                      " stride=" + std::to_string(stride) + " neuron " + std::to_string(i));
                    }
                }
            }
        }
        // Correlations over up to 40 lags and the coarse pitch search's
        // 147, with y exactly as long as the lags need and longer, so that the
        // widest blocks run past the last lag.
        for (int len : {1, 7, 64, 256}) {
            for (int lags = 1; lags <= 41; lags += (lags < 20 ? 1 : 7)) {
                for (int slack : {0, 3, 9, 40}) {
                    const int useLags = lags == 41 ? 147 : lags;
                    const std::vector<float> x = randomFloats(len, rng);
                    const std::vector<float> y = randomFloats(len + useLags - 1 + slack, rng);
                    std::vector<float> out(useLags);
                    k->xcorr(x.data(), y.data(), int(y.size()), len, out.data(), useLags);
                    for (int lag = 0; lag < useLags; ++lag) {
                        double exact = 0, magnitude = 0;
                        for (int i = 0; i < len; ++i) {
                            exact += double(x[i]) * y[i + lag];
                            magnitude += std::fabs(double(x[i]) * y[i + lag]);
                        }
                        expectSum(out[lag], exact, magnitude, len,
                                  name + " xcorr len=" + std::to_string(len) + " lags=" + std::to_string(useLags) +
                                      " slack=" + std::to_string(slack) + " lag " + std::to_string(lag));
                    }
                }
            }
        }
        for (int n = 0; n <= 70; ++n) {
            const std::vector<float> x = randomFloats(n, rng), y = randomFloats(n, rng);
            double exact = 0, magnitude = 0;
            for (int i = 0; i < n; ++i) {
                exact += double(x[i]) * y[i];
                magnitude += std::fabs(double(x[i]) * y[i]);
            }
            expectSum(k->inner(x.data(), y.data(), n), exact, magnitude, n, name + " inner n=" + std::to_string(n));
        }
        // Activations on scaled sums across the table's range, its ends, the
        // saturation at +-8 and values that are not finite.
        std::vector<float> special = {0.f, -0.f, 7.99f * 256, 8.f * 256, -8.f * 256, -7.99f * 256, 1e30f, -1e30f,
                                      INFINITY, -INFINITY, NAN, 0.02f * 256, -0.02f * 256};
        std::uniform_real_distribution<float> wide(-12.f * 256, 12.f * 256);
        for (int n = 1; n <= 19; ++n) {
            for (int activation : {ACTIVATION_TANH, ACTIVATION_SIGMOID, ACTIVATION_RELU, 7}) {
                std::vector<float> v(n);
                for (int i = 0; i < n; ++i) v[i] = i < int(special.size()) && n == 19 ? special[i] : wide(rng);
                std::vector<float> got = v;
                k->activate(got.data(), n, 1.f / 256, activation);
                for (int i = 0; i < n; ++i) {
                    const float want = activate(activation, v[i] / 256);
                    const std::string what = name + " activation " + std::to_string(activation) + " of " +
                                             std::to_string(v[i] / 256) + " n=" + std::to_string(n);
                    if (std::isnan(want))
                        EXPECT_TRUE(std::isnan(got[i])) << what;
                    else if (std::isinf(want))
                        EXPECT_EQ(got[i], want) << what;
                    else
                        EXPECT_NEAR(got[i], want, 4 * FLT_EPSILON * std::max(1.f, std::fabs(want))) << what;
                }
            }
        }
    }
}
