// The protocol 1 radio object and the filter-board objects as a host drives
// them through the C interface: what a new radio announces, the first
// start's defaults, the filter set handle, gains and register writes that
// follow property changes, and a release with requests still queued.
#include "radios/hpsdr/HpsdrRadio.h"

#include "core/coreObjectFixture.h"
#include "core/drainTasks.h"
#include "framework/library.h"
#include "support/logCapture.h"

#include <climits>
#include <cmath>
#include <future>

namespace {

using host::Call;

class HpsdrRadioObject : public CoreObjects {
protected:
    void* make() {
        void* h = HpsdrRadio_create();
        EXPECT_NE(h, nullptr);
        return h;
    }
    /// Host requests and data tasks queued so far have run.
    static void settle(const std::shared_ptr<HpsdrRadio>& r) {
        onWorker(r, [] {});
        drainDataTasks(r);
    }
    template <class Item>
    static std::shared_ptr<Item> item(const Call& c) {
        return object<Item>(c.handle);
    }
    static void poll() { getUpdates(); }
    bool arrived(const std::string& what, size_t n) {
        return host::pollUntil(poll, [&] { return log.of(what).size() >= n; });
    }
    void releaseAndWait(void* h) {
        asyncObject_bindDeleted(h, host::on<"gone", int>);
        HpsdrRadio_release(h);
        EXPECT_TRUE(arrived("gone", 1));
    }
};

TEST_F(HpsdrRadioObject, NewRadioAnnouncesItsListsAndState) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    ASSERT_TRUE(r);
    HpsdrRadio_bindSampleRates(h, host::onCollection<"rates", ValueLabelItem_release>);
    HpsdrRadio_bindrfAgcModes(h, host::onCollection<"agcModes", ValueLabelItem_release>);
    HpsdrRadio_bindJ16Set(h, host::onCollection<"bands", J16_release>);
    HpsdrRadio_bindFwdPwrCalibration(h, host::onCollection<"power", calibLine_release>);
    HpsdrRadio_bindFilterSet(h, host::onObject<"filterSet", J16Filter_release>);
    HpsdrRadio_bindrxGain(h, host::on<"rxGain", int>);
    HpsdrRadio_bindTemp(h, host::on<"temp", double>);
    Radio_bindcanTransmit(h, host::on<"canTransmit", bool>);
    ASSERT_TRUE(arrived("rates", 4));
    ASSERT_TRUE(arrived("agcModes", 2));
    ASSERT_TRUE(arrived("filterSet", 1));
    ASSERT_TRUE(arrived("canTransmit", 1));
    host::pollFor(poll, std::chrono::milliseconds(30));

    auto rates = log.of("rates");
    const std::pair<int, const char*> wantRates[] = {{48000, "48k"}, {96000, "96k"}, {192000, "192k"}, {384000, "384k"}};
    ASSERT_EQ(rates.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rates[i].args, (std::vector<std::string>{"3", "0"}));
        auto v = item<ValueLabelItem>(rates[i]);
        EXPECT_EQ(v->Value.get(), wantRates[i].first);
        EXPECT_EQ(v->Label.get(), wantRates[i].second);
        EXPECT_EQ(v->taskGroup(), r->taskGroup()) << "items live on the radio's own lane";
    }
    auto modes = log.of("agcModes");
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(item<ValueLabelItem>(modes[0])->Label.get(), "off");
    EXPECT_EQ(item<ValueLabelItem>(modes[1])->Value.get(), 2);
    auto filter = item<J16Filter>(log.of("filterSet")[0]);
    EXPECT_EQ(filter, r->FilterSet.get());
    EXPECT_EQ(filter->FilterBands.size() + filter->FilterRx.size(), 0u);
    EXPECT_EQ(log.of("canTransmit")[0].args[0], "true");
    EXPECT_TRUE(log.of("bands").empty());
    EXPECT_TRUE(log.of("power").empty());
    EXPECT_TRUE(log.of("rxGain").empty()) << "a default is not published";
    EXPECT_TRUE(log.of("temp").empty());

    // What the engine finds when it first runs.
    settle(r);
    EXPECT_NE(r->taskGroup(), globalTaskGroup);
    EXPECT_EQ(r->gainBit, 0);
    EXPECT_EQ(r->attenuation, 27);
    EXPECT_DOUBLE_EQ(r->rxScale, std::pow(10.0, -24.0 / 20.0));
    ASSERT_EQ(r->receivers.size(), 1u);
    EXPECT_EQ(r->receivers[0].frequency, 14095600);
    EXPECT_EQ(r->receivers[0].sampleRate, 48000);
    ASSERT_EQ(r->wideBand.count, 2048u);
    ASSERT_EQ(r->wideBandFill.count, 2048u);
    EXPECT_NE(r->wideBand.data, r->wideBandFill.data);
    for (size_t i = 0; i < 2048; ++i) ASSERT_EQ(r->wideBand[i] + r->wideBandFill[i], 0.0f);
    ASSERT_EQ(r->ramp.count, 4096u);
    EXPECT_EQ(r->ramp[4095], 65520);
    ASSERT_EQ(r->emptyBlock.count, 126u);
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(r->driveTable[i].driveByte, i) << "usable before the first start";
        ASSERT_EQ(r->driveTable[i].iqScale, 1.0);
    }
    EXPECT_TRUE(r->commands.empty());

    r.reset();
    releaseAndWait(h);
}

