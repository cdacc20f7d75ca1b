#pragma once
#include "framework/asyncObject.h"

/// Common base of the device-discovery classes. Each derived class declares
/// its own Enable property, Discover() method and newRadio event; the base
/// only gives them the host-object machinery and a common type.
class Controller : public asyncObject {
public:
    explicit Controller(std::shared_ptr<syncTask> taskGroup);
    ~Controller() override = default;
};
