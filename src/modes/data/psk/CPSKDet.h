#pragma once
// CPSKDet: one receive channel for PSK31/63/125 (BPSK) and QPSK.
//
// Real audio at 8000 samples/s is mixed from the channel frequency to 0 Hz,
// decimated by 4 (and by 4 or 2 again below 125 baud) so that every symbol
// rate arrives at 16 filter steps per symbol, filtered by a wide frequency
// filter (AGC, AFC) and a narrow bit filter (timing, decisions). Symbols are
// decided by comparing each symbol's phase with the previous one; QPSK runs
// a 16-state Viterbi decoder on the phase steps. The bit stream becomes text
// through the varicode, gated by a squelch on a phase-quality measure.
//
// The mixer multiplies by e^(+j phase), so a phase step of the audio shows
// here with the opposite sign; sub-mode 2 turns the sense round.
//
// No heap memory, no locks: the owner serialises every call.
#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <random>

class CPSKDet {
public:
    using cplx = std::complex<float>;

    /// Mode values: 8 selects 62.5 baud, 16 selects 125 baud; the rest is
    /// the sub-mode (0 BPSK, 1 QPSK, 2 QPSK with the rotation inverted).
    static constexpr int mode62 = 8;
    static constexpr int mode125 = 16;

    CPSKDet();
    virtual ~CPSKDet() = default;

    /// Sets the mode (before Init).
    void setMode(int mode);
    int mode() const { return mode_; }
    /// Seeds the generator that breaks Viterbi ties; each channel its own.
    void seed(uint32_t s) { rng_.seed(s); }

    void Init(int rate);
    void ResetDetector();
    void SetRXFrequency(int hz);
    /// Processes count samples at the given stride; writes at most limit
    /// characters to out (no terminator) and returns how many.
    int ProcPSKDet(const float* samples, int count, int stride, char* out, int limit);

    /// The AFC-corrected frequency after the last call, Hz.
    int frequency() const { return rxFrequency_; }
    int signalQuality() const { return signalQuality_; }
    bool squelchOpen() const { return squelchOpen_; }
    double qualityAverage() const { return qualityAverage_; }
    double agcAverage() const { return agcAverage_; }
    int reversalRun() const { return reversalRun_; }
    int steadyRun() const { return steadyRun_; }
    bool acquiring() const { return acquire_; }

private:
    struct Step {
        cplx frequency; // frequency-filter output
        cplx bit;       // bit-filter output
    };

    void filterStep(cplx value, char* out, int limit, int& written);
    void agcStep(Step& s);
    void afcStep(cplx z);
    bool SymbSync(cplx b);
    void DecodeSymb(cplx b, char* out, int limit, int& written);
    int viterbiStep(double angle);
    void CalcQuality(double angle);
    void recentreWindow();
    bool qpsk() const { return subMode_ == 1 || subMode_ == 2; }

    // settings
    int mode_ = 0;
    int subMode_ = 0;
    bool baud62_ = false;
    bool baud125_ = false;
    int rate_ = 8000;
    double rateD_ = 8000.0;
    int rxFrequency_ = 1500;

    // oscillator and AFC
    double phase_ = 0.0;
    double increment_;
    double afcCorrection_ = 0.0;
    double afcRange_;
    double upperLimit_;
    double lowerLimit_;
    int holdCount_ = 0;
    bool acquire_ = false;
    double freqErrorAverage_ = 0.0;
    double phaseError_ = 0.0;
    double phaseErrorAverage_ = 0.0;
    double phaseErrorTimeConstant_ = 100.0;
    cplx afc1_{}, afc2_{};

    int sampleCount_ = 0;

    // delay lines, each written at a downward-counting index
    std::array<cplx, 35> decim1_{};
    std::array<cplx, 35> decim2_{};
    std::array<cplx, 65> symbolLine_{};
    int decim1Index_ = 34;
    int decim2Index_ = 34;
    int symbolIndex_ = 64;

    double agcAverage_ = 0.0;

    // symbol timing
    std::array<double, 21> energy_{};
    int chosenPosition_ = 0;
    int peakPosition_ = 5;
    int positionInSymbol_ = 0;
    double symbolClock_ = 0.0;
    double symbolClockIncrement_ = 0.002;

    // decoder
    cplx previousBit_{};
    uint16_t bitRegister_ = 0;
    bool lastBitZero_ = false;
    // A plain array: the sanitizer build checks every index against it.
    uint8_t decodeTable_[2048] = {};

    // Viterbi survivors
    std::array<double, 16> pathMetric_{};
    std::array<uint32_t, 16> pathHistory_{};
    std::minstd_rand rng_{1};

    // quality and squelch
    double qualityAverage_ = 0.0;
    int signalQuality_ = 0;
    int squelchThreshold_ = 50;
    bool squelchOpen_ = false;
    int smoothing_ = 75;
    int reversalRun_ = 0;
    int steadyRun_ = 0;
    int positiveRun_ = 0;
    int negativeRun_ = 0;
};
