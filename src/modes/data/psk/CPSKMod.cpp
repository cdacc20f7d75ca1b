#include "modes/data/psk/CPSKMod.h"

#include "modes/data/psk/pskTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double pi = std::numbers::pi;
constexpr double twoPi = 2.0 * pi;

/// Symbols: 0 hold, 1 one state forward (-90 degrees), 2 reversal, 3 one
/// state back (+90 degrees), 4 carrier off, 5 carrier on in state 0.
enum Symbol { hold = 0, forward = 1, reversal = 2, back = 3, carrierOff = 4, carrierOn = 5 };

struct Transition {
    int i, q, next;
};

// [symbol][phase state]: I ramp, Q ramp, next state. States as (I, Q)
// signs: 0 (+,+), 1 (+,-), 2 (-,-), 3 (-,+), 4 off.
constexpr int Z = 0, P = 1, M = 2, D = 3, U = 4, FP = 5, FM = 6, R = 7;
constexpr Transition transitions[6][5] = {
    {{P, P, 0}, {P, M, 1}, {M, M, 2}, {M, P, 3}, {Z, Z, 4}},
    {{P, D, 1}, {D, M, 2}, {M, U, 3}, {U, P, 0}, {R, R, 0}},
    {{D, D, 2}, {D, U, 3}, {U, U, 0}, {U, D, 1}, {R, R, 0}},
    {{D, P, 3}, {P, U, 0}, {U, M, 1}, {M, D, 2}, {R, R, 0}},
    {{FP, FP, 4}, {FP, FM, 4}, {FM, FM, 4}, {FM, FP, 4}, {Z, Z, 4}},
    {{P, P, 0}, {P, U, 0}, {U, U, 0}, {U, P, 0}, {R, R, 0}},
};

} // namespace

void CPSKMod::InitPSKMod(int rate, double level) {
    level_ = level;
    if (rampRate_ != rate || ramps_[0].empty()) {
        rampRate_ = rate;
        rampSamples_ = 0; // storage of a new size: build anew
    }
    rate_ = rate;
    carrierIncrement_ = twoPi * carrier_ / (rate_ * clock_);
    sampleTime_ = 1.0 / (rate_ * clock_);
    accumulator_ = 0.0;
    carrierPhase_ = 0.0;
    state_ = 4;
    gap_ = true;
    morseState_ = morseIdle;
    morseCount_ = 0;
    morsePattern_ = 0;
    SetTXMode(mode_);
    iRamp_ = qRamp_ = ramps_[zero].data();
    lastSymbol_ = 4;
    codeRegister_ = 0;
    varicodeBits_ = 0;
    endSeen_ = false;
    endFlushLeft_ = 0;
}

void CPSKMod::SetTXMode(int mode) {
    mode_ = mode;
    sampleIndex_ = 0;
    baud_ = (mode & 8) ? 62.5 : (mode & 16) ? 125.0 : 31.25;
    dotLength_ = 2 * ((mode & 8) ? 2 : (mode & 16) ? 4 : 1);
    symbolPeriod_ = 1.0 / baud_;
    const int sub = mode & 7;
    if (sub == 3 || sub == 4)
        sourceState_ = tune;
    else if (sub >= 6)
        sourceState_ = off;
    else
        sourceState_ = preamble;
    preambleLeft_ = 32;
    buildRamps(int(rate_ * clock_ / baud_));
}

void CPSKMod::setCarrier(double hz) {
    carrier_ = hz;
    carrierIncrement_ = twoPi * hz / (rate_ * clock_);
}

void CPSKMod::buildRamps(int n) {
    if (n == rampSamples_ && !ramps_[0].empty()) return;
    // Long enough for the slowest symbol at this rate, whatever n is now.
    const size_t length = size_t(rate_ * 0.032) + 1;
    const size_t current = std::max<size_t>(length, size_t(n) + 2);
    for (auto& r : ramps_) r.assign(current, 0.0);
    for (size_t k = 0; k < current; ++k) {
        const double c = std::cos(pi * double(k) / n);
        const bool firstHalf = double(k) < n / 2.0;
        ramps_[plus][k] = 1.0;
        ramps_[minus][k] = -1.0;
        ramps_[down][k] = c;
        ramps_[up][k] = -c;
        ramps_[fallPlus][k] = firstHalf ? c : 0.0;
        ramps_[fallMinus][k] = firstHalf ? -c : 0.0;
        ramps_[rise][k] = firstHalf ? 0.0 : -c;
    }
    rampSamples_ = n;
    rampLength_ = current;
    iRamp_ = qRamp_ = ramps_[zero].data();
}

