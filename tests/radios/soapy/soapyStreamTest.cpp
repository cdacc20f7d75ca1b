// The stream loop against the stand-in device: what reaches the radio's
// transceivers, the meter and gain control, host changes while streaming,
// and the thread's life cycle.
#include "soapyFixture.h"

#include "core/vtrx.h"
#include "support/logCapture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>

namespace {

std::mutex iqMutex;
std::vector<std::vector<std::complex<float>>> iqBlocks;

void onIQ(void* iq, double, int) {
    const float* d = complexArray_data(iq);
    std::vector<std::complex<float>> block(size_t(complexArray_size(iq)));
    for (size_t i = 0; i < block.size(); ++i) block[i] = {d[2 * i], d[2 * i + 1]};
    complexArray_delete(iq);
    std::lock_guard<std::mutex> l(iqMutex);
    iqBlocks.push_back(std::move(block));
}
void onAdded(void* h, long long, int, int) { host::Log::get().add({"added", {}, h}, vtrx_release); }

/// Amplitude of the component at f Hz (a single-bin DFT).
double amplitudeAt(const std::vector<std::complex<float>>& x, double f, double rate) {
    std::complex<double> acc = 0;
    for (size_t n = 0; n < x.size(); ++n) acc += std::complex<double>(x[n]) * std::polar(1.0, -2 * M_PI * f * double(n) / rate);
    return std::abs(acc) / double(x.size());
}

} // namespace

class SoapyStreaming : public SoapyTest {
protected:
    void TearDown() override {
        {
            std::lock_guard<std::mutex> l(iqMutex);
            iqBlocks.clear();
        }
        SoapyTest::TearDown();
    }
    /// Starts the radio with its transceiver passing IQ to the host; returns
    /// the first block of the rate's full size. A receiver's very first block
    /// is 512 samples whatever the rate, and reaches the host when the
    /// transceiver starts sending before it has passed: only it may be short.
    std::vector<std::complex<float>> firstFullBlock(void* radio, size_t full) {
        Radio_bindvtrxAdded(radio, onAdded);
        if (!startStreaming(radio)) return {};
        if (!host::pollUntil(getUpdates, [&] { return log.of("added").size() == 1; })) return {};
        void* v = log.of("added")[0].handle;
        vtrx_bindnewIQ(v, onIQ);
        vtrx_setSendIQ(v, true);
        vtrx_start(v);
        auto have = [full] {
            std::lock_guard<std::mutex> l(iqMutex);
            return std::any_of(iqBlocks.begin(), iqBlocks.end(), [full](auto& b) { return b.size() == full; });
        };
        if (!host::pollUntil(getRenderUpdates, have)) return {};
        std::lock_guard<std::mutex> l(iqMutex);
        auto b = std::find_if(iqBlocks.begin(), iqBlocks.end(), [full](auto& x) { return x.size() == full; });
        EXPECT_LE(b - iqBlocks.begin(), 1);
        if (b != iqBlocks.begin()) {
            EXPECT_EQ(iqBlocks.front().size(), 512u);
        }
        auto block = *b;
        iqBlocks.clear();
        return block;
    }
    /// Waits for n more reads: at the stand-in's pace, time passing in samples.
    void readsPass(long n) {
        const long target = reads() + n;
        ASSERT_TRUE(waitFor([&] { return reads() >= target; }));
    }
    /// Releases the radio and waits until it and its transceivers are gone:
    /// their Deleted notices come after the last of their work.
    void releaseAndWait(void* radio) {
        size_t objects = 1;
        {
            auto x = object<SoapyRadio>(radio);
            x->Deleted.store(host::on<"gone", int>);
            std::lock_guard<std::mutex> l(x->listMutex);
            for (auto& v : x->vtrxList) v->Deleted.store(host::on<"gone", int>);
            objects += x->vtrxList.size();
        }
        SoapyRadio_release(radio);
        log.clear(); // frees the transceiver's handle, if the host took one
        EXPECT_TRUE(host::pollUntil([] { getUpdates(); getRenderUpdates(); },
                                    [&] { return log.of("gone").size() == objects; }));
        log.forget("gone");
    }
    /// Stops and releases the radio and waits until it and its transceivers
    /// are gone, so that nothing of theirs (an IQ block, a log line) reaches
    /// the next case.
    void stopAndRelease(void* radio) {
        Radio_stop(radio);
        releaseAndWait(radio);
        getUpdates();
        getRenderUpdates();
        log.clear();
        std::lock_guard<std::mutex> l(iqMutex);
        iqBlocks.clear();
    }
};

