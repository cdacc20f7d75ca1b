// Every numeric setter of the radio, the transceiver (its spectrum settings
// included) and the gain control, fed the values a careless or hostile host
// may send: NaN, infinities, extreme integers, frequencies no radio reaches.
// Each is refused with a log line naming the property and the value, and the
// property keeps the value it had; a value inside the range is taken.
#include "core/Radio.h"
#include "core/agc.h"
#include "core/vtrx.h"

#include "core/coreObjectFixture.h"
#include "framework/library.h"
#include "framework/sothreadPool.h"
#include "support/logCapture.h"
#include "support/waitFor.h"

#include <fmt/format.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double dnan = std::numeric_limits<double>::quiet_NaN();
constexpr float finf = std::numeric_limits<float>::infinity();
constexpr float fnan = std::numeric_limits<float>::quiet_NaN();
constexpr long long tooFar = 1'000'000'000'001LL;

struct Row {
    std::string request; // the request name the log line starts with
    std::shared_ptr<asyncObject> object;
    std::function<void()> setGood;
    std::function<bool()> holdsGood;
    std::vector<std::pair<std::function<void()>, std::string>> bad; // set, value as logged
};

template <class T>
Row row(std::string request, void* handle, const std::shared_ptr<asyncObject>& object, void (*setter)(void*, T),
        asyncProperty<T>& property, T good, std::vector<T> bad) {
    Row r{std::move(request), object, [=] { setter(handle, good); }, [&property, good] { return property.get() == good; },
          {}};
    for (T b : bad) r.bad.push_back({[=] { setter(handle, b); }, fmt::format("{}", b)});
    return r;
}

} // namespace

using HostValues = CoreObjects;

