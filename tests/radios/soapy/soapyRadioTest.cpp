// Discovery and the capability read, as a host sees them.
#include "soapyFixture.h"

#include "radios/soapy/SoapyController.h"
#include "support/logCapture.h"

#include <climits>
#include <utility>

using SoapyHost = SoapyTest;

namespace {
void onItem(unsigned long op, unsigned long index, void* item) {
    host::Log::get().add({"rate", {std::to_string(op)}, item}, ValueLabelItem_release);
}
std::vector<std::string> argsOf(const std::vector<host::Call>& calls) {
    std::vector<std::string> out;
    for (auto& c : calls) out.push_back(c.args.at(0));
    return out;
}
} // namespace

TEST_F(SoapyHost, DiscoveryAnnouncesUsableDevicesAndRoutesTheLibraryLog) {
    auto d = [](std::string driver, std::map<std::string, std::string> find) {
        sdr::Device x;
        x.driver = driver;
        x.find = find;
        return x;
    };
    setDevices({d("vctest", {{"device", "Board"}, {"label", "Alpha"}, {"serial", "S1"}}),
                d("vctest", {{"device", "Beta"}, {"serial", "S2"}}),
                d("vctest", {{"label", "Gamma"}, {"uri", "tcp://10.0.0.9"}}),
                d("vctest", {{"label", "Delta"}}),                     // no serial: not announced
                d("rtlsdr", {{"label", "Dongle"}, {"serial", "0001"}})}); // only with UseRTL
    LogCapture capture;
    void* c = SoapyController_create();
    SoapyController_bindnewRadio(c, host::onText<"newRadio">);
    SoapyController_Discover(c);
    onWorker(object<SoapyController>(c), [] {});
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("newRadio").size() >= 3; }));
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_EQ(argsOf(log.of("newRadio")),
              (std::vector<std::string>{"vctest~Alpha~S1", "vctest~Beta~S2", "vctest~Gamma~tcp://10.0.0.9"}));
    EXPECT_TRUE(capture.contains("info|soapy ABIVersion 0.8"));
    EXPECT_TRUE(capture.contains("info|module found " + modulePath()));
    EXPECT_TRUE(capture.contains("info|module loaded " + modulePath()));
    EXPECT_TRUE(capture.contains("info|soapy found device Board"));

    // The handler is in place and the level lets warnings through.
    soapyLog(SOAPY_SDR_ERROR, "stand-in {} error");
    soapyLog(SOAPY_SDR_WARNING, "stand-in warning");
    EXPECT_TRUE(capture.contains("error|stand-in {} error"));
    EXPECT_TRUE(capture.contains("info|stand-in warning"));

    log.forget("newRadio");
    SoapyController_setUseRTL(c, true);
    SoapyController_Discover(c);
    onWorker(object<SoapyController>(c), [] {});
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("newRadio").size() >= 4; }));
    auto again = argsOf(log.of("newRadio"));
    EXPECT_EQ(std::count(again.begin(), again.end(), "rtlsdr~Dongle~0001"), 1);
    SoapyController_release(c);
}

// The file name decides, not the folders above it.
TEST_F(SoapyHost, ModulesAreChosenByTheirFileName) {
    void* c = SoapyController_create();
    auto& ctl = *object<SoapyController>(c);
    EXPECT_TRUE(ctl.moduleWanted("/home/audio-lab/SoapySDR/modules0.8/libvctest.so"));
    EXPECT_TRUE(ctl.moduleWanted("/opt/sdrPlay/lib/libremoteSupport.so"));
    EXPECT_FALSE(ctl.moduleWanted("/usr/lib/SoapySDR/modules0.8/libaudioSupport.so"));
    EXPECT_FALSE(ctl.moduleWanted("/usr/lib/SoapySDR/modules0.8/libsdrPlaySupport.so"));
    EXPECT_FALSE(ctl.moduleWanted("/usr/lib/rtlsdr/libairspySupport.so")); // UseAirspy is off
    EXPECT_FALSE(ctl.moduleWanted("/usr/lib/airspy/librtlsdrSupport.so")); // UseRTL is off
    EXPECT_TRUE(ctl.moduleWanted("/usr/lib/rtlsdr/libhackrfSupport.so"));
    SoapyController_release(c);
}