TEST_F(SoapyStreaming, TheToneLandsOnItsBinInEveryFormatOrderAndAccessMode) {
    struct form {
        const char* driver;
        const char* format;
        double fullScale;
        size_t directBuffers;
    };
    // The dongle's direct buffers are its raw bytes: read as U8.
    const form forms[] = {{"vctest", "CS8", 128, 0},    {"vctest", "CS8", 128, 3},  {"vctest", "CS16", 32768, 0},
                          {"vctest", "CS16", 32768, 3}, {"vctest", "CF32", 1, 0},   {"vctest", "CF32", 1, 3},
                          {"rtlsdr", "CS8", 128, 3},    {"vctest", "CS12", 2048, 0}}; // unknown: CF32, scale 1
    for (const form& f : forms) {
        for (bool swap : {false, true}) {
            SCOPED_TRACE(std::string(f.driver) + " " + f.format + (f.directBuffers ? " direct" : " stream") +
                         (swap ? " swapped" : ""));
            sdr::Device d = device("Alpha");
            d.driver = f.driver;
            d.rates = {192000};
            d.format = f.format;
            d.fullScale = f.fullScale;
            d.directBuffers = f.directBuffers;
            d.speed = 4;
            setDevices({d});
            void* r = openRadio("Alpha", f.driver);
            SoapyRadio_setswapIQ(r, swap);
            const auto block = firstFullBlock(r, 2048);
            ASSERT_EQ(block.size(), 2048u);
            // rxGain 0 of [0, 30]: a scale of 0.1 of full scale, so the
            // tone at half of it comes out at 0.05.
            const double up = amplitudeAt(block, 12000, 192000), down = amplitudeAt(block, -12000, 192000);
            const double tone = swap ? down : up, mirror = swap ? up : down;
            EXPECT_NEAR(tone, 0.05, 0.05 * 0.02);
            EXPECT_LT(mirror, tone * 0.01);
            stopAndRelease(r);
        }
    }
}

TEST_F(SoapyStreaming, MeterAndGainControl) {
    auto run = [&](sdr::Device d, bool swap, int startGain, std::vector<std::string> gains, double peak) {
        d.pattern = true;
        d.rates = {192000};
        d.speed = 10;
        setDevices({d});
        void* r = openRadio("Alpha", d.driver);
        SoapyRadio_bindrxGain(r, host::on<"rxGain", int>);
        SoapyRadio_bindadcPeak(r, host::on<"adcPeak", double>);
        SoapyRadio_setswapIQ(r, swap);
        SoapyRadio_setrxGain(r, startGain);
        ASSERT_TRUE(startStreaming(r));
        ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("rxGain").size() == gains.size() &&
                                                             !log.of("adcPeak").empty(); }));
        readsPass(40); // four more publishing steps: nothing moves
        getUpdates();
        std::vector<std::string> seen;
        for (auto& c : log.of("rxGain")) seen.push_back(c.args[0]);
        EXPECT_EQ(seen, gains);
        EXPECT_EQ(object<SoapyRadio>(r)->adcPeak.get(), peak);
        for (auto& g : gains) EXPECT_TRUE(called("setGain " + std::to_string(std::stoi(g) + 10))) << g;
        stopAndRelease(r);
    };
    sdr::Device dongle = device("Alpha"); // U8 pair (255, 0): level 127/128 above 0.95, steps down
    dongle.driver = "rtlsdr";
    dongle.format = "CS8";
    dongle.directBuffers = 3;
    dongle.gainMaximum = 13;
    dongle.pair = {255, 0};
    run(dongle, false, 3, {"2", "1", "0"}, 127.0 / 128);
    sdr::Device weak = device("Alpha"); // 0.3 below 0.4: steps up to the maximum
    weak.format = "CF32";
    weak.fullScale = 1;
    weak.gainMaximum = 15;
    weak.pair = {0.3, 0.9};
    run(weak, false, 0, {"1", "2", "3", "4", "5"}, double(0.3f));
    sdr::Device edge = device("Alpha"); // exactly 0.95: no step
    edge.fullScale = 20000;
    edge.pair = {19000, 0};
    run(edge, false, 5, {}, 0.95);
    edge.pair = {8000, 0}; // exactly 0.4: no step
    run(edge, false, 5, {}, 0.4);
    sdr::Device full = device("Alpha"); // CS16 (-32768, 5) swapped: Q carries the peak
    full.pair = {-32768, 5};
    run(full, true, 0, {}, 1.0);
}

