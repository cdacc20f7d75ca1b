#pragma once
// A private scheduler and a "host" that drains its update queue, for tests
// of the object framework from the inside.
#include "framework/asyncObject.h"
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"

#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <latch>
#include <memory>

class ObjectTest : public ::testing::Test {
protected:
    // Lets queued work finish before the scheduler goes: a task still queued
    // on a group holds its object, which holds the group, and both would leak.
    ~ObjectTest() override {
        waitFor([&] { return pool.busy() == 0; });
    }

    sothreadPool pool{2};
    std::shared_ptr<syncTask> group = std::make_shared<syncTask>(pool);

    /// Runs every host task queued so far, as getUpdates does.
    int poll() {
        int n = 0;
        asTask t;
        while (pool.updateQueue.pop(t)) {
            t.fn();
            ++n;
        }
        return n;
    }

    /// Runs f on the task group (as a request would) and waits for it.
    template <class F>
    void onGroup(const std::shared_ptr<asyncObject>& obj, F f) {
        std::latch done(1);
        seqTask t;
        auto body = std::make_shared<F>(std::move(f));
        t.fn = [body, &done] {
            (*body)();
            done.count_down();
        };
        t.name = "test.onGroup()";
        obj->queueSetItem(t);
        done.wait();
    }
};
