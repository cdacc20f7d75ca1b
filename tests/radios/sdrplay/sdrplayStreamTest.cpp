// Samples from the device to the transceivers: known tones on one tuner and
// on two, the level meters, the device's events and calibrated tuning.
#include "sdrplayHost.h"

#include "core/drainTasks.h"
#include "core/hwReceiver.h"
#include "core/vtrx.h"

#include <gtest/gtest.h>
#include <kissfft/kissfft.hh>

#include <climits>
#include <cmath>
#include <complex>
#include <mutex>

namespace {

using cplx = std::complex<float>;

/// Samples per stream callback of the stand-in, unless a case sets another.
constexpr size_t standinCallbackSamples = 1008;

struct received {
    std::vector<cplx> block;
    double centre = 0;
    int rate = 0;
    int blocks = 0;
};
std::mutex m;
received iq[2];

template <int K>
void onIQ(void* array, double frequency, int rate) {
    std::lock_guard<std::mutex> l(m);
    auto* d = reinterpret_cast<cplx*>(complexArray_data(array));
    iq[K].block.assign(d, d + complexArray_size(array));
    iq[K].centre = frequency;
    iq[K].rate = rate;
    ++iq[K].blocks;
    complexArray_delete(array);
}

class SDRPlayStream : public SDRPlayHost {
protected:
    void SetUp() override {
        SDRPlayHost::SetUp();
        std::lock_guard<std::mutex> l(m);
        iq[0] = iq[1] = {};
    }
    /// The transceiver added k-th, listening and sending its blocks to slot k.
    void* listen(int k) {
        EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("added").size() > size_t(k); }));
        void* v = log.of("added").at(size_t(k)).handle;
        vtrx_bindnewIQ(v, k == 0 ? onIQ<0> : onIQ<1>);
        vtrx_setSendIQ(v, true);
        vtrx_start(v);
        listening[k] = v;
        return v;
    }
    void* listening[2] = {};
    /// The strongest bin of a block of the k-th transceiver, taken once tuner
    /// k is where its receiver is, against where `toneHz` belongs, and its
    /// level.
    void expectTone(int k, double toneHz, double level) {
        auto v = object<vtrx>(listening[k]);
        auto radio = std::static_pointer_cast<SDRPlayRadio>(v->owner.lock());
        ASSERT_TRUE(radio);
        // The host's placements take effect: the transceiver's requests,
        // then the placement they ask of the radio.
        onWorker(v, [] {});
        drainDataTasks(radio);
        // The placements before may have moved the receiver on the way, and
        // the radio retunes from its own lane: a retune that read such a
        // passing frequency may still be on its way to the device. Once that
        // lane is drained, the device is where the receiver is, or goes there
        // with its next frequency update.
        double want = 0;
        size_t blockLength = 0;
        onWorker(radio, [&] {
            std::lock_guard<std::mutex> l(radio->listMutex);
            const hwReceiver& R = radio->receivers.at(size_t(k));
            want = double(R.frequency);
            // Not the length of a block seen so far: the stream's first
            // block is shorter than the rest.
            blockLength = hwReceiver::blockSizeFor(R.sampleRate);
        });
        drainDataTasks(radio->frequencyUpdater());
        ASSERT_TRUE(host::pollUntil(getRenderUpdates, [&] {
            std::lock_guard<std::mutex> l(m);
            return iq[k].blocks > 0 && iq[k].centre == want && sdrplay::rf(0, k) == want;
        })) << "tuner " << k << " at " << sdrplay::rf(0, k) << ", its receiver at " << want;
        // A block takes its centre from its receiver when the radio hands it
        // out, while the device follows a moved receiver only with its next
        // frequency update, up to a meter interval later. So blocks filled
        // before the update, and the one across it, may still be on their
        // way here with the new centre, as many as a loaded machine queued.
        // Only a block begun after the update is analysed: the device streams
        // on for more than a block, then whatever the radio and the
        // transceiver queued by then is let through and set aside.
        const long tuned = sdrplay::delivered(k);
        const long callbacks = long(blockLength / standinCallbackSamples) + 3;
        ASSERT_TRUE(host::pollUntil(getRenderUpdates, [&] { return sdrplay::delivered(k) >= tuned + callbacks; }));
        drainDataTasks(radio); // its blocks on their way to the transceivers
        drainDataTasks(v);     // and on their way to the host
        getRenderUpdates();
        {
            std::lock_guard<std::mutex> l(m);
            iq[k].blocks = 0;
        }
        ASSERT_TRUE(host::pollUntil(getRenderUpdates, [&] {
            std::lock_guard<std::mutex> l(m);
            return iq[k].blocks >= 1;
        }));
        std::lock_guard<std::mutex> l(m);
        const received& r = iq[k];
        const size_t n = r.block.size();
        std::vector<cplx> spectrum(n);
        kissfft<float>(n, false).transform(r.block.data(), spectrum.data());
        size_t peak = 0;
        for (size_t i = 1; i < n; ++i)
            if (std::abs(spectrum[i]) > std::abs(spectrum[peak])) peak = i;
        const double bin = std::fmod((toneHz - r.centre) / r.rate * double(n) + double(n), double(n));
        EXPECT_NEAR(double(peak), bin, 1.0) << "tuner " << k << " centre " << r.centre;
        // A tone between bins spreads: its power is in the bins around.
        double power = 0;
        for (size_t i = peak + n - 8; i <= peak + n + 8; ++i) power += std::norm(spectrum[i % n]);
        EXPECT_NEAR(std::sqrt(power) / double(n), level, 0.03 * level);
    }
};

} // namespace

