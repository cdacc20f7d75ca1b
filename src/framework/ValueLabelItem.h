#pragma once
#include "framework/asyncProperty.h"

/// One choice in a host-visible list: an integer value and a text label
/// (a sample rate, an antenna, a mode, a device).
class ValueLabelItem : public asyncObject {
public:
    /// Unpublished Value 0 and empty Label (host-made items).
    explicit ValueLabelItem(std::shared_ptr<syncTask> taskGroup);
    /// Library-made items: both published, so a later bind delivers them.
    ValueLabelItem(std::shared_ptr<syncTask> taskGroup, int value, std::string label);
    ~ValueLabelItem() override = default;

    asyncProperty<int> Value{0};
    asyncProperty<std::string> Label;
};

