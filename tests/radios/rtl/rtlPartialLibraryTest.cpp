// A librtlsdr that lacks some of the table's functions (the USB strings,
// the tuner gains and the bias tee): what needs them refuses with a line in
// the log, everything else works.
#include "radios/rtl/RTLController.h"
#include "radios/rtl/RTLRadio.h"

#include "radios/rtl/rtlStandin.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

using PartialLibrary = RTLHost;

TEST_F(PartialLibrary, WhatNeedsAMissingFunctionRefusesAndTheRestRuns) {
    rtlsdr::addDevice("00000001");
    rtlsdr::pace(300);

    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_Discover(c);
    ASSERT_TRUE(logged("info|rtl discover done"));
    for (const char* name : {"rtlsdr_get_device_usb_strings", "rtlsdr_get_tuner_gains", "rtlsdr_set_bias_tee",
                             "rtlsdr_set_bias_tee_gpio"})
        EXPECT_EQ(capture->count(std::string("info|failed to load ") + name), 1u) << name;
    EXPECT_EQ(capture->count("info|rtlsdr loaded dll librtlsdr.so"), 1u);
    EXPECT_TRUE(capture->contains("error|rtl discover refused: librtlsdr lacks rtlsdr_get_device_usb_strings"));
    EXPECT_TRUE(rtlsdr::calls("get_device_count").empty());

    void* r = RTLRadio_create();
    auto radio = object<RTLRadio>(r);
    RTLRadio_setSerial(r, "00000001");
    RTLRadio_setBiasT(r, true);
    onWorker(radio, [] {});
    EXPECT_TRUE(capture->contains("error|rtl setup refused: librtlsdr lacks rtlsdr_get_tuner_gains"));
    EXPECT_TRUE(rtlsdr::calls("open").empty());
    EXPECT_EQ(radio->minRxRFGain.get(), -48);

    // The radio streams without a bias tee.
    Radio_start(r);
    ASSERT_TRUE(logged("info|rtl started"));
    EXPECT_TRUE(capture->contains("info|rtl bias tee not in this librtlsdr, left off"));
    ASSERT_TRUE(waitFor([] { return rtlsdr::delivered() > 2; }));
    Radio_stop(r);
    onWorker(radio, [] {});
    EXPECT_EQ(rtlsdr::openHandles(), 0);
    EXPECT_EQ(capture->count("info|rtlsdr loaded dll librtlsdr.so"), 1u); // loaded once for all
    radio.reset(); // the test's own reference
    releaseAndWait(r, RTLRadio_release);
    releaseAndWait(c, RTLController_release);
}
