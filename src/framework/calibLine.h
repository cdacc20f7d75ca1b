#pragma once
#include "framework/asyncProperty.h"

/// One point of a piecewise-linear curve: an input and an output value
/// (meter calibration points, microphone equaliser points).
class calibLine : public asyncObject {
public:
    explicit calibLine(std::shared_ptr<syncTask> taskGroup);
    ~calibLine() override = default;

    asyncProperty<double> inp{0.0};
    asyncProperty<double> outp{0.0};
};
