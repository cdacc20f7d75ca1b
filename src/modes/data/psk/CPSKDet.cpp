#include "modes/data/psk/CPSKDet.h"

#include "modes/data/psk/pskFilters.h"
#include "modes/data/psk/pskTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double pi = std::numbers::pi;
constexpr double twoPi = 2.0 * pi;

/// A coefficient table stored twice in a row: a delay line written at a
/// downward-counting index i is read against the run starting at N - i, so
/// the filter is one contiguous loop with no wrap inside.
template <size_t N>
struct doubled {
    explicit doubled(const std::array<float, N>& taps) {
        for (size_t i = 0; i < 2 * N; ++i) h[i] = taps[i % N];
    }
    const float* at(int index) const { return h.data() + (N - size_t(index)); }
    std::array<float, 2 * N> h;
};

struct Coefficients {
    doubled<35> decimation{psk::decimationTaps};
    doubled<65> frequency{psk::frequencyTaps};
    doubled<65> bit{psk::bitTaps};
};

const Coefficients& coefficients() {
    static const Coefficients c;
    return c;
}

/// One complex FIR output: the hot loop of every channel, kept to plain
/// float lanes so the compiler can vectorise it.
template <size_t N>
std::complex<float> fir(const std::array<std::complex<float>, N>& line, const float* h) {
    float re = 0.0f, im = 0.0f;
    for (size_t k = 0; k < N; ++k) {
        re += line[k].real() * h[k];
        im += line[k].imag() * h[k];
    }
    return {re, im};
}

} // namespace

CPSKDet::CPSKDet() {
    afcRange_ = twoPi * 50.0 / 8000.0;
    increment_ = twoPi * 1500.0 / 8000.0;
    upperLimit_ = twoPi * 1550.0 / 8000.0;
    lowerLimit_ = twoPi * 1450.0 / 8000.0;
}

void CPSKDet::setMode(int mode) {
    mode_ = mode;
    baud62_ = (mode & mode62) != 0;
    baud125_ = (mode & mode125) != 0;
    subMode_ = mode & ~(mode62 | mode125);
}

void CPSKDet::Init(int rate) {
    rate_ = rate;
    rateD_ = double(rate);
    std::fill(std::begin(decodeTable_), std::end(decodeTable_), uint8_t(0));
    for (int c = 0; c < 256; ++c) {
        unsigned v = unsigned(psk::VARICODE_TABLE[size_t(c)]) >> 4;
        // Drop the trailing zeros and the final 1: what is left indexes the
        // code as the receiver holds it at the end of a character.
        bool last = false;
        while (v != 0 && !last) {
            last = (v & 1u) != 0;
            v >>= 1;
        }
        if (last) decodeTable_[v & 0x7FFu] = uint8_t(c);
    }
    ResetDetector();
    increment_ = twoPi * rxFrequency_ / rateD_;
    symbolClockIncrement_ = 16.0 / rateD_;
    signalQuality_ = 50;
    symbolClock_ = 0.0;
    bitRegister_ = 0;
    lastBitZero_ = false;
    sampleCount_ = 0;
    reversalRun_ = steadyRun_ = positiveRun_ = negativeRun_ = 0;
    agcAverage_ = 0.0;
    phase_ = 0.0;
    chosenPosition_ = 0;
    peakPosition_ = 5;
    positionInSymbol_ = 0;
    previousBit_ = {};
    qualityAverage_ = 0.4;
    squelchOpen_ = false;
    holdCount_ = 0;
    acquire_ = false;
    freqErrorAverage_ = 0.0;
    phaseErrorAverage_ = 0.0;
    afc1_ = afc2_ = {};
    phaseErrorTimeConstant_ = 100.0;
}

void CPSKDet::ResetDetector() {
    decim1_.fill({});
    decim2_.fill({});
    symbolLine_.fill({});
    energy_.fill(0.0);
    pathMetric_.fill(0.0);
    pathHistory_.fill(0);
    // Settle the survivors on the idle sequence (all phase steps "none").
    for (int i = 0; i < 21; ++i) viterbiStep(3 * pi / 2);
    decim1Index_ = 34;
    decim2Index_ = 34;
    symbolIndex_ = 64;
    signalQuality_ = 10;
    qualityAverage_ = 90.0;
}

void CPSKDet::SetRXFrequency(int hz) {
    if (hz == rxFrequency_) return;
    rxFrequency_ = hz;
    increment_ = twoPi * hz / rateD_;
    phaseErrorAverage_ = 0.0;
    freqErrorAverage_ = 0.0;
    holdCount_ = 10;
    recentreWindow();
    positiveRun_ = 0;
}

