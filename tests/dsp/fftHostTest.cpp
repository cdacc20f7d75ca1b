// fft_Fwd, fft_Rev and fft_FwdR as a host calls them: arrays made with the
// array functions, only the public header and the shared library, and the
// handles a careless host could pass.
#include "vireocore.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string logPath() {
    static std::string p = ::testing::TempDir() + "vireo_fft_host_" + std::to_string(getpid()) + ".log";
    return p;
}

size_t occurrences(const std::string& line) {
    std::ifstream f(logPath());
    std::stringstream s;
    s << f.rdbuf();
    std::string text = s.str();
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

struct Complex {
    explicit Complex(int n, float fill = 0) : h(complexArray_create(n)) {
        for (int i = 0; i < 2 * n; ++i) data()[i] = fill;
    }
    ~Complex() { complexArray_delete(h); }
    float* data() const { return complexArray_data(h); }
    int size() const { return complexArray_size(h); }
    bool all(float v) const {
        for (int i = 0; i < 2 * size(); ++i)
            if (data()[i] != v) return false;
        return true;
    }
    void* h;
};

struct Real {
    explicit Real(int n, float fill = 0) : h(floatArray_create(n)) {
        for (int i = 0; i < n; ++i) floatArray_data(h)[i] = fill;
    }
    ~Real() { floatArray_delete(h); }
    void* h;
};

class fftHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init(logPath().c_str(), 0);
        started = true;
    }
    // The call added exactly one error line with this text.
    template <class Call>
    void expectRefused(Call call, const std::string& line) {
        size_t before = occurrences(line);
        call();
        EXPECT_EQ(occurrences(line), before + 1) << line;
    }
};

TEST_F(fftHost, transformsGoodArrays) {
    Complex in(2048), spectrum(2048), back(2048);
    for (int i = 0; i < 2048; ++i) in.data()[2 * i] = float(std::cos(2 * M_PI * 5 * i / 2048.0));
    fft_Fwd(in.h, spectrum.h);
    // A cosine of five cycles: 1024 at bins 5 and 2048 - 5, nothing elsewhere.
    for (int k = 0; k < 2048; ++k) {
        float magnitude = std::hypot(spectrum.data()[2 * k], spectrum.data()[2 * k + 1]);
        ASSERT_NEAR(magnitude, (k == 5 || k == 2043) ? 1024.f : 0.f, 2e-3f) << k;
    }
    fft_Rev(spectrum.h, back.h);
    for (int i = 0; i < 4096; ++i) ASSERT_NEAR(back.data()[i] / 2048.f, in.data()[i], 1e-5f) << i;

    // A longer output than needed: only the first n values change.
    Complex odd(100, 1.f), wide(150, 9.f);
    fft_Fwd(odd.h, wide.h);
    EXPECT_NEAR(wide.data()[0], 100.f, 1e-3f);
    for (int i = 200; i < 300; ++i) ASSERT_EQ(wide.data()[i], 9.f);
}

TEST_F(fftHost, realTransformWritesHalfAndKeepsTheRest) {
    Real in(2048, 0.5f);
    Complex out(2048, 9.f);
    fft_FwdR(in.h, out.h);
    EXPECT_NEAR(out.data()[0], 1024.f, 1e-2f); // DC
    EXPECT_NEAR(out.data()[1], 0.f, 1e-3f);    // Nyquist
    for (int i = 2; i < 2048; ++i) ASSERT_NEAR(out.data()[i], 0.f, 1e-3f) << i;
    for (int i = 2048; i < 4096; ++i) ASSERT_EQ(out.data()[i], 9.f) << i;

    Complex exact(1024, 9.f); // n/2 values are enough
    fft_FwdR(in.h, exact.h);
    EXPECT_NEAR(exact.data()[0], 1024.f, 1e-2f);
}

TEST_F(fftHost, refusesNullHandles) {
    Complex a(1024, 1.f), b(1024, 9.f);
    Real f(1024, 1.f);
    expectRefused([&] { fft_Fwd(nullptr, b.h); }, "fft_Fwd: null array handle");
    expectRefused([&] { fft_Fwd(a.h, nullptr); }, "fft_Fwd: null array handle");
    expectRefused([&] { fft_Rev(nullptr, nullptr); }, "fft_Rev: null array handle");
    expectRefused([&] { fft_FwdR(nullptr, b.h); }, "fft_FwdR: null array handle");
    expectRefused([&] { fft_FwdR(f.h, nullptr); }, "fft_FwdR: null array handle");
    EXPECT_TRUE(b.all(9.f));
}

TEST_F(fftHost, refusesShortOutputs) {
    Complex a(2048, 1.f), shorter(2047, 9.f), none(0);
    expectRefused([&] { fft_Fwd(a.h, shorter.h); }, "fft_Fwd: output holds 2047 values, the transform writes 2048");
    expectRefused([&] { fft_Rev(a.h, shorter.h); }, "fft_Rev: output holds 2047 values, the transform writes 2048");
    expectRefused([&] { fft_Fwd(a.h, none.h); }, "fft_Fwd: output holds 0 values, the transform writes 2048");
    EXPECT_TRUE(shorter.all(9.f));

    Real f(2048, 1.f);
    Complex half(1023, 9.f);
    expectRefused([&] { fft_FwdR(f.h, half.h); }, "fft_FwdR: output holds 1023 values, the transform writes 1024");
    EXPECT_TRUE(half.all(9.f));
}

TEST_F(fftHost, refusesEmptyInputs) {
    Complex empty(0), out(16, 9.f);
    Real none(0), single(1, 1.f);
    expectRefused([&] { fft_Fwd(empty.h, out.h); }, "fft_Fwd: input holds 0 values, nothing to transform");
    expectRefused([&] { fft_Rev(empty.h, out.h); }, "fft_Rev: input holds 0 values, nothing to transform");
    expectRefused([&] { fft_FwdR(none.h, out.h); }, "fft_FwdR: input holds 0 values, nothing to transform");
    expectRefused([&] { fft_FwdR(single.h, out.h); }, "fft_FwdR: input holds 1 values, nothing to transform");
    EXPECT_TRUE(out.all(9.f));
}

TEST_F(fftHost, refusesTheSameArrayAsInputAndOutput) {
    Complex a(1024, 2.f);
    expectRefused([&] { fft_Fwd(a.h, a.h); }, "fft_Fwd: input and output share their samples");
    expectRefused([&] { fft_Rev(a.h, a.h); }, "fft_Rev: input and output share their samples");
    EXPECT_TRUE(a.all(2.f));
}

} // namespace