TEST_F(HostValues, OutOfRangeValuesAreRefusedAndTheOldValueKept) {
    // Outlives every piece of work that may still log (the default logger
    // is swapped back when it goes).
    LogCapture log;
    void* radioHandle = TestRadio_create();
    auto radio = object<Radio>(radioHandle);
    Radio_addVtrx(radioHandle, 14000000, 0, 0);
    onWorker(radio, [] {});
    std::shared_ptr<vtrx> v;
    onWorker(radio, [&] { v = radio->vtrxList.back(); });
    void* vh = new objectHandle(v);
    void* agcHandle = agc_create();
    auto g = object<agc>(agcHandle);
    Radio& R = *radio;
    vtrx& V = *v;
    agc& A = *g;

    const std::vector<Row> rows = {
        row<int>("Radio.maxHwReceivers.set", radioHandle, radio, Radio_setmaxHwReceivers, R.maxHwReceivers, 2,
                 {0, -1, INT_MIN}),
        row<int>("Radio.maxADCs.set", radioHandle, radio, Radio_setmaxADCs, R.maxADCs, 2, {0, INT_MAX}),
        row<double>("Radio.rxLevelCalibration.set", radioHandle, radio, Radio_setrxLevelCalibration,
                    R.rxLevelCalibration, 0.5, {dnan, inf}),
        row<long long>("Radio.TransceiverOffset.set", radioHandle, radio, Radio_setTransceiverOffset,
                       R.TransceiverOffset, -120000000, {LLONG_MIN, LLONG_MAX, tooFar, -tooFar}),
        row<double>("Radio.ValidBandwidthRatio.set", radioHandle, radio, Radio_setValidBandwidthRatio,
                    R.ValidBandwidthRatio, 0.9, {dnan, inf, -inf, 0.0, -0.5, 1.5, 1e300}),
        row<double>("Radio.frequencyCalibration.set", radioHandle, radio, Radio_setfrequencyCalibration,
                    R.frequencyCalibration, 1.0001, {dnan, -inf}),

        row<long long>("vtrx.specFreq.set", vh, v, vtrx_setspecFreq, V.specFreq, 14100000, {LLONG_MAX, LLONG_MIN}),
        row<long long>("vtrx.specOffset.set", vh, v, vtrx_setspecOffset, V.specOffset, 5000,
                       {LLONG_MAX - 1, -tooFar}),
        row<double>("vtrx.specZoom.set", vh, v, vtrx_setspecZoom, V.specZoom, 4.0, {0.0, -1.0, dnan, inf}),
        row<int>("vtrx.audioInput.set", vh, v, vtrx_setaudioInput, V.audioInput, 0, {-1}),
        row<int>("vtrx.audioOutput.set", vh, v, vtrx_setaudioOutput, V.audioOutput, 0, {INT_MIN}),
        row<double>("vtrx.signalStrength.set", vh, v, vtrx_setsignalStrength, V.signalStrength, -80.0, {dnan}),
        row<int>("vtrx.waterfallSpeed.set", vh, v, vtrx_setwaterfallSpeed, V.waterfallSpeed, 3, {-1, 11, INT_MAX}),
        row<long long>("vtrx.vfo.set", vh, v, vtrx_setvfo, V.vfo, 14001000,
                       {LLONG_MAX, LLONG_MIN, 1LL << 62, tooFar}),
        row<double>("vtrx.micLevel.set", vh, v, vtrx_setmicLevel, V.micLevel, 0.1, {inf}),
        row<double>("vtrx.VoxThreshold.set", vh, v, vtrx_setVoxThreshold, V.VoxThreshold, 0.3, {dnan, -inf}),
        row<double>("vtrx.VoxHold.set", vh, v, vtrx_setVoxHold, V.VoxHold, 1.5, {dnan, inf, -1.0, 3601.0}),
        row<int>("vtrx.ADCs.set", vh, v, vtrx_setADCs, V.ADCs, 1, {0, 16, 1000000000, INT_MIN}),
        row<double>("vtrx.ADC1Gain.set", vh, v, vtrx_setADC1Gain, V.ADC1Gain, 0.5, {dnan}),
        row<double>("vtrx.ADC1Phase.set", vh, v, vtrx_setADC1Phase, V.ADC1Phase, 90.0, {inf}),
        row<float>("vtrx.Balance.set", vh, v, vtrx_setBalance, V.Balance, 0.25f, {fnan, -0.1f, 1.5f}),

        row<float>("agc.Attack.set", agcHandle, g, agc_setAttack, A.Attack, 0.02f, {fnan, -0.01f, finf}),
        row<float>("agc.Decay.set", agcHandle, g, agc_setDecay, A.Decay, 0.3f, {fnan, -1.0f}),
        row<float>("agc.Hang.set", agcHandle, g, agc_setHang, A.Hang, 1.0f, {fnan, -3.0f, 1e30f}),
        row<float>("agc.MaxGain.set", agcHandle, g, agc_setMaxGain, A.MaxGain, 60.0f, {fnan, finf}),
        row<float>("agc.Volume.set", agcHandle, g, agc_setVolume, A.Volume, 0.5f, {fnan, finf, -finf}),
        row<float>("agc.Squelch.set", agcHandle, g, agc_setSquelch, A.Squelch, -120.0f, {fnan}),
        row<double>("agc.ManualGain.set", agcHandle, g, agc_setManualGain, A.ManualGain, 2.0, {dnan, 100.0, -inf}),
    };

    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        r.setGood();
        onWorker(r.object, [] {});
        ASSERT_TRUE(r.holdsGood());
        for (auto& [set, text] : r.bad) {
            set();
            onWorker(r.object, [] {});
            EXPECT_TRUE(r.holdsGood()) << text;
            EXPECT_TRUE(log.contains("error|" + r.request + " " + text + " refused")) << text;
        }
    }

    // A rate is the back-end's to refuse, negative ones included, and the
    // host is told the rate in force again.
    for (int rate : {-1, -48000, INT_MIN}) Radio_setSampleRate(radioHandle, rate);
    onWorker(radio, [&] { EXPECT_EQ(radio->SampleRate.get(), 48000); });
    for (int rate : {-1, -48000, INT_MIN})
        EXPECT_TRUE(log.contains(fmt::format("error|TestRadio SampleRate {} refused, keeping 48000", rate))) << rate;

    // Frequencies given to methods: the same limit.
    vtrx_setRxFrequency(vh, LLONG_MIN);
    Radio_addVtrx(radioHandle, LLONG_MAX, 0, 0);
    onWorker(v, [] {});
    onWorker(radio, [] {});
    EXPECT_TRUE(log.contains(fmt::format("error|vtrx.setRxFrequency() frequency {} refused", LLONG_MIN)));
    EXPECT_TRUE(log.contains(fmt::format("error|Radio.addVtrx() frequency {} refused", LLONG_MAX)));
    onWorker(radio, [&] { EXPECT_EQ(radio->vtrxList.size(), 1u); });

    delete static_cast<objectHandle*>(vh);
    agc_release(agcHandle);
    Radio_release(radioHandle);
    v.reset();
    g.reset();
    radio.reset();
    EXPECT_TRUE(waitFor([] { return globalPool->busy() == 0; }));
}