TEST_F(SDRPlayStream, AToneAtTenMegasamplesLandsOnItsBinAtFullScaleTimesTheGainScale) {
    sdrplay::addDevice("10", 255);
    sdrplay::tone(0, 101.2e6, 8000);
    void* r = radio("10", "RSP1A", 10000000);
    start(r);
    listen(0);
    expectTone(0, 101.2e6, 8000.0 / 32768);
    EXPECT_EQ(iq[0].block.size(), 131072u);
    finish(r);
}

TEST_F(SDRPlayStream, BothTunersOfAnRSPduoAtTwoMegasamplesReachTheirOwnTransceivers) {
    sdrplay::addDevice("20", 3, 5);
    sdrplay::tone(0, 99.3e6, 8000);
    sdrplay::tone(1, 100.6e6, 4000);
    void* r = radio("20", "RSPduo", 2000000);
    start(r);
    EXPECT_EQ(sdrplay::calls("SelectDevice"), std::vector<std::string>{"SelectDevice 20 3 2"});
    listen(0);
    Radio_addVtrx(r, 100500000, 1, 0);
    void* v1 = listen(1);
    vtrx_setADCs(v1, 2); // the second tuner's receiver
    ASSERT_TRUE(waitFor([] { return sdrplay::rf(0, 1) > 1e8; }));
    expectTone(0, 99.3e6, 8000.0 / 32768);
    expectTone(1, 100.6e6, 4000.0 / 32768);
    finish(r);
}

TEST_F(SDRPlayStream, TunerBHasItsReceiverWhicheverOrderTheModelAndTheRateCome) {
    sdrplay::addDevice("21", 3, 5);
    sdrplay::tone(1, 100.6e6, 4000);
    for (bool modelFirst : {true, false}) {
        SCOPED_TRACE(modelFirst ? "model, then the two-tuner rate" : "the two-tuner rate, then the model");
        {
            std::lock_guard<std::mutex> l(m);
            iq[0] = iq[1] = {};
        }
        void* r = modelFirst ? radio("21", "RSPduo", 768000) : radio("21", "RSP1A", 2000000);
        if (modelFirst)
            Radio_setSampleRate(r, 2000000);
        else
            SDRPlayRadio_setModel(r, "RSPduo");
        const long before = sdrplay::delivered(1);
        start(r);
        ASSERT_TRUE(waitFor([&] { return sdrplay::delivered(1) > before + 20; }));
        inspect(r, [](SDRPlayRadio& radio) {
            ASSERT_EQ(radio.receivers.size(), 2u);
            EXPECT_EQ(radio.receivers[1].slot, 1);
        });
        listen(0);
        Radio_addVtrx(r, 100500000, 1, 0);
        vtrx_setADCs(listen(1), 2);
        expectTone(1, 100.6e6, 4000.0 / 32768);
        EXPECT_EQ(capture->count("error|sdrplay samples of tuner B dropped: no receiver 1"), 0u);
        finish(r);
    }
}

