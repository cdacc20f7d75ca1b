#include "radios/rtl/R82xxSynthesiser.h"

namespace {
constexpr uint32_t vcoMinKHz = 1770000; // the divider keeps the VCO in [min, 2 min)
constexpr uint32_t vcoMaxKHz = 2 * vcoMinKHz;
constexpr uint64_t referenceHz = 28800000;
constexpr uint64_t pllStepHz = 2 * referenceHz;
constexpr uint32_t pllStepKHz = uint32_t(pllStepHz / 1000);
} // namespace

R82xxPll r82xxPredict(uint32_t frequency, int sampleRate) {
    R82xxPll p;
    const uint32_t intermediate = sampleRate == 1536000 ? 1525000u : 3570000u;
    p.lo = frequency + intermediate; // wraps as the tuner's 32-bit arithmetic does
    const uint32_t kHz = (p.lo + 500u) / 1000u;

    p.divider = 128;
    for (uint32_t d = 2; d <= 64; d *= 2) {
        const uint32_t vco = kHz * d;
        if (vco >= vcoMinKHz && vco < vcoMaxKHz) {
            p.divider = d;
            break;
        }
    }

    const uint64_t vco = uint64_t(p.divider) * p.lo;
    p.integer = uint32_t(vco / pllStepHz) & 0xffu;
    if (p.integer >= 64) return p;

    // Successive approximation of the remainder, one halving of the step per
    // bit, until what is left is within a kilohertz.
    uint32_t rest = uint32_t((vco - uint64_t(p.integer) * pllStepHz) / 1000);
    uint32_t fraction = 0;
    if (rest >= 2) {
        for (uint32_t n = 2; n <= 32768; n *= 2) {
            if (rest > pllStepKHz / n) {
                fraction += 32768 / (n / 2);
                rest -= pllStepKHz / n;
            }
            if (rest <= 1) break;
        }
    }
    p.fraction = fraction & 0xffffu;
    const uint64_t scaled = (uint64_t(p.integer) * 65536 + p.fraction) * referenceHz / 32768;
    p.predicted = uint32_t(scaled / p.divider);
    p.valid = true;
    return p;
}
