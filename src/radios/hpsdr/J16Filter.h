#pragma once
// J16Filter: a filter set for a board's filter outputs: transmit bands in
// ascending order of their upper edge, and a receive table indexed by the
// mask of bands in which the hardware receivers are tuned.
#include "framework/asyncCollection.h"
#include "radios/hpsdr/J16FilterBands.h"
#include "radios/hpsdr/J16FilterRx.h"

class J16Filter : public asyncObject {
public:
    explicit J16Filter(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
    ~J16Filter() override = default;

    asyncPersistantCollection<J16FilterBands> FilterBands;
    asyncPersistantCollection<J16FilterRx> FilterRx;
};
