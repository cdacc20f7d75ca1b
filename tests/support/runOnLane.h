#pragma once
// Runs f as a data task on an object's task group and waits for it: for
// harnesses (benchmarks, fuzz targets) that drive an object's lane from a
// thread of their own. f must not throw.
#include "framework/asyncObject.h"

#include <latch>
#include <memory>

template <class F>
void runOnLane(const std::shared_ptr<asyncObject>& obj, F f) {
    std::latch done(1);
    seqTask t;
    t.fn = [&] {
        f();
        done.count_down();
    };
    t.name = "harness";
    obj->asyncProcess(t);
    done.wait();
}
