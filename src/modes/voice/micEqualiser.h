#pragma once
// The microphone equaliser as the voice transmit chains see it: the root
// object's curve, sampled at the 1024 bin frequencies of a 2048-point
// transform at 48000 samples per second (entry i at i × 23.4375 Hz), and the
// counter of its changes, by which a mode knows when to redesign.
//
// The curve belongs to the root object's task group; the modes read it from
// their transceivers' groups. Both reads below are safe from any task group.
// Without a root object the curve is flat (all 1.0) and the counter 0; that
// is logged once per process.
#include "dsp/buff.h"

#include <cstdint>
#include <functional>

namespace micEqualiser {

constexpr int curveLength = 1024;

/// Counter of curve changes; a reader redesigns when it differs from the
/// value it last used. Any thread.
uint32_t version();

/// curveLength gains, entry i for i × 24000 / curveLength Hz. A curve with
/// a gain past voiceTx::maxLevel is refused (logged), and the last one
/// without stays in use (flat before the first). Any thread.
buff<float> curve();

/// Where version() and curve() come from. Replaces the root object for
/// the rest of the process (tests); an empty source restores the root.
struct source {
    std::function<uint32_t()> version;
    std::function<buff<float>()> curve;
};
void replaceSource(source s);

/// The mode's follow-up: true (and eqVersion updated) when the curve
/// changed since eqVersion was taken. eqVersion starts at -1, so the first
/// call after construction is always true.
bool changedSince(int64_t& eqVersion);

} // namespace micEqualiser
