#pragma once
// cwKeyer: turns characters into shaped Morse elements at 48000 samples per
// second.
//
// A character's pattern (CharToMorse) is keyed element by element: a dot of
// 57600/wpm samples, a dash of three dots, a blank of one dot of silence,
// each mark at 0.95 with raised-cosine edges of 256 samples. The idle marker
// "@" (an empty queue) is six samples of silence; once the silence since the
// last element exceeds the hang time, keying stops and the caller ends the
// transmission.
#include "dsp/buff.h"

#include <complex>
#include <functional>
#include <string>

namespace cw {

class cwKeyer {
public:
    static constexpr int rampLength = 256;
    static constexpr int idleStep = 6; // samples per idle marker
    static constexpr double markLevel = 0.95;

    struct settings {
        double wpm = 20.0;
        int hangMs = 200;
        bool keyedByRadio = false; // the radio shapes the keying: 1.0 for mark, 0.0 for space
    };

    /// Keys out from its start. Returns the index at which the hang time ran
    /// out (the samples from there on are left alone), or out.count.
    /// nextChar gives the next character, "@" when there is none.
    size_t run(buff<std::complex<float>> out, const settings& s, const std::function<int()>& nextChar);

    /// A key that is down is not idle.
    void keyActive() { idle_ = 0; }
    /// The character under way goes no further: the next element starts the
    /// next character. Not from inside run.
    void dropCharacter() {
        element_ = patternLength_;
        sample_ = elementLength_;
        level_ = 0.0;
    }

private:
    void nextElement(const settings& s, const std::function<int()>& nextChar, bool& ended);

    std::string pattern_ = "     ";
    double level_ = 0.0;
    int patternLength_ = 0;
    int element_ = 0;
    int elementLength_ = 0;
    int sample_ = 0;
    int idle_ = 0; // samples of silence since the last element
};

} // namespace cw
