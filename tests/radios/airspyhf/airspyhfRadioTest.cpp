// The Airspy HF+ controller and radio as a host drives them, on the
// libairspyhf stand-in: the front end by band and gain, the tuning error the
// driver reports, and the samples on their way to a transceiver.
#include "radios/airspyhf/AirspyHFRadio.h"

#include "core/vtrx.h"
#include "radios/airspy/receiverHost.h"

#include <algorithm>
#include <climits>
#include <mutex>

namespace {

const uint64_t oneSerial[] = {3};
const uint32_t hfRates[] = {768000, 192000};

class AirspyHFHost : public ReceiverHost {
protected:
    void SetUp() override {
        attach("libairspyhf.so.1", "airspyhf");
        if (IsSkipped() || HasFatalFailure()) return;
        standin().setSerials(oneSerial, 1);
        standin().setRates(hfRates, 2);
    }
    void* radioOn3() {
        void* r = AirspyHFRadio_create();
        AirspyHFRadio_setSerial(r, 3);
        settle(r);
        return r;
    }
    float scale(void* r) { return object<AirspyHFRadio>(r)->gainScale(); }
};

using calls = std::vector<std::string>;

} // namespace

TEST_F(AirspyHFHost, DiscoveryAndAFailedListingUseTheHFNames) {
    void* c = AirspyHFController_create();
    AirspyHFController_bindnewRadio(c, host::onText<"newRadio">);
    AirspyHFController_Discover(c);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return logged().contains("info|airspyhf discover done"); }));
    poll();
    ASSERT_EQ(log.of("newRadio").size(), 1u);
    EXPECT_EQ(log.of("newRadio")[0].args[0], "AirspyHF~3");
    EXPECT_TRUE(logged().contains("info|airspyhf found 3"));
    AirspyHFController_release(c);

    void* r = AirspyHFRadio_create();
    AirspyHFRadio_setSerial(r, 99);
    settle(r);
    EXPECT_TRUE(logged().contains("error|airspyhf setup open failed -1"));
    releaseAndWait(r);
}

