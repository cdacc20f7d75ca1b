// Samples from the device to the transceivers, and the life of the reader
// thread: known bytes and tones through the whole receive road, the peak
// meter, and starting, stopping, unplugging and releasing while streaming.
#include "framework/buildSlowdown.h"
#include "radios/rtl/RTLRadio.h"

#include "radios/rtl/rtlStandin.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <mutex>

namespace {

using cplx = std::complex<float>;

std::mutex m;
std::vector<cplx> iq;     // raw blocks a transceiver was sent
std::vector<cplx> output; // its filtered baseband at 48000
std::vector<std::vector<float>> lines;
double lineLow = 0, lineHigh = 0;

void onIQ(void* block, double, int) {
    std::lock_guard<std::mutex> l(m);
    auto* d = reinterpret_cast<cplx*>(complexArray_data(block));
    iq.insert(iq.end(), d, d + complexArray_size(block));
    complexArray_delete(block);
}
void onChunk(void* block) {
    std::lock_guard<std::mutex> l(m);
    auto* d = reinterpret_cast<cplx*>(complexArray_data(block));
    output.insert(output.end(), d, d + complexArray_size(block));
    complexArray_delete(block);
}
void onLine(void* line, int, double low, double high) {
    std::lock_guard<std::mutex> l(m);
    lines.emplace_back(floatArray_data(line), floatArray_data(line) + floatArray_size(line));
    lineLow = low;
    lineHigh = high;
    floatArray_delete(line);
}
std::vector<cplx> takeOutput() {
    std::lock_guard<std::mutex> l(m);
    return std::exchange(output, {});
}
void poll() {
    getUpdates();
    getRenderUpdates();
}

/// Frequency of a complex tone from the mean phase step between samples.
double phaseSlopeHz(const std::vector<cplx>& x, size_t from, double rate) {
    double sum = 0;
    for (size_t i = from + 1; i < x.size(); ++i) sum += std::arg(std::complex<double>(x[i]) * std::conj(std::complex<double>(x[i - 1])));
    return sum / double(x.size() - from - 1) * rate / (2 * M_PI);
}

class RTLStreaming : public RTLHost {
protected:
    void SetUp() override {
        RTLHost::SetUp();
        std::lock_guard<std::mutex> l(m);
        iq.clear();
        output.clear();
        lines.clear();
    }
    void TearDown() override {
        EXPECT_EQ(rtlsdr::reading(), 0);
        EXPECT_EQ(rtlsdr::openHandles(), 0);
        for (auto& c : rtlsdr::calls()) EXPECT_NE(c, "close while reading");
        RTLHost::TearDown();
    }
    /// A radio on this device whose first start adds a transceiver, handed
    /// to the test started.
    void* radioOn(const char* serial, void** transceiver) {
        void* r = RTLRadio_create();
        Radio_bindvtrxAdded(r, [](void* v, long long, int, int) { host::Log::get().add({"added", {}, v}, vtrx_release); });
        RTLRadio_setSerial(r, serial);
        Radio_start(r);
        EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("added").size() == 1; }));
        *transceiver = log.of("added").at(0).handle;
        vtrx_start(*transceiver); // a radio's first start starts none
        return r;
    }
    void settle(void* r) {
        onWorker(object<RTLRadio>(r), [] {});
    }
    /// Releases the radio and its transceivers and waits until all are
    /// gone, so that none of their queued work outlives the test.
    void finish(void* r) {
        asyncObject_bindDeleted(r, host::on<"gone", int>);
        auto added = log.of("added");
        for (auto& a : added) asyncObject_bindDeleted(a.handle, host::on<"gone", int>);
        RTLRadio_release(r);
        log.clear(); // frees the transceivers' handles
        EXPECT_TRUE(host::pollUntil(poll, [&] { return log.of("gone").size() == 1 + added.size(); }));
    }
    bool more(long than) {
        return waitFor([&] { return rtlsdr::delivered() > than; });
    }
};

} // namespace