TEST_F(SoapyHost, CapabilityReadFromRanges) {
    sdr::Device d = device("Alpha");
    d.rateRanges = {{2000000, 2400000}, {48000, 6144000}};
    d.settings = {{"iq_swap", "false", "Swap IQ", "Swaps the two channels", "", 0, 0, 0, 0, {}, {}},
                  {"mode", "B", "Mode", "", "", 3, 0, 0, 0, {"A", "B"}, {"Fast", "Slow"}}};
    setDevices({d});
    void* r = SoapyRadio_create();
    SoapyRadio_bindSampleRates(r, onItem);
    SoapyRadio_bindantennaAdded(r, host::onText<"antenna+">);
    SoapyRadio_bindsettingAdded(r, host::onText<"setting">);
    SoapyRadio_bindmaxRxRFGain(r, host::on<"max", int>);
    SoapyRadio_bindantenna(r, host::onText<"antenna">);
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    SoapyRadio_setdriver(r, "vctest");
    SoapyRadio_setlabel(r, "Alpha");
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("setting").size() == 2; }));
    host::pollFor(getUpdates, std::chrono::milliseconds(20));

    std::vector<std::string> labels;
    for (auto& item : log.of("rate")) labels.push_back(object<ValueLabelItem>(item.handle)->Label.get());
    EXPECT_EQ(labels, (std::vector<std::string>{"2.4M", "48K", "96K", "192K", "384K", "768K", "1.536M", "3.072M",
                                                "6.144M"}));
    EXPECT_EQ(argsOf(log.of("SampleRate")), std::vector<std::string>{"2400000"}); // was 48000
    EXPECT_EQ(argsOf(log.of("antenna+")), (std::vector<std::string>{"RX", "LNA"}));
    EXPECT_EQ(argsOf(log.of("antenna")), std::vector<std::string>{"RX"});
    // [10, 40] without elements: offset 10, so 0 ... 30; rxGain 0 stays.
    EXPECT_EQ(argsOf(log.of("max")), std::vector<std::string>{"30"});
    SoapyRadio_bindminRxRFGain(r, host::on<"min", int>); // 0 all along, but published
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("min").size() == 1; }));
    EXPECT_EQ(argsOf(log.of("min")), std::vector<std::string>{"0"});
    auto radio = object<SoapyRadio>(r);
    EXPECT_EQ(radio->rxGain.get(), 0);
    EXPECT_EQ(radio->gainOffset, 10.0);
    EXPECT_EQ(radio->receivers[0].sampleRate, 2400000);
    EXPECT_EQ(argsOf(log.of("setting")),
              (std::vector<std::string>{"0~Swaps the two channels~iq_swap~Swap IQ~bool~~false~0.000000~0.000000~"
                                        "0.000000~0~",
                                        "1~~mode~Mode~string~~B~0.000000~0.000000~0.000000~2~A~Fast~B~Slow~"}));
    EXPECT_EQ(calls(), (std::vector<std::string>{"make Alpha", "unmake Alpha"})); // opened once, and closed
    SoapyRadio_release(r);
}

TEST_F(SoapyHost, CapabilityReadOfADongleFromItsList) {
    sdr::Device d = device("Dongle");
    d.driver = "rtlsdr";
    d.rates = {250000, 32000, 1024000, 384001, 2048000};
    d.gainElements = {{"LNA", {0, 30}}, {"VGA", {-5, 20}}};
    d.gainMinimum = -3;
    d.gainMaximum = 50;
    setDevices({d});
    LogCapture capture;
    void* r = SoapyRadio_create();
    SoapyRadio_bindSampleRates(r, onItem);
    Radio_setSampleRate(r, 1024000); // chosen before: kept
    SoapyRadio_setrxGain(r, 99);     // out of range: the maximum
    SoapyRadio_setdriver(r, "rtlsdr");
    SoapyRadio_setlabel(r, "Dongle");
    onWorker(object<SoapyRadio>(r), [] {});
    getUpdates();
    std::vector<int> rates;
    for (auto& item : log.of("rate")) rates.push_back(object<ValueLabelItem>(item.handle)->Value.get());
    EXPECT_EQ(rates, (std::vector<int>{250000, 1024000, 2048000})); // the ranges are not asked
    EXPECT_TRUE(capture.contains("info|soapy srate 32000"));
    auto radio = object<SoapyRadio>(r);
    EXPECT_EQ(radio->SampleRate.get(), 1024000);
    EXPECT_EQ(radio->gainOffset, 2.0); // -3 - (0 + -5)
    EXPECT_EQ(radio->maxRxRFGain.get(), 48);
    EXPECT_EQ(radio->minRxRFGain.get(), -5);
    EXPECT_EQ(radio->rxGain.get(), 48);
    SoapyRadio_release(r);
}

