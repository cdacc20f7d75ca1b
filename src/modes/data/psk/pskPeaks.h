#pragma once
// Peak search of the PSK mode's scanner on an accumulated log spectrum.
#include <array>
#include <vector>

namespace psk {

struct peak {
    int frequency; // Hz
    double level;  // sum of five accumulated log-power bins
};

/// Local maxima of a five-bin moving sum over the 256 bins of a 512-point
/// spectrum at 8000 samples/s (bin centres 3 to 252), each placed by a
/// parabola through the three sums; sorted by level, highest first.
std::vector<peak> findPeakList(const std::array<float, 256>& logSpectrum);

} // namespace psk
