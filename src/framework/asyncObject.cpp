#include "framework/asyncObject.h"

#include "framework/criticalErrorDump.h"

#include <spdlog/spdlog.h>

asyncObject::asyncObject(std::shared_ptr<syncTask> taskGroup) : taskGroup_(std::move(taskGroup)) {}

asyncObject::~asyncObject() {
    intCallback deleted = Deleted.load();
    if (deleted && taskGroup_) {
        try {
            asTask t;
            t.fn = [deleted] { deleted(1); };
            taskGroup_->SendEvent(std::move(t));
        } catch (const std::exception& e) {
            spdlog::error("Deleted notice lost {}", e.what());
        } catch (...) {
        }
    }
}

bool asyncObject::queueSetItem(const seqTask& task) noexcept {
    try {
        if (!taskGroup_) {
            spdlog::error("queueSetItem null taskgroup {}", task.name);
            return false;
        }
        return taskGroup_->queueSetItem(task, shared_from_this());
    } catch (const std::exception& e) {
        try {
            spdlog::error("queueSetItem {} {}", e.what(), task.name);
        } catch (...) {
        }
    } catch (...) {
        criticalErrorDump::logException("queuesetitem", task.name);
        try {
            spdlog::error("queueSetItem {}", task.name);
        } catch (...) {
        }
    }
    return false;
}

void asyncObject::asyncProcess(const seqTask& task) {
    if (!taskGroup_) return;
    auto self = weak_from_this().lock();
    if (!self) return; // object already going: nobody is left to run the task
    taskGroup_->asyncProcess(task, std::move(self));
}

void asyncObject::SendEvent(std::function<void()> fn, toldAfter told) {
    if (!taskGroup_) return;
    auto self = weak_from_this().lock();
    if (!self) return;
    asTask t;
    t.fn = std::move(fn);
    t.keepAlive = std::move(self);
    t.told = told;
    taskGroup_->SendEvent(std::move(t));
}

void asyncObject::SendRenderEvent(std::function<void()> fn) {
    if (!taskGroup_) return;
    auto self = weak_from_this().lock();
    if (!self) return;
    asTask t;
    t.fn = std::move(fn);
    t.keepAlive = std::move(self);
    taskGroup_->SendRenderEvent(std::move(t));
}

void asyncObject::Ping(int n) {
    // Echo is read at delivery, so a bind made after the ping still counts.
    SendEvent([this, n] {
        if (auto echo = Echo.load()) echo(n);
    });
}
