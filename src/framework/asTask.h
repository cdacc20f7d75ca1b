#pragma once
#include "framework/hostWord.h"

#include <functional>
#include <memory>

class asyncObject;

/// A host task: the call of a bound host callback, run on the host thread by
/// getUpdates / getRenderUpdates, and a keep-alive of the object that posted
/// it (empty for the Deleted notice, whose object is already gone).
struct asTask {
    // Moves are declared so that queues move tasks instead of copying (and
    // possibly allocating for) their callables.
    asTask() = default;
    asTask(const asTask&) = default;
    asTask(asTask&&) noexcept = default;
    asTask& operator=(const asTask&) = default;
    asTask& operator=(asTask&&) noexcept = default;
    virtual ~asTask() = default;
    std::function<void()> fn;
    std::shared_ptr<asyncObject> keepAlive;
    /// For a property's value: skipped when a later host set replaced it
    /// (see hostWord.h). The keep-alive keeps the property alive.
    toldAfter told;
};