TEST_F(SDRPlayStream, ModelAndDiversityChangesWhileBothTunersStreamKeepTheReceiversInPlace) {
    // The library's two stream threads write into the receivers throughout.
    sdrplay::addDevice("22", 3, 5);
    sdrplay::tone(0, 99.3e6, 8000);
    sdrplay::tone(1, 100.6e6, 4000);
    void* r = radio("22", "RSPduo", 2000000);
    start(r);
    void* v0 = listen(0);
    Radio_addVtrx(r, 100500000, 1, 0);
    void* v1 = listen(1);
    for (int i = 0; i < 300; ++i) {
        SDRPlayRadio_setModel(r, i % 2 ? "RSPduo" : "RSP1A");
        vtrx_setADCs(v0, i % 2 ? 1 : 3); // diversity: the receivers of both slots
        vtrx_setADCs(v1, i % 2 ? 2 : 3);
        if (i % 50 == 0) settle(r);
    }
    settle(r);
    inspect(r, [](SDRPlayRadio& radio) { EXPECT_EQ(radio.receivers.size(), 2u); });
    // The two transceivers' last placements reach the radio in either
    // order; v1's comes last, so that receiver 1 is where v1 listens.
    onWorker(object<vtrx>(v0), [] {});
    drainDataTasks(object<SDRPlayRadio>(r));
    vtrx_setADCs(v1, 3);
    vtrx_setADCs(v1, 2);
    onWorker(object<vtrx>(v1), [] {});
    drainDataTasks(object<SDRPlayRadio>(r));
    ASSERT_TRUE(waitFor([] { return sdrplay::rf(0, 1) > 1e8; }));
    expectTone(0, 99.3e6, 8000.0 / 32768);
    expectTone(1, 100.6e6, 4000.0 / 32768);
    finish(r);
}

TEST_F(SDRPlayStream, ARateOffTheTableIsRefusedAndAfterAnAcceptedOneIqFlowsWithinOneBlock) {
    sdrplay::addDevice("23", 255);
    sdrplay::constant(0, 100, 0);
    sdrplay::allow(0, 0);
    void* r = radio("23", "RSP1A", 10000000);
    Radio_bindSampleRate(r, host::on<"rate", int>);
    start(r);
    listen(0);
    auto blocks = [](int n) {
        return host::pollUntil(getRenderUpdates, [&] {
            std::lock_guard<std::mutex> l(m);
            return iq[0].blocks >= n;
        });
    };
    // Callbacks of 1008 samples: the first block of 512, one of 131072, and
    // 9536 samples into the next.
    sdrplay::allow(0, 140);
    ASSERT_TRUE(blocks(2));
    sdrplay::clearCalls();
    Radio_setSampleRate(r, INT_MAX); // a block of it would take 268 MB
    settle(r);
    EXPECT_TRUE(capture->contains("error|sdrplay SampleRate 2147483647 refused, keeping 10000000"));
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("rate").empty(); }));
    EXPECT_EQ(log.of("rate").back().args[0], "10000000") << "the rate in force, told again";
    EXPECT_TRUE(sdrplay::calls("Update").empty());
    sdrplay::allow(0, 270); // 131040 samples more: the block fills as before
    ASSERT_TRUE(blocks(3));
    {
        std::lock_guard<std::mutex> l(m);
        EXPECT_EQ(iq[0].block.size(), 131072u);
        EXPECT_EQ(iq[0].rate, 10000000);
    }
    // 192000: blocks of 2048. Three callbacks make one, whatever the block
    // of the old rate held.
    Radio_setSampleRate(r, 192000);
    settle(r);
    sdrplay::allow(0, 273);
    ASSERT_TRUE(blocks(4));
    {
        std::lock_guard<std::mutex> l(m);
        EXPECT_EQ(iq[0].block.size(), 2048u);
        EXPECT_EQ(iq[0].rate, 192000);
    }
    finish(r);
}

