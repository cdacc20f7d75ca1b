#pragma once
// The microphone equaliser curve as the voice modes sample it: straight
// lines between points of (frequency, linear gain), starting at 0 Hz.
#include "dsp/buff.h"

#include <vector>

struct eqPoint {
    float hz;
    float gain;
};

/// n gains at the frequencies i x 24000 / n Hz, i = 0 .. n-1, on the curve
/// through the points in the order given. The first point stands at 0 Hz
/// whatever its frequency; the walk only moves forward and past the last
/// point the last segment goes on. No points give 1.0, one point its gain,
/// everywhere. A segment of zero width (two points at one frequency) gives
/// the upper point's gain; a value that does not come out finite does too.
/// n <= 0 gives an empty buffer. Point differences are formed in single
/// precision, the rest in double.
buff<float> sampleEqCurve(const std::vector<eqPoint>& points, int n);
