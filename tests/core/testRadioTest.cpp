#include "core/TestRadio.h"
#include "core/modDemod.h"
#include "core/vtrx.h"

#include "drainTasks.h"
#include "framework/objectFixture.h"
#include "support/logCapture.h"

#include <mutex>

namespace {

using cplx = std::complex<float>;

// The test radio, also keeping what it was given to transmit and how many
// blocks it had when its PTT went off.
class LoopRadio : public TestRadio {
public:
    using TestRadio::TestRadio;
    void transmit(buff<cplx> samples) override {
        {
            std::lock_guard<std::mutex> l(m);
            sent.push_back(samples);
        }
        TestRadio::transmit(samples);
    }
    std::vector<buff<cplx>> sentSoFar() {
        std::lock_guard<std::mutex> l(m);
        return sent;
    }
    std::mutex m;
    std::vector<buff<cplx>> sent;
    size_t unkeyedAfter = 0; // radio's task group
};

struct SignalMode : modDemod {
    SignalMode(std::shared_ptr<syncTask> g, bool counting) : modDemod(std::move(g)), counting(counting) {
        txFiltered = false;
    }
    void modulate(buff<cplx>, buff<cplx> out) override {
        for (auto& s : out) s = counting ? cplx(next++, 0.0f) : cplx(1.0f, 0.0f);
    }
    bool counting;
    float next = 1.0f;
};

// What reached the transceiver's receive side, through its raw IQ copies.
struct Received {
    std::mutex m;
    std::vector<cplx> samples;
    int blocks = 0;
    std::vector<std::string> wrong;
};
Received received;

void onIQ(void* handle, double frequency, int rate) {
    auto* b = static_cast<buff<cplx>*>(handle);
    {
        std::lock_guard<std::mutex> l(received.m);
        received.samples.insert(received.samples.end(), b->begin(), b->end());
        ++received.blocks;
        if (frequency != 14000000.0 || rate != 48000 || b->count != 512)
            received.wrong.push_back(std::to_string(frequency) + " " + std::to_string(rate));
    }
    delete b;
}

class TestRadioTest : public ObjectTest {
protected:
    std::shared_ptr<LoopRadio> radio = std::make_shared<LoopRadio>(group);
    std::shared_ptr<vtrx> v;

    void SetUp() override {
        std::lock_guard<std::mutex> l(received.m);
        received.samples.clear();
        received.blocks = 0;
        received.wrong.clear();
    }
    void TearDown() override {
        if (radio) {
            onGroup(radio, [&] { radio->stop(); });
            // Work still queued would hold the objects past the scheduler's end.
            drainDataTasks(radio);
        }
        if (v) drainDataTasks(v);
        pumpRender();
    }

    /// Starts the radio; the first start also makes its transceiver, which
    /// is then started and told to copy its IQ out.
    void start() {
        onGroup(radio, [&] { radio->start(); });
        if (v) return;
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            ASSERT_EQ(radio->vtrxList.size(), 1u);
            v = radio->vtrxList.front();
        }
        onGroup(v, [&] {
            v->bindnewIQ(onIQ);
            v->SendIQ.hostSet(true);
            v->start();
        });
    }
    void pumpRender() {
        asTask t;
        while (pool.renderQueue.pop(t)) t.fn();
    }
    int blocksReceived() {
        pumpRender();
        std::lock_guard<std::mutex> l(received.m);
        return received.blocks;
    }
    std::vector<cplx> samplesReceived() {
        pumpRender();
        std::lock_guard<std::mutex> l(received.m);
        return received.samples;
    }
    void attach(std::shared_ptr<modDemod> mode) {
        onGroup(v, [&] { v->setModulation(mode); });
    }
};

std::vector<cplx> joined(const std::vector<buff<cplx>>& blocks) {
    std::vector<cplx> all;
    for (auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
}

size_t firstNonZero(const std::vector<cplx>& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == cplx(0.0f)) ++i;
    return i;
}

} // namespace

TEST_F(TestRadioTest, ANewTestRadioHasOneReceiverAndCanTransmit) {
    ASSERT_EQ(radio->receivers.size(), 1u);
    EXPECT_EQ(radio->receivers[0].frequency, 14000000);
    EXPECT_EQ(radio->receivers[0].sampleRate, 48000);
    EXPECT_TRUE(radio->canTransmit.get());
    EXPECT_TRUE(radio->canTransmit.published());
    EXPECT_FALSE(radio->iqCorrection.load());
    EXPECT_FALSE(radio->worker.joinable());
}

TEST_F(TestRadioTest, StopBeforeAnyStartDoesNothing) {
    onGroup(radio, [&] { EXPECT_NO_THROW(radio->stop()); });
    EXPECT_FALSE(radio->worker.joinable());
}