TEST_F(RTLStreaming, BytesBecomeScaledSamplesAndFullScalePublishesPeakOneOnTheNineteenthBuffer) {
    rtlsdr::gains(rtlsdr::addDevice("00000001"), {0, 9, 14});
    rtlsdr::pattern({0, 255}); // I at -128: full scale
    rtlsdr::budget(0);
    void* v = nullptr;
    void* r = radioOn("00000001", &v);
    RTLRadio_setBalanceIQ(r, false); // the bytes unchanged by the corrector
    RTLRadio_bindadcPeak(r, host::on<"peak", double>);
    vtrx_bindnewIQ(v, onIQ);
    vtrx_setSendIQ(v, true);
    settle(r);
    const float s = object<RTLRadio>(r)->gainScale.load();
    ASSERT_EQ(s, 0.078125f);

    // 16384 samples at 1536000 per second: 18 buffers stay within 0.2 s.
    rtlsdr::budget(18);
    ASSERT_TRUE(waitFor([] { return rtlsdr::delivered() == 18; }));
    ASSERT_TRUE(host::pollUntil(poll, [] {
        std::lock_guard<std::mutex> l(m);
        return iq.size() >= 512 + 17 * 16384; // the first block is 512 long
    }));
    EXPECT_TRUE(log.of("peak").empty());
    {
        std::lock_guard<std::mutex> l(m);
        for (auto& x : iq) ASSERT_EQ(x, cplx(-128 * s, 127 * s));
    }
    rtlsdr::budget(1);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("peak").size() == 1; }));
    EXPECT_EQ(log.of("peak")[0].args[0], host::text(1.0));

    // The held peak starts over after each publication.
    rtlsdr::pattern({192, 128});
    rtlsdr::budget(19);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("peak").size() == 2; }));
    EXPECT_EQ(log.of("peak")[1].args[0], host::text(0.5));
    Radio_stop(r);
    settle(r);
    finish(r);
}

namespace {

struct toneCase {
    int rate;
    long long centre;
    int error; // the tuner's, by the model's worked examples
    int newRate, direct, newError; // set while streaming
    long long offset = 20000;      // of the transceiver from the receiver
};

void PrintTo(const toneCase& c, std::ostream* os) { *os << c.rate << " at " << c.centre; }

class RTLTone : public RTLStreaming, public ::testing::WithParamInterface<toneCase> {};

} // namespace