TEST_F(SoapyStreaming, HostChangesReachTheDeviceInOrder) {
    sdr::Device d = device("Alpha");
    d.rates = {192000, 96000};
    d.settings = {{"agc_mode", "off", "", "", "", 3, 0, 0, 0, {}, {}},
                  {"biastee", "false", "", "", "", 0, 0, 0, 0, {}, {}}};
    setDevices({d});
    void* r = openRadio("Alpha");
    ASSERT_TRUE(startStreaming(r));
    // The first turn has applied what the capability read set; from here
    // each change is made once the one before it has reached the device.
    ASSERT_TRUE(waitForCall("setGain 10"));
    const size_t from = calls().size();
    Radio_setSampleRate(r, 96000);
    ASSERT_TRUE(waitForCall("activateStream", from));
    SoapyRadio_setantenna(r, "LNA");
    ASSERT_TRUE(waitForCall("setAntenna LNA", from));
    SoapyRadio_setrxGain(r, 7);
    ASSERT_TRUE(waitForCall("setGain 17", from));
    SoapyRadio_ChangeSetting(r, 1, "true");
    SoapyRadio_ChangeSetting(r, 5, "true"); // no such setting: refused, nothing written
    ASSERT_TRUE(waitForCall("writeSetting biastee true", from));
    Radio_setfrequencyCalibration(r, 1.0001);
    ASSERT_TRUE(waitForCall("setFrequency RF 99009900", from));
    auto all = calls();
    EXPECT_EQ(std::vector<std::string>(all.begin() + long(from), all.end()),
              (std::vector<std::string>{"deactivateStream", "setSampleRate 96000", "activateStream", "setAntenna LNA",
                                        "setGain 17", "writeSetting biastee true", "setFrequency RF 99009900"}));
    EXPECT_EQ(object<SoapyRadio>(r)->receivers[0].sampleRate, 96000);
    stopAndRelease(r);

    // A dongle changes its rate without stopping its stream.
    d.driver = "rtlsdr";
    setDevices({d});
    r = openRadio("Alpha", "rtlsdr");
    ASSERT_TRUE(startStreaming(r));
    ASSERT_TRUE(waitForCall("setGain 10"));
    const size_t mark = calls().size();
    Radio_setSampleRate(r, 96000);
    ASSERT_TRUE(waitForCall("setSampleRate 96000", mark));
    readsPass(5);
    all = calls();
    EXPECT_EQ(std::vector<std::string>(all.begin() + long(mark), all.end()),
              std::vector<std::string>{"setSampleRate 96000"});
    stopAndRelease(r);
}

TEST_F(SoapyStreaming, FiftyStartsAndStops) {
    sdr::Device d = device("Alpha");
    d.directBuffers = 2;
    setDevices({d});
    void* r = openRadio("Alpha");
    for (int cycle = 0; cycle < 50; ++cycle) {
        if (cycle % 2)
            ASSERT_TRUE(startStreaming(r)) << cycle;
        else
            Radio_start(r); // stopped at once, maybe before the device is open
        Radio_stop(r);
    }
    onWorker(object<SoapyRadio>(r), [] {});
    auto all = calls();
    auto count = [&](const char* c) { return std::count(all.begin(), all.end(), c); };
    EXPECT_EQ(count("make Alpha"), 51); // the capability read, then one per start
    EXPECT_EQ(count("unmake Alpha"), 51);
    EXPECT_EQ(count("setupStream CS16"), count("closeStream"));
    EXPECT_GE(count("closeStream"), 25);
    long rd = 0, acquired = 0, released = 0;
    counts(&rd, &acquired, &released);
    EXPECT_EQ(acquired, released);
    stopAndRelease(r);
}

