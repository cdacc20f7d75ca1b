#pragma once
// CPSKMod: the PSK transmitter. Complex IQ at the set rate (48000) of
// BPSK or QPSK at 31.25, 62.5 or 125 baud with raised-cosine phase
// transitions, a steady tune carrier, or Morse keyed on the same carrier.
//
// Characters come one at a time from a character source, which answers with
// a code 0-255 or one of: idle (-3, nothing to send now), end (-2, hold a
// steady carrier), off (-1, carrier off).
//
// Transmit modes use the receive numbering (8: 62.5 baud, 16: 125 baud)
// with the low three bits: 0 BPSK, 1 QPSK, 2 QPSK with +-90 degrees
// swapped, 3 and 4 tune, 5 Morse; 6 and 7 send nothing (carrier off).
//
// No locks: the owner serialises every call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class CPSKMod {
public:
    using charSource = int (*)(void* context);
    static constexpr int sourceIdle = -3;
    static constexpr int sourceEnd = -2;
    static constexpr int sourceOff = -1;

    CPSKMod() = default;
    virtual ~CPSKMod() = default;

    void setCharSource(charSource source, void* context) {
        source_ = source;
        context_ = context;
    }

    /// Whether mode is one this transmitter sends: 31.25, 62.5 (8) or 125
    /// (16) baud with BPSK, QPSK, tune or Morse (0-5).
    static constexpr bool sends(int mode) {
        const int speed = mode & ~7;
        return mode >= 0 && (mode & 7) <= 5 && (speed == 0 || speed == 8 || speed == 16);
    }

    void InitPSKMod(int rate, double level);
    void SetTXMode(int mode);
    /// Carrier frequency in Hz; the phase runs on.
    void setCarrier(double hz);
    /// Writes count / 2 complex samples to out as I, Q pairs, each pair
    /// stride floats after the previous one.
    void CalcPSK(float* out, int count, int stride);

    int txMode() const { return mode_; }
    double carrier() const { return carrier_; }
    /// Phase state 0-3 ((+,+), (+,-), (-,-), (-,+)) or 4 (off).
    int phaseState() const { return state_; }

private:
    enum Ramp { zero, plus, minus, down, up, fallPlus, fallMinus, rise, rampCount };
    enum SourceState { preamble, sending, tune, off };
    enum MorseState { morseIdle, morseOn, morseGap };

    void buildRamps(int samplesPerSymbol);
    int nextChar();
    int nextSymbol();
    int bpskSymbol();
    int qpskSymbol();
    int tuneSymbol();
    int morseSymbol();

    charSource source_ = nullptr;
    void* context_ = nullptr;

    int rate_ = 8000;
    double clock_ = 1.0;
    double level_ = 0.707;
    double carrier_ = 1500.0;
    double carrierPhase_ = 0.0;
    double carrierIncrement_ = 0.0;

    double baud_ = 31.25;
    double symbolPeriod_ = 0.032;
    double sampleTime_ = 1.0 / 8000.0;
    double accumulator_ = 0.0;
    int sampleIndex_ = 0;

    int mode_ = 0;
    SourceState sourceState_ = preamble;
    int preambleLeft_ = 0;

    int state_ = 4;
    int lastSymbol_ = 4;
    bool gap_ = true;
    uint16_t codeRegister_ = 0;
    uint16_t varicodeBits_ = 0;

    // The end (a steady carrier) waits until the last character is out: one
    // more zero bit in BPSK, enough coded zeros in QPSK to carry it through
    // the receiver's decoding delay.
    static constexpr int bpskEndFlush = 1;
    static constexpr int qpskEndFlush = 24;
    bool endSeen_ = false;
    int endFlushLeft_ = 0;
    /// True while the end still has flush symbols to send (counts one).
    bool flushingForEnd(int flush);

    MorseState morseState_ = morseIdle;
    int morseCount_ = 0;
    uint16_t morsePattern_ = 0;
    int dotLength_ = 2;

    int rampSamples_ = 0; // the symbol length the ramps are built for
    int rampRate_ = 0;    // the rate their storage was sized for
    std::array<std::vector<double>, rampCount> ramps_;
    const double* iRamp_ = nullptr;
    const double* qRamp_ = nullptr;
    size_t rampLength_ = 0;
};
