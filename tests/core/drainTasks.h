#pragma once
// Waiting for data tasks: a host request (ObjectTest::onGroup) may run ahead
// of data tasks already queued, so waiting on one says nothing about them. A
// data task queued after them runs after them.
#include "framework/asyncObject.h"

#include <latch>
#include <memory>

/// Returns once every data task queued for obj before the call has run.
inline void drainDataTasks(const std::shared_ptr<asyncObject>& obj) {
    std::latch done(1);
    seqTask t;
    t.fn = [&done] { done.count_down(); };
    t.name = "test.drain";
    obj->asyncProcess(t);
    done.wait();
}
