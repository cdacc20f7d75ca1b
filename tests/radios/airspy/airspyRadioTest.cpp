// The Airspy controller and radio as a host drives them, on the libairspy
// stand-in: what reaches the driver (its call log), what reaches the host,
// and the samples on their way to a transceiver's spectrum.
#include "radios/airspy/AirspyRadio.h"

#include "core/vtrx.h"
#include "framework/ValueLabelItem.h"
#include "radios/airspy/SampleFeed.h"
#include "radios/airspy/receiverHost.h"

#include <atomic>
#include <climits>
#include <latch>
#include <numeric>

namespace {

const uint64_t twoSerials[] = {10, 2};
const uint32_t twoRates[] = {10000000, 2500000};

class AirspyHost : public ReceiverHost {
protected:
    void SetUp() override {
        attach("libairspy.so.0", "airspy");
        if (IsSkipped() || HasFatalFailure()) return;
        standin().setSerials(twoSerials, 2);
        standin().setRates(twoRates, 2);
    }
    /// A radio on serial 10, its rates listed.
    void* radioOn10() {
        void* r = AirspyRadio_create();
        AirspyRadio_setSerial(r, 10);
        settle(r);
        return r;
    }
    float scale(void* r) { return object<AirspyRadio>(r)->gainScale(); }

    /// Held inside a transfer (the meter's hook runs on the driver's
    /// thread), the radio loses every other reference; the last one then
    /// goes on the driver's thread, which must not stop or close its own
    /// device. Returns once the transfer has let it go.
    void releaseDuringATransfer(void* r) {
        auto keep = object<AirspyRadio>(r);
        // Shared with the hook, which goes with the radio.
        struct holdUp {
            std::atomic<bool> armed{true};
            std::latch inside{1}, proceed{1};
        };
        auto h = std::make_shared<holdUp>();
        onWorker(keep, [&] {
            keep->adcPeak.changeHook = [h] {
                if (!h->armed.exchange(false)) return;
                h->inside.count_down();
                h->proceed.wait();
            };
        });
        Radio_start(r);
        h->inside.wait();
        Radio_release(r);
        ASSERT_TRUE(waitFor([&] {
            poll();
            return keep.use_count() == 2; // this test's and the transfer's
        }));
        keep.reset();
        h->proceed.count_down();
    }
};

using calls = std::vector<std::string>;

} // namespace

TEST_F(AirspyHost, DiscoverySendsOneIdPerListedDeviceAndOnlyLogsAFailure) {
    void* c = AirspyController_create();
    AirspyController_bindnewRadio(c, host::onText<"newRadio">);
    auto discover = [&](size_t round) {
        AirspyController_Discover(c);
        ASSERT_TRUE(host::pollUntil(poll, [&] { return logged().count("info|airspy discover done") == round; }));
        poll();
    };
    auto ids = [&] {
        std::vector<std::string> out;
        for (auto& e : log.of("newRadio")) out.push_back(e.args[0]);
        log.forget("newRadio");
        return out;
    };

    discover(1);
    EXPECT_EQ(ids(), (std::vector<std::string>{"Airspy~10", "Airspy~2"}));
    EXPECT_EQ(logged().lines(), (std::vector<std::string>{"info|airspy discover", "info|airspy found 10",
                                                          "info|airspy found 2", "info|airspy discover done"}));

    // A driver reporting more devices than the 16 it was asked for.
    std::vector<uint64_t> many(20);
    std::iota(many.begin(), many.end(), 100);
    standin().setSerials(many.data(), 20);
    discover(2);
    auto found = ids();
    ASSERT_EQ(found.size(), 16u);
    EXPECT_EQ(found.back(), "Airspy~115");

    standin().fail("list_devices", -1000);
    discover(3);
    EXPECT_TRUE(ids().empty());
    EXPECT_TRUE(logged().contains("info|airspy_list_devices fail -1000"));
    AirspyController_release(c);
}

