// The RTL-SDR radio as a host drives it, against the librtlsdr stand-in:
// gain rows, tuning of the device, and host values it must refuse.
#include "radios/rtl/RTLRadio.h"

#include "dsp/iqbalancer/iq_balancer.h"
#include "radios/rtl/rtlStandin.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

class RTLRadioHost : public RTLHost {
protected:
    /// A radio on the device with this serial, its setup done.
    void* radioOn(const char* serial) {
        void* r = RTLRadio_create();
        RTLRadio_bindminRxRFGain(r, host::on<"min", int>);
        RTLRadio_bindmaxRxRFGain(r, host::on<"max", int>);
        RTLRadio_setSerial(r, serial);
        settle(r);
        return r;
    }
    /// Waits until the radio's task group has run what the host queued.
    void settle(void* r) { onWorker(object<RTLRadio>(r), [] {}); }
    void start(void* r, size_t nth = 1) {
        Radio_start(r);
        ASSERT_TRUE(logged("info|rtl started", nth));
        settle(r);
        ASSERT_TRUE(waitFor([] { return rtlsdr::reading() == 1; })); // its call logged
    }
    /// Sets the frequency of receiver 0 and retunes, as the base does.
    int retune(const std::shared_ptr<RTLRadio>& radio, long long frequency) {
        int error = 0;
        onWorker(radio, [&] {
            {
                std::lock_guard<std::mutex> lock(radio->listMutex);
                radio->receivers[0].frequency = frequency;
            }
            radio->tune();
            error = radio->receivers[0].tuningError;
        });
        return error;
    }
    std::vector<int> rowGains(const std::shared_ptr<RTLRadio>& radio) {
        std::vector<int> g;
        onWorker(radio, [&] {
            for (auto& row : radio->gains.rows()) g.push_back(row.gain);
        });
        return g;
    }
    std::vector<std::string> values(const char* what) {
        std::vector<std::string> v;
        for (auto& c : log.of(what)) v.push_back(c.args.at(0));
        return v;
    }
};

} // namespace

TEST_F(RTLRadioHost, TunerGainsBecomeRowsThatSetTheTunerAndTheScale) {
    rtlsdr::gains(rtlsdr::addDevice("00000001"), {0, 9, 14, 27, 37});
    for (int count : {0, -5, 1 << 30}) rtlsdr::gains(rtlsdr::addDevice(std::to_string(count).c_str()), {}, count);
    rtlsdr::budget(0); // open and started, but nothing streams

    // Tuners without a usable count leave rows and range alone.
    void* r = radioOn("0");
    auto radio = object<RTLRadio>(r);
    RTLRadio_setSerial(r, "-5");
    RTLRadio_setSerial(r, "1073741824");
    settle(r);
    for (const char* n : {"0", "-5", "1073741824"})
        EXPECT_TRUE(capture->contains(std::string("error|rtl tuner reports ") + n + " gains, gain rows left as they are"));
    EXPECT_TRUE(rtlsdr::calls("get_tuner_gains list").empty());
    EXPECT_TRUE(rowGains(radio).empty());
    EXPECT_EQ(radio->maxRxRFGain.get(), 6);

    rtlsdr::clearCalls();
    RTLRadio_setSerial(r, "00000001");
    settle(r);
    EXPECT_EQ(rowGains(radio), (std::vector<int>{0, 0, 1, 2, 3}));
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("max").empty(); }));
    EXPECT_EQ(values("min"), std::vector<std::string>{"0"});
    EXPECT_EQ(values("max"), std::vector<std::string>{"4"});
    EXPECT_EQ(rtlsdr::calls(), (std::vector<std::string>{"get_index_by_serial 00000001", "open 0",
                                                         "get_tuner_gains count", "get_tuner_gains list",
                                                         "get_tuner_type", "close 0"}));
    EXPECT_EQ(radio->SampleRate.get(), 1536000); // from the 48000 default
    auto choices = [](auto& collection) {
        std::vector<std::string> out;
        for (auto& i : collection.items()) out.push_back(std::to_string(i->Value.get()) + " " + i->Label.get());
        return out;
    };
    EXPECT_EQ(choices(radio->SampleRates), (std::vector<std::string>{"1536000 1.536M", "2880000 2.88M", "3200000 3.2M"}));
    EXPECT_EQ(choices(radio->DirectSampleModes), (std::vector<std::string>{"0 ds off", "1 ds I", "2 ds Q"}));

    rtlsdr::clearCalls();
    start(r);
    auto calls = rtlsdr::calls();
    std::erase(calls, "read_async 32 32768"); // on the reader thread, at its own time
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "get_index_by_serial 00000001", "open 0", "set_sample_rate 1536000",
                         "set_center_freq 99000000", "set_freq_correction 0", "set_offset_tuning 0", "reset_buffer",
                         "set_center_freq 99000000", "set_tuner_gain 0", "set_direct_sampling 0", "set_bias_tee 0",
                         "get_tuner_type", "set_center_freq 99000000", "set_tuner_gain 0"}));
    EXPECT_EQ(radio->gainScale.load(), 0.078125f); // row gain 0

    rtlsdr::clearCalls();
    RTLRadio_setrxGain(r, 1);
    Radio_setrxLevelCalibration(r, 2.0);
    RTLRadio_setrxGain(r, 4); // above the last row: the gain in force stays
    settle(r);
    EXPECT_EQ(rtlsdr::calls(), (std::vector<std::string>{"set_tuner_gain 14", "set_tuner_gain 14"}));
    EXPECT_FLOAT_EQ(radio->gainScale.load(), float(2 * 10.0 / std::pow(10.0, 0.05) / 128.0));
    Radio_stop(r);
    settle(r);
    radio.reset(); // the test's own reference
    releaseAndWait(r, RTLRadio_release);
}