void CPSKDet::recentreWindow() {
    upperLimit_ = increment_ + afcRange_;
    lowerLimit_ = std::max(increment_ - afcRange_, 0.0);
}

int CPSKDet::ProcPSKDet(const float* samples, int count, int stride, char* out, int limit) {
    if (holdCount_ != 0) {
        --holdCount_;
        acquire_ = holdCount_ > 0;
        if (!acquire_) recentreWindow();
    }
    const Coefficients& h = coefficients();
    int written = 0;
    const int secondStage = baud62_ ? 8 : 16;
    for (int i = 0; i < count; ++i) {
        const float x = samples[std::ptrdiff_t(i) * stride];
        const auto ph = float(phase_);
        decim1_[size_t(decim1Index_)] = {x * std::cos(ph), x * std::sin(ph)};
        phase_ += increment_ + afcCorrection_;
        if (phase_ > twoPi) phase_ -= twoPi;

        ++sampleCount_;
        if (sampleCount_ % 4 == 0) {
            const cplx first = fir(decim1_, h.decimation.at(decim1Index_));
            if (baud125_) {
                filterStep(first, out, limit, written);
            } else {
                decim2_[size_t(decim2Index_)] = first;
                if (sampleCount_ % secondStage == 0)
                    filterStep(fir(decim2_, h.decimation.at(decim2Index_)), out, limit, written);
                if (--decim2Index_ < 0) decim2Index_ = 34;
            }
        }
        if (--decim1Index_ < 0) decim1Index_ = 34;
    }
    sampleCount_ %= 16;
    rxFrequency_ = int((increment_ + afcCorrection_) * rateD_ / twoPi + 0.5);
    return written;
}

void CPSKDet::filterStep(cplx value, char* out, int limit, int& written) {
    const Coefficients& h = coefficients();
    symbolLine_[size_t(symbolIndex_)] = value;
    Step s{fir(symbolLine_, h.frequency.at(symbolIndex_)), fir(symbolLine_, h.bit.at(symbolIndex_))};
    if (--symbolIndex_ < 0) symbolIndex_ = 64;
    agcStep(s);
    afcStep(s.frequency);
    if (SymbSync(s.bit)) DecodeSymb(s.bit, out, limit, written);
}

void CPSKDet::agcStep(Step& s) {
    const double m = std::abs(s.frequency);
    if (m > agcAverage_)
        agcAverage_ = 0.005 * m + 0.995 * agcAverage_;
    else
        agcAverage_ = 0.002 * m + 0.998 * agcAverage_;
    if (agcAverage_ >= 1.0) {
        const auto g = float(1.0 / agcAverage_);
        s.frequency *= g;
        s.bit *= g;
    }
}

void CPSKDet::afcStep(cplx z) {
    const double I = z.real(), Q = z.imag();
    const double I1 = afc1_.real(), Q1 = afc1_.imag();
    const double e = (I - afc2_.real()) * Q1 - (Q - afc2_.imag()) * I1;
    afc2_ = afc1_;
    afc1_ = z;
    freqErrorAverage_ = 0.995 * freqErrorAverage_ + 0.25 * std::clamp(e, -0.3, 0.3);
    const double F = freqErrorAverage_;
    if (acquire_) {
        if (std::abs(F) > 0.3) increment_ += 3e-6 * F;
        afcCorrection_ = 0.0004 * F;
    } else {
        const double p = F * phaseErrorAverage_ > 0 ? phaseErrorAverage_ : 0.0;
        if (std::abs(p) > 0.3) increment_ += 1.5e-6 * p;
        afcCorrection_ = 0.001 * p;
    }
    if (increment_ + afcCorrection_ > upperLimit_) {
        increment_ = upperLimit_;
        afcCorrection_ = 0.0;
    } else if (increment_ + afcCorrection_ < lowerLimit_) {
        increment_ = lowerLimit_;
        afcCorrection_ = 0.0;
    }
}

bool CPSKDet::SymbSync(cplx b) {
    bool instant = false;
    int& k = positionInSymbol_;
    if (k < 16) {
        double e = std::norm(b);
        if (e > 4.0) e = 1.0;
        energy_[size_t(k)] = energy_[size_t(k)] * 81.0 / 82.0 + e / 82.0;
        if (k == chosenPosition_) instant = true;
        if (k == psk::HALF_TABLE[size_t(peakPosition_)]) chosenPosition_ = peakPosition_;
        ++k;
    }
    symbolClock_ += symbolClockIncrement_;
    if (symbolClock_ >= 0.032) {
        symbolClock_ = std::fmod(symbolClock_, 0.032);
        if (k == 15 && chosenPosition_ == 15) instant = true;
        peakPosition_ = int(std::max_element(energy_.begin(), energy_.begin() + 16) - energy_.begin());
        k = 0;
    }
    return instant;
}

