#pragma once
// J16FilterBands: one transmit band of a filter set (J16Filter): every
// frequency up to and including maxfrequency (Hz) selects tx while
// transmitting. Its position in the set is its band number.
#include "framework/asyncProperty.h"

class J16FilterBands : public asyncObject {
public:
    explicit J16FilterBands(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
    ~J16FilterBands() override = default;

    asyncProperty<int> maxfrequency{0};
    asyncProperty<int> tx{0};
};