TEST_F(SoapyHost, AnUnknownDeviceIsRetriedOnTheNextName) {
    setDevices({device("Alpha")});
    LogCapture capture;
    void* r = openRadio("Nobody");
    EXPECT_EQ(capture.count("error|soapy find failed 1 "), 1u);
    Radio_start(r); // never read: nothing starts
    onWorker(object<SoapyRadio>(r), [] {});
    EXPECT_TRUE(calls().empty());
    fail("make", 1);
    SoapyRadio_setlabel(r, "Alpha");
    onWorker(object<SoapyRadio>(r), [] {});
    EXPECT_EQ(capture.count("error|soapy make failed make refused 1"), 1u);
    fail("make", 0);
    SoapyRadio_setlabel(r, "Nobody");
    SoapyRadio_setlabel(r, "Alpha");
    onWorker(object<SoapyRadio>(r), [] {});
    EXPECT_EQ(calls(), (std::vector<std::string>{"make Alpha", "unmake Alpha"}));
    SoapyRadio_ChangeSetting(r, 0, "x"); // the device has no settings
    SoapyRadio_ChangeSetting(r, 0, nullptr);
    onWorker(object<SoapyRadio>(r), [] {});
    EXPECT_EQ(capture.count("error|soapy setting 0 refused: 0 settings"), 1u);
    SoapyRadio_Distroy(r);
    SoapyRadio_release(r);

    // A library without a function the read needs: the device is refused,
    // never called through a null entry.
    auto saved = std::exchange(lib->getSettingInfo, nullptr);
    r = openRadio("Alpha");
    lib->getSettingInfo = saved;
    EXPECT_EQ(capture.count("error|soapy missing SoapySDRDevice_getSettingInfo"), 1u);
    const size_t before = calls().size();
    Radio_start(r);
    onWorker(object<SoapyRadio>(r), [] {});
    EXPECT_EQ(calls().size(), before); // not found: nothing starts
    SoapyRadio_release(r);
}

TEST_F(SoapyHost, ARateChosenBeforeTheReadIsCheckedAgainstWhatTheDeviceOffers) {
    LogCapture capture;
    // Reads and starts the device with `chosen` set before: the receivers'
    // rate then, and the rate last told to the host.
    auto readAndStart = [&](const sdr::Device& d, int chosen) {
        setDevices({d});
        void* r = SoapyRadio_create();
        Radio_bindSampleRate(r, host::on<"SampleRate", int>);
        Radio_setSampleRate(r, chosen);
        SoapyRadio_setdriver(r, "vctest");
        SoapyRadio_setlabel(r, "Alpha");
        Radio_start(r);
        Radio_stop(r);
        int receiving = 0;
        onWorker(object<SoapyRadio>(r), [&] { receiving = object<SoapyRadio>(r)->receivers[0].sampleRate; });
        SoapyRadio_release(r);
        host::pollUntil(getUpdates, [&] { return log.of("SampleRate").size() == 1; });
        const auto said = log.of("SampleRate");
        log.forget("SampleRate");
        return std::to_string(receiving) + " " + (said.empty() ? "nothing" : said.back().args.at(0));
    };
    sdr::Device d = device("Alpha");
    d.rateRanges = {}; // no rate at all: none reaches the receivers, and it never streams
    EXPECT_EQ(readAndStart(d, INT_MAX), "1536000 48000");
    EXPECT_EQ(calls(), (std::vector<std::string>{"make Alpha", "unmake Alpha"}));
    d.rateRanges = {{1000000, 2000000, 250000}}; // offers 2000000 only: 1536000 lies between steps
    EXPECT_EQ(readAndStart(d, 1100000), "2000000 2000000");
    for (const char* line : {"error|soapy no compatible sample rate found",
                             "error|soapy SampleRate 2147483647 refused, keeping 48000",
                             "error|soapy SampleRate 1100000 refused, keeping 2000000"})
        EXPECT_EQ(capture.count(line), 1u) << line;
}
