#pragma once
// A data task queued on an object's task group after a delay, for work that
// must happen even when nothing else arrives (a radio that stopped asking for
// samples). The delay runs on the shared I/O runner's clock; the object is
// held weakly meanwhile, so one released before then gets nothing.
#include "framework/seqTask.h"

#include <chrono>
#include <memory>

class asyncObject;

/// Queues task on object's task group once delay has passed, if the object
/// still exists then. Any thread.
void postDelayed(std::weak_ptr<asyncObject> object, std::chrono::milliseconds delay, const seqTask& task);