TEST_F(AirspyHost, SerialListsTheRatesWithoutStreaming) {
    void* r = AirspyRadio_create();
    AirspyRadio_bindSampleRates(r, host::onCollection<"rates", ValueLabelItem_release>);
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    AirspyRadio_setSerial(r, 10);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("rates").size() == 2 && log.of("SampleRate").size() == 1; }));
    auto item = [&](size_t i) {
        auto x = object<ValueLabelItem>(log.of("rates")[i].handle);
        return std::to_string(x->Value.get()) + " " + x->Label.get();
    };
    EXPECT_EQ(item(0), "10000000 10M");
    EXPECT_EQ(item(1), "2500000 2.5M");
    EXPECT_EQ(log.of("SampleRate")[0].args[0], "10000000");
    // Listing opens and closes: the first rate must not start a stream.
    EXPECT_EQ(standin().calls(), (calls{"open_sn 10", "get_samplerates 0", "get_samplerates 2", "close"}));

    // The same serial, and serial 0, do nothing.
    AirspyRadio_setSerial(r, 10);
    AirspyRadio_setSerial(r, 0);
    settle(r);
    EXPECT_EQ(standin().calls().size(), 4u);

    // A device without rates leaves the list and SampleRate alone; an
    // absent one is passed over quietly.
    standin().setRates(nullptr, 0);
    AirspyRadio_setSerial(r, 2);
    AirspyRadio_setSerial(r, 77);
    settle(r);
    EXPECT_EQ(callsSince(4), (calls{"open_sn 2", "get_samplerates 0", "close", "open_sn 77"}));
    poll();
    EXPECT_EQ(log.of("rates").size(), 2u);
    EXPECT_EQ(log.of("SampleRate").size(), 1u);
    EXPECT_EQ(object<Radio>(r)->receivers[0].sampleRate, 10000000);

    // Rates the int properties cannot carry are left out.
    const uint32_t odd[] = {0, 4000000000u, 6000000};
    standin().setRates(odd, 3);
    AirspyRadio_setSerial(r, 10);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("rates").size() == 3; }));
    EXPECT_EQ(item(2), "6000000 6M");
    EXPECT_TRUE(logged().contains("error|airspy sample rate 4000000000 ignored"));
    releaseAndWait(r);
}

TEST_F(AirspyHost, GainRuleCompensatesEachLinearityStepAndRefusesAnOverflow) {
    void* r = radioOn10();
    const size_t listed = standin().calls().size();
    Radio_start(r);
    ASSERT_TRUE(standin().waitForCall("set_rf_bias 0"));
    settle(r);
    auto started = callsSince(listed);
    started.resize(6); // the transceiver it added may retune once more
    EXPECT_EQ(started, (calls{"open_sn 10", "set_linearity_gain 0", "set_samplerate 10000000", "start_rx",
                              "set_freq 99000000", "set_rf_bias 0"}));
    EXPECT_FLOAT_EQ(scale(r), 10.0f);

    struct step {
        int gain;
        double calibration;
        const char* sent; // nullptr: nothing
        double scale;
    };
    const step steps[] = {
        {0, 2.0, "set_linearity_gain 0", 20.0},
        {5, 2.0, "set_linearity_gain 5", 2.0},
        {21, 2.0, "set_linearity_gain 21", 2.0 * 10.0 / std::pow(10.0, 4.2)},
        {-1, 2.0, "set_linearity_gain 255", 2.0 * 10.0 * std::pow(10.0, 0.2)},
        // 10 / 10^-60: no float holds it; refused, the scale kept.
        {-300, 2.0, nullptr, 2.0 * 10.0 * std::pow(10.0, 0.2)},
    };
    for (const step& s : steps) {
        const size_t mark = standin().calls().size();
        AirspyRadio_setrxGain(r, s.gain);
        Radio_setrxLevelCalibration(r, s.calibration);
        settle(r);
        auto sent = callsSince(mark);
        if (s.sent) {
            ASSERT_FALSE(sent.empty()) << s.gain;
            EXPECT_EQ(sent.back(), s.sent);
        } else {
            EXPECT_TRUE(sent.empty()) << s.gain;
        }
        EXPECT_NEAR(scale(r), s.scale, s.scale * 1e-6) << s.gain;
    }
    EXPECT_TRUE(loggedStartingWith("error|airspy rxGain -300 with rxLevelCalibration 2 refused: gain scale "));

    const size_t mark = standin().calls().size();
    AirspyRadio_setBiasT(r, true);
    Radio_stop(r);
    // Closed: the scale still follows, the device hears nothing.
    AirspyRadio_setrxGain(r, 3);
    settle(r);
    EXPECT_EQ(callsSince(mark), (calls{"set_rf_bias 1", "stop_rx", "close"}));
    EXPECT_NEAR(scale(r), 2.0 * 10.0 / std::pow(10.0, 0.6), 1e-5);
    releaseAndWait(r);
}

