#include "modes/data/cw/cwKeyer.h"
#include "modes/data/cw/morseTables.h"

#include <climits>
#include <cmath>

namespace cw {
namespace {
constexpr double pi = 3.1415927;
} // namespace

size_t cwKeyer::run(buff<std::complex<float>> out, const settings& s, const std::function<int()>& nextChar) {
    constexpr int R = rampLength;
    for (size_t i = 0; i < out.count; ++i) {
        if (sample_ >= elementLength_) {
            bool ended = false;
            nextElement(s, nextChar, ended);
            if (ended) return i;
        }
        double level = level_;
        const int L = elementLength_;
        if (sample_ <= R)
            level *= 0.5 + 0.5 * std::cos((R - sample_) * pi / R);
        else if (sample_ >= L - R)
            level *= 0.5 + 0.5 * std::cos((R + sample_ - L) * pi / R);
        if (s.keyedByRadio)
            out[i] = {level > 0 ? 1.0f : 0.0f, 0.0f};
        else
            out[i] = {float(level), 0.0f};
        ++sample_;
    }
    return out.count;
}

void cwKeyer::nextElement(const settings& s, const std::function<int()>& nextChar, bool& ended) {
    if (++element_ >= patternLength_) {
        pattern_ = CharToMorse(nextChar());
        patternLength_ = int(pattern_.size());
        element_ = 0;
    }
    const char e = pattern_[size_t(element_)];
    if (e == '@') {
        level_ = 0.0;
        elementLength_ = idleStep;
        // Saturates: a radio holding PTT may leave the keyer idle for days.
        if (idle_ <= INT_MAX - idleStep) idle_ += idleStep;
        if (idle_ / 48 > s.hangMs) {
            ended = true; // the sample index stays: the next call polls again
            return;
        }
        sample_ = 0;
        return;
    }
    idle_ = 0;
    level_ = e == ' ' ? 0.0 : markLevel;
    elementLength_ = int((e == '-' ? 172800.0 : 57600.0) / s.wpm);
    sample_ = 0;
}

} // namespace cw