TEST_F(AirspyHFHost, FrontEndFollowsGainAndBandAndComesBackAtHF) {
    void* r = radioOn3();
    AirspyHFRadio_setrxGain(r, -3); // closed: kept for the start
    Radio_setrxLevelCalibration(r, 2.0);
    Radio_bindvtrxAdded(r, [](void* v, long long, int, int) { host::Log::get().add({"added", {}, v}, vtrx_release); });
    Radio_addVtrx(r, 14000000, 0, 0);
    settle(r);
    EXPECT_FLOAT_EQ(scale(r), 1.0f); // a closed device changes nothing
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == 1; }));
    void* v = log.of("added")[0].handle;

    size_t mark = standin().calls().size();
    Radio_start(r);
    settle(r);
    EXPECT_EQ(callsSince(mark), (calls{"open_sn 3", "set_hf_agc 0", "set_hf_lna 0", "set_hf_att 0",
                                       "set_samplerate 768000", "start", "set_hf_agc 0", "set_freq 14000000",
                                       "get_freq_shift"}));
    EXPECT_EQ(object<AirspyHFRadio>(r)->bandState(), 3);
    EXPECT_NEAR(scale(r), 2.0 * 10.0 * std::pow(10.0, 0.15), 1e-4);

    // At 14 MHz: LNA above 0 dB, 6 dB attenuator steps toward zero, at most 8.
    struct gainStep {
        int gain;
        calls sent;
        double scale;
    };
    const gainStep gains[] = {
        {6, {"set_hf_lna 1", "set_hf_att 0"}, 2.0 * 10.0 / std::pow(10.0, 0.3)},
        {-48, {"set_hf_lna 0", "set_hf_att 8"}, 2.0 * 10.0 * std::pow(10.0, 2.4)},
        {-60, {"set_hf_lna 0", "set_hf_att 8"}, 2.0 * 10.0 * std::pow(10.0, 3.0)},
        {-1536, {}, 2.0 * 10.0 * std::pow(10.0, 3.0)}, // 10^77.8 is no float: refused
        {0, {"set_hf_lna 0", "set_hf_att 0"}, 20.0},
    };
    for (const gainStep& g : gains) {
        mark = standin().calls().size();
        AirspyHFRadio_setrxGain(r, g.gain);
        settle(r);
        EXPECT_EQ(callsSince(mark), g.sent) << g.gain;
        EXPECT_NEAR(scale(r), g.scale, g.scale * 1e-6) << g.gain;
    }
    EXPECT_TRUE(loggedStartingWith("error|airspyhf rxGain -1536 with rxLevelCalibration 2 refused"));

    // Retunes: the band settings go out when the band changes, and every
    // time above 63 MHz, where the state alternates.
    const calls above = {"set_hf_agc 1", "set_hf_lna 0", "set_hf_att 0"};
    struct tuneStep {
        long long hz;
        bool settings;
        int band;
    };
    const tuneStep tunes[] = {{70000000, true, 2}, {80000000, true, 1}, {90000000, true, 2},
                              {40000000, true, 1}, {50000000, false, 1}};
    for (const tuneStep& t : tunes) {
        mark = standin().calls().size();
        vtrx_setvfo(v, t.hz);
        settle(r, v);
        calls expected = t.settings ? above : calls{};
        expected.push_back("set_freq " + std::to_string(t.hz));
        expected.push_back("get_freq_shift");
        EXPECT_EQ(callsSince(mark), expected) << t.hz;
        EXPECT_EQ(object<AirspyHFRadio>(r)->bandState(), t.band) << t.hz;
        EXPECT_FLOAT_EQ(scale(r), 2.0f) << "above 30 MHz the scale is the calibration alone";
    }

    // Above 30 MHz a gain change reaches nothing but the scale.
    mark = standin().calls().size();
    AirspyHFRadio_setrxGain(r, 3);
    settle(r);
    EXPECT_TRUE(callsSince(mark).empty());
    EXPECT_FLOAT_EQ(scale(r), 2.0f);

    // Back at HF: AGC off, and the gain applied again.
    mark = standin().calls().size();
    vtrx_setvfo(v, 7000000);
    settle(r, v);
    EXPECT_EQ(callsSince(mark), (calls{"set_hf_agc 0", "set_hf_lna 1", "set_hf_att 0", "set_freq 7000000",
                                       "get_freq_shift"}));
    EXPECT_NEAR(scale(r), 2.0 * 10.0 / std::pow(10.0, 0.15), 1e-4);

    // Stopped, retuned to 99 MHz and started: AGC off until the next retune
    // above 63 MHz turns it on.
    Radio_stop(r);
    vtrx_setvfo(v, 99000000);
    settle(r, v);
    mark = standin().calls().size();
    Radio_start(r);
    settle(r);
    EXPECT_EQ(callsSince(mark), (calls{"open_sn 3", "set_hf_agc 0", "set_samplerate 768000", "start",
                                       "set_hf_agc 0", "set_freq 99000000", "get_freq_shift"}));
    mark = standin().calls().size();
    vtrx_setvfo(v, 99200000);
    settle(r, v);
    EXPECT_EQ(callsSince(mark), (calls{"set_hf_agc 1", "set_hf_lna 0", "set_hf_att 0", "set_freq 99200000",
                                       "get_freq_shift"}));
    EXPECT_TRUE(logged().contains("info|airspyhf stopped"));
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHFHost, KnownToneLandsWhereTheDeviceReallyTuned) {
    // The device is left 3000 Hz (8 bins) below the frequency asked of it.
    standin().setFreqShift(3000);
    standin().setTone(50000.0, 0.5);
    standin().setPaced(0);
    standin().allow(0);
    void* r = radioOn3();
    ASSERT_NE(startWithTransceiver(r), nullptr);
    settle(r);
    EXPECT_EQ(object<Radio>(r)->receivers[0].tuningError, -3000);
    clearLines();
    standin().allow(2);
    auto lines = waitForLines(8);
    ASSERT_GE(lines.size(), 8u);
    // A new transceiver draws its first frame before it knows its centre.
    lines.erase(lines.begin());
    const std::vector<float> window(vtrx::bsSpecWindow.begin(), vtrx::bsSpecWindow.end());
    for (auto& line : lines) {
        EXPECT_NEAR(line.high - line.low, 768000.0, 1.0);
        // Above 30 MHz the scale is rxLevelCalibration, 1.
        auto [bin, level] = expectedPeak(window, line, 99000000.0 - 3000.0 + 50000.0, 0.5);
        size_t peak = size_t(std::max_element(line.values.begin(), line.values.end()) - line.values.begin());
        EXPECT_EQ(peak, bin);
        EXPECT_NEAR(line.values[peak], level, 0.02); // 0.2 dB
    }
    Radio_stop(r);
    releaseAndWait(r);
}

