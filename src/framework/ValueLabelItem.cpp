#include "framework/ValueLabelItem.h"

ValueLabelItem::ValueLabelItem(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}

ValueLabelItem::ValueLabelItem(std::shared_ptr<syncTask> taskGroup, int value, std::string label)
    : asyncObject(std::move(taskGroup)) {
    // Not yet bound: nothing is posted, the values are only published.
    Value.set(value, true);
    Label.set(std::move(label), true);
}
