// fft_Fwd, fft_Rev and fft_FwdR called through the C interface, with good
// arrays and with the handles a careless host could pass.
#include "vireocore.h"

#include "dsp/buff.h"
#include "dsp/fft/fft.h"

#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <complex>
#include <memory>

namespace {

using cf = std::complex<float>;
using complexArray = buff<cf>;
using floatArray = buff<float>;

class fftExports : public ::testing::Test {
protected:
    // Exactly one new log line since the last check, and it is this one.
    void expectRefused(const std::string& line) {
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), seen + 1) << line;
        EXPECT_EQ(lines.back(), line);
        seen = lines.size();
    }
    void expectNothingLogged() { EXPECT_EQ(log.lines().size(), seen); }

    LogCapture log;
    size_t seen = 0;
};

std::unique_ptr<complexArray> ramp(size_t n) {
    auto a = std::make_unique<complexArray>(n);
    for (size_t i = 0; i < n; ++i) (*a)[i] = cf(float(i % 7), float(i % 3));
    return a;
}

void expectUntouched(const complexArray& a, cf value) {
    for (auto v : a) ASSERT_EQ(v, value);
}

TEST_F(fftExports, transformsGoodArrays) {
    auto in = ramp(2048);
    auto out = std::make_unique<complexArray>(2048);
    fft_Fwd(in.get(), out.get());
    auto want = fft::fwd(*in);
    for (size_t k = 0; k < 2048; ++k) ASSERT_EQ((*out)[k], want[k]);

    auto back = std::make_unique<complexArray>(2048);
    fft_Rev(out.get(), back.get());
    for (size_t i = 0; i < 2048; ++i) ASSERT_NEAR(std::abs((*back)[i] / 2048.f - (*in)[i]), 0.f, 1e-4f);

    // A longer output than needed is fine; only the first n values change.
    auto odd = ramp(100);
    auto wide = std::make_unique<complexArray>(150, cf(9, 9));
    fft_Fwd(odd.get(), wide.get());
    EXPECT_NEAR((*wide)[0].real(), 295.f, 1e-3f); // sum of i % 7 below 100
    for (size_t k = 100; k < 150; ++k) ASSERT_EQ((*wide)[k], cf(9, 9));
    expectNothingLogged();
}

TEST_F(fftExports, realTransformWritesHalfAndKeepsTheRest) {
    auto in = std::make_unique<floatArray>(2048, 0.5f);
    auto out = std::make_unique<complexArray>(2048, cf(9, 9));
    fft_FwdR(in.get(), out.get());
    EXPECT_NEAR((*out)[0].real(), 1024.f, 1e-2f);
    EXPECT_NEAR((*out)[0].imag(), 0.f, 1e-3f);
    for (size_t k = 1; k < 1024; ++k) ASSERT_LT(std::abs((*out)[k]), 1e-3f) << k;
    for (size_t k = 1024; k < 2048; ++k) ASSERT_EQ((*out)[k], cf(9, 9));

    // An output of exactly n/2 values is enough.
    auto exact = std::make_unique<complexArray>(1024, cf(9, 9));
    fft_FwdR(in.get(), exact.get());
    EXPECT_NEAR((*exact)[0].real(), 1024.f, 1e-2f);
    expectNothingLogged();
}

TEST_F(fftExports, refusesNullHandles) {
    auto a = ramp(1024);
    auto b = std::make_unique<complexArray>(1024, cf(9, 9));
    auto f = std::make_unique<floatArray>(1024, 1.f);
    fft_Fwd(nullptr, b.get());
    expectRefused("error|fft_Fwd: null array handle");
    fft_Fwd(a.get(), nullptr);
    expectRefused("error|fft_Fwd: null array handle");
    fft_Rev(nullptr, nullptr);
    expectRefused("error|fft_Rev: null array handle");
    fft_FwdR(nullptr, b.get());
    expectRefused("error|fft_FwdR: null array handle");
    fft_FwdR(f.get(), nullptr);
    expectRefused("error|fft_FwdR: null array handle");
    expectUntouched(*b, cf(9, 9));
}

TEST_F(fftExports, refusesShortOutputs) {
    auto a = ramp(2048);
    auto shorter = std::make_unique<complexArray>(2047, cf(9, 9));
    fft_Fwd(a.get(), shorter.get());
    expectRefused("error|fft_Fwd: output holds 2047 values, the transform writes 2048");
    fft_Rev(a.get(), shorter.get());
    expectRefused("error|fft_Rev: output holds 2047 values, the transform writes 2048");
    expectUntouched(*shorter, cf(9, 9));

    auto f = std::make_unique<floatArray>(2048, 1.f);
    auto half = std::make_unique<complexArray>(1023, cf(9, 9));
    fft_FwdR(f.get(), half.get());
    expectRefused("error|fft_FwdR: output holds 1023 values, the transform writes 1024");
    expectUntouched(*half, cf(9, 9));

    auto empty = std::make_unique<complexArray>();
    fft_Fwd(a.get(), empty.get());
    expectRefused("error|fft_Fwd: output holds 0 values, the transform writes 2048");
}

TEST_F(fftExports, refusesEmptyInputs) {
    auto empty = std::make_unique<complexArray>();
    auto out = std::make_unique<complexArray>(16, cf(9, 9));
    fft_Fwd(empty.get(), out.get());
    expectRefused("error|fft_Fwd: input holds 0 values, nothing to transform");
    fft_Rev(empty.get(), out.get());
    expectRefused("error|fft_Rev: input holds 0 values, nothing to transform");
    auto none = std::make_unique<floatArray>();
    fft_FwdR(none.get(), out.get());
    expectRefused("error|fft_FwdR: input holds 0 values, nothing to transform");
    auto single = std::make_unique<floatArray>(1, 1.f);
    fft_FwdR(single.get(), out.get());
    expectRefused("error|fft_FwdR: input holds 1 values, nothing to transform");
    expectUntouched(*out, cf(9, 9));
}

TEST_F(fftExports, refusesSharedSamples) {
    auto a = ramp(1024);
    fft_Fwd(a.get(), a.get());
    expectRefused("error|fft_Fwd: input and output share their samples");
    fft_Rev(a.get(), a.get());
    expectRefused("error|fft_Rev: input and output share their samples");
    auto want = ramp(1024);
    for (size_t i = 0; i < 1024; ++i) ASSERT_EQ((*a)[i], (*want)[i]);

    // Two handles on overlapping views of the same samples.
    auto whole = std::make_unique<complexArray>(3000, cf(9, 9));
    auto front = std::make_unique<complexArray>(*whole, 0, 1024);
    auto back = std::make_unique<complexArray>(*whole, 1000, 2000);
    fft_Fwd(front.get(), back.get());
    expectRefused("error|fft_Fwd: input and output share their samples");
    expectUntouched(*whole, cf(9, 9));

    // A float view on the same storage as the complex output.
    auto shared = std::make_unique<complexArray>(2048, cf(9, 9));
    floatArray alias;
    alias.storage = shared->storage;
    alias.data = reinterpret_cast<float*>(shared->data);
    alias.count = 2048;
    fft_FwdR(&alias, shared.get());
    expectRefused("error|fft_FwdR: input and output share their samples");
    expectUntouched(*shared, cf(9, 9));

    // Disjoint views of one storage are fine.
    auto apart = std::make_unique<complexArray>(*whole, 1024, 1024);
    fft_Fwd(front.get(), apart.get());
    expectNothingLogged();
}

} // namespace