TEST_F(AirspyHost, DeviceFrequencyGoesThroughAFloatAndIsClampedOrSkipped) {
    void* r = radioOn10();
    const size_t listed = standin().calls().size();
    // Nothing open: retuning and calibration send nothing.
    Radio_setfrequencyCalibration(r, 2.0);
    Radio_setfrequencyCalibration(r, 1.0);
    Radio_addVtrx(r, 99000003, 0, 0); // the first transceiver takes receiver 0 there
    settle(r);
    EXPECT_EQ(standin().calls().size(), listed);

    Radio_start(r);
    ASSERT_TRUE(standin().waitForCall("set_rf_bias 0"));
    EXPECT_EQ(standin().callsOf("set_freq"), (calls{"set_freq 99000000"}));

    const double calibrations[] = {std::nan(""), -1.0, 100.0, 1.0};
    for (double c : calibrations) Radio_setfrequencyCalibration(r, c);
    settle(r);
    EXPECT_EQ(standin().callsOf("set_freq"), (calls{"set_freq 99000000", "set_freq 0", "set_freq 4294967295",
                                                     "set_freq 99000000"}));
    // A NaN never reaches the radio: the base refuses it.
    EXPECT_TRUE(logged().contains("error|Radio.frequencyCalibration.set nan refused"));
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHost, KnownToneLandsOnItsBinAtTheLevelTheGainScalePredicts) {
    standin().setTone(50000.0, 0.01);
    standin().setPaced(0);
    standin().allow(0);
    void* r = radioOn10();
    void* v = startWithTransceiver(r);
    ASSERT_NE(v, nullptr);
    clearLines();
    standin().allow(12); // 786,432 samples at 10 MS/s
    auto lines = waitForLines(5);
    ASSERT_GE(lines.size(), 5u);
    // A new transceiver draws its first frame before it knows its centre.
    lines.erase(lines.begin());
    const std::vector<float> window(vtrx::bsSpecWindow.begin(), vtrx::bsSpecWindow.end());
    for (auto& line : lines) {
        EXPECT_NEAR(line.high - line.low, 10e6, 1.0);
        // rxGain 0: the scale is 10.
        auto [bin, level] = expectedPeak(window, line, 99050000.0, 0.01 * 10.0);
        size_t peak = size_t(std::max_element(line.values.begin(), line.values.end()) - line.values.begin());
        EXPECT_EQ(peak, bin);
        EXPECT_NEAR(line.values[peak], level, 0.02); // 0.2 dB
    }
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHost, StartsAndStopsFiftyTimesAndRestartsOnARateChange) {
    standin().allow(4);
    void* r = radioOn10();
    void* v = startWithTransceiver(r);
    ASSERT_NE(v, nullptr);
    for (int i = 0; i < 50; ++i) {
        Radio_stop(r);
        Radio_start(r);
    }
    settle(r);
    auto all = standin().calls();
    EXPECT_EQ(std::count(all.begin(), all.end(), "start_rx"), 51);
    EXPECT_EQ(std::count(all.begin(), all.end(), "stop_rx"), 50);
    EXPECT_EQ(std::count(all.begin(), all.end(), "close"), 51); // with the listing's
    EXPECT_EQ(standin().streaming(), 1);

    // A rate the device did not list is refused, the one in force told
    // again; the stream runs on untouched.
    const size_t mark = all.size();
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    for (int rate : {0, 5000000, INT_MAX}) Radio_setSampleRate(r, rate);
    settle(r);
    for (const char* line : {"error|airspy SampleRate 0 refused, keeping 10000000",
                             "error|airspy SampleRate 5000000 refused, keeping 10000000",
                             "error|airspy SampleRate 2147483647 refused, keeping 10000000"})
        EXPECT_TRUE(logged().contains(line)) << line;
    // The rate in force after the last refusal: the earlier ones, and the
    // bind's delivery, were followed by another set before the host heard
    // them.
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("SampleRate").empty(); }));
    for (auto& told : log.of("SampleRate")) EXPECT_EQ(told.args[0], "10000000");
    EXPECT_EQ(standin().calls().size(), mark);
    Radio_setSampleRate(r, 2500000);
    settle(r);
    EXPECT_EQ(callsSince(mark), (calls{"stop_rx", "set_samplerate 2500000", "start_rx"}));
    EXPECT_TRUE(waitForLineSpanning(2.5e6)) << "no spectrum line at the new rate";
    Radio_stop(r);
    releaseAndWait(r);
    EXPECT_EQ(standin().streaming(), 0);
}

