// Starting and stopping: many cycles, a restart for another tuner mode,
// every step of a start that can fail, a device pulled out, and radios
// released while they stream, also by the library's own thread.
#include "sdrplayHost.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

using SDRPlayLife = SDRPlayHost;
using strings = std::vector<std::string>;

TEST_F(SDRPlayLife, FiftyStartsAndStopsEachClaimStreamAndGiveTheDeviceBack) {
    sdrplay::addDevice("60", 255);
    void* r = radio("60", "RSP1A", 768000);
    for (int i = 0; i < 50; ++i) {
        Radio_start(r);
        Radio_stop(r);
    }
    settle(r);
    EXPECT_EQ(sdrplay::calls("Init").size(), 50u);
    EXPECT_EQ(sdrplay::calls("ReleaseDevice").size(), 50u);
    EXPECT_FALSE(sdrplay::claimed(0));
    finish(r);
}

TEST_F(SDRPlayLife, LeavingTheDualTunerRateRestartsAnRSPduoOnOneTuner) {
    sdrplay::addDevice("61", 3, 5);
    void* r = radio("61", "RSPduo", 2000000);
    Radio_bindmaxHwReceivers(r, host::on<"receivers", int>);
    start(r);
    Radio_setSampleRate(r, 768000);
    settle(r);
    EXPECT_EQ(sdrplay::calls("SelectDevice"), (strings{"SelectDevice 61 3 2", "SelectDevice 61 1 1"}));
    EXPECT_EQ(sdrplay::calls("Uninit"), strings{"Uninit 61"});
    EXPECT_TRUE(sdrplay::streaming(0));
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("receivers").empty(); }));
    EXPECT_EQ(log.of("receivers").back().args[0], "1");
    finish(r);
}

TEST_F(SDRPlayLife, AFailedStepLeavesTheDeviceFreeAndTheNextStartWorks) {
    sdrplay::addDevice("62", 255);
    void* r = radio("62", "RSP1A", 768000);
    const std::pair<const char*, const char*> steps[] = {
        {"GetDevices", "error|sdrplay Serial not found"},
        {"SelectDevice", "error|sdrplay_api_SelectDevice Fail"},
        {"GetDeviceParams", "error|sdrplay_api_GetDeviceParams Fail"},
        {"tree", "error|sdrplay deviceParams == nullptr"},
        {"Init", "error|sdrplay_api_Init Fail"},
    };
    for (auto& [step, line] : steps) {
        SCOPED_TRACE(step);
        sdrplay::clearCalls();
        if (std::string(step) == "tree") sdrplay::nullTree(true);
        sdrplay::fail(step, 1);
        start(r);
        EXPECT_TRUE(capture->contains(line));
        EXPECT_FALSE(sdrplay::claimed(0));
        EXPECT_EQ(sdrplay::calls("UnlockDeviceApi").size(), 1u);
        sdrplay::fail(step, 0);
        sdrplay::nullTree(false);
        start(r);
        EXPECT_TRUE(sdrplay::streaming(0));
        Radio_stop(r);
        settle(r);
    }
    // A failed lock is only logged; a second start while streaming is ignored.
    sdrplay::clearCalls();
    sdrplay::fail("LockDeviceApi", 1);
    start(r);
    start(r);
    EXPECT_TRUE(capture->contains("error|sdrplay_api_LockDeviceApi Fail"));
    EXPECT_TRUE(capture->contains("info|sdrplay already started on 62"));
    EXPECT_EQ(sdrplay::calls("Init").size(), 1u);
    // A stop the library refuses keeps the device, for the next stop.
    sdrplay::fail("Uninit", 1);
    Radio_stop(r);
    settle(r);
    EXPECT_TRUE(sdrplay::streaming(0));
    sdrplay::fail("Uninit", 0);
    finish(r);
    EXPECT_FALSE(sdrplay::claimed(0));
}

TEST_F(SDRPlayLife, ARemovedDeviceIsForgottenAtTheNextStopThoughTheLibraryCannotStopIt) {
    sdrplay::addDevice("63", 255);
    void* r = radio("63", "RSP1A", 768000);
    start(r);
    StdoutCapture out;
    sdrplay::event(0, sdrplay_api_DeviceRemoved, 1, 0);
    ASSERT_TRUE(waitFor([] { return sdrplay::eventsDone(0); }));
    EXPECT_NE(out.stop().find("sdrplay_api_EventCb: sdrplay_api_DeviceRemoved\n"), std::string::npos);
    EXPECT_TRUE(capture->contains("error|sdrplay device 63 removed"));
    Radio_stop(r);
    settle(r);
    EXPECT_TRUE(capture->contains("error|sdrplay_api_Uninit DeviceRemoved"));
    EXPECT_FALSE(sdrplay::claimed(0));
    start(r);
    EXPECT_TRUE(capture->contains("error|sdrplay Serial not found"));
    sdrplay::replug(0);
    start(r);
    EXPECT_TRUE(sdrplay::streaming(0));
    finish(r);
}

TEST_F(SDRPlayLife, AReleasedRadioStopsItsDeviceWhicheverThreadLetsItGo) {
    // Released by the host mid-stream, with a transceiver taking its blocks.
    sdrplay::addDevice("64", 255);
    sdrplay::tone(0, 99.1e6, 1000);
    void* r = radio("64", "RSP1A", 2000000);
    start(r);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("added").empty(); }));
    vtrx_start(log.of("added")[0].handle);
    ASSERT_TRUE(waitFor([] { return sdrplay::delivered(0) > 200; }));
    finish(r, false);
    EXPECT_FALSE(sdrplay::streaming(0));
    EXPECT_FALSE(sdrplay::claimed(0));
    EXPECT_EQ(sdrplay::calls("Close").size(), 1u);

    // Released while a callback runs: the callback's reference is the last,
    // so the radio ends on the library's thread, which its stop waits for.
    sdrplay::stream(100, 2000); // no receive block fills: no other holder
    sdrplay::allow(0, 1);
    const long before = sdrplay::delivered(0);
    r = radio("64", "RSP1A", 2000000);
    start(r);
    getUpdates();
    log.clear();
    ASSERT_TRUE(waitFor([&] { return sdrplay::delivered(0) == before + 1; }));
    auto radio = object<SDRPlayRadio>(r);
    SDRPlayRadio_release(r);
    // Once the work queued at start is done (a retune takes the lock too),
    // this is the only reference.
    ASSERT_TRUE(waitFor([&] { return radio.use_count() == 1; })) << radio.use_count();
    radio->listMutex.lock();
    sdrplay::allow(0, 2); // the next callback waits for the lock, holding the radio
    EXPECT_TRUE(waitFor([&] { return radio.use_count() == 2; })) << radio.use_count();
    std::mutex& held = radio->listMutex;
    radio.reset();
    held.unlock();
    ASSERT_TRUE(waitFor([] { return !sdrplay::claimed(0) && sdrplay::calls("Close").size() == 2; }));
    EXPECT_TRUE(sdrplay::calls("Uninit")[1] == "Uninit 64");
}