TEST_F(HpsdrRadioObject, FirstStartFillsOnlyEmptyListsOnce) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    // The host's own calibration survives the start.
    void* point = calibLine_create();
    HpsdrRadio_setFwdPwrCalibration(h, 3, 0, point);
    calibLine_release(point);
    HpsdrRadio_bindJ16Set(h, host::onCollection<"bands", J16_release>);
    HpsdrRadio_setHLite2Gain(h, true);
    Radio_start(h);
    ASSERT_TRUE(arrived("bands", 10));
    settle(r);

    const int edges[10] = {2498270, 4282749, 5995849, 8565498, 11991698, 16655136, 18737028, 23060958, 27253859, 42827494};
    auto bands = log.of("bands");
    ASSERT_EQ(bands.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        auto b = item<J16>(bands[i]);
        EXPECT_EQ(b->maxfrequency.get(), edges[i]);
        EXPECT_TRUE(b->maxfrequency.published() && b->rx.published() && b->tx.published());
        EXPECT_EQ(b->rx.get() + b->tx.get(), 0);
    }
    EXPECT_EQ(r->FwdPwrCalibration.size(), 1u);
    EXPECT_EQ(r->vtrxList.size(), 1u);
    EXPECT_EQ(r->wideBandValue, 36864000.0);
    // The board's drive form, chosen now: 4-bit levels with fine steps,
    // then the IQ scale alone.
    EXPECT_EQ(r->driveTable[255].driveByte, 240u);
    EXPECT_EQ(r->driveTable[181].driveByte, 16u);
    EXPECT_DOUBLE_EQ(r->driveTable[181].iqScale, std::pow(10.0, -0.4 / 20));
    EXPECT_EQ(r->driveTable[180].driveByte, 0u);
    EXPECT_DOUBLE_EQ(r->driveTable[180].iqScale, 1.0);
    EXPECT_NEAR(20 * std::log10(r->driveTable[1].iqScale), -17.9, 1e-9);
    EXPECT_EQ(r->driveTable[0].iqScale, 0.0);

    // Emptied by the host, the band list stays empty across starts.
    HpsdrRadio_resetJ16Set(h);
    Radio_stop(h);
    Radio_start(h);
    settle(r);
    EXPECT_EQ(r->J16Set.size(), 0u);
    EXPECT_EQ(r->vtrxList.size(), 1u);
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_EQ(log.of("bands").size(), 10u);

    // A second radio with nothing of the host's gets the whole curve.
    void* h2 = make();
    auto r2 = object<HpsdrRadio>(h2);
    HpsdrRadio_bindFwdPwrCalibration(h2, host::onCollection<"power", calibLine_release>);
    Radio_start(h2);
    ASSERT_TRUE(arrived("power", 15));
    auto power = log.of("power");
    EXPECT_FLOAT_EQ(float(item<calibLine>(power[4])->inp.get()), 647.9156f);
    EXPECT_FLOAT_EQ(float(item<calibLine>(power[4])->outp.get()), 0.2164583f);
    EXPECT_FLOAT_EQ(float(item<calibLine>(power[14])->outp.get()), 10.673214f);

    r.reset();
    r2.reset();
    releaseAndWait(h);
    log.forget("gone");
    releaseAndWait(h2);
}