TEST_F(SDRPlayStream, MetersPublishEvery201MillisecondsOfSamplesHoweverLargeTheRate) {
    sdrplay::addDevice("30", 255);
    sdrplay::constant(0, 0, 16184);
    sdrplay::allow(0, 0);
    void* r = radio("30", "RSP1A", 2000000);
    SDRPlayRadio_bindadcPeak(r, host::on<"peak", double>);
    start(r);
    auto peaks = [&](size_t n) { return host::pollUntil(getUpdates, [&] { return log.of("peak").size() == n; }); };
    // 398 callbacks of 1008 samples are 200.6 ms at 2 MS/s; the 399th passes 201.
    sdrplay::allow(0, 398);
    ASSERT_TRUE(waitFor([] { return sdrplay::delivered(0) == 398; }));
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("peak").empty());
    sdrplay::allow(0, 399);
    ASSERT_TRUE(peaks(1));
    EXPECT_EQ(std::stod(log.of("peak")[0].args[0]), 1.0);
    sdrplay::constant(0, 0, -32768); // its magnitude needs more than 16 bits
    sdrplay::allow(0, 798);
    ASSERT_TRUE(peaks(2));
    EXPECT_NEAR(std::stod(log.of("peak")[1].args[0]), 32768.0 / 16184, 1e-6);
    finish(r);

    // At 10 MS/s, 201 ms are 2.01 million samples: 21 callbacks of 100000.
    sdrplay::stream(100000, 2000);
    sdrplay::allow(0, 0);
    log.forget("peak");
    r = radio("30", "RSP1A", 10000000);
    SDRPlayRadio_bindadcPeak(r, host::on<"peak", double>);
    start(r);
    sdrplay::allow(0, 20);
    ASSERT_TRUE(waitFor([] { return sdrplay::delivered(0) == 798 + 20; }));
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("peak").empty());
    sdrplay::allow(0, 21);
    ASSERT_TRUE(peaks(1));
    // A rate of 0 is refused: the meter counts on at the rate in force.
    Radio_setSampleRate(r, 0);
    settle(r);
    EXPECT_TRUE(capture->contains("error|sdrplay SampleRate 0 refused, keeping 10000000"));
    sdrplay::constant(0, 0, 16184);
    sdrplay::allow(0, 42);
    ASSERT_TRUE(peaks(2));
    finish(r);
}

TEST_F(SDRPlayStream, OverloadsAreSetPerTunerAndAcknowledgedAndGainChangesRescaleTheSamples) {
    sdrplay::addDevice("40", 3, 5);
    void* r = radio("40", "RSPduo", 2000000);
    SDRPlayRadio_bindadcOverload(r, host::on<"over", bool>);
    SDRPlayRadio_bindadcOverload2(r, host::on<"over2", bool>);
    Radio_setrxLevelCalibration(r, 2.0);
    startTuned(r);
    sdrplay::clearCalls();
    sdrplay::event(0, sdrplay_api_PowerOverloadChange, 1, 0);
    sdrplay::event(0, sdrplay_api_PowerOverloadChange, 2, 0);
    sdrplay::event(0, sdrplay_api_PowerOverloadChange, 1, 1);
    sdrplay::event(0, sdrplay_api_GainChange, 1, 40.0);
    sdrplay::event(0, sdrplay_api_GainChange, 2, std::nan(""));
    ASSERT_TRUE(waitFor([] { return sdrplay::eventsDone(0); }));
    settle(r);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("over").size() == 2 && log.of("over2").size() == 1; }));
    EXPECT_EQ(log.of("over")[0].args[0], "true");
    EXPECT_EQ(log.of("over")[1].args[0], "false");
    EXPECT_EQ(log.of("over2")[0].args[0], "true");
    EXPECT_EQ(sdrplay::calls("Update 1 0x4000000").size(), 2u);
    EXPECT_EQ(sdrplay::calls("Update 2 0x4000000").size(), 1u);
    inspect(r, [](SDRPlayRadio& radio) {
        EXPECT_DOUBLE_EQ(radio.gainScaleA.load(), 2.0 * 10 / 100 / 32768);
        EXPECT_DOUBLE_EQ(radio.gainScaleB.load(), 1.0 / 32768); // no number: ignored
    });
    EXPECT_TRUE(capture->contains("error|sdrplay gain change to nan dB ignored"));
    finish(r);
}

TEST_F(SDRPlayStream, TheCalibratedFrequencyIsWhatTheDeviceIsTunedTo) {
    sdrplay::addDevice("50", 255);
    void* r = radio("50", "RSP1A", 2000000);
    start(r);
    void* v = listen(0);
    vtrx_setvfo(v, 100000000);
    ASSERT_TRUE(waitFor([] { return sdrplay::rf(0, 0) == 100000000.0; }));
    Radio_setfrequencyCalibration(r, 1.0000002);
    ASSERT_TRUE(waitFor([] { return std::abs(sdrplay::rf(0, 0) - 100000020.0) < 1e-3; }));
    Radio_setfrequencyCalibration(r, std::nan(""));
    settle(r);
    EXPECT_TRUE(capture->contains("error|Radio.frequencyCalibration.set nan refused"));
    EXPECT_NEAR(sdrplay::rf(0, 0), 100000020.0, 1e-3); // the device keeps the calibrated frequency
    finish(r);
}