TEST_F(SoapyStreaming, AnUnpluggedDeviceIsNotSpunOn) {
    setDevices({device("Alpha")});
    LogCapture capture;
    void* r = openRadio("Alpha");
    ASSERT_TRUE(startStreaming(r));
    unplug(true);
    ASSERT_TRUE(waitFor([&] { return capture.contains("error|soapy read error STREAM_ERROR"); }));
    const long before = reads();
    host::pollFor(getUpdates, std::chrono::milliseconds(300)); // three time-outs
    EXPECT_LE(reads() - before, 5);
    EXPECT_EQ(capture.count("error|soapy read error STREAM_ERROR"), 1u);
    Radio_stop(r);
    onWorker(object<SoapyRadio>(r), [] {}); // joined
    EXPECT_TRUE(called("unmake Alpha", 2));
    unplug(false);
    ASSERT_TRUE(startStreaming(r));
    stopAndRelease(r);
}

TEST_F(SoapyStreaming, RatesOutsideTheDevicesRangesAreRefused) {
    sdr::Device d = device("Alpha");
    d.rateRanges = {{192000, 192000}, {1000000, 2000000}, {2500000, 3200000, 100000}};
    d.rates = {96000};
    setDevices({d});
    LogCapture capture;
    void* r = openRadio("Alpha");
    auto radio = object<SoapyRadio>(r);
    std::vector<int> offered;
    for (auto& item : radio->SampleRates.items()) offered.push_back(item->Value.get());
    EXPECT_EQ(offered, (std::vector<int>{192000, 1536000, 2000000, 3200000})); // 3072000 lies between steps
    Radio_bindSampleRate(r, host::on<"SampleRate", int>);
    ASSERT_TRUE(startStreaming(r));
    ASSERT_TRUE(waitForCall("setGain 10"));
    const size_t mark = calls().size();
    const std::vector<int> refused{0, -1, 2000001, 500000, 2550000, 3072000, INT_MAX};
    for (int rate : refused) Radio_setSampleRate(r, rate);
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].sampleRate, 192000); });
    for (int rate : refused)
        EXPECT_TRUE(capture.contains("error|soapy SampleRate " + std::to_string(rate) + " refused, keeping 192000"))
            << rate;
    // The rate in force, once: each refusal but the last was followed by
    // another set before the host heard it.
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("SampleRate").empty(); }));
    for (auto& told : log.of("SampleRate")) EXPECT_EQ(told.args[0], "192000");
    // Inside a range, on a step, or listed: taken.
    for (int rate : {1234567, 2600000, 96000}) {
        Radio_setSampleRate(r, rate);
        ASSERT_TRUE(waitForCall("setSampleRate " + std::to_string(rate), mark));
    }
    auto all = calls();
    EXPECT_EQ(std::count_if(all.begin() + long(mark), all.end(),
                            [](const std::string& c) { return c.rfind("setSampleRate", 0) == 0; }),
              3);
    radio.reset();
    stopAndRelease(r);
}

TEST_F(SoapyStreaming, ReleasedWhileStreaming) {
    setDevices({device("Alpha")});
    void* r = openRadio("Alpha");
    ASSERT_TRUE(startStreaming(r));
    releaseAndWait(r); // still running
    // The thread finds the radio gone and closes the device itself.
    EXPECT_TRUE(waitForCall("unmake Alpha", 2));
    EXPECT_TRUE(called("closeStream"));
}

TEST_F(SoapyStreaming, DeviceQuirksAndFailures) {
    LogCapture capture;
    sdr::Device d = device("Alpha");
    d.mtu = 0;
    d.overclaim = 100000; // readStream claims far more than it was asked for
    setDevices({d});
    void* r = openRadio("Alpha");
    ASSERT_TRUE(startStreaming(r));
    EXPECT_TRUE(capture.contains("error|soapy MTU 0 refused, using 16384"));
    EXPECT_TRUE(waitFor([&] { return capture.contains("error|soapy buff too small 116384"); }));
    Radio_stop(r);

    fail("setupStream", 1);
    size_t mark = calls().size();
    Radio_start(r);
    EXPECT_TRUE(waitForCall("unmake Alpha", mark));
    EXPECT_TRUE(waitFor([&] { return capture.contains("error|soapy setupStream failed setupStream refused 1"); }));
    Radio_stop(r);
    fail("setupStream", 0);
    fail("activateStream", -5);
    mark = calls().size();
    Radio_start(r);
    EXPECT_TRUE(waitForCall("unmake Alpha", mark));
    EXPECT_TRUE(called("closeStream", mark));
    EXPECT_TRUE(capture.contains("error|soapy Activate stream err NOT_SUPPORTED"));
    Radio_stop(r);
    fail("activateStream", 0);
    ASSERT_TRUE(startStreaming(r)); // and it starts again
    stopAndRelease(r);
}