TEST_F(HpsdrRadioObject, FilterSetTakesTheHostsFilterObjects) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    std::weak_ptr<J16Filter> original = r->FilterSet.get();

    void* f = J16Filter_create();
    void* band = J16FilterBands_create();
    void* row = J16FilterRx_create();
    J16FilterBands_bindmaxfrequency(band, host::on<"edge", int>);
    J16FilterBands_setmaxfrequency(band, 7300000);
    J16FilterBands_settx(band, 5);
    J16FilterRx_setbands(row, 1);
    J16FilterRx_setrx(row, 9);
    J16Filter_bindFilterRx(f, host::onCollection<"rows", J16FilterRx_release>);
    J16Filter_setFilterBands(f, 3, 0, band);
    J16Filter_setFilterRx(f, 3, 0, row);
    J16Filter_setFilterRx(f, 0, 1, row); // op 0 past the end grows the table
    HpsdrRadio_setFilterSet(h, f);
    HpsdrRadio_setUseJ16(h, false);
    settle(r);
    onWorker(object<J16Filter>(f), [] {}); // the filter's own requests

    auto set = r->FilterSet.get();
    EXPECT_EQ(set, object<J16Filter>(f));
    EXPECT_TRUE(original.expired()) << "the default filter goes when replaced";
    ASSERT_EQ(set->FilterBands.size(), 1u);
    EXPECT_EQ(set->FilterBands.items()[0]->maxfrequency.get(), 7300000);
    EXPECT_EQ(set->FilterBands.items()[0]->tx.get(), 5);
    ASSERT_EQ(set->FilterRx.size(), 2u);
    EXPECT_EQ(set->FilterRx.items()[1]->rx.get(), 9);
    EXPECT_FALSE(r->UseJ16.get());

    // Rebinding delivers the host's filter; host edits are never echoed.
    HpsdrRadio_bindFilterSet(h, host::onObject<"filterSet", J16Filter_release>);
    ASSERT_TRUE(arrived("filterSet", 1));
    EXPECT_EQ(item<J16Filter>(log.of("filterSet")[0]), set);
    J16Filter_resetFilterRx(f);
    onWorker(object<J16Filter>(f), [] {});
    EXPECT_EQ(set->FilterRx.size(), 0u);
    host::pollFor(poll, std::chrono::milliseconds(20));
    EXPECT_TRUE(log.of("rows").empty());
    EXPECT_TRUE(log.of("edge").empty()) << "host-set values are not published";

    // A foreign handle is refused; the set keeps its filter.
    HpsdrRadio_setFilterSet(h, band);
    settle(r);
    EXPECT_EQ(r->FilterSet.get(), set);

    J16FilterBands_release(band);
    J16FilterRx_release(row);
    J16Filter_release(f);
    set.reset();
    r.reset();
    releaseAndWait(h);
}

TEST_F(HpsdrRadioObject, GainsFollowTheirPropertiesAndPtt) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    HpsdrRadio_setrxGain(h, 30);
    settle(r);
    EXPECT_EQ(r->attenuation, 21); // -12 - 30 + 63
    EXPECT_EQ(r->gainBit, 0);
    EXPECT_DOUBLE_EQ(r->rxScale, std::pow(10.0, -1.5));

    // Transmitting selects txGain for the gain bytes; the receive scale
    // waits for the latch of the transmit packets.
    HpsdrRadio_settxGain(h, -20);
    Radio_setptt(h, true);
    settle(r);
    EXPECT_EQ(r->settleCount, 0);
    EXPECT_EQ(r->gainBit, 1); // v = 71
    EXPECT_EQ(r->attenuation, 71 % 32);
    EXPECT_DOUBLE_EQ(r->rxScale, std::pow(10.0, -1.5));
    Radio_setptt(h, false);

    HpsdrRadio_setHLite2Gain(h, true);
    HpsdrRadio_setrxGain(h, 24);
    settle(r);
    EXPECT_EQ(r->attenuation, 36);

    // Dither drives the gain bit only on boards without the extra step.
    HpsdrRadio_setDither(h, true);
    settle(r);
    EXPECT_EQ(r->gainBit, 0);
    HpsdrRadio_setHLiteGain(h, false);
    HpsdrRadio_setDither(h, false);
    HpsdrRadio_setDither(h, true);
    settle(r);
    EXPECT_EQ(r->gainBit, 1);

    // Any host value is taken without harm.
    HpsdrRadio_setHLite2Gain(h, false);
    HpsdrRadio_setminRxRFGain(h, INT_MIN);
    HpsdrRadio_setrxGain(h, INT_MAX);
    settle(r);
    EXPECT_LT(r->attenuation, 32);

    // The sample rate reaches every receiver and restarts the clock estimate.
    r->skipCount = 77;
    Radio_setSampleRate(h, 192000);
    settle(r);
    EXPECT_EQ(r->receivers[0].sampleRate, 192000);
    EXPECT_EQ(r->skipCount, 0);

    // A rate the protocol cannot name is refused and changes nothing.
    LogCapture logged;
    r->skipCount = 55;
    for (int rate : {1536000, 100000, INT_MAX}) Radio_setSampleRate(h, rate);
    settle(r);
    for (const char* line : {"error|HpsdrRadio SampleRate 1536000 refused, keeping 192000",
                             "error|HpsdrRadio SampleRate 100000 refused, keeping 192000",
                             "error|HpsdrRadio SampleRate 2147483647 refused, keeping 192000"})
        EXPECT_TRUE(logged.contains(line)) << line;
    EXPECT_EQ(r->SampleRate.get(), 192000);
    EXPECT_EQ(r->receivers[0].sampleRate, 192000);
    EXPECT_EQ(r->skipCount, 55);

    r.reset();
    releaseAndWait(h);
}

