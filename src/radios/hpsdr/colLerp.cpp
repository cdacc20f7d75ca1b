#include "radios/hpsdr/colLerp.h"

#include <cmath>
#include <utility>
#include <vector>

double colLerp(const asyncPersistantCollection<calibLine>& curve, double x) {
    std::vector<std::pair<double, double>> p;
    for (auto& point : curve.items())
        if (point) p.emplace_back(point->inp.get(), point->outp.get());
    if (p.size() < 2) return 0.0;
    size_t i = 0;
    while (i + 2 < p.size() && p[i + 1].first < x) ++i;
    const auto [x0, y0] = p[i];
    const auto [x1, y1] = p[i + 1];
    const double y = x1 == x0 ? (x >= x1 ? y1 : y0) : y0 + (x - x0) * (y1 - y0) / (x1 - x0);
    return std::isfinite(y) ? y : 0.0;
}
