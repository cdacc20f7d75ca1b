// The loop-back test radio as a host drives it.
#include "vireocore.h"

#include "support/hostHarness.h"
#include "support/externalTool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <unistd.h>

namespace {

std::atomic<int> iqBlocks{0};
std::atomic<int> nonSilentIq{0};
std::atomic<int> iqRate{0};

void onIQ(void* iq, double, int rate) {
    iqRate.store(rate);
    const float* d = complexArray_data(iq);
    for (int i = 0; i < 2 * complexArray_size(iq); ++i)
        if (d[i] != 0.0f) {
            nonSilentIq.fetch_add(1);
            break;
        }
    iqBlocks.fetch_add(1);
    complexArray_delete(iq);
}

void onAdded(void* h, long long f, int rate, int ownerId) {
    host::Log::get().add({"added", {std::to_string(f), std::to_string(rate), std::to_string(ownerId)}, h},
                         vtrx_release);
}

class HostTestRadio : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (!started) init(logPath().c_str(), 1);
        started = true;
    }
    void TearDown() override {
        getUpdates();
        getRenderUpdates();
        host::Log::get().clear();
    }
    static std::string logPath() { return ::testing::TempDir() + "vireo_testradio_" + std::to_string(getpid()) + ".log"; }
    static void poll() {
        getUpdates();
        getRenderUpdates();
    }
    /// Starts the radio and takes the transceiver it adds, copying its IQ.
    void* startWithTransceiver(void* radio) {
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio);
        if (!host::pollUntil(poll, [&] { return log.of("added").size() == 1; })) return nullptr;
        void* v = log.of("added")[0].handle;
        vtrx_bindnewIQ(v, onIQ);
        vtrx_setSendIQ(v, true);
        vtrx_start(v); // the radio's first start starts no transceiver
        return v;
    }
    /// Releases the radio and the transceiver and waits until both are
    /// gone, so that none of their work is left running when the test ends.
    void releaseAndWait(void* radio, void* v) {
        asyncObject_bindDeleted(radio, host::on<"gone", int>);
        asyncObject_bindDeleted(v, host::on<"gone", int>);
        Radio_release(radio);
        log.clear(); // frees the transceiver's handle with the recorded calls
        EXPECT_TRUE(host::pollUntil(poll, [&] { return log.of("gone").size() == 2; }));
    }
    bool moreIqArrives() {
        int before = iqBlocks.load();
        return host::pollUntil(poll, [&] { return iqBlocks.load() > before; });
    }
    host::Log& log = host::Log::get();
};

} // namespace

TEST_F(HostTestRadio, StartsAndStopsManyTimesAndMayBeReleasedRunning) {
    void* radio = TestRadio_create();
    Radio_bindcanTransmit(radio, host::on<"canTransmit", bool>);
    Radio_stop(radio); // never started: harmless
    void* v = startWithTransceiver(radio);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(log.of("added")[0].args, (std::vector<std::string>{"14000000", "48000", "0"}));
    EXPECT_EQ(log.of("canTransmit").at(0).args[0], "true");
    ASSERT_TRUE(moreIqArrives());

    // Rates other than its own are refused, and its own told back: to a
    // host whose last word was a refused rate, once; to one whose last word
    // was its own rate, not at all (the host's last word is the radio's).
    Radio_bindSampleRate(radio, host::on<"SampleRate", int>);
    for (int rate : {0, -1, 96000, INT_MAX}) Radio_setSampleRate(radio, rate);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("SampleRate").size() == 1; }));
    EXPECT_EQ(log.of("SampleRate")[0].args[0], "48000");
    for (int rate : {0, 48000}) Radio_setSampleRate(radio, rate);
    host::pollFor(poll, std::chrono::milliseconds(200));
    EXPECT_EQ(log.of("SampleRate").size(), 1u);
    const std::string logged = tool::readFile(logPath()); // errors are flushed at once
    for (int rate : {0, -1, 96000, INT_MAX})
        EXPECT_NE(logged.find("] TestRadio SampleRate " + std::to_string(rate) + " refused, keeping 48000\n"), logged.npos);

    for (int cycle = 0; cycle < 36; ++cycle) {
        Radio_stop(radio);
        Radio_start(radio);
        ASSERT_TRUE(moreIqArrives()) << cycle;
    }
    EXPECT_EQ(iqRate.load(), 48000); // the blocks still come at the rate told
    EXPECT_EQ(nonSilentIq.load(), 0); // nothing but silence while receiving
    releaseAndWait(radio, v);         // still running: the worker ends with it
}