TEST_F(RTLRadioHost, E4000RowsSweepTheIfStagesBeforeTheTunerGain) {
    rtlsdr::gains(rtlsdr::addDevice("E4K", RTLSDR_TUNER_E4000), {-10, 15, 40});
    rtlsdr::gains(rtlsdr::addDevice("R820T"), {0, 9, 14, 27, 37});
    rtlsdr::budget(0);
    void* r = radioOn("E4K");
    auto radio = object<RTLRadio>(r);
    EXPECT_EQ(rowGains(radio), (std::vector<int>{2,  11, 11, 14, 17, 20, 20, 23, 26, 29, 29, 30, 31,
                                                 31, 34, 37, 40, 43, 43, 46, 49, 52, 55, 55, 57, 60}));
    onWorker(radio, [&] {
        auto& rows = radio->gains.rows();
        EXPECT_EQ(rows.front().stages, (std::vector<int>{-30, 0, 0, 0, 30, 30, -10}));
        EXPECT_EQ(rows.back().stages, (std::vector<int>{60, 90, 90, 20, 150, 150, 40}));
    });
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("max").empty(); }));
    EXPECT_EQ(values("min"), std::vector<std::string>{"2"});
    EXPECT_EQ(values("max"), std::vector<std::string>{"61"});

    start(r);
    rtlsdr::clearCalls();
    RTLRadio_setrxGain(r, 60);
    settle(r);
    EXPECT_EQ(rtlsdr::calls(),
              (std::vector<std::string>{"set_tuner_gain 40", "set_tuner_if_gain 0 60", "set_tuner_if_gain 1 90",
                                        "set_tuner_if_gain 2 90", "set_tuner_if_gain 3 20", "set_tuner_if_gain 4 150",
                                        "set_tuner_if_gain 5 150"}));
    RTLRadio_setrxGain(r, 18); // the first row at or above: gain 20
    settle(r);
    EXPECT_EQ(radio->gainScale.load(), 0.0078125f);
    Radio_stop(r);

    // Another device's rows go after the first's; the lowest stays in front.
    RTLRadio_setSerial(r, "R820T");
    settle(r);
    EXPECT_EQ(rowGains(radio).size(), 31u);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("max").size() == 2; }));
    EXPECT_EQ(values("max"), (std::vector<std::string>{"61", "4"}));
    EXPECT_EQ(values("min"), std::vector<std::string>{"2"});
    radio.reset(); // the test's own reference
    releaseAndWait(r, RTLRadio_release);
}

