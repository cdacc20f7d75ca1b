// What the back-end computes from device data: sample conversion and peaks,
// the sample rates offered, and the texts describing device settings.
#include "radios/soapy/soapyCapabilities.h"
#include "radios/soapy/soapyFill.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

using cplx = std::complex<float>;
using namespace soapyFill;

namespace {

/// The conversion written out once, sample by sample, as a reference.
template <class T>
void reference(const T* in, size_t n, float scale, bool swap, int offset, std::vector<cplx>& out, double& peak) {
    for (size_t i = 0; i < n; ++i) {
        const double a = double(in[2 * i]) - offset, b = double(in[2 * i + 1]) - offset;
        out.push_back(swap ? cplx(float(b * scale), float(a * scale)) : cplx(float(a * scale), float(b * scale)));
        peak = std::max(peak, std::fabs(a));
    }
}

template <class T, class P>
void compare(P (*fill)(const T*, cplx*, size_t, float, P), bool swap, int offset, const std::vector<T>& in) {
    const size_t n = in.size() / 2;
    std::vector<cplx> want, got(n);
    double wantPeak = 0;
    reference(in.data(), n, 0.37f, swap, offset, want, wantPeak);
    // In two pieces, as the radio's blocks ask for them: the peak carries over.
    P peak = fill(in.data(), got.data(), n / 3, 0.37f, P{});
    peak = fill(in.data() + 2 * (n / 3), got.data() + n / 3, n - n / 3, 0.37f, peak);
    EXPECT_EQ(got, want) << swap;
    EXPECT_EQ(double(peak), wantPeak) << swap;
}

} // namespace

TEST(SoapyFill, EveryFormatAndOrderMatchesTheReference) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(2000);
    std::vector<int8_t> chars(2000);
    std::vector<int16_t> shorts(2000);
    std::vector<float> floats(2000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = uint8_t(rng());
        chars[i] = int8_t(rng());
        shorts[i] = int16_t(rng());
        floats[i] = float(int(rng() % 20001) - 10000) / 8192.0f;
    }
    shorts[0] = -32768; // |-32768| is a peak of 32768, not a wrapped short
    for (bool swap : {false, true}) {
        compare(swap ? u8<true> : u8<false>, swap, 128, bytes);
        compare(swap ? cs8<true> : cs8<false>, swap, 0, chars);
        compare(swap ? cs16<true> : cs16<false>, swap, 0, shorts);
        compare(swap ? cf32<true> : cf32<false>, swap, 0, floats);
    }
}

TEST(SoapyFill, ThePartsLevelsAndBadFloats) {
    const float s = 0.01f;
    cplx out[3];
    const uint8_t dongle[] = {255, 0};
    EXPECT_EQ(u8<false>(dongle, out, 1, s, 0), 127); // level 127 / 128
    EXPECT_EQ(out[0], cplx(127 * s, -128 * s));
    const int16_t pair[] = {-32768, 5};
    EXPECT_EQ(cs16<true>(pair, out, 1, s, 0), 32768);
    EXPECT_EQ(out[0], cplx(5 * s, -32768 * s));
    // A NaN or infinity converts (and stays in its block) but never reaches
    // the meter.
    const float bad[] = {NAN, 1, INFINITY, 2, -0.5f, 0};
    EXPECT_EQ(cf32<false>(bad, out, 3, 1.0f, 0.0f), 0.5f);
}

TEST(SoapyCapabilities, RatesOfRanges) {
    using soapyCapabilities::ratesOfRange;
    EXPECT_EQ(ratesOfRange(2000000, 2400000), std::vector<int>{2400000});
    EXPECT_EQ(ratesOfRange(48000, 6144000),
              (std::vector<int>{48000, 96000, 192000, 384000, 768000, 1536000, 3072000, 6144000}));
    EXPECT_EQ(ratesOfRange(225001.5, 3200000.9), (std::vector<int>{384000, 768000, 1536000, 3072000, 3200000}));
    // Up to 10 GHz: the doubling stops inside the int range and the maximum
    // itself is no int.
    const auto wide = ratesOfRange(0, 10e9);
    ASSERT_EQ(wide.size(), 16u);
    EXPECT_EQ(wide.back(), 48000 << 15);
    EXPECT_EQ(ratesOfRange(1e6, INT_MAX).back(), INT_MAX);
    EXPECT_TRUE(ratesOfRange(NAN, 1e6).empty());
    EXPECT_TRUE(ratesOfRange(0, INFINITY).empty());
}

TEST(SoapyCapabilities, ListedRates) {
    using soapyCapabilities::listedRate;
    EXPECT_EQ(listedRate(250000), 250000);      // below 384000: no resampling needed
    EXPECT_EQ(listedRate(2048000.7), 2048000);  // truncated
    EXPECT_EQ(listedRate(47999), std::nullopt);
    // 384001 shares no factor with 384000: M = 384001, and M x 384000 is
    // far past 12e9 (and past 32 bits).
    EXPECT_EQ(listedRate(384001), std::nullopt);
    EXPECT_EQ(listedRate(1e12), std::nullopt);
    EXPECT_EQ(listedRate(NAN), std::nullopt);
}

TEST(SoapyCapabilities, SettingTextsByteForByte) {
    char key[] = "biastee", value[] = "false", name[] = "Bias tee", desc[] = "Antenna power", units[] = "";
    char opt0[] = "false", opt1[] = "true", nm0[] = "Off", nm1[] = "On";
    char* options[] = {opt0, opt1};
    char* names[] = {nm0, nm1};
    SoapySDRArgInfo info{key, value, name, desc, units, SOAPY_SDR_ARG_INFO_BOOL, {0, 1, 0}, 0, nullptr, nullptr};
    EXPECT_EQ(soapyCapabilities::settingText(0, info),
              "0~Antenna power~biastee~Bias tee~bool~~false~1.000000~0.000000~0.000000~0~");
    info.numOptions = 2;
    info.options = options;
    info.optionNames = names;
    EXPECT_EQ(soapyCapabilities::settingText(1, info),
              "1~Antenna power~biastee~Bias tee~bool~~false~1.000000~0.000000~0.000000~2~false~Off~true~On~");
    info.optionNames = nullptr; // no display names: the option again
    EXPECT_EQ(soapyCapabilities::settingText(2, info),
              "2~Antenna power~biastee~Bias tee~bool~~false~1.000000~0.000000~0.000000~2~false~false~true~true~");
    // Null texts and a null option list read as empty; an unknown type is "?".
    SoapySDRArgInfo bare{nullptr, nullptr, nullptr, nullptr, nullptr, SoapySDRArgInfoType(9), {-2.5, 10.25, 0.125},
                         2, nullptr, nullptr};
    EXPECT_EQ(soapyCapabilities::settingText(3, bare), "3~~~~?~~~10.250000~-2.500000~0.125000~2~~~~~");
}
