// Discovery of RTL-SDR receivers as a host sees it, against the stand-in.
#include "radios/rtl/RTLController.h"

#include "radios/rtl/rtlStandin.h"

#include <gtest/gtest.h>

namespace {

using Discovery = RTLHost;

std::vector<std::string> ids() {
    std::vector<std::string> out;
    for (auto& c : host::Log::get().of("newRadio")) out.push_back(c.args.at(0));
    return out;
}

} // namespace

TEST_F(Discovery, SendsEachReadableDeviceInIndexOrderEveryTime) {
    rtlsdr::addDevice("00000001");
    rtlsdr::addDevice("00000002");
    rtlsdr::addDevice("00000003");
    rtlsdr::fail("get_device_usb_strings 1", -1);

    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_setEnable(c, true); // stored only
    RTLController_Discover(c);
    ASSERT_TRUE(logged("info|rtl discover done"));
    ASSERT_TRUE(host::pollUntil(getUpdates, [] { return ids().size() == 2; }));
    EXPECT_EQ(ids(), (std::vector<std::string>{"RTL~00000001", "RTL~00000003"}));
    EXPECT_EQ(capture->lines(),
              (std::vector<std::string>{"info|rtl discover", "info|rtlsdr loaded dll librtlsdr.so",
                                        "info|rtl discovered 00000001", "info|rtl discovered 00000003",
                                        "info|rtl discover done"}));

    // Each discovery stands alone: the devices sent before are sent again,
    // and the library is not loaded a second time.
    rtlsdr::fail("get_device_usb_strings 1", 0);
    RTLController_Discover(c);
    ASSERT_TRUE(logged("info|rtl discover done", 2));
    ASSERT_TRUE(host::pollUntil(getUpdates, [] { return ids().size() == 5; }));
    EXPECT_EQ(ids(), (std::vector<std::string>{"RTL~00000001", "RTL~00000003", "RTL~00000001", "RTL~00000002",
                                               "RTL~00000003"}));
    EXPECT_EQ(capture->count("info|rtlsdr loaded dll librtlsdr.so"), 1u);
    EXPECT_TRUE(object<RTLController>(c)->Enable.get());
    releaseAndWait(c, RTLController_release);
}

TEST_F(Discovery, ASerialFillingItsWholeBufferIsTakenWithoutReadingPastIt) {
    const int i = rtlsdr::addDevice("x");
    const std::string full(256, 'S'); // no terminating zero anywhere
    rtlsdr::rawSerial(i, full);
    rtlsdr::addDevice("00000002");

    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_Discover(c);
    ASSERT_TRUE(host::pollUntil(getUpdates, [] { return ids().size() == 2; }));
    EXPECT_EQ(ids()[0], "RTL~" + full);
    EXPECT_EQ(ids()[1], "RTL~00000002");
    releaseAndWait(c, RTLController_release);
}

TEST_F(Discovery, NoDeviceGivesOnlyTheFramingLines) {
    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_Discover(c);
    ASSERT_TRUE(logged("info|rtl discover done"));
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_TRUE(ids().empty());
    EXPECT_EQ(capture->lines(), (std::vector<std::string>{"info|rtl discover", "info|rtlsdr loaded dll librtlsdr.so",
                                                          "info|rtl discover done"}));
    releaseAndWait(c, RTLController_release);
}
