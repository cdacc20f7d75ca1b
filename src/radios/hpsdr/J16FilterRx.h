#pragma once
// J16FilterRx: one row of a filter set's receive table. The row at position
// m serves the band mask m (bit k: a hardware receiver tuned in band k);
// `bands` records that mask for the host only: the selection takes the row
// by its position.
#include "framework/asyncProperty.h"

class J16FilterRx : public asyncObject {
public:
    explicit J16FilterRx(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
    ~J16FilterRx() override = default;

    asyncProperty<int> bands{0};
    asyncProperty<int> rx{0};
};