TEST_F(AirspyHFHost, PeakIsPublishedOnTheThirdTransferAt768k) {
    standin().setTone(50000.0, 0.5);
    standin().setPaced(0);
    standin().allow(2);
    void* r = radioOn3();
    AirspyHFRadio_bindadcPeak(r, host::on<"adcPeak", double>);
    Radio_start(r);
    // 65,536 samples at 768 kS/s are 0.085 s: two transfers are not yet 0.2 s.
    ASSERT_TRUE(waitFor([&] { return standin().delivered() == 2; }));
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("adcPeak").empty());
    standin().allow(3);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("adcPeak").size() == 1; }));
    // The held peak starts at 1, above the tone's 0.5.
    EXPECT_EQ(log.of("adcPeak")[0].args[0], host::text(1.0));
    standin().allow(6);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("adcPeak").size() == 2; }));
    EXPECT_NEAR(std::stod(log.of("adcPeak")[1].args[0]), 0.5, 1e-4);
    Radio_stop(r);
    releaseAndWait(r);
}

namespace {

std::mutex iqMutex;
std::vector<std::pair<size_t, int>> iqBlocks; // size and rate of each block a transceiver sent
void onIQ(void* array, double, int rate) {
    std::lock_guard<std::mutex> l(iqMutex);
    iqBlocks.emplace_back(size_t(complexArray_size(array)), rate);
    complexArray_delete(array);
}

} // namespace

TEST_F(AirspyHFHost, RatesTheDeviceDidNotListAreRefusedAndANewRatesBlocksComeAtOnce) {
    standin().setPaced(0);
    standin().allow(1); // one transfer per start of the stream
    void* r = radioOn3();
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    void* v = startWithTransceiver(r);
    ASSERT_NE(v, nullptr);
    vtrx_bindnewIQ(v, onIQ);
    vtrx_setSendIQ(v, true);
    // 65536 samples at 768000: a block of 512, three of 16384 and 15872
    // samples into the next.
    ASSERT_TRUE(waitFor([&] { return standin().delivered() == 1; }));
    settle(r, v);

    // The restart at 192000 brings one more transfer: its first block is one
    // of that rate, not the rest of the block of the old one.
    Radio_setSampleRate(r, 192000);
    ASSERT_TRUE(waitFor([&] { return standin().delivered() == 2; }));
    ASSERT_TRUE(host::pollUntil(getRenderUpdates, [&] {
        std::lock_guard<std::mutex> l(iqMutex);
        return std::any_of(iqBlocks.begin(), iqBlocks.end(), [](auto& b) { return b.second == 192000; });
    }));
    {
        std::lock_guard<std::mutex> l(iqMutex);
        auto first = std::find_if(iqBlocks.begin(), iqBlocks.end(), [](auto& b) { return b.second == 192000; });
        EXPECT_EQ(first->first, 2048u);
    }

    const size_t mark = standin().calls().size();
    for (int rate : {96000, INT_MAX}) Radio_setSampleRate(r, rate);
    settle(r);
    EXPECT_TRUE(logged().contains("error|airspyhf SampleRate 96000 refused, keeping 192000"));
    EXPECT_TRUE(logged().contains("error|airspyhf SampleRate 2147483647 refused, keeping 192000"));
    EXPECT_EQ(standin().calls().size(), mark) << "the device hears nothing of them";
    // The rate in force, after the last refusal; the bind's delivery and
    // the first refusal's came before the host's next set.
    ASSERT_TRUE(host::pollUntil(poll, [&] { return !log.of("SampleRate").empty(); }));
    EXPECT_EQ(log.of("SampleRate").back().args[0], "192000");
    Radio_stop(r);
    releaseAndWait(r);
}
