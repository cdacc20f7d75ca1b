#include "modes/data/jt/likelihood.h"

#include <algorithm>
#include <cmath>

namespace ft8 {

namespace {

int max4(int a, int b, int c, int d) { return std::max(std::max(a, b), std::max(c, d)); }

} // namespace

void extract_likelihood(const MagArray& power, const Candidate& cand, const uint8_t* grayMap, float* log174) {
    for (int k = 0; k < 58; ++k) {
        const int block = cand.timeOffset + k + (k < 29 ? 7 : 14);
        const uint8_t* p = power.row(block, cand.timeSub, cand.freqSub) + cand.freqOffset;
        int s[8];
        for (int j = 0; j < 8; ++j) s[j] = p[grayMap[j]];
        log174[3 * k + 0] = float(max4(s[4], s[5], s[6], s[7]) - max4(s[0], s[1], s[2], s[3]));
        log174[3 * k + 1] = float(max4(s[2], s[3], s[6], s[7]) - max4(s[0], s[1], s[4], s[5]));
        log174[3 * k + 2] = float(max4(s[1], s[3], s[5], s[7]) - max4(s[0], s[2], s[4], s[6]));
    }
}

void extract_likelihood4(const MagArray& power, const Candidate& cand, const uint8_t* grayMap, float* log174) {
    for (int k = 0; k < 87; ++k) {
        const int block = cand.timeOffset + k + (k < 29 ? 4 : k < 58 ? 8 : 12);
        const uint8_t* p = power.row(block, cand.timeSub, cand.freqSub) + cand.freqOffset;
        int s[4];
        for (int j = 0; j < 4; ++j) s[j] = p[grayMap[j]];
        log174[2 * k + 0] = float(std::max(s[2], s[3]) - std::max(s[0], s[1]));
        log174[2 * k + 1] = float(std::max(s[1], s[3]) - std::max(s[0], s[2]));
    }
}

bool normalize_likelihood(float* log174) {
    // Sums in double: in single precision the difference of two large sums
    // of integer-valued squares loses the variance of a nearly flat set.
    double sum = 0, sum2 = 0;
    for (int i = 0; i < 174; ++i) {
        sum += log174[i];
        sum2 += double(log174[i]) * log174[i];
    }
    const double variance = (sum2 - sum * sum / 174.0) / 174.0;
    // Identical values (a blank stretch) carry nothing to decode.
    if (!(variance > 0.0)) return false;
    const float scale = float(std::sqrt(16.0 / variance));
    for (int i = 0; i < 174; ++i) log174[i] *= scale;
    return true;
}

} // namespace ft8
