// What reaches the device: discovery's ids, every control of every model
// (the field written and the tuner and reason bits sent), the LNA state and
// the rate table.
#include "radios/sdrplay/sdrplayRates.h"
#include "sdrplayHost.h"

#include <gtest/gtest.h>

#include <functional>

using SDRPlayControls = SDRPlayHost;
using strings = std::vector<std::string>;

TEST_F(SDRPlayControls, DiscoveryNamesEachDeviceBySerialAndModelAndNeverReadsPastItsArrayOrARecord) {
    sdrplay::addDevice("1234", 3, 5);
    sdrplay::addDevice("5555", 5);
    sdrplay::addDevice(std::string(64, '7').c_str(), 255); // no terminator inside the record
    for (const char* s : {"a", "b", "c", "d"}) sdrplay::addDevice(s, 7);
    sdrplay::overcount(true); // the library reports all 7 devices
    void* c = SDRPlayController_create();
    SDRPlayController_bindnewRadio(c, host::onText<"id">);
    SDRPlayController_Discover(c);
    ASSERT_TRUE(logged("info|sdrplay discover done"));
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("id").size() == 6; }));
    strings ids;
    for (auto& call : log.of("id")) ids.push_back(call.args[0]);
    EXPECT_EQ(ids, (strings{"1234-RSPduo", "5555", std::string(64, '7') + "-RSP1A", "a-RSPdxR2", "b-RSPdxR2",
                            "c-RSPdxR2"}));
    EXPECT_TRUE(capture->contains("info|sdrplay found hwVer 3 1234-RSPduo"));
    EXPECT_EQ(sdrplay::calls("GetDevices"), strings{"GetDevices 6"});
    SDRPlayController_release(c);
}

namespace {

struct controlCase {
    const char* model;
    int hwVer;
    const char* what;
    std::function<void(void*)> set;
    strings updates;
    std::function<int(sdrplay_api_DeviceParamsT&)> field; ///< the value written
    int expected;
};

void PrintTo(const controlCase& c, std::ostream* os) { *os << c.model << " " << c.what; }

class SDRPlayControlTable : public SDRPlayHost, public ::testing::WithParamInterface<controlCase> {};

sdrplay_api_RxChannelParamsT& A(sdrplay_api_DeviceParamsT& p) { return *p.rxChannelA; }
sdrplay_api_DevParamsT& D(sdrplay_api_DeviceParamsT& p) { return *p.devParams; }

} // namespace

TEST_P(SDRPlayControlTable, WritesItsFieldAndSendsItsTunerAndBits) {
    const controlCase& c = GetParam();
    sdrplay::addDevice("77", c.hwVer, c.hwVer == 3 ? 5 : 0);
    void* r = radio("77", c.model, 768000);
    startTuned(r);
    ASSERT_TRUE(sdrplay::streaming(0));
    sdrplay::clearCalls();
    c.set(r);
    settle(r);
    EXPECT_EQ(sdrplay::calls("Update"), c.updates);
    inspect(r, [&](SDRPlayRadio& radio) { EXPECT_EQ(c.field(*radio.deviceParams()), c.expected); });
    finish(r);
}