TEST_F(TestRadioTest, StartAddsATransceiverOnceAndSilenceArrives) {
    start();
    std::thread::id first;
    onGroup(radio, [&] {
        first = radio->worker.get_id();
        radio->start(); // running already: no second worker, no second transceiver
        EXPECT_EQ(radio->worker.get_id(), first);
    });
    EXPECT_EQ(radio->vtrxList.size(), 1u);
    EXPECT_EQ(v->vfo.get(), 14000000);
    ASSERT_TRUE(waitFor([&] { return blocksReceived() >= 4; }));
    for (auto s : samplesReceived()) ASSERT_EQ(s, cplx(0.0f));
    std::lock_guard<std::mutex> l(received.m);
    EXPECT_TRUE(received.wrong.empty()) << received.wrong.front();
}

TEST_F(TestRadioTest, TransmittedSamplesLoopBackInOrderWithoutSilenceMixedIn) {
    start();
    attach(std::make_shared<SignalMode>(group, true));
    onGroup(v, [&] { v->ptt.hostSet(true); });
    ASSERT_TRUE(waitFor([&] {
        auto r = samplesReceived();
        return r.size() - firstNonZero(r) >= 8192;
    }));
    auto got = samplesReceived();
    auto sent = joined(radio->sentSoFar());
    size_t g = firstNonZero(got), s = firstNonZero(sent);
    ASSERT_LT(s, sent.size());
    ASSERT_LE(got.size() - g, sent.size() - s);
    for (size_t i = 0; g + i < got.size(); ++i) ASSERT_EQ(got[g + i], sent[s + i]) << i;
}

TEST_F(TestRadioTest, PttReleaseReachesTheRadioOnlyAfterTheTailAndTheSilence) {
    start();
    attach(std::make_shared<SignalMode>(group, false));
    onGroup(radio, [&] {
        radio->ptt.changeHook = [r = radio.get()] {
            if (!r->ptt.get()) r->unkeyedAfter = r->sent.size(); // same task group as transmit
        };
    });
    onGroup(v, [&] { v->ptt.hostSet(true); });
    ASSERT_TRUE(waitFor([&] { return radio->sentSoFar().size() >= 6; }));
    onGroup(v, [&] { v->ptt.hostSet(false); });
    ASSERT_TRUE(waitFor([&] { return !radio->ptt.get(); }));
    size_t n = 0;
    onGroup(radio, [&] {
        n = radio->unkeyedAfter;
        radio->ptt.changeHook = nullptr;
    });
    auto blocks = radio->sentSoFar();
    ASSERT_GE(n, 5u);
    // Requests of 512 and a tail of 512: full scale, the fade, then a block
    // of silence, and only then the unkeying.
    const auto& before = blocks[n - 3];
    const auto& tail = blocks[n - 2];
    const auto& last = blocks[n - 1];
    for (auto s : before) ASSERT_EQ(s, cplx(1.0f, 0.0f));
    EXPECT_EQ(tail[0], cplx(1.0f, 0.0f));
    for (size_t i = 1; i < 512; ++i) ASSERT_LT(tail[i].real(), tail[i - 1].real()) << i;
    EXPECT_GT(tail[511].real(), 0.0f);
    for (auto s : last) ASSERT_EQ(s, cplx(0.0f));
    onGroup(v, [&] { EXPECT_FALSE(v->transmitting()); });
}

TEST_F(TestRadioTest, TheRingKeepsTheFirst128TransmitBlocks) {
    std::vector<buff<cplx>> blocks;
    for (int i = 0; i < 130; ++i) blocks.emplace_back(512, cplx(float(i), 0.0f));
    onGroup(radio, [&] {
        for (auto& b : blocks) radio->transmit(b);
    });
    EXPECT_EQ(radio->txRing.read_available(), 128u);
    buff<cplx> b;
    for (int i = 0; i < 128; ++i) {
        ASSERT_TRUE(radio->txRing.pop(b));
        EXPECT_EQ(b.data, blocks[size_t(i)].data); // shared, not copied
    }
}

TEST_F(TestRadioTest, ManyStartsAndStopsKeepItWorking) {
    LogCapture log;
    start();
    // More cycles than any queue has producer slots: each worker's slots must
    // come back when it ends.
    for (int cycle = 0; cycle < 40; ++cycle) {
        if (cycle > 0) onGroup(radio, [&] { radio->start(); });
        int before = blocksReceived();
        ASSERT_TRUE(waitFor([&] { return blocksReceived() > before; })) << cycle;
        onGroup(radio, [&] { radio->stop(); });
        EXPECT_FALSE(radio->worker.joinable());
    }
    drainDataTasks(v); // its "vtrx.stop" logs; nothing may log while the capture goes
    EXPECT_EQ(log.count("error|Too many threads accessing mpsc queue"), 0u);
    EXPECT_EQ(radio->vtrxList.size(), 1u);
}

TEST_F(TestRadioTest, ReleasedWhileRunningTheWorkerEnds) {
    start();
    ASSERT_TRUE(waitFor([&] { return blocksReceived() >= 1; }));
    std::weak_ptr<LoopRadio> weak = radio;
    radio.reset();
    v.reset();
    // Queued work may hold the radio a little longer; then it is gone and
    // its worker with it.
    ASSERT_TRUE(waitFor([&] {
        pumpRender();
        return weak.expired();
    }));
}
