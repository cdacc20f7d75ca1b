// Every numeric setter of the radio, the transceiver (its spectrum settings
// included) and the gain control, fed the values a careless or hostile host
// may send: NaN, infinities, extreme integers, frequencies no radio reaches.
// Each is refused with a log line naming the property and the value, the
// property keeps the value it had, and the host hears that value back; a
// value inside the range is taken. A refused value followed at once by a
// good one, with no poll between, is never told back after it: the host's
// last word is the value the object holds.
#include "core/Radio.h"
#include "core/agc.h"
#include "core/vtrx.h"

#include "core/coreObjectFixture.h"
#include "modes/data/cw/cwModDemod.h"
#include "modes/data/multipsk/MultiPskModDemod.h"
#include "modes/data/psk/PskModDemod.h"
#include "support/hostHarness.h"
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
    std::function<void()> bind;   // the host's callback, recording "told"
    std::function<void()> unbind; // and its removal
    std::function<void()> setGood;
    std::function<bool()> holdsGood;
    std::string goodText; // as the host hears it
    std::vector<std::pair<std::function<void()>, std::string>> bad; // set, value as logged
    std::function<void()> setThen; // another good value
    std::function<bool()> holdsThen;
    std::string keeping; // what the log line names after "refused"
};

template <class T>
Row row(std::string request, void* handle, const std::shared_ptr<asyncObject>& object, void (*setter)(void*, T),
        void (*binder)(void*, void (*)(T)), asyncProperty<T>& property, T good, std::vector<T> bad, T then) {
    Row r{std::move(request),
          object,
          [=] { binder(handle, host::on<"told", T>); },
          [=] { binder(handle, nullptr); },
          [=] { setter(handle, good); },
          [&property, good] { return property.get() == good; },
          host::text(good),
          {},
          [=] { setter(handle, then); },
          [&property, then] { return property.get() == then; },
          {}};
    for (T b : bad) r.bad.push_back({[=] { setter(handle, b); }, fmt::format("{}", b)});
    return r;
}

/// A row whose refusal names the value kept ("..., keeping 20").
Row keeping(Row r, std::string kept) {
    r.keeping = ", keeping " + kept;
    return r;
}

