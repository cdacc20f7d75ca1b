#include "modes/data/psk/pskPeaks.h"

#include <algorithm>

namespace psk {

std::vector<peak> findPeakList(const std::array<float, 256>& s) {
    constexpr double binWidth = 8000.0 / 512.0;
    std::vector<peak> peaks;
    for (size_t i = 0; i < 250; ++i) {
        double below = 0, centre = 0, above = 0;
        for (size_t k = 0; k < 5; ++k) {
            below += s[i + k];
            centre += s[i + 1 + k];
            above += s[i + 2 + k];
        }
        if (!(below < centre && above < centre)) continue;
        const double delta = (above - below) / (2.0 * (2.0 * centre - below - above));
        peaks.push_back({int(binWidth / 2 + binWidth * double(i + 3) + binWidth * delta), centre});
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const peak& a, const peak& b) { return a.level > b.level; });
    return peaks;
}

} // namespace psk
