#include "modes/data/rtty/rttyReceiver.h"
#include "modes/data/rtty/ITA2.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace rtty {

int circularDistance(int a, int b, int n) {
    const int d = std::abs(a - b);
    return d > n / 2 ? n - d : d;
}

void rttyReceiver::toneDetector::push(std::complex<float> x) {
    const std::complex<float> y = x * std::conj(oscillator);
    if (fill < window) {
        sum += y;
        ++fill;
    } else {
        sum += y - ring[size_t(write)];
    }
    ring[size_t(write)] = y;
    if (++write == window) {
        write = 0;
        // Once per window the sum starts over from the ring: rounding cannot
        // pile up, and a huge sample leaves the sum as it leaves the ring.
        if (fill == window) {
            std::complex<float> s{};
            for (const auto& v : ring) s += v;
            sum = s;
        }
    }
    oscillator *= step;
}

void rttyReceiver::process(const buff<std::complex<float>>& block, int rxFreq, std::string& printed,
                           std::string& decoded, std::vector<buff<float>>& traces) {
    const double w = 2.0 * std::numbers::pi / 6000.0;
    space_.step = std::polar(1.0f, float(w * double(rxFreq)));
    mark_.step = std::polar(1.0f, float(w * (double(rxFreq) + 170.0)));

    for (size_t i = 0; i < block.count; i += decimation) {
        std::complex<float> x = block[i];
        // A broken sample counts as silence rather than poisoning the sums.
        if (!std::isfinite(x.real()) || !std::isfinite(x.imag())) x = {};
        space_.push(x);
        mark_.push(x);

        if (i % traceEvery == 0) {
            if (trace_.count == 0) {
                trace_ = buff<float>(traceLength);
                traceFill_ = 0;
            }
            trace_[size_t(traceFill_++)] = std::abs(space_.sum) - std::abs(mark_.sum);
            if (traceFill_ == traceLength) {
                traces.push_back(trace_);
                trace_ = buff<float>();
            }
        }

        if (--stepCounter_ <= 0) {
            stepCounter_ = shortStep_ ? 16 : 17;
            shortStep_ = !shortStep_;
            slicerStep(printed, decoded);
        }
    }
    space_.oscillator /= std::abs(space_.oscillator);
    mark_.oscillator /= std::abs(mark_.oscillator);
}

void rttyReceiver::slicerStep(std::string& printed, std::string& decoded) {
    history_[size_t(historyIndex_)] = {double(std::abs(mark_.sum)), double(std::abs(space_.sum))};
    auto d = [this](int k) {
        const auto& h = history_[size_t((historyIndex_ - k + historyLength) % historyLength)];
        return h[0] - h[1];
    };
    // Stop element, code elements last to first, start element.
    const double stop = d(0), start = d(48);
    const double c[5] = {d(40), d(32), d(24), d(16), d(8)}; // code bits 0 to 4
    double lo = std::min(stop, start), hi = std::max(stop, start);
    for (double v : c) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    const double t = (lo + hi) / 2;
    uint8_t code = 0;
    double score = 2 * (stop - t) - (start - t);
    for (int b = 0; b < 5; ++b) {
        if (c[b] > t) code |= uint8_t(1 << b);
        score += std::abs(c[b] - t);
    }

    phaseRecord& r = records_[size_t(phase_)];
    r.scores = {score, r.scores[0], r.scores[1]};
    r.code = code;
    if (score > bestScore_) {
        bestScore_ = score;
        bestCode_ = code;
        bestPhase_ = phase_;
    }
    // The character is decided half a period away from the locked phase, so
    // that the frame it reads ends mid-period whatever the sender's timing.
    // Decided at a fixed phase instead, a frame ending next to it falls,
    // with noise, now at the end of one period and now at the start of the
    // next: one character read twice and the next lost. After the lock
    // moves, the next decision comes more than half a period on, so that
    // the frame at the new phase is inside its period.
    ++sinceDecision_;
    const bool decide = phase_ == (lockedPhase_ + phases / 2) % phases && sinceDecision_ > phases / 2;
    phase_ = (phase_ + 1) % phases;
    if (decide) endOfPeriod(printed, decoded);
    historyIndex_ = (historyIndex_ + 1) % historyLength;
}

void rttyReceiver::endOfPeriod(std::string& printed, std::string& decoded) {
    int dist = circularDistance(bestPhase_, lockedPhase_, phases);
    uint8_t code = bestCode_;
    // Idle letters-shift frames read best in two periods running, at about
    // the same phase, are the lead of a transmission: the lock moves to
    // them at once, instead of holding for three periods to a phase that
    // silence or noise chose and reading the lead there (as a figures shift,
    // when its one space element falls on the third code element). One
    // such frame alone, as noise may show, moves nothing.
    const bool idleBefore = idlePhase_ >= 0 && circularDistance(bestPhase_, idlePhase_, phases) < 3;
    idlePhase_ = code == lettersShiftCode ? bestPhase_ : -1;
    const bool lead = idleBefore && code == lettersShiftCode;
    if (dist >= 3) {
        const auto& best = records_[size_t(bestPhase_)].scores;
        const auto& locked = records_[size_t(lockedPhase_)].scores;
        const double bestSum = best[0] + best[1] + best[2];
        const double lockedSum = locked[0] + locked[1] + locked[2];
        if (bestSum > lockedSum || lead) {
            fmt::format_to(std::back_inserter(printed), "{} {} {} {} {} {}   ", best[0], best[1], best[2], locked[0],
                           locked[1], locked[2]);
        } else {
            code = records_[size_t(lockedPhase_)].code;
            bestPhase_ = lockedPhase_;
            dist = 0;
        }
    }

    auto print = [&](char ch) {
        if (dist >= 3) printed += fmt::format("#{}", dist);
        printed += ch;
        if (ch != '\0') decoded += ch; // code 0 is no character: it would end the host's text
    };
    if (code == 4) {
        figures_ = false;
        print(' ');
    } else {
        const int shifted = code + (figures_ ? 32 : 0);
        if (shifted == 31 || shifted == 63)
            figures_ = false;
        else if (shifted == 27 || shifted == 59)
            figures_ = true;
        else
            print(char(ITA2[size_t(shifted)]));
    }

    sinceDecision_ = 0;
    bestScore_ = -1.0e15;
    lockedPhase_ = bestPhase_;
}

} // namespace rtty
