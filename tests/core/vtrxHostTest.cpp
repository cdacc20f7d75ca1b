// A radio and its transceivers as a host drives them.
#include "vireocore.h"

#include "support/hostHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string logPath() { return ::testing::TempDir() + "vireo_radio_" + std::to_string(getpid()) + ".log"; }

// The library's log so far (errors are flushed as they are written).
std::string logText() {
    std::ifstream f(logPath());
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class HostRadio : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init(logPath().c_str(), 1);
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

    // A null gain control is refused: the chain keeps the one it has, which a
    // new bind hands out again.
    vtrx_bindrxagc(v, host::onObject<"rxagc", agc_release>);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("rxagc").size() == 1; }));
    asyncObject_bindEcho(log.of("rxagc")[0].handle, host::on<"echo", int>);
    vtrx_setrxagc(v, nullptr);
    vtrx_bindrxagc(v, host::onObject<"rxagc", agc_release>);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("rxagc").size() == 2; }));
    void* kept = log.of("rxagc")[1].handle;
    ASSERT_NE(kept, nullptr);
    asyncObject_Ping(kept, 7); // answered by the object whose Echo was bound above
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("echo").empty(); }));
    EXPECT_EQ(log.of("echo")[0].args[0], "7");
    EXPECT_NE(logText().find("vtrx.rxagc.set null handle"), std::string::npos);
    int notAVtrx = 0;
    Radio_removeVtrx(radio, &notAVtrx); // compared, never read
    Radio_release(radio);
}
