#include "core/Controller.h"

Controller::Controller(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}