namespace {

auto biasT = [](void* r) { SDRPlayRadio_setBiasT(r, true); };
auto rfNotch = [](void* r) { SDRPlayRadio_setRFNotch(r, true); };
auto dabNotch = [](void* r) { SDRPlayRadio_setDABNotch(r, true); };
auto clockOut = [](void* r) { SDRPlayRadio_setClockOut(r, true); };
auto antenna(std::initializer_list<int> values) {
    return [v = std::vector<int>(values)](void* r) {
        for (int a : v) SDRPlayRadio_setAntenna(r, a);
    };
}
auto gain(int g) {
    return [g](void* r) { SDRPlayRadio_setrxGain(r, g); };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    EveryModel, SDRPlayControlTable,
    ::testing::Values(
        controlCase{"RSP1A", 255, "biasT", biasT, {"Update 1 0x10 0x0"}, [](auto& p) { return A(p).rsp1a.biasT; }, 1},
        controlCase{"RSP1B", 6, "rfNotch", rfNotch, {"Update 1 0x20 0x0"}, [](auto& p) { return D(p).rsp1a.rfNotch; }, 1},
        controlCase{"RSP1A", 255, "dabNotch", dabNotch, {"Update 1 0x40 0x0"}, [](auto& p) { return D(p).rsp1a.dabNotch; }, 1},
        controlCase{"RSP1A", 255, "antenna", antenna({1}), {}, [](auto& p) { return A(p).rsp2.amPort; }, 0},
        controlCase{"RSP1A", 255, "clockOut", clockOut, {}, [](auto& p) { return D(p).rspDuo.clockOutput; }, 0},
        controlCase{"RSP2", 2, "biasT", biasT, {"Update 1 0x80 0x0"}, [](auto& p) { return A(p).rsp2.biasT; }, 1},
        controlCase{"RSP2", 2, "rfNotch", rfNotch, {"Update 1 0x400 0x0"}, [](auto& p) { return A(p).rsp2.rfNotch; }, 1},
        controlCase{"RSP2", 2, "dabNotch", dabNotch, {}, [](auto& p) { return D(p).rsp1a.dabNotch; }, 0},
        controlCase{"RSP2", 2, "antenna Hi-Z, B, A", antenna({2, 1, 0}),
                    {"Update 1 0x100 0x0", "Update 1 0x100 0x0", "Update 1 0x200 0x0"},
                    [](auto& p) { return A(p).rsp2.antennaSelect * 10 + A(p).rsp2.amPort; }, 50},
        controlCase{"RSPduo", 3, "biasT", biasT, {"Update 2 0x8000000 0x0"}, [](auto& p) { return A(p).rspDuo.biasT; }, 1},
        controlCase{"RSPduo", 3, "rfNotch", rfNotch, {"Update 1 0x40000000 0x0"}, [](auto& p) { return A(p).rspDuo.rfNotch; }, 1},
        controlCase{"RSPduo", 3, "rfNotch on Hi-Z", [](void* r) { SDRPlayRadio_setAntenna(r, 1); rfNotch(r); },
                    {"Update 1 0x10000000 0x0", "Update 1 0x20000000 0x0"},
                    [](auto& p) { return A(p).rspDuo.tuner1AmNotch * 10 + A(p).rspDuo.rfNotch; }, 10},
        controlCase{"RSPduo", 3, "dabNotch", dabNotch, {"Update 1 0x80000000 0x0"}, [](auto& p) { return A(p).rspDuo.dabNotch; }, 1},
        controlCase{"RSPduo", 3, "antenna 1, 1, 5, 0", antenna({1, 1, 5, 0}),
                    {"Update 1 0x10000000 0x0", "Update 1 0x10000000 0x0"}, [](auto& p) { return A(p).rspDuo.tuner1AmPort; }, 0},
        controlCase{"RSPduo", 3, "clockOut", clockOut, {"Update 1 0x1000 0x0"}, [](auto& p) { return D(p).rspDuo.clockOutput; }, 1},
        controlCase{"RSP2", 2, "clockOut", clockOut, {}, [](auto& p) { return D(p).rspDuo.clockOutput; }, 0},
        controlCase{"RSPdx", 4, "clockOut", clockOut, {}, [](auto& p) { return D(p).rspDuo.clockOutput; }, 0},
        controlCase{"RSPdx", 4, "biasT", biasT, {"Update 1 0x0 0x2"}, [](auto& p) { return D(p).rspDx.biasT; }, 1},
        controlCase{"RSPdxR2", 7, "rfNotch", rfNotch, {"Update 1 0x0 0x8"}, [](auto& p) { return D(p).rspDx.rfNotch; }, 1},
        controlCase{"RSPdx", 4, "dabNotch", dabNotch, {"Update 1 0x0 0x10"}, [](auto& p) { return D(p).rspDx.dabNotch; }, 1},
        controlCase{"RSPdx", 4, "antenna C, 3", antenna({2, 3}), {"Update 1 0x0 0x4", "Update 1 0x0 0x4"},
                    [](auto& p) { return D(p).rspDx.antenna; }, 2},
        controlCase{"RSP1", 1, "biasT", biasT, {}, [](auto& p) { return A(p).rsp1a.biasT; }, 0},
        // LNA state: rxGain counts up from the least gain; off the range it is clamped.
        controlCase{"RSP1A", 255, "rxGain 9", gain(9), {"Update 1 0x8000 0x0"}, [](auto& p) { return A(p).lnaState; }, 0},
        controlCase{"RSP1A", 255, "rxGain 12", gain(12), {"Update 1 0x8000 0x0"}, [](auto& p) { return A(p).lnaState; }, 0},
        controlCase{"RSPdx", 4, "rxGain -300", gain(-300), {"Update 1 0x8000 0x0"}, [](auto& p) { return A(p).lnaState; }, 27},
        controlCase{"RSP2", 2, "rxGain 3", gain(3), {}, [](auto& p) { return A(p).lnaState; }, 5}));

TEST_F(SDRPlayControls, AGainSetBeforeStartIsSentAfterInitAndTheSettingsWrittenUnsent) {
    sdrplay::addDevice("77", 255);
    void* r = radio("77", "RSP1A", 768000);
    SDRPlayRadio_setrxGain(r, 5);
    SDRPlayRadio_setBiasT(r, true);
    SDRPlayRadio_setDABNotch(r, true);
    settle(r);
    EXPECT_TRUE(sdrplay::calls("Update").empty());
    start(r);
    auto calls = sdrplay::calls();
    auto init = std::find(calls.begin(), calls.end(), "Init 77");
    ASSERT_NE(init, calls.end());
    EXPECT_EQ(*std::next(init), "Update 1 0x8000 0x0");
    inspect(r, [&](SDRPlayRadio& radio) {
        auto& p = *radio.deviceParams();
        EXPECT_EQ(p.rxChannelA->lnaState, 4);
        EXPECT_EQ(p.rxChannelA->rsp1a.biasT, 1);
        EXPECT_EQ(p.devParams->rsp1a.dabNotch, 1);
        EXPECT_EQ(p.rxChannelA->agc.setPointDbfs, -30);
    });
    EXPECT_TRUE(capture->contains("info|sdrplay radio found"));
    finish(r);
}

TEST_F(SDRPlayControls, TheSecondTunerOfAnRSPduoTakesItsOwnGainOnItsOwnChannel) {
    sdrplay::addDevice("78", 3, 5);
    void* r = radio("78", "RSPduo", 2000000);
    SDRPlayRadio_setrxGain(r, 8);
    SDRPlayRadio_setrxGain2(r, 2);
    start(r);
    // Both right after Init, each on its tuner: 9 - 8 + 0 and 9 - 2 + 0.
    auto calls = sdrplay::calls();
    auto init = std::find(calls.begin(), calls.end(), "Init 78");
    ASSERT_GE(std::distance(init, calls.end()), 3);
    EXPECT_EQ(*std::next(init, 1), "Update 1 0x8000 0x0");
    EXPECT_EQ(*std::next(init, 2), "Update 2 0x8000 0x0");
    sdrplay::clearCalls();
    SDRPlayRadio_setrxGain2(r, 12); // past the top: clamped to state 0
    SDRPlayRadio_setrxGain(r, 7);
    settle(r);
    EXPECT_EQ(sdrplay::calls("Update 2 0x8000"), strings{"Update 2 0x8000 0x0"});
    EXPECT_EQ(sdrplay::calls("Update 1 0x8000"), strings{"Update 1 0x8000 0x0"});
    ASSERT_TRUE(waitFor([] { return sdrplay::rf(0, 1) == 99000000.0; }));
    inspect(r, [](SDRPlayRadio& radio) {
        auto& p = *radio.deviceParams();
        EXPECT_EQ(p.rxChannelA->lnaState, 2);
        EXPECT_EQ(p.rxChannelB->lnaState, 0);
        EXPECT_EQ(p.rxChannelB->agc.setPointDbfs, -30);
        EXPECT_EQ(p.rxChannelB->rfHz, 99000000.0); // tuned from 1000 Hz
    });
    EXPECT_TRUE(capture->contains("error|sdrplay rxGain2 12 gives LNA state -3, set to 0"));
    finish(r);
}

TEST_F(SDRPlayControls, EachRateWritesItsRowAndSendsWhatChanged) {
    sdrplay::addDevice("77", 255);
    void* r = radio("77", "RSP1A", 768000);
    startTuned(r);
    const sdrplayRate* before = sdrplayRates::find(768000);
    for (int rate : {9600, 192000, 384000, 768000, 1536000, 2000000, 3072000, 6144000, 8000000, 10000000, 12345}) {
        SCOPED_TRACE(rate);
        sdrplay::clearCalls();
        Radio_setSampleRate(r, rate);
        settle(r);
        const sdrplayRate* row = sdrplayRates::find(rate);
        const sdrplayRate& now = row ? *row : *before;
        const unsigned bits = (now.adcRateHz != before->adcRateHz ? 0x1 : 0) |
                              (now.bandwidthKHz != before->bandwidthKHz ? 0x40000 : 0) |
                              (now.ifKHz != before->ifKHz ? 0x80000 : 0) |
                              (now.decimation != before->decimation ? 0x800000 : 0);
        char line[64];
        std::snprintf(line, sizeof line, "Update 1 0x%x 0x0", bits);
        if (row) {
            EXPECT_EQ(sdrplay::calls("Update"), strings{line});
        } else {
            // A rate without a row: refused, nothing sent, the last kept.
            EXPECT_TRUE(sdrplay::calls("Update").empty());
            EXPECT_TRUE(capture->contains("error|sdrplay SampleRate 12345 refused, keeping 10000000"));
            inspect(r, [](SDRPlayRadio& radio) { EXPECT_EQ(radio.SampleRate.get(), 10000000); });
        }
        inspect(r, [&](SDRPlayRadio& radio) {
            auto& p = *radio.deviceParams();
            EXPECT_EQ(p.devParams->adcRateHz, now.adcRateHz);
            EXPECT_EQ(p.rxChannelA->bandwidthKHz, now.bandwidthKHz);
            EXPECT_EQ(p.rxChannelA->ifKHz, now.ifKHz);
            EXPECT_EQ(p.rxChannelA->decimation.factor, now.decimation);
            EXPECT_EQ(p.rxChannelA->decimation.enable, now.decimation != 1);
            EXPECT_EQ(p.rxChannelA->decimation.wideBandSignal, now.ifKHz == 0);
            EXPECT_EQ(radio.offsetTuning, rate != 2000000);
        });
        before = &now;
    }
    finish(r);
}