void CPSKDet::DecodeSymb(cplx b, char* out, int limit, int& written) {
    const double I = b.real(), Q = b.imag();
    const double I1 = previousBit_.real(), Q1 = previousBit_.imag();
    const double dot = I1 * I + Q1 * Q;
    const double cross = I1 * Q - Q1 * I;
    const double angle = std::atan2(dot, subMode_ == 2 ? -cross : cross) + pi;
    previousBit_ = b;
    CalcQuality(angle);
    const bool one = qpsk() ? viterbiStep(angle) != 0 : dot > 0;

    if (one) {
        bitRegister_ = uint16_t(bitRegister_ * 2u + 1u);
        lastBitZero_ = false;
    } else if (!lastBitZero_) {
        bitRegister_ = uint16_t(bitRegister_ * 2u);
        lastBitZero_ = true;
    } else if (bitRegister_ != 0) {
        // Two zeros end a character. Noise may have run the register long:
        // only 11 bits index the table.
        const uint8_t c = decodeTable_[(bitRegister_ >> 2) & 0x7FFu];
        bitRegister_ = 0;
        if (c != 0 && squelchOpen_ && written < limit) out[written++] = char(c);
    }
}

int CPSKDet::viterbiStep(double angle) {
    const auto& table = angle >= pi ? psk::ANGLE_TBL2 : psk::ANGLE_TBL1;
    std::array<double, 32> metric;
    std::array<uint32_t, 32> history;
    double smallest = 1e100;
    for (size_t b = 0; b < 32; ++b) {
        const size_t s = b / 2;
        metric[b] = pathMetric_[s] + std::abs(angle - table[psk::CONV_CODE_TABLE[b]]);
        history[b] = pathHistory_[s] * 2u + uint32_t(b % 2);
        smallest = std::min(smallest, metric[b]);
    }
    int ones = 0;
    for (size_t j = 0; j < 16; ++j) {
        const size_t pick = metric[j] < metric[j + 16] ? j : j + 16;
        pathMetric_[j] = metric[pick] - smallest;
        pathHistory_[j] = history[pick];
        if (history[pick] & (1u << 20)) ++ones;
    }
    if (ones > 8) return 1;
    if (ones < 8) return 0;
    return int((rng_() >> 12) & 1u);
}

void CPSKDet::CalcQuality(double angle) {
    const bool q = qpsk();
    const bool inverted = subMode_ == 2;
    const double w = q ? 280.0 : 150.0;
    const double k1 = 1.0 / smoothing_, k2 = 1.0 / (2.0 * smoothing_);
    auto average = [&](double err) {
        const double m = w * std::abs(err);
        const double k = m < qualityAverage_ ? k1 : k2;
        qualityAverage_ = k * m + (1.0 - k) * qualityAverage_;
    };
    bool counted = false;
    double err = 0.0;
    if (q ? (angle >= pi / 4 && angle <= 3 * pi / 4) : (angle >= 0 && angle <= pi)) {
        err = inverted ? pi / 2 - angle : angle - pi / 2;
        average(err);
        if (reversalRun_ < 21)
            ++reversalRun_;
        else
            qualityAverage_ = 25.0;
        steadyRun_ = 0;
        counted = true;
    } else if (q ? (angle >= 5 * pi / 4 && angle <= 7 * pi / 4) : (angle >= pi && angle <= 2 * pi)) {
        err = inverted ? 3 * pi / 2 - angle : angle - 3 * pi / 2;
        average(err);
        if (steadyRun_ < 21)
            ++steadyRun_;
        else if (!q)
            qualityAverage_ = 100.0;
        reversalRun_ = 0;
        counted = true;
    }
    if (counted) {
        // A short run of one sign is noise, not a frequency error. The runs
        // saturate: they only ever compare against 4.
        int& run = err >= 0 ? positiveRun_ : negativeRun_;
        (err >= 0 ? negativeRun_ : positiveRun_) = 0;
        const int before = run;
        if (run < 1000) ++run;
        phaseError_ = before < 4 ? 0.0 : err;
    }

    if (agcAverage_ > 10.0) {
        signalQuality_ = std::clamp(100 - int(qualityAverage_), 0, 100);
        squelchOpen_ = signalQuality_ >= squelchThreshold_;
    } else {
        signalQuality_ = 0;
        squelchOpen_ = false;
    }

    const double limit = q ? 0.6 : 1.0;
    const double e = std::clamp(phaseError_, -limit, limit);
    phaseErrorAverage_ = phaseErrorAverage_ * (1.0 - 1.0 / phaseErrorTimeConstant_) + (5.0 / 100.0) * e;
}
