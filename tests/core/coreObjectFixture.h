#pragma once
// Tests of the transceiver core's objects driven the way a host drives them:
// the exported C functions (compiled into the test beside the core), the
// library's own scheduler and update queue, and a recording host. What the
// host cannot start itself (a transceiver's chain calling its gain control
// or mode) is run as a data task on the object's task group, on a pool
// worker, as the chain would.
#include "vireocore.h"

#include "framework/asyncObject.h"
#include "framework/exportPattern.h"
#include "support/hostHarness.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <latch>
#include <memory>
#include <string>

class CoreObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) {
            std::string path = ::testing::TempDir() + "vireo_core_" + std::to_string(getpid()) + ".log";
            init(path.c_str(), 1);
            LogCapture::tapLibrary();
        }
        started = true;
    }
    void TearDown() override {
        getUpdates();
        host::Log::get().clear();
    }

    /// The object behind a handle, as the class the test knows it to be.
    template <class X>
    static std::shared_ptr<X> object(void* handle) {
        return vireo::api::target<X>(handle, "test");
    }

    /// Runs f as a data task on obj's task group and waits for it. The turn
    /// that runs it first runs every host request queued before, so the
    /// host's earlier sets have taken effect when f runs.
    template <class F>
    static void onWorker(const std::shared_ptr<asyncObject>& obj, F f) {
        std::latch done(1);
        auto body = std::make_shared<F>(std::move(f));
        seqTask t;
        t.fn = [body, &done] {
            struct arrive {
                std::latch& l;
                ~arrive() { l.count_down(); } // also when f throws
            } a{done};
            (*body)();
        };
        t.name = "test.onWorker";
        obj->asyncProcess(t);
        done.wait();
    }

    host::Log& log = host::Log::get();
};