void CPSKMod::CalcPSK(float* out, int count, int stride) {
    if (!iRamp_) InitPSKMod(rate_ == 0 ? 48000 : rate_, level_);
    for (int n = 0; n + 1 < count; n += 2) {
        carrierPhase_ += carrierIncrement_;
        const double c = std::cos(carrierPhase_), s = std::sin(carrierPhase_);
        const size_t k = std::min(size_t(sampleIndex_), rampLength_ - 1);
        const double a = level_ * iRamp_[k], b = level_ * qRamp_[k];
        ++sampleIndex_;
        float* o = out + std::ptrdiff_t(n) * stride;
        o[0] = float(a * c - b * s);
        o[stride] = float(a * s + b * c);

        accumulator_ += sampleTime_;
        if (accumulator_ >= symbolPeriod_) {
            accumulator_ -= symbolPeriod_;
            sampleIndex_ = 0;
            carrierPhase_ = std::fmod(carrierPhase_, twoPi);
            const int symbol = nextSymbol();
            const Transition& t = transitions[symbol][state_];
            iRamp_ = ramps_[size_t(t.i)].data();
            qRamp_ = ramps_[size_t(t.q)].data();
            state_ = t.next;
            lastSymbol_ = symbol;
        }
    }
}

int CPSKMod::nextChar() {
    switch (sourceState_) {
    case preamble:
        if (preambleLeft_ > 0) {
            --preambleLeft_;
            return sourceIdle;
        }
        sourceState_ = sending;
        return sourceIdle;
    case sending:
        return source_ ? source_(context_) : sourceIdle;
    case tune:
        return sourceEnd;
    case off:
        break;
    }
    return sourceOff;
}

int CPSKMod::nextSymbol() {
    switch (mode_ & 7) {
    case 0:
        return bpskSymbol();
    case 1:
    case 2:
        return qpskSymbol();
    case 3:
    case 4:
        return tuneSymbol();
    case 5:
        return morseSymbol();
    default:
        return carrierOff;
    }
}

int CPSKMod::bpskSymbol() {
    if (codeRegister_ != 0) {
        const int symbol = (codeRegister_ & 0x8000u) ? hold : reversal;
        codeRegister_ = uint16_t(codeRegister_ << 1);
        if (codeRegister_ == 0) gap_ = true;
        return symbol;
    }
    if (gap_) {
        gap_ = false;
        return reversal;
    }
    const int c = nextChar();
    if (c != sourceEnd) endSeen_ = false;
    if (c >= 0) {
        codeRegister_ = psk::VARICODE_TABLE[size_t(c & 0xFF)];
        return reversal;
    }
    if (c == sourceIdle) return reversal;
    if (c == sourceEnd) return flushingForEnd(bpskEndFlush) ? reversal : carrierOn;
    if (c == sourceOff) return carrierOff;
    return lastSymbol_;
}

int CPSKMod::qpskSymbol() {
    int symbol = psk::CONV_CODE_TABLE[codeRegister_ & 31u];
    if ((mode_ & 7) == 2 && (symbol == forward || symbol == back)) symbol = forward + back - symbol;
    codeRegister_ = uint16_t(codeRegister_ << 1);
    if (varicodeBits_ != 0) {
        if (varicodeBits_ & 0x8000u) codeRegister_ |= 1u;
        varicodeBits_ = uint16_t(varicodeBits_ << 1);
        if (varicodeBits_ == 0) gap_ = true;
    } else if (gap_) {
        gap_ = false;
    } else {
        const int c = nextChar();
        if (c != sourceEnd) endSeen_ = false;
        if (c >= 0)
            varicodeBits_ = psk::VARICODE_TABLE[size_t(c & 0xFF)];
        else if (c == sourceEnd && !flushingForEnd(qpskEndFlush))
            symbol = carrierOn;
        else if (c == sourceOff)
            symbol = carrierOff;
    }
    return symbol;
}

bool CPSKMod::flushingForEnd(int flush) {
    if (!endSeen_) {
        endSeen_ = true;
        endFlushLeft_ = flush;
    }
    if (endFlushLeft_ == 0) return false;
    --endFlushLeft_;
    return true;
}

int CPSKMod::tuneSymbol() { return nextChar() == sourceEnd ? carrierOn : carrierOff; }

int CPSKMod::morseSymbol() {
    if (morseState_ == morseOn) {
        if (morseCount_ > 0) {
            --morseCount_;
            return hold;
        }
        morseCount_ = dotLength_ - 1; // this symbol is the first of the gap
        morseState_ = dotLength_ >= 2 ? morseGap : morseIdle;
        return carrierOff;
    }
    if (morseState_ == morseGap) {
        if (--morseCount_ <= 0) morseState_ = morseIdle;
        return lastSymbol_;
    }
    if (morsePattern_ == 0) {
        const int c = nextChar();
        if (c < 0) return c == sourceEnd ? carrierOn : carrierOff;
        int upper = c & 0xFF;
        if (upper >= 'a' && upper <= 'z') upper -= 'a' - 'A';
        morsePattern_ = upper >= 32 && upper <= 90 ? psk::CW_TABLE[size_t(upper - 32)] : 0;
    }
    const unsigned element = morsePattern_ >> 14;
    morsePattern_ = uint16_t(morsePattern_ << 2);
    switch (element) {
    case 1:
        morseState_ = morseOn;
        morseCount_ = dotLength_ - 1;
        return carrierOn;
    case 2:
        morseState_ = morseOn;
        morseCount_ = 3 * dotLength_ - 1;
        return carrierOn;
    case 3:
        morseState_ = morseGap;
        morseCount_ = 2 * dotLength_ - 1;
        return carrierOff;
    default:
        return carrierOff;
    }
}