TEST_F(AirspyHost, SerialChangeWhileRunningMovesTheStreamToTheNewDevice) {
    standin().allow(2);
    void* r = radioOn10();
    Radio_start(r);
    settle(r);
    const size_t mark = standin().calls().size();
    AirspyRadio_setSerial(r, 2);
    settle(r);
    EXPECT_EQ(callsSince(mark), (calls{"stop_rx", "close", "open_sn 2", "get_samplerates 0", "get_samplerates 2", "close",
                                       "open_sn 2", "set_linearity_gain 0", "set_samplerate 10000000", "start_rx",
                                       "set_freq 99000000", "set_rf_bias 0"}));
    EXPECT_EQ(standin().streaming(), 1);
    EXPECT_TRUE(object<AirspyRadio>(r)->isRunning());
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHost, UnpluggedMidStreamStopsCleanlyAndStreamsAgainWhenBack) {
    standin().setTone(50000.0, 0.1);
    void* r = radioOn10();
    Radio_start(r);
    ASSERT_TRUE(waitFor([&] { return standin().delivered() >= 2; }));
    standin().unplug(1);
    ASSERT_TRUE(waitFor([&] { return standin().streaming() == 0; }));
    Radio_stop(r);
    Radio_start(r);
    settle(r);
    EXPECT_TRUE(logged().contains("error|airspy start open failed -5"));

    standin().unplug(0);
    const long before = standin().delivered();
    Radio_start(r);
    EXPECT_TRUE(waitFor([&] { return standin().delivered() > before + 1; }));
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHost, ReleasedMidStreamTheDeviceIsStoppedAndClosed) {
    standin().setPaced(0);
    standin().allow(6);
    void* r = radioOn10();
    ASSERT_NE(startWithTransceiver(r), nullptr);
    ASSERT_TRUE(waitFor([&] { return standin().delivered() >= 3; }));
    releaseAndWait(r); // the transceiver's handle still held by the host
    EXPECT_TRUE(waitFor([&] { return standin().streaming() == 0 && standin().calls().back() == "close"; }));
}

TEST_F(AirspyHost, ReleasedWhileOnlyATransferHoldsItClosesFromAnotherThread) {
    standin().setTone(1000.0, 0.5);
    standin().setPaced(0);
    void* r = radioOn10();
    releaseDuringATransfer(r);
    if (HasFatalFailure()) return;
    // The listing's close and the last.
    ASSERT_TRUE(waitFor([&] { return standin().streaming() == 0 && standin().callsOf("close").size() == 2; }));
    EXPECT_EQ(standin().closedOnDeliveryThread(), 0);
    EXPECT_TRUE(logged().contains("info|airspy released during a transfer: closing from another thread"));
}

TEST_F(AirspyHost, ExitWaitsForTheCloseOnAnotherThread) {
    // The host ends the process while the thread that closes the released
    // radio's device is still inside the driver's close: the driver's state
    // must go only after the close (the stand-in ends the process with
    // status 70 otherwise).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            standin().setTone(1000.0, 0.5);
            standin().setPaced(0);
            standin().setCloseDelay(300);
            void* r = radioOn10();
            releaseDuringATransfer(r);
            if (!waitFor([&] { return standin().callsOf("close").size() == 2; })) std::_Exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SampleFeedKernel, ScalesEverySampleAndHoldsTheLargestIButNeverANaN) {
    // 37 samples: the unrolled body, the four-lane rest and one odd sample.
    const size_t n = 37;
    std::vector<float> iq(2 * n);
    for (size_t i = 0; i < n; ++i) {
        iq[2 * i] = float(std::sin(double(i)) * double(i + 1));
        iq[2 * i + 1] = -3.0f * float(i + 1); // Q is larger, and no peak
    }
    iq[2 * 5] = std::nanf("");
    iq[2 * 20] = -40.0f;
    iq[2 * 36] = std::nanf("");
    std::vector<std::complex<float>> out(n);
    EXPECT_EQ(SampleFeed::scaleAndPeak(iq.data(), out.data(), n, 0.5f, 0.0f), 40.0f);
    for (size_t i = 0; i < n; ++i) {
        if (i == 5 || i == 36) {
            EXPECT_TRUE(std::isnan(out[i].real())) << i;
        } else {
            EXPECT_EQ(out[i].real(), iq[2 * i] * 0.5f) << i;
        }
        EXPECT_EQ(out[i].imag(), iq[2 * i + 1] * 0.5f) << i;
    }
    EXPECT_EQ(SampleFeed::scaleAndPeak(iq.data(), out.data(), n, 0.5f, 100.0f), 100.0f);
}