TEST_F(HpsdrRadioObject, RegisterWritesQueueTheirRecords) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    auto records = [&] {
        std::vector<std::vector<int>> out;
        for (auto& c : r->commands) out.push_back({c.C0, c.C1, c.C2, c.C3, c.C4, int(c.wait)});
        return out;
    };
    HpsdrRadio_setpaBias0(h, 10);
    HpsdrRadio_writeBias(h);
    HpsdrRadio_setpaExtBias0(h, 3);
    settle(r);
    EXPECT_TRUE(r->commands.empty()) << "bias writes need biasEnabled";

    HpsdrRadio_setbiasEnabled(h, true);
    HpsdrRadio_setFwVersion(h, 59);
    HpsdrRadio_setpaBias0(h, 11);
    HpsdrRadio_setpaBias0(h, 11); // unchanged: nothing more
    HpsdrRadio_setFwVersion(h, 60);
    HpsdrRadio_setpaBias1(h, 10);
    HpsdrRadio_writeExtBias(h);
    HpsdrRadio_writeIP(h, int(0xC0A80102u));
    HpsdrRadio_writeMac(h, 0x12345678);
    HpsdrRadio_writeStatus(h, 0x1FF);
    settle(r);
    r->IOBoardRxMode.reinit(2);
    onWorker(r, [&] { r->writeIOCardFreq(14095600); });
    const std::vector<std::vector<int>> want = {
        {0xFA, 6, 0xA8, 0x00, 0xF4, 4},  {0xFA, 6, 0xAC, 0x10, 0x0A, 4},  {0xFA, 6, 0xAE, 0x20, 3, 40},
        {0xFA, 6, 0xAC, 0x80, 192, 40},  {0xFA, 6, 0xAC, 0x90, 168, 40},  {0xFA, 6, 0xAC, 0xA0, 1, 40},
        {0xFA, 6, 0xAC, 0xB0, 2, 40},    {0xFA, 6, 0xAC, 0xC0, 0x56, 40}, {0xFA, 6, 0xAC, 0xD0, 0x78, 40},
        {0xFA, 6, 0xAC, 0x60, 0xFF, 40}, {0xFA, 6, 0x1D, 1, 0x00, 4},     {0xFA, 6, 0x1D, 2, 0xD7, 4},
        {0xFA, 6, 0x1D, 3, 0x14, 4},     {0xFA, 6, 0x1D, 4, 0xF0, 4},     {0xFA, 6, 0x1D, 0, 0x00, 4},
        {0xFA, 6, 0x1D, 0x0B, 2, 4}};
    EXPECT_EQ(records(), want);

    r.reset();
    releaseAndWait(h);
}

TEST_F(HpsdrRadioObject, ReleasedWithRequestsQueuedLivesUntilTheyRan) {
    void* h = make();
    auto r = object<HpsdrRadio>(h);
    std::weak_ptr<HpsdrRadio> weak = r;
    // Hold the radio's lane so that the requests below wait in its ring.
    std::promise<void> go;
    std::latch holding(1);
    seqTask hold;
    hold.fn = [f = go.get_future().share(), &holding] {
        holding.count_down();
        f.wait();
    };
    hold.name = "test.hold";
    r->asyncProcess(hold);
    holding.wait();
    r.reset();

    asyncObject_bindEcho(h, host::on<"echo", int>);
    asyncObject_bindDeleted(h, host::on<"gone", int>);
    for (int g = 0; g < 40; ++g) HpsdrRadio_setrxGain(h, g);
    HpsdrRadio_writeStatus(h, 1);
    asyncObject_Ping(h, 7);
    HpsdrRadio_release(h);
    EXPECT_FALSE(weak.expired());
    go.set_value();

    ASSERT_TRUE(arrived("gone", 1));
    EXPECT_TRUE(weak.expired());
    auto calls = log.all();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "echo") << "the last request ran before the radio went";
    EXPECT_EQ(calls.back().what, "gone");
}

} // namespace