TEST_P(RTLTone, ATransceiverHearsTheToneWhereItIsWithTheTunerErrorCorrected) {
    const toneCase c = GetParam();
    const double toneHz = double(c.centre + c.offset) + 1000.0; // 1000 Hz above the transceiver
    rtlsdr::addDevice("00000001");
    rtlsdr::tone(toneHz, 100.0);
    rtlsdr::budget(0);

    void* r = RTLRadio_create();
    Radio_bindvtrxAdded(r, [](void* v, long long, int, int) { host::Log::get().add({"added", {}, v}, vtrx_release); });
    RTLRadio_setSerial(r, "00000001");
    Radio_setSampleRate(r, c.rate);
    Radio_addVtrx(r, c.centre, 0, 0); // the receiver goes there
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("added").size() == 1; }));
    void* v = log.of("added")[0].handle;
    void* mode = proxyModDemod_create();
    proxyModDemod_bindrxChunk(mode, onChunk);
    vtrx_setModulation(v, mode);
    vtrx_setvfo(v, c.centre + c.offset);
    vtrx_bindnewSpectrum(v, onLine);
    vtrx_setforegroundDisplay(v, true);
    vtrx_start(v);
    Radio_start(r);
    ASSERT_TRUE(logged("info|rtl started"));
    settle(r);
    auto radio = object<RTLRadio>(r);
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].tuningError, c.error); });

    // 0.6 s of samples, as fast as the chain takes them.
    const long buffers = long(0.6 * c.rate / 16384);
    rtlsdr::budget(buffers);
    ASSERT_TRUE(host::pollUntil(poll, [] {
        std::lock_guard<std::mutex> l(m);
        return output.size() >= 24000 && !lines.empty();
    }));
    {
        std::lock_guard<std::mutex> l(m);
        // Past the filters' settling, the phase advances at the tone's offset.
        EXPECT_NEAR(phaseSlopeHz(output, 4800, 48000.0), 1000.0, 1.0);
        auto& line = lines.back();
        size_t peak = size_t(std::max_element(line.begin(), line.end()) - line.begin());
        EXPECT_NEAR(double(peak), (toneHz - lineLow) / (lineHigh - lineLow) * double(line.size()), 2.0);
    }
    // The tuner's error depends on the rate and on direct sampling, and a lone transceiver may
    // lie outside the new band: a change while streaming is heard right, past the filters' settling.
    Radio_setSampleRate(r, c.newRate);
    RTLRadio_setDirectSample(r, c.direct);
    settle(r);
    onWorker(radio, [&] { EXPECT_EQ(radio->receivers[0].tuningError, c.newError); });
    takeOutput(); // from before the change
    // What the device gave before the change may still be on its way
    // through the chain, and comes first: the tone is measured at the end
    // of the new rate's samples, once all of them have gone through, however
    // slowly a busy machine runs the chain.
    const long newBuffers = long(0.6 * c.newRate / 16384);
    const long delivered = rtlsdr::delivered();
    rtlsdr::budget(newBuffers);
    ASSERT_TRUE(waitFor([&] { return rtlsdr::delivered() >= delivered + newBuffers; }));
    size_t seen = 0;
    using steady = std::chrono::steady_clock;
    auto still = steady::now();
    ASSERT_TRUE(host::pollUntil(poll, [&] {
        std::lock_guard<std::mutex> l(m);
        if (output.size() != seen) seen = output.size(), still = steady::now();
        return seen >= 24000 && steady::now() - still > std::chrono::milliseconds(200) * vireo::buildSlowdown;
    }));
    const std::vector<cplx> after = takeOutput();
    EXPECT_NEAR(phaseSlopeHz(after, after.size() - 12000, 48000.0), 1000.0, 1.0)
        << "after a change to " << c.newRate << (c.direct ? ", direct sampling" : "");
    Radio_stop(r);
    settle(r);
    radio.reset(); // the test's own reference
    finish(r);
    proxyModDemod_release(mode);
}

INSTANTIATE_TEST_SUITE_P(Rates, RTLTone,
                         ::testing::Values(toneCase{1536000, 144300000, -62, 2880000, 0, -66},
                                           toneCase{3200000, 433920000, -132, 1536000, 0, 92},
                                           toneCase{1536000, 433920000, 92, 2880000, 0, -132},
                                           toneCase{1536000, 1090000000, 97, 2880000, 0, -567},
                                           toneCase{2880000, 1090000000, -567, 1536000, 0, 97},
                                           toneCase{1536000, 1090000000, 97, 1536000, 1, 0},
                                           toneCase{3200000, 99000000, 7, 250000, 0, 15, 190000}));

