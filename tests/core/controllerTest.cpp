// The discovery base as a host sees it.
#include "core/Controller.h"

#include "core/coreObjectFixture.h"

#include <gtest/gtest.h>

using ControllerHost = CoreObjects;

TEST_F(ControllerHost, CreateAndReleaseSendNothing) {
    void* c = Controller_create();
    ASSERT_NE(c, nullptr);
    std::weak_ptr<Controller> alive = object<Controller>(c);
    EXPECT_FALSE(alive.expired());
    Controller_release(c);
    EXPECT_TRUE(alive.expired());
    Controller_release(nullptr);
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.all().empty());
}
