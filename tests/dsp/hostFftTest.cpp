// The checks behind the exported transforms for what a host cannot build
// with the array functions alone: two handles on overlapping views of one
// storage, and a float view over complex samples.
#include "dsp/buff.h"
#include "dsp/fft/hostFft.h"

#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <complex>

namespace {

using cf = std::complex<float>;

TEST(hostFft, refusesViewsThatShareSamples) {
    LogCapture log;
    buff<cf> whole(3000, cf(9, 9));
    buff<cf> front(whole, 0, 1024), back(whole, 1000, 2000);
    hostFft::fwd(&front, &back);
    EXPECT_EQ(log.count("error|fft_Fwd: input and output share their samples"), 1u);

    buff<cf> spectrum(2048, cf(9, 9));
    buff<float> alias;
    alias.storage = spectrum.storage;
    alias.data = reinterpret_cast<float*>(spectrum.data);
    alias.count = 2048;
    hostFft::fwdR(&alias, &spectrum);
    EXPECT_EQ(log.count("error|fft_FwdR: input and output share their samples"), 1u);
    for (auto v : whole) ASSERT_EQ(v, cf(9, 9));
    for (auto v : spectrum) ASSERT_EQ(v, cf(9, 9));

    // Disjoint views of one storage are fine.
    buff<cf> apart(whole, 1024, 1024);
    hostFft::fwd(&front, &apart);
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_NEAR(apart[0].real(), 9.f * 1024, 1e-2f);
}

} // namespace
