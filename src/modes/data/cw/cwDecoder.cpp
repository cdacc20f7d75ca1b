#include "modes/data/cw/cwDecoder.h"
#include "modes/data/cw/morseTables.h"

#include <algorithm>
#include <cmath>

namespace cw {

std::string cwDecoder::process(const buff<std::complex<float>>& block) {
    std::string out;
    int d = dot();
    for (size_t i = 0; i < block.count; i += envelopeStep) {
        double mag = std::abs(block[i]);
        if (!std::isfinite(mag)) mag = 0.0; // a broken sample must not pin the peak for good

        floor_ *= 1.001;
        peak_ *= 0.999;
        if (mag > peak_) peak_ += (mag - peak_) * 0.2;
        if (mag < floor_) floor_ = mag;

        const double threshold = raw_ ? peak_ - (peak_ - floor_) * 0.5 : peak_ - (peak_ - floor_) / 3;
        const bool on = mag > threshold;

        if (on == raw_) {
            ++run_;
        } else {
            if (!on && run_ > 22 && previousRun_ > 22) {
                // A mark just ended: run is its length, previousRun the gap before.
                // A dash after a word gap (3 dots after 7 or more) has the ratio
                // of a dot after a letter gap (1 after 3) but sums to 2.5 dots
                // or more: that ratio counts only for a mark the decoder reads
                // as a dot.
                const double ratio = double(run_) / double(previousRun_);
                const bool dotAfterLetterGap = ratio > 0.15 && ratio < 0.45 && run_ < 2 * d;
                if (dotAfterLetterGap || (ratio >= 2.0 && ratio < 4.0)) {
                    // The first dots measured count as much as their number
                    // says (a running mean with the starting guess), so that a
                    // station far from the guess is read within a few
                    // letters; after 19 of them the estimate follows at 5 %.
                    const double weight = std::max(0.05, 1.0 / double(++learned_ + 1));
                    dotEstimate_ = double((run_ + previousRun_) / 4) * weight + dotEstimate_ * (1.0 - weight);
                    d = dot();
                }
            }
            raw_ = on;
            previousRun_ = run_;
            run_ = 0;
        }

        if (on != settled_ && settledCount_ > d / 2) {
            if (settled_) {
                code_ = code_ * 2 + (settledCount_ >= 2 * d ? 1u : 0u);
                ++elements_;
            } else if (settledCount_ >= 2 * d) {
                endLetter(d, out);
            }
            settledCount_ = 0;
            settled_ = on;
        } else if (!on && !settled_ && settledCount_ > 5 * d) {
            endLetter(d, out);
            settledCount_ = 0;
            settled_ = false;
        } else {
            ++settledCount_;
        }
    }
    return out;
}

void cwDecoder::endLetter(int d, std::string& out) {
    // Eight elements or more can never be below 256 (and must not wrap
    // round to a small index when shifted).
    const uint32_t index = elements_ < 8 ? code_ | elements_ << 5 : 256u;
    code_ = 0;
    elements_ = 0;
    const char c = index < 256 ? MorseToChar()[index] : ' ';
    if (c == ' ') {
        spaceSent_ = true; // no such code: no word space after it either
        return;
    }
    out += c;
    spaceSent_ = false;
    if (settledCount_ > 5 * d) {
        out += ' ';
        spaceSent_ = true;
    }
}

} // namespace cw