TEST_F(RTLStreaming, StartsStopsUnplugsAndNewSerialsNeverLoseTheDevice) {
    rtlsdr::addDevice("00000001");
    rtlsdr::gains(rtlsdr::addDevice("00000002"), {0, 9, 14, 27, 37});
    rtlsdr::pace(300);
    void* v = nullptr;
    void* r = radioOn("00000001", &v);
    ASSERT_TRUE(logged("info|rtl started"));
    for (int cycle = 0; cycle < 50; ++cycle) {
        // Every fifth cycle streams before it stops; the others stop at once,
        // perhaps before the read has begun.
        if (cycle % 5 == 0) {
            ASSERT_TRUE(more(rtlsdr::delivered())) << cycle;
        }
        Radio_stop(r);
        Radio_start(r);
    }
    ASSERT_TRUE(logged("info|rtl started", 51));
    ASSERT_TRUE(more(rtlsdr::delivered()));
    EXPECT_EQ(rtlsdr::calls("open").size(), 52u); // setup, then 51 starts
    EXPECT_EQ(rtlsdr::calls("close").size(), 51u);
    EXPECT_EQ(log.of("added").size(), 1u);

    // A new serial while streaming: stop, set up, and stream from the new device.
    rtlsdr::clearCalls();
    RTLRadio_setSerial(r, "00000002");
    ASSERT_TRUE(logged("info|rtl started", 52));
    EXPECT_EQ(rtlsdr::calls("open"), (std::vector<std::string>{"open 1", "open 1"}));
    EXPECT_EQ(rtlsdr::calls("close"), (std::vector<std::string>{"close 0", "close 1"}));
    // At the same frequency the restart did not retune (only setup asked
    // for the tuner).
    EXPECT_EQ(rtlsdr::calls("set_center_freq").size(), 2u);
    EXPECT_EQ(rtlsdr::calls("get_tuner_type").size(), 1u);
    ASSERT_TRUE(more(rtlsdr::delivered()));

    // Unplugged: reported, open until stopped, streaming again after a start.
    rtlsdr::unplugAfter(3, -4);
    ASSERT_TRUE(logged("error|rtl comms  -4"));
    ASSERT_TRUE(waitFor([] { return rtlsdr::reading() == 0; }));
    EXPECT_EQ(rtlsdr::openHandles(), 1);
    Radio_start(r); // still open: nothing happens
    Radio_stop(r);
    Radio_start(r);
    ASSERT_TRUE(logged("info|rtl started", 53));
    ASSERT_TRUE(more(rtlsdr::delivered()));
    Radio_stop(r);
    settle(r);
    EXPECT_EQ(rtlsdr::calls("open").size(), 3u);
    finish(r);
}

TEST_F(RTLStreaming, ReleasingAStreamingRadioEndsItsStream) {
    rtlsdr::addDevice("00000001");
    for (int round = 0; round < 10; ++round) {
        // At and above real time: the last reference may go on the host's
        // thread, a worker's or the reader's own. (A stream faster than its
        // radio's work keeps the radio alive through its queued blocks.)
        rtlsdr::pace(round % 2 ? 100 : 400);
        void* v = nullptr;
        void* r = radioOn("00000001", &v);
        ASSERT_TRUE(logged("info|rtl started", size_t(round + 1)));
        ASSERT_TRUE(more(rtlsdr::delivered()));
        finish(r);
        ASSERT_TRUE(waitFor([] { return rtlsdr::reading() == 0 && rtlsdr::openHandles() == 0; })) << round;
    }
}

TEST_F(RTLStreaming, AStreamEndedFromItsOwnReaderClosesTheDeviceItself) {
    rtlsdr::addDevice("00000001");
    RTLSDRLib* lib = RTLSDRLib::getInstance();
    lib->loadApi();
    rtlsdr_dev_t* dev = nullptr;
    ASSERT_EQ(lib->rtlsdr_open(&dev, 0), 0);

    // The owner goes inside the delivery, as a radio whose last reference
    // was the reader's.
    auto stream = std::make_unique<RTLStream>();
    std::atomic<bool> stoppedHere{true};
    stream->start(lib, dev, [&](unsigned char*, uint32_t) {
        stoppedHere = stream->stop();
        stream.reset();
        return true;
    });
    ASSERT_TRUE(waitFor([] { return rtlsdr::openHandles() == 0; }));
    EXPECT_FALSE(stoppedHere.load());
    EXPECT_EQ(rtlsdr::delivered(), 1);

    // A delivery that throws ends the stream with a log line; the device
    // stays open for its owner.
    ASSERT_EQ(lib->rtlsdr_open(&dev, 0), 0);
    RTLStream second;
    second.start(lib, dev, [](unsigned char*, uint32_t) -> bool { throw std::runtime_error("bad buffer"); });
    ASSERT_TRUE(logged("error|rtl comms  bad buffer"));
    ASSERT_TRUE(waitFor([] { return rtlsdr::reading() == 0; }));
    EXPECT_TRUE(second.stop());
    EXPECT_EQ(rtlsdr::openHandles(), 1);
    lib->rtlsdr_close(dev);
}
