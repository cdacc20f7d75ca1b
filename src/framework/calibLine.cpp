#include "framework/calibLine.h"

calibLine::calibLine(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
