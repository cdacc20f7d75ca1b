// A radio and its transceivers as a host drives them.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class HostRadio : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init((::testing::TempDir() + "vireo_radio_" + std::to_string(getpid()) + ".log").c_str(), 1);
        started = true;
    }
    void TearDown() override {
        getUpdates();
        host::Log::get().clear();
    }
    host::Log& log = host::Log::get();
};

void onAdded(void* h, long long f, int rate, int ownerId) {
    host::Log::get().add({"added", {std::to_string(f), std::to_string(rate), std::to_string(ownerId)}, h}, vtrx_release);
}

} // namespace

TEST_F(HostRadio, AddedTransceiverArrivesWithItsHandleAndPublishedValues) {
    void* radio = Radio_create();
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_addVtrx(radio, 7000000, 0, 0);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("added").size() == 1; }));
    auto added = log.of("added")[0];
    EXPECT_EQ(added.args, (std::vector<std::string>{"7000000", "48000", "0"}));
    void* v = added.handle;

    vtrx_bindspecFreq(v, host::on<"specFreq", long long>);
    vtrx_bindtxagc(v, host::onObject<"txagc", agc_release>);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("txagc").empty(); }));
    EXPECT_EQ(log.of("specFreq")[0].args[0], "7000000");
    agc_bindVolume(log.of("txagc")[0].handle, host::on<"txVolume", float>);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("txVolume").empty(); }));
    EXPECT_EQ(log.of("txVolume")[0].args[0], std::to_string(0.0f));

    vtrx_setspecOffset(v, 1000); // a system change of specFreq follows
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("specFreq").size() == 2; }));
    EXPECT_EQ(log.of("specFreq")[1].args[0], "7001000");

    vtrx_setrxagc(v, nullptr); // refused: the chain keeps its gain control
    int notAVtrx = 0;
    Radio_removeVtrx(radio, &notAVtrx); // compared, never read
    Radio_release(radio);
}
