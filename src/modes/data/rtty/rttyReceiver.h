#pragma once
// rttyReceiver: decodes 45.45-baud ITA2 from a 48000-sample-per-second
// block, space at rxFreq and mark 170 Hz above it, as every station sends.
//
// Every 8th sample (6000 per second) is mixed down by a mark and a space
// oscillator and summed over the last 132 samples, one element: two sliding
// correlators. Eight times per element a slicer step takes the difference of
// their magnitudes and reads a frame ending at that moment from the history:
// stop element now, the code elements one element apart before it, start
// element six elements back. Each step scores how frame-like that is; the
// 60 steps of one character period (7.5 elements) are 60 phases. Once per
// period, half a period away from the phase locked on, the best-scoring
// phase of the period gives the character, unless the locked phase kept the
// higher scores over its last three periods and the best phase does not
// hold the idle letters-shift frames that lead a transmission. The
// character text, and the scores whenever the phase jumps, are what the
// receiver prints.
#include "dsp/buff.h"

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace rtty {

/// |a - b| on a circle of n.
int circularDistance(int a, int b, int n);

class rttyReceiver {
public:
    static constexpr int decimation = 8;
    static constexpr int window = 132; // samples at 6000 per second: one element
    static constexpr int phases = 60;
    static constexpr int historyLength = 128;
    static constexpr int traceLength = 1024;
    static constexpr int traceEvery = 256; // input samples per trace value
    static constexpr uint8_t lettersShiftCode = 31;

    /// Runs the block through the detectors. What the receiver prints is
    /// appended to `printed`, the characters alone (without phase-jump marks
    /// and scores, and without code 0) to `decoded`; every trace of
    /// traceLength values completed (|space| - |mark| every traceEvery input
    /// samples) to `traces`. A character after a space is read in letters
    /// shift unless a figures-shift frame comes first.
    void process(const buff<std::complex<float>>& block, int rxFreq, std::string& printed, std::string& decoded,
                 std::vector<buff<float>>& traces);

private:
    struct toneDetector {
        std::complex<float> oscillator{1.0f, 0.0f};
        std::complex<float> step{1.0f, 0.0f};
        std::array<std::complex<float>, window> ring{};
        int write = 0;
        int fill = 0;
        std::complex<float> sum{};

        void push(std::complex<float> x);
    };
    struct phaseRecord {
        std::array<double, 3> scores{}; // newest first
        uint8_t code = 0;
    };

    void slicerStep(std::string& printed, std::string& decoded);
    void endOfPeriod(std::string& printed, std::string& decoded);

    toneDetector space_, mark_;
    buff<float> trace_;
    int traceFill_ = 0;

    int stepCounter_ = 0;
    bool shortStep_ = false; // alternates 17 and 16: eight steps per element
    std::array<std::array<double, 2>, historyLength> history_{}; // mark, space magnitudes
    int historyIndex_ = 0;

    std::array<phaseRecord, phases> records_{};
    int phase_ = 0;         // of the step under way in the character period
    int sinceDecision_ = 0; // steps since the last character was decided
    double bestScore_ = 0.0;
    uint8_t bestCode_ = 0;
    int bestPhase_ = 0;
    int lockedPhase_ = 0;
    bool figures_ = false;
    int idlePhase_ = -1; // where the last period read a letters-shift frame best; -1: it did not
};

} // namespace rtty