TEST_F(RTLRadioHost, TuningFollowsTheSynthesiserModelOnlyWhereItApplies) {
    rtlsdr::addDevice("R820T");
    rtlsdr::addDevice("E4K", RTLSDR_TUNER_E4000);
    rtlsdr::budget(0);
    void* r = radioOn("R820T");
    auto radio = object<RTLRadio>(r);
    Radio_setfrequencyCalibration(r, 1.0000001); // before the start: only kept
    settle(r);
    EXPECT_TRUE(rtlsdr::calls("set_center_freq").empty());

    start(r);
    // The start truncates 99000009.9, the model's tuning rounds it.
    EXPECT_EQ(rtlsdr::calls("set_center_freq"),
              (std::vector<std::string>{"set_center_freq 99000009", "set_center_freq 99000009",
                                        "set_center_freq 99000010"}));
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].tuningError, 2); }); // 100525012 - 100525010
    Radio_setfrequencyCalibration(r, 1.0);
    settle(r);
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].tuningError, 12); });

    // The same frequency again sends nothing; a new one is modelled, and the
    // IQ balancer searches afresh around the centre.
    rtlsdr::clearCalls();
    onWorker(radio, [&] {
        std::lock_guard<std::mutex> lock(radio->listMutex);
        radio->iqCorrector = iq_balancer_create(0.0f, 0.0f);
        iq_balancer_set_optimal_point(radio->iqCorrector, 0.25f);
    });
    EXPECT_EQ(retune(radio, 99000000), 12);
    EXPECT_TRUE(rtlsdr::calls().empty());
    EXPECT_NE(radio->iqCorrector->optimal_bin, 2048);
    EXPECT_EQ(retune(radio, 144300000), -62);
    EXPECT_EQ(rtlsdr::calls(), (std::vector<std::string>{"get_tuner_type", "set_center_freq 144300000"}));
    EXPECT_EQ(radio->iqCorrector->optimal_bin, 2048);
    EXPECT_EQ(retune(radio, 1800000000), 0); // no synthesiser setting up there

    // Direct sampling bypasses the tuner, and an E4000 tunes exactly.
    RTLRadio_setDirectSample(r, 1);
    EXPECT_EQ(retune(radio, 144300000), 0);
    EXPECT_EQ(rtlsdr::calls("set_direct_sampling"), std::vector<std::string>{"set_direct_sampling 1"});
    Radio_stop(r);
    RTLRadio_setDirectSample(r, 0);
    RTLRadio_setSerial(r, "E4K");
    start(r, 2);
    EXPECT_EQ(retune(radio, 433920000), 0);
    Radio_stop(r);
    settle(r);
    radio.reset(); // the test's own reference
    releaseAndWait(r, RTLRadio_release);
}

TEST_F(RTLRadioHost, ValuesThatMakeNoSenseAreRefusedAndAMissingDeviceIsReported) {
    void* r = RTLRadio_create();
    Radio_start(r); // no serial yet
    ASSERT_TRUE(logged("error|rtl open failed"));

    rtlsdr::addDevice("00000001");
    rtlsdr::budget(0);
    RTLRadio_setSerial(r, "00000001");
    start(r);
    auto radio = object<RTLRadio>(r);
    const float scale = radio->gainScale.load();
    Radio_setrxLevelCalibration(r, std::nan(""));
    Radio_setfrequencyCalibration(r, INFINITY);
    Radio_setSampleRate(r, -1);
    settle(r);
    // None of them reaches the device: the base refuses the first two, the
    // radio the rate, like any rate it does not deliver.
    EXPECT_TRUE(capture->contains("error|Radio.rxLevelCalibration.set nan refused"));
    EXPECT_TRUE(capture->contains("error|Radio.frequencyCalibration.set inf refused"));
    EXPECT_TRUE(capture->contains("error|rtl SampleRate -1 refused, keeping 1536000"));
    EXPECT_EQ(radio->gainScale.load(), scale);
    EXPECT_EQ(radio->rxLevelCalibration.get(), 1.0);
    EXPECT_EQ(radio->SampleRate.get(), 1536000);
    EXPECT_EQ(rtlsdr::calls("set_center_freq").size(), 3u); // no retune to a clamped frequency

    // Only what librtlsdr sets: 225001 to 300000 and 900001 to 3200000.
    const size_t rateCalls = rtlsdr::calls("set_sample_rate").size();
    for (int rate : {225000, 300001, 900000, 3200001, INT_MAX}) {
        Radio_setSampleRate(r, rate);
        settle(r);
        EXPECT_TRUE(capture->contains("error|rtl SampleRate " + std::to_string(rate) + " refused, keeping 1536000"));
    }
    EXPECT_EQ(rtlsdr::calls("set_sample_rate").size(), rateCalls);
    EXPECT_EQ(radio->SampleRate.get(), 1536000);
    Radio_setSampleRate(r, 250000);
    settle(r);
    EXPECT_EQ(rtlsdr::calls("set_sample_rate").back(), "set_sample_rate 250000");
    Radio_setSampleRate(r, 3200000);
    settle(r);
    EXPECT_EQ(rtlsdr::calls("set_sample_rate").back(), "set_sample_rate 3200000");
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].sampleRate, 3200000); });
    Radio_stop(r);
    settle(r);
    radio.reset(); // the test's own reference
    releaseAndWait(r, RTLRadio_release);
}
