#pragma once
// J16: one entry of a radio's filter-board band list: every frequency up to
// and including maxfrequency (Hz) selects rx while receiving and tx while
// transmitting. The radio takes the first entry that covers the frequency
// in use, so a list is kept in ascending order.
#include "framework/asyncProperty.h"

class J16 : public asyncObject {
public:
    explicit J16(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
    ~J16() override = default;

    asyncProperty<int> maxfrequency{0};
    asyncProperty<int> rx{0};
    asyncProperty<int> tx{0};
};
