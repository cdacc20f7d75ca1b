#include "radios/rtl/RTLGainTable.h"

#include <cmath>
#include <numeric>

namespace {
constexpr int tunerE4000 = 1;
} // namespace

std::vector<std::vector<int>> RTLGainTable::stageLists(int tuner, const std::vector<int>& tunerGains) {
    std::vector<std::vector<int>> lists;
    if (tuner == tunerE4000) {
        lists = {{-30, 60}, {0, 30, 60, 90}, {0, 30, 60, 90}, {0, 10, 20}, {30, 60, 90, 120, 150},
                 {30, 60, 90, 120, 150}};
    }
    lists.push_back(tunerGains);
    return lists;
}

void RTLGainTable::append(const std::vector<std::vector<int>>& lists) {
    std::vector<int> current;
    for (auto& l : lists) {
        if (l.empty()) return; // a stage without values has no first value to start from
        current.push_back(l.front());
    }
    for (size_t stage = 0; stage < lists.size(); ++stage) {
        for (int value : lists[stage]) {
            current[stage] = value;
            int sum = std::accumulate(current.begin(), current.end(), 0);
            rows_.push_back({sum / 10, current});
        }
    }
}

const RTLGainRow* RTLGainTable::select(int gain) const {
    for (auto& row : rows_)
        if (row.gain >= gain) return &row;
    return nullptr;
}

float RTLGainTable::scaleFor(int rowGain, double rxLevelCalibration) {
    return float(10.0 / std::pow(10.0, rowGain / 20.0) * rxLevelCalibration * (1.0 / 128.0));
}