size_t toldCount() { return host::Log::get().of("told").size(); }

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
    void* cwHandle = cwModDemod_create();
    auto cw = object<cwModDemod>(cwHandle);
    void* pskHandle = PskModDemod_create();
    auto psk = object<PskModDemod>(pskHandle);
    void* mpskHandle = MultiPskModDemod_create();
    auto mpsk = object<MultiPskModDemod>(mpskHandle);
    Radio& R = *radio;
    vtrx& V = *v;
    agc& A = *g;

    const std::vector<Row> rows = {
        row<int>("Radio.maxHwReceivers.set", radioHandle, radio, Radio_setmaxHwReceivers, Radio_bindmaxHwReceivers,
                 R.maxHwReceivers, 2, {0, -1, INT_MIN}, 3),
        row<int>("Radio.maxADCs.set", radioHandle, radio, Radio_setmaxADCs, Radio_bindmaxADCs, R.maxADCs, 2,
                 {0, INT_MAX}, 1),
        row<double>("Radio.rxLevelCalibration.set", radioHandle, radio, Radio_setrxLevelCalibration,
                    Radio_bindrxLevelCalibration, R.rxLevelCalibration, 0.5, {dnan, inf}, 0.25),
        row<long long>("Radio.TransceiverOffset.set", radioHandle, radio, Radio_setTransceiverOffset,
                       Radio_bindTransceiverOffset, R.TransceiverOffset, -120000000,
                       {LLONG_MIN, LLONG_MAX, tooFar, -tooFar}, 0),
        row<double>("Radio.ValidBandwidthRatio.set", radioHandle, radio, Radio_setValidBandwidthRatio,
                    Radio_bindValidBandwidthRatio, R.ValidBandwidthRatio, 0.9, {dnan, inf, -inf, 0.0, -0.5, 1.5, 1e300},
                    0.95),
        row<double>("Radio.frequencyCalibration.set", radioHandle, radio, Radio_setfrequencyCalibration,
                    Radio_bindfrequencyCalibration, R.frequencyCalibration, 1.0001, {dnan, -inf}, 1.0),

        row<long long>("vtrx.specFreq.set", vh, v, vtrx_setspecFreq, vtrx_bindspecFreq, V.specFreq, 14100000,
                       {LLONG_MAX, LLONG_MIN}, 14000000),
        row<long long>("vtrx.specOffset.set", vh, v, vtrx_setspecOffset, vtrx_bindspecOffset, V.specOffset, 5000,
                       {LLONG_MAX - 1, -tooFar}, 0),
        row<double>("vtrx.specZoom.set", vh, v, vtrx_setspecZoom, vtrx_bindspecZoom, V.specZoom, 4.0,
                    {0.0, -1.0, dnan, inf}, 1.0),
        row<int>("vtrx.audioInput.set", vh, v, vtrx_setaudioInput, vtrx_bindaudioInput, V.audioInput, 0, {-1}, 0),
        row<int>("vtrx.audioOutput.set", vh, v, vtrx_setaudioOutput, vtrx_bindaudioOutput, V.audioOutput, 0,
                 {INT_MIN}, 0),
        row<double>("vtrx.signalStrength.set", vh, v, vtrx_setsignalStrength, vtrx_bindsignalStrength,
                    V.signalStrength, -80.0, {dnan}, -90.0),
        row<int>("vtrx.waterfallSpeed.set", vh, v, vtrx_setwaterfallSpeed, vtrx_bindwaterfallSpeed, V.waterfallSpeed,
                 3, {-1, 11, INT_MAX}, 0),
        row<long long>("vtrx.vfo.set", vh, v, vtrx_setvfo, vtrx_bindvfo, V.vfo, 14001000,
                       {LLONG_MAX, LLONG_MIN, 1LL << 62, tooFar}, 14000000),
        row<double>("vtrx.micLevel.set", vh, v, vtrx_setmicLevel, vtrx_bindmicLevel, V.micLevel, 0.1, {inf}, 0.0),
        row<double>("vtrx.VoxThreshold.set", vh, v, vtrx_setVoxThreshold, vtrx_bindVoxThreshold, V.VoxThreshold, 0.3,
                    {dnan, -inf}, 0.4),
        row<double>("vtrx.VoxHold.set", vh, v, vtrx_setVoxHold, vtrx_bindVoxHold, V.VoxHold, 1.5,
                    {dnan, inf, -1.0, 3601.0}, 0.5),
        row<int>("vtrx.ADCs.set", vh, v, vtrx_setADCs, vtrx_bindADCs, V.ADCs, 3, {0, 16, 1000000000, INT_MIN}, 1),
        row<double>("vtrx.ADC1Gain.set", vh, v, vtrx_setADC1Gain, vtrx_bindADC1Gain, V.ADC1Gain, 0.5, {dnan}, 1.0),
        row<double>("vtrx.ADC1Phase.set", vh, v, vtrx_setADC1Phase, vtrx_bindADC1Phase, V.ADC1Phase, 90.0, {inf},
                    0.0),
        row<float>("vtrx.Balance.set", vh, v, vtrx_setBalance, vtrx_bindBalance, V.Balance, 0.25f,
                   {fnan, -0.1f, 1.5f}, 0.5f),

        row<float>("agc.Attack.set", agcHandle, g, agc_setAttack, agc_bindAttack, A.Attack, 0.02f,
                   {fnan, -0.01f, finf}, 0.01f),
        row<float>("agc.Decay.set", agcHandle, g, agc_setDecay, agc_bindDecay, A.Decay, 0.3f, {fnan, -1.0f}, 0.2f),
        row<float>("agc.Hang.set", agcHandle, g, agc_setHang, agc_bindHang, A.Hang, 1.0f, {fnan, -3.0f, 1e30f},
                   0.5f),
        row<float>("agc.MaxGain.set", agcHandle, g, agc_setMaxGain, agc_bindMaxGain, A.MaxGain, 60.0f, {fnan, finf},
                   50.0f),
        row<float>("agc.Volume.set", agcHandle, g, agc_setVolume, agc_bindVolume, A.Volume, 0.5f,
                   {fnan, finf, -finf}, 0.25f),
        row<float>("agc.Squelch.set", agcHandle, g, agc_setSquelch, agc_bindSquelch, A.Squelch, -120.0f, {fnan},
                   -110.0f),
        row<double>("agc.ManualGain.set", agcHandle, g, agc_setManualGain, agc_bindManualGain, A.ManualGain, 2.0,
                    {dnan, 100.0, -inf}, 1.0),

        // Values a mode's own check refuses, told back from its change hook.
        keeping(row<double>("cwModDemod wpm", cwHandle, cw, cwModDemod_setwpm, cwModDemod_bindwpm, cw->wpm, 20.0,
                            {0.0, -5.0, dnan, 1e6}, 25.0),
                "20"),
        keeping(row<double>("cwModDemod freq", cwHandle, cw, cwModDemod_setfreq, cwModDemod_bindfreq, cw->freq,
                            700.0, {1e9, -inf}, 600.0),
                "700"),
        keeping(row<int>("PskModDemod rxFreq", pskHandle, psk, modDemod_setrxFreq, modDemod_bindrxFreq, psk->rxFreq,
                         1000, {0, 4000, INT_MIN}, 1500),
                "1000"),
        keeping(row<int>("MultiPskModDemod port", mpskHandle, mpsk, MultiPskModDemod_setport,
                         MultiPskModDemod_bindport, mpsk->port, 50101, {0, 65536, -1}, 50102),
                "50101"),
    };

    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        r.bind();
        r.setGood();
        onWorker(r.object, [] {});
        ASSERT_TRUE(r.holdsGood());
        for (auto& [set, text] : r.bad) {
            getUpdates();
            const size_t before = toldCount();
            set();
            onWorker(r.object, [] {});
            EXPECT_TRUE(r.holdsGood()) << text;
            EXPECT_TRUE(log.contains("error|" + r.request + " " + text + " refused" + r.keeping)) << text;
            EXPECT_TRUE(waitFor([&] {
                getUpdates();
                return toldCount() > before;
            })) << text << " not told back";
            EXPECT_EQ(host::Log::get().of("told").back().args.at(0), r.goodText) << text;
        }
        // A refused value, then at once another: the refusal's told-back,
        // made before the second set ran, never reaches the host after it.
        getUpdates();
        const size_t before = toldCount();
        r.bad.front().first();
        r.setThen();
        onWorker(r.object, [] {});
        EXPECT_TRUE(r.holdsThen());
        getUpdates();
        EXPECT_EQ(toldCount(), before) << "a refusal's told-back came after the set that followed it";
        r.unbind();
        host::Log::get().forget("told");
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
    cwModDemod_release(cwHandle);
    PskModDemod_release(pskHandle);
    MultiPskModDemod_release(mpskHandle);
    cw.reset();
    psk.reset();
    mpsk.reset();
    Radio_release(radioHandle);
    v.reset();
    g.reset();
    radio.reset();
    EXPECT_TRUE(waitFor([] { return globalPool->busy() == 0; }));
}
