// Discovery of RTL-SDR receivers as a host sees it, against the stand-in.
#include "radios/rtl/RTLController.h"

#include "radios/rtl/rtlStandin.h"

#include <gtest/gtest.h>

using Discovery = RTLHost;

TEST_F(Discovery, SendsEveryReadableDeviceInIndexOrderAtEveryCall) {
    rtlsdr::addDevice("00000001");
    rtlsdr::addDevice("00000002");
    rtlsdr::rawSerial(rtlsdr::addDevice(""), std::string(256, 'S')); // no terminating zero anywhere
    rtlsdr::fail("get_device_usb_strings 1", -1);
    auto ids = [&] {
        std::vector<std::string> out;
        for (auto& c : log.of("newRadio")) out.push_back(c.args.at(0));
        return out;
    };
    const std::string full = "RTL~" + std::string(256, 'S');

    void* c = RTLController_create();
    RTLController_bindnewRadio(c, host::onText<"newRadio">);
    RTLController_setEnable(c, true); // stored only
    RTLController_Discover(c);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return ids().size() == 2; }));
    EXPECT_EQ(ids(), (std::vector<std::string>{"RTL~00000001", full}));
    // The last device reaches the host before the closing line is written.
    ASSERT_TRUE(logged("info|rtl discover done", 1));
    EXPECT_EQ(capture->lines(), (std::vector<std::string>{"info|rtl discover", "info|rtlsdr loaded dll librtlsdr.so",
                                                          "info|rtl discovered 00000001",
                                                          "info|rtl discovered " + std::string(256, 'S'),
                                                          "info|rtl discover done"}));

    // Each call stands alone: what was sent before is sent again.
    rtlsdr::fail("get_device_usb_strings 1", 0);
    RTLController_Discover(c);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return ids().size() == 5; }));
    EXPECT_EQ(ids(), (std::vector<std::string>{"RTL~00000001", full, "RTL~00000001", "RTL~00000002", full}));

    // No device: only the framing lines.
    rtlsdr::reset();
    RTLController_Discover(c);
    ASSERT_TRUE(logged("info|rtl discover done", 3));
    EXPECT_EQ(ids().size(), 5u);
    auto lines = capture->lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"info|rtl discover", "info|rtl discover done"}));
    EXPECT_TRUE(object<RTLController>(c)->Enable.get());
    releaseAndWait(c, RTLController_release);
}
