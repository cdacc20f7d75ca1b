// The PSK mode as a host uses it, through the C interface only: the
// clock-paced loop-back radio, one transceiver sending PSK125 and another
// reading it, the lists and events a host sees, and refused values.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <mutex>
#include <vector>

namespace {

void poll() {
    getUpdates();
    getRenderUpdates();
}
std::string joined(const std::string& what) {
    std::string s;
    for (auto& c : host::Log::get().of(what)) s += c.args.at(0);
    return s;
}

} // namespace

TEST(PskHost, SendsAndReadsThroughTheLoopBackRadio) {
    init((::testing::TempDir() + "vireo_psk_" + std::to_string(getpid()) + ".log").c_str(), 1);
    auto& log = host::Log::get();

    void* radio = TestRadio_create();
    Radio_bindvtrxAdded(radio, host::Transceivers::onAdded);
    Radio_start(radio);
    // The listener on the sender's frequency: the test radio loops the
    // transmitted baseband back at its receiver's centre, and BPSK reads
    // either sense.
    Radio_addVtrx(radio, 14000000, 0, 0);
    const auto added = host::Transceivers::await(poll, 2);
    ASSERT_EQ(added.size(), 2u);
    void* tx = added[0];
    void* rx = added[1];

    void* sender = PskModDemod_create();
    void* listener = PskModDemod_create();
    PskModDemod_binddets(listener, host::onCollection<"dets", PskDetector_release>);
    PskModDemod_bindModes(listener, host::onCollection<"modes", ValueLabelItem_release>);
    PskModDemod_bindnewChars(listener, host::onText<"rx">);
    PskModDemod_bindsentChars(sender, host::onText<"sent">);
    PskModDemod_bindprimaryDetector(listener, host::on<"primary", int>);
    PskModDemod_bindmode(listener, host::on<"mode", int>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("dets").size() == 66 && log.of("modes").size() == 6; }));
    void* lastModes = log.of("modes").back().handle;
    ValueLabelItem_bindLabel(lastModes, host::onText<"label">);
    void* channel65 = log.of("dets")[65].handle;
    PskDetector_bindMode(channel65, host::onText<"channelMode">);
    PskDetector_bindfreq(channel65, host::on<"channelFreq", int>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("label").empty() && !log.of("channelMode").empty(); }));
    EXPECT_EQ(log.of("label")[0].args[0], "QPSK125");
    EXPECT_EQ(log.of("channelMode")[0].args[0], "QPSK125");
    EXPECT_EQ(log.of("channelFreq")[0].args[0], "1500");

    // Refused: a channel that does not exist, a null text.
    PskModDemod_setprimaryDetector(listener, 99);
    PskModDemod_QueueText(sender, nullptr, 0);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("primary").empty(); }));
    EXPECT_EQ(log.of("primary").back().args[0], "60");

    PskModDemod_setmode(sender, 16);
    PskModDemod_setmode(listener, 16);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("primary").back().args[0] == "62"; }));
    vtrx_setModulation(tx, sender);
    vtrx_setModulation(rx, listener);
    vtrx_start(tx);
    vtrx_start(rx);

    const std::string text = "cq de vireo \xA3\xFD k";
    PskModDemod_QueueText(sender, (text + "~").c_str(), 0);
    vtrx_bindptt(tx, host::on<"ptt", bool>);
    vtrx_setptt(tx, true);
    // A second of start hold, the preamble, then about 1.3 s of text.
    ASSERT_TRUE(host::pollUntil(
        poll, [&] { return joined("rx").find(text) != std::string::npos; }, std::chrono::seconds(15)))
        << joined("rx");
    EXPECT_EQ(joined("sent"), text + "~");
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("ptt").empty(); }));
    EXPECT_EQ(log.of("ptt").back().args[0], "false"); // "~" released it

    Radio_stop(radio);
    host::pollFor(poll, std::chrono::milliseconds(100));
    vtrx_setModulation(tx, nullptr);
    vtrx_setModulation(rx, nullptr);
    host::pollFor(poll, std::chrono::milliseconds(50));
    for (void* v : added) vtrx_release(v);
    PskModDemod_release(sender);
    PskModDemod_release(listener);
    Radio_release(radio);
    host::pollFor(poll, std::chrono::milliseconds(50));
    log.clear();
}
