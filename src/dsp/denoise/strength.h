#pragma once
// The strength control: blends the network's band gains towards 1.
#include <cmath>

namespace denoise {

/// g x (level / 100) + (1 - level / 100). Level 100 keeps g, 0 gives 1, and
/// levels outside 0..100 extrapolate (hosts may rely on that). A NaN or
/// infinite level would poison every later frame through the smoothed gains,
/// so it counts as 100.
inline float applyStrength(float g, float level) {
    if (!std::isfinite(level)) level = 100.f;
    const float s = level / 100.f;
    return g * s + (1.f - s);
}

} // namespace denoise
