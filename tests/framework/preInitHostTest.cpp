// Calls a host may make before init: nothing crashes and nothing runs.
#include "vireocore.h"

#include <gtest/gtest.h>

TEST(BeforeInit, CallsReturnAtOnceAndObjectsTakeNoWork) {
    getUpdates();
    getRenderUpdates();
    testing::internal::CaptureStdout();
    closeAudio();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    void* obj = asyncObject_create(); // no task group yet
    ASSERT_NE(obj, nullptr);
    testing::internal::CaptureStdout();
    asyncObject_Ping(obj, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("queueSetItem null taskgroup asyncObject.Ping()"), std::string::npos) << out;
    asyncObject_release(obj);
    getUpdates();
}
