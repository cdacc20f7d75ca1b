#pragma once
#include <functional>
#include <memory>

class asyncObject;

/// A host task: the call of a bound host callback, run on the host thread by
/// getUpdates / getRenderUpdates, and a keep-alive of the object that posted
/// it (empty for the Deleted notice, whose object is already gone).
struct asTask {
    virtual ~asTask() = default;
    std::function<void()> fn;
    std::shared_ptr<asyncObject> keepAlive;
};
