#include "modes/data/jt/frameSnr.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace jtdecode {

namespace {

/// A symbol fills only the middle half of the transform frame that sees it,
/// whose window weights it by about 0.82 in amplitude, and its tone is
/// summed over three bins against the noise of one: the tones read this
/// many dB below their power (measured on frames of the reference
/// generator, at frequencies and starts all over the bin and block grid,
/// within +-0.7 dB).
constexpr double readingLossDb = 4.0;

/// Power of a magnitude byte (2 x (dB + 120)) in a common linear unit, at
/// the middle of the half-dB step it was truncated to.
const std::array<float, 256>& bytePower() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int b = 0; b < 256; ++b) t[size_t(b)] = float(std::pow(10.0, (b + 0.5) / 20.0));
        return t;
    }();
    return table;
}

/// Splits a position in half steps into the whole step and the sub-step.
inline void halves(int h, int& whole, int& sub) {
    whole = h >= 0 ? h / 2 : -((1 - h) / 2);
    sub = h - 2 * whole;
}

/// Mean power on the sent tones, each summed over its bin and the two
/// beside it (a tone between two bins spreads over both), with the frame's
/// first symbol at half-block h and its tone 0 at half-bin g.
double tonePower(const ft8::MagArray& power, int h, int g, const uint8_t* tones, int symbols) {
    const auto& P = bytePower();
    int offset, timeSub;
    halves(h, offset, timeSub);
    double sum = 0;
    int n = 0;
    for (int dg = -1; dg <= 1; ++dg) {
        int bin0, freqSub;
        halves(g + dg, bin0, freqSub);
        for (int k = 0; k < symbols; ++k) {
            const int block = offset + k;
            const int bin = bin0 + tones[k];
            if (block < 0 || block >= power.blocks || bin < 0 || bin >= power.bins) continue;
            sum += P[power.row(block, timeSub, freqSub)[bin]];
            ++n;
        }
    }
    return n ? 3.0 * sum / n : 0.0;
}

} // namespace

void frameTones8(const uint8_t* bits, const uint8_t* costas, const uint8_t* grayMap, uint8_t* tones) {
    for (int g = 0; g < 3; ++g)
        for (int k = 0; k < 7; ++k) tones[36 * g + k] = costas[k];
    for (int k = 0; k < 58; ++k) {
        const uint8_t* b = bits + 3 * k;
        tones[k + (k < 29 ? 7 : 14)] = grayMap[b[0] << 2 | b[1] << 1 | b[2]];
    }
}

void frameTones4(const uint8_t* bits, const uint8_t (*costas)[4], const uint8_t* grayMap, uint8_t* tones) {
    for (int g = 0; g < 4; ++g)
        for (int k = 0; k < 4; ++k) tones[33 * g + k] = costas[g][k];
    for (int k = 0; k < 87; ++k) {
        const uint8_t* b = bits + 2 * k;
        tones[k + (k < 29 ? 4 : k < 58 ? 8 : 12)] = grayMap[b[0] << 1 | b[1]];
    }
}

float frameSnr(const ft8::MagArray& power, const ft8::Candidate& cand, const uint8_t* tones, int symbols,
               double binHz) {
    // The noise power of one cell: in exponentially distributed noise power
    // the 30th percentile lies at -ln(0.7) of the mean.
    const double noise = bytePower()[size_t(std::clamp(power.noise, 0, 255))] / -std::log(0.7);

    // The search places a frame to half a block and half a bin; the best
    // reading within one half step either way is the frame's.
    const int h0 = 2 * cand.timeOffset + cand.timeSub;
    const int g0 = 2 * cand.freqOffset + cand.freqSub;
    double best = 0.0;
    for (int dh = -1; dh <= 1; ++dh)
        for (int dg = -1; dg <= 1; ++dg) best = std::max(best, tonePower(power, h0 + dh, g0 + dg, tones, symbols));

    // Tone power over the noise of one cell, whose noise bandwidth is 1.5
    // bins (the sin^2 window), then over the noise in 2500 Hz. A frame read
    // below the noise (only possible at the edge of decoding) is floored.
    const double perCell = std::max(best / 3.0 / noise - 1.0, 1e-3);
    return float(10.0 * std::log10(perCell * 1.5 * binHz / 2500.0) + readingLossDb);
}

} // namespace jtdecode
