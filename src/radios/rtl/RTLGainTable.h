#pragma once
// The gain rows of an RTL-SDR tuner: every combination the host may select,
// in rising order of total gain, built by sweeping the gain stages one after
// the other. A row's last stage value is the tuner gain; the values before it
// are the IF stages of an E4000 tuner, in stage order. Values are in tenths
// of a dB, row gains in whole dB.
//
// Radio's task group only.
#include <vector>

struct RTLGainRow {
    int gain = 0;            ///< whole dB, the sum of the stage values / 10, truncated
    std::vector<int> stages; ///< IF stages (E4000 only), then the tuner gain
};

class RTLGainTable {
public:
    /// The stage lists of a tuner: the E4000's six IF stages, then the
    /// tuner's own gain list (the only list for other tuners).
    static std::vector<std::vector<int>> stageLists(int tuner, const std::vector<int>& tunerGains);

    /// Appends the sweep of the stage lists: each value of each list in turn
    /// becomes the current value of its stage and adds a row of the current
    /// values, all stages starting at their first value. Every list must be
    /// non-empty. Rows already present stay in front.
    void append(const std::vector<std::vector<int>>& lists);

    /// The first row whose gain is at least `gain`, or null (empty table, or
    /// `gain` above the last row).
    const RTLGainRow* select(int gain) const;

    /// The sample multiplier that compensates a row's gain: 10 / 10^(gain/20)
    /// times the level calibration, on a full scale of 128.
    static float scaleFor(int rowGain, double rxLevelCalibration);

    const std::vector<RTLGainRow>& rows() const { return rows_; }
    bool empty() const { return rows_.empty(); }

private:
    std::vector<RTLGainRow> rows_;
};
