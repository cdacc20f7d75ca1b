#include "core/vtrx.h"
#include "dsp/iqbalancer/iq_balancer.h"

#include "drainTasks.h"
#include "framework/objectFixture.h"
#include "support/logCapture.h"
#include "testRadio.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <latch>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Block {
    size_t size;
    float first;
    double frequency;
    int rate;
};
std::mutex blocksMutex;
std::vector<Block> blocks;
void onIQ(void* iq, double frequency, int rate) {
    auto* b = static_cast<buff<std::complex<float>>*>(iq);
    std::lock_guard<std::mutex> l(blocksMutex);
    blocks.push_back({b->count, b->count ? b->data[0].real() : -1.0f, frequency, rate});
    delete b;
}
// Blocks per listener, for listeners told apart by their callback.
std::atomic<int> blocksOf[3];
template <int K>
void onIQCounted(void* iq, double frequency, int rate) {
    ++blocksOf[K];
    onIQ(iq, frequency, rate);
}

class RadioTest : public ObjectTest {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> l(blocksMutex);
        blocks.clear();
    }
    std::shared_ptr<FakeRadio> make(int rate = 48000, long long frequency = 7000000) {
        return std::make_shared<FakeRadio>(group, rate, frequency);
    }
    std::shared_ptr<vtrx> add(const std::shared_ptr<FakeRadio>& radio, long long f, int ownerId = 0) {
        onGroup(radio, [&] { radio->addVtrx(f, 0, ownerId); });
        std::shared_ptr<vtrx> v;
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            v = radio->vtrxList.back();
        }
        // The new transceiver asks for its place with a data task, which the
        // host request above does not wait for: the placement is only read
        // here once it has run.
        drainDataTasks(radio);
        return v;
    }
    // A transceiver that hands every block it receives to the host as IQ.
    std::shared_ptr<vtrx> listener(const std::shared_ptr<FakeRadio>& radio, long long f = 7000000,
                                   vtrx::iqCallback cb = onIQ) {
        auto v = add(radio, f, 1);
        v->bindnewIQ(cb);
        onGroup(v, [&] {
            v->SendIQ.hostSet(true);
            v->start();
        });
        return v;
    }
    // Host side: render tasks, until n blocks arrived.
    std::vector<Block> received(size_t n) {
        waitFor([&] {
            asTask t;
            while (pool.renderQueue.pop(t)) t.fn();
            std::lock_guard<std::mutex> l(blocksMutex);
            return blocks.size() >= n;
        });
        std::lock_guard<std::mutex> l(blocksMutex);
        return blocks;
    }
};

} // namespace

TEST(BlockSize, GrowsWithTheRateInPowersOfTwo) {
    struct {
        int rate;
        size_t size;
    } cases[] = {{8000, 512},    {44100, 512},    {48000, 512},     {48001, 1024},     {96000, 1024},
                 {192000, 2048}, {250000, 4096}, {384000, 4096},   {1536000, 16384},  {2000000, 32768},
                 {10000000, 131072}};
    for (auto& c : cases) EXPECT_EQ(hwReceiver::blockSizeFor(c.rate), c.size) << c.rate;
}

TEST(BlockSize, RateLabels) {
    EXPECT_EQ(Radio::formatSR(2000000), "2M");
    EXPECT_EQ(Radio::formatSR(250000), "250K");
    EXPECT_EQ(Radio::formatSR(2500000), "2.5M");
    EXPECT_EQ(Radio::formatSR(48000), "48K");
}

TEST_F(RadioTest, WritesAreCutIntoBlocksOnTheBackEndThread) {
    auto radio = make();
    auto v = listener(radio);
    std::thread backEnd([&] { radio->feed(1000, 0, 333); });
    backEnd.join();
    auto got = received(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size, 512u);
    EXPECT_EQ(got[0].first, 0.0f);
    EXPECT_EQ(radio->receivers[0].fill, 488u);
    radio->feed(24, 0);
    got = received(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].first, 512.0f);
    EXPECT_EQ(got[1].frequency, 7000000.0);
    EXPECT_EQ(got[1].rate, 48000);
}

TEST_F(RadioTest, FastRadiosSendLongerBlocksFromTheSecondOn) {
    auto radio = make(2000000);
    auto v = listener(radio);
    radio->feed(512 + 32768, 0, 4000);
    auto got = received(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size, 512u);
    EXPECT_EQ(got[1].size, 32768u);
    EXPECT_EQ(got[1].first, 512.0f);
}

TEST_F(RadioTest, ABlockSizedFromARateStartsAgainWhenTheRateChanges) {
    auto radio = make(10000000);
    auto v = listener(radio);
    radio->feed(512 + 1000, 0, 4000); // the first block, then 1000 of a block of 131072
    ASSERT_EQ(received(1).size(), 1u);
    onGroup(radio, [&] {
        // As a back-end's SampleRate hook does.
        std::lock_guard<std::mutex> l(radio->listMutex);
        radio->receivers[0].sampleRate = 48000;
    });
    radio->feed(512, 0);
    auto got = received(2);
    ASSERT_EQ(got.size(), 2u) << "the block of the old rate would need another 130072 samples";
    EXPECT_EQ(got[1].size, 512u);
    EXPECT_EQ(got[1].first, 1512.0f); // the old rate's samples are dropped
    EXPECT_EQ(got[1].rate, 48000);
}

// On the deferred path a full block waits on the radio's task group, where
// the host's requests go first: a rate change made while it waits must not
// hand its samples, of the old rate, to the transceivers as the new rate's.
TEST_F(RadioTest, ABlockWaitingOnTheDeferredPathWhenTheRateChangesIsDropped) {
    auto radio = make(2000000);
    auto v = listener(radio);
    radio->feed(512, 0, 512, true);
    ASSERT_EQ(received(1).size(), 1u);
    std::latch held(1), release(1), changed(1);
    seqTask hold;
    hold.fn = [&] {
        held.count_down();
        release.wait();
    };
    hold.name = "test.hold";
    radio->asyncProcess(hold);
    held.wait();
    radio->feed(32768, 0, 32768, true); // a block of the old rate, waiting behind the hold
    seqTask change;
    change.fn = [&] {
        // As a back-end's SampleRate hook does.
        std::lock_guard<std::mutex> l(radio->listMutex);
        radio->receivers[0].sampleRate = 48000;
        changed.count_down();
    };
    change.name = "test.rate";
    radio->queueSetItem(change); // runs before the block
    release.count_down();
    changed.wait();
    radio->feed(512, 0, 512, true);
    drainDataTasks(radio);
    drainDataTasks(v);
    auto got = received(2);
    std::string seen;
    for (auto& b : got) seen += " " + std::to_string(b.size) + " at " + std::to_string(b.rate);
    ASSERT_EQ(got.size(), 2u) << "the blocks:" << seen;
    EXPECT_EQ(got[1].size, 512u);
    EXPECT_EQ(got[1].rate, 48000);
}

namespace {

// A back-end whose device delivers 96000 and 192000 samples per second only.
class PickyRadio : public FakeRadio {
public:
    explicit PickyRadio(std::shared_ptr<syncTask> group) : FakeRadio(std::move(group), 96000) {
        SampleRate.reinit(96000);
        acceptSampleRates("picky", [](int rate) { return rate == 96000 || rate == 192000; },
                          [this] {
                              ++applied;
                              std::lock_guard<std::mutex> l(listMutex);
                              receivers[0].sampleRate = SampleRate.get();
                          });
    }
    int applied = 0; // radio's task group
};

std::vector<int> heardRates; // host thread
void onRate(int rate) { heardRates.push_back(rate); }

} // namespace

TEST_F(RadioTest, ARateTheDeviceDoesNotDeliverIsRefusedAndTheRateInForceToldAgain) {
    LogCapture capture;
    auto radio = std::make_shared<PickyRadio>(group);
    heardRates.clear();
    radio->SampleRate.bind(onRate, radio.get());
    for (int rate : {INT_MAX, 48000, 192000, 192000, 0}) onGroup(radio, [&] { radio->SampleRate.hostSet(rate); });
    waitFor([&] { return pool.busy() == 0; });
    asTask t;
    while (pool.updateQueue.pop(t)) t.fn();
    // The host's own accepted value is not echoed; each refusal tells it the
    // rate in force.
    EXPECT_EQ(heardRates, (std::vector<int>{96000, 96000, 192000}));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"error|picky SampleRate 2147483647 refused, keeping 96000",
                                                         "error|picky SampleRate 48000 refused, keeping 96000",
                                                         "error|picky SampleRate 0 refused, keeping 192000"}));
    onGroup(radio, [&] {
        EXPECT_EQ(radio->applied, 1);
        EXPECT_EQ(radio->SampleRate.get(), 192000);
        EXPECT_EQ(radio->receivers[0].sampleRate, 192000);
    });
    EXPECT_EQ(radio->rateInForce(), 192000);
}

TEST_F(RadioTest, BlocksReachExactlyTheSlotsThatNameTheirReceiver) {
    auto radio = make();
    onGroup(radio, [&] {
        hwReceiver second;
        second.frequency = 7100000;
        radio->receivers.push_back(second);
    });
    for (auto& n : blocksOf) n = 0;
    auto once = listener(radio, 7000000, onIQCounted<0>);
    auto twice = listener(radio, 7000000, onIQCounted<1>);
    auto other = listener(radio, 7000000, onIQCounted<2>);
    once->hwReceiverSlots[0] = 0;
    twice->hwReceiverSlots[0] = 0;
    twice->hwReceiverSlots[1] = 0;
    other->hwReceiverSlots[0] = 1;
    for (int k = 1; k < 4; ++k) once->hwReceiverSlots[k] = -1;
    for (int k = 2; k < 4; ++k) twice->hwReceiverSlots[k] = -1;
    for (int k = 1; k < 4; ++k) other->hwReceiverSlots[k] = -1;
    radio->feed(512, 0);
    for (auto& v : {once, twice, other}) drainDataTasks(v); // every block posted has run
    auto got = received(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(blocksOf[0].load(), 1);
    EXPECT_EQ(blocksOf[1].load(), 2); // named in two slots: the block twice
    EXPECT_EQ(blocksOf[2].load(), 0);
    radio->feed(512, 1);
    got = received(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[3].frequency, 7100000.0);
    EXPECT_EQ(blocksOf[2].load(), 1);
    EXPECT_EQ(blocksOf[0].load() + blocksOf[1].load(), 3);
}

TEST_F(RadioTest, DeferredPathAddsTheTuningError) {
    auto radio = make();
    radio->receivers[0].tuningError = 500;
    auto v = listener(radio);
    radio->feed(512, 0, 512, false);
    radio->feed(512, 0, 512, true);
    auto got = received(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].frequency, 7000000.0);
    EXPECT_EQ(got[1].frequency, 7000500.0);
}

TEST_F(RadioTest, SamplesForAReceiverThatDoesNotExistAreDropped) {
    auto radio = make();
    radio->feed(100, 3);
    radio->feed(100, -1);
    EXPECT_EQ(radio->receivers.size(), 1u);
    EXPECT_EQ(radio->receivers[0].fill, 0u);
}

// A back-end whose hooks wait for its own streaming thread to get on, as one
// that reconfigures its device between two transfers does. Any lock of the
// radio held around a hook, and taken by the streaming thread, hangs both.
class WaitingRadio : public FakeRadio {
public:
    using FakeRadio::FakeRadio;
    void tune() override {
        FakeRadio::tune();
        waitForStream();
    }
    void addHWReceiver(long long frequency) override {
        waitForStream();
        FakeRadio::addHWReceiver(frequency);
    }
    std::atomic<long> turns{0};
    std::atomic<int> stalled{0};

private:
    void waitForStream() {
        const long seen = turns.load();
        if (!waitFor([&] { return turns.load() >= seen + 2; }, std::chrono::seconds(2))) stalled.fetch_add(1);
    }
};

TEST_F(RadioTest, HooksMayWaitForTheStreamingThread) {
    auto radio = std::make_shared<WaitingRadio>(group, 48000, 7000000);
    onGroup(radio, [&] { radio->maxHwReceivers.hostSet(2); });
    std::atomic<bool> stop{false};
    std::thread stream([&] {
        while (!stop.load()) {
            radio->feed(128, 0, 128); // direct path: hands blocks out from here
            radio->feed(128, 0, 128, true);
            radio->turns.fetch_add(1);
            std::this_thread::yield();
        }
    });
    auto v = listener(radio);
    auto far = add(radio, 7200000); // no receiver fits: a second one is added
    onGroup(radio, [&] { radio->ValidBandwidthRatio.hostSet(0.9); }); // re-packs and retunes
    onGroup(v, [&] { v->vfo.hostSet(7001000); });                     // places and retunes
    drainDataTasks(radio);
    const size_t before = received(1).size();
    EXPECT_GT(received(before + 2).size(), before + 1); // blocks still flow
    stop = true;
    stream.join();
    EXPECT_EQ(radio->stalled.load(), 0);
    EXPECT_EQ(radio->receivers.size(), 2u);
    EXPECT_EQ(far->hwReceiverSlots[0].load(), 1);
    EXPECT_GE(radio->tunes.load(), 3);
}

// ---- placement ----

TEST_F(RadioTest, LoneTransceiverKeepsAndRecentresItsReceiver) {
    auto radio = make(48000, 7000000);
    auto v = add(radio, 7000000);
    EXPECT_EQ(v->hwReceiverSlots[0].load(), 0);
    EXPECT_EQ(radio->guard, 1200);
    onGroup(radio, [&] { radio->setRxFrequency(7005000, v.get(), 1); });
    EXPECT_EQ(radio->receivers[0].frequency, 7005000);
    EXPECT_EQ(v->hwReceiverSlots[0].load(), 0);
    onGroup(radio, [&] { radio->setRxFrequency(7007000, v.get(), 1); }); // 2000 <= 48000/16
    EXPECT_EQ(radio->receivers[0].frequency, 7005000);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(v->hwReceiverSlots[k].load(), -1);
}

TEST_F(RadioTest, SharedReceiverStaysWhenTheUnionIsTooWideUnlessASecondCanBeAdded) {
    for (int maxRx : {1, 2}) {
        auto radio = make(48000, 7000000);
        onGroup(radio, [&] { radio->maxHwReceivers.hostSet(maxRx); });
        auto a = add(radio, 7000000);
        auto b = add(radio, 7001000);
        radio->receivers[0].fill = 100;
        onGroup(radio, [&] {
            b->vfo.reinit(7100000);
            radio->setRxFrequency(7100000, b.get(), 1);
        });
        if (maxRx == 1) {
            EXPECT_EQ(radio->receivers.size(), 1u);
            EXPECT_EQ(b->hwReceiverSlots[0].load(), 0);
            EXPECT_EQ(radio->receivers[0].fill, 100u);
        } else {
            ASSERT_EQ(radio->receivers.size(), 2u);
            EXPECT_EQ(b->hwReceiverSlots[0].load(), 1);
            EXPECT_EQ(radio->receivers[1].frequency, 7100000);
            EXPECT_EQ(radio->receivers[0].fill, 0u); // blocks restart
        }
        EXPECT_EQ(a->hwReceiverSlots[0].load(), 0);
    }
}

TEST_F(RadioTest, OffsetTuningKeepsTheCentreOutOfThePassBand) {
    auto radio = make(48000, 0);
    radio->offsetTuning = true;
    auto v = add(radio, 7000000);
    EXPECT_EQ(radio->receivers[0].frequency, 7000000 + 3000 + 1000);
}

TEST_F(RadioTest, OneReceiverPerTransceiverAddsReceiversAndStopsWhenNoneCome) {
    auto radio = make();
    onGroup(radio, [&] {
        radio->disableVirtualReceivers.hostSet(true);
        radio->maxHwReceivers.hostSet(3);
    });
    add(radio, 7000000);
    add(radio, 7050000);
    auto third = add(radio, 7090000);
    EXPECT_EQ(radio->receivers.size(), 3u);
    EXPECT_EQ(third->hwReceiverSlots[0].load(), 2);
    EXPECT_EQ(radio->receivers[2].frequency, 7090000);

    auto single = make();
    single->canAdd = false; // a back-end whose addHWReceiver adds nothing
    onGroup(single, [&] {
        single->disableVirtualReceivers.hostSet(true);
        single->maxHwReceivers.hostSet(4);
    });
    add(single, 7000000);
    auto second = add(single, 7050000); // must come back
    EXPECT_EQ(single->receivers.size(), 1u);
}

TEST_F(RadioTest, FitAllReceiversPacksGreedily) {
    auto radio = make(96000, 7000000);
    onGroup(radio, [&] {
        hwReceiver second;
        second.sampleRate = 96000;
        second.frequency = 6000000;
        radio->receivers.push_back(second);
    });
    auto a = add(radio, 7000000);
    auto b = add(radio, 7010000);
    auto c = add(radio, 7060000);
    // A new transceiver's own requests may still retune the radio.
    for (auto& v : {a, b, c}) onGroup(v, [] {});
    drainDataTasks(radio);
    int tunesBefore = radio->tunes.load();
    onGroup(radio, [&] { radio->ValidBandwidthRatio.hostSet(0.951); }); // the hook re-packs and retunes
    onGroup(radio, [&] { radio->ValidBandwidthRatio.hostSet(0.95); });
    EXPECT_EQ(radio->tunes.load(), tunesBefore + 2);
    EXPECT_EQ(radio->guard, 2400);
    EXPECT_EQ(radio->receivers[0].frequency, 7030000);
    EXPECT_EQ(radio->receivers[1].frequency, 6000000);
    for (auto& v : {a, b, c}) EXPECT_EQ(v->hwReceiverSlots[0].load(), 0);
}

TEST_F(RadioTest, VfoValidityFollowsTheUsableBand) {
    auto radio = make(48000, 7000000);
    onGroup(radio, [&] {
        EXPECT_TRUE(radio->getVfoValid(0, 7000000, -3000, 3000));
        EXPECT_TRUE(radio->getVfoValid(0, 7018800, -3000, 3000)); // 7018800 + 4000 = 7022800
        EXPECT_FALSE(radio->getVfoValid(0, 7018801, -3000, 3000));
        EXPECT_FALSE(radio->getVfoValid(1, 7000000, -3000, 3000));
        EXPECT_FALSE(radio->getVfoValid(-1, 7000000, -3000, 3000));
    });
}

// ---- PTT ----

namespace {
std::vector<bool> pttEvents;
void onPtt(bool on) { pttEvents.push_back(on); }
} // namespace

TEST_F(RadioTest, PttBookkeepingAcrossTwoTransceivers) {
    pttEvents.clear();
    auto radio = make();
    auto a = add(radio, 7000000);
    auto b = add(radio, 7010000);
    radio->ptt.bind(onPtt, radio.get());
    EXPECT_EQ(radio->txVtrx(), a); // the first added transmits
    onGroup(radio, [&] { radio->setPtt(true, b.get(), 1); });
    EXPECT_FALSE(radio->ptt.get()); // cannot transmit: nothing happens
    onGroup(radio, [&] {
        radio->canTransmit.hostSet(true);
        radio->stop();
        radio->setPtt(true, b.get(), 2);
    });
    EXPECT_FALSE(radio->ptt.get()); // stopped: nothing happens either
    onGroup(radio, [&] {
        radio->start();
        radio->setPtt(true, b.get(), 3);
    });
    EXPECT_TRUE(radio->ptt.get());
    EXPECT_EQ(radio->txVtrx(), b);
    onGroup(radio, [&] { radio->setPtt(false, a.get(), 3); }); // only the one transmitting releases
    onGroup(radio, [&] { radio->setPtt(false, b.get(), 2); }); // and only its transmission
    EXPECT_TRUE(radio->ptt.get());
    onGroup(radio, [&] { radio->setPtt(false, b.get(), 3); });
    EXPECT_FALSE(radio->ptt.get());
    EXPECT_EQ(radio->txVtrx(), b);
    onGroup(radio, [&] { radio->setPtt(true, b.get(), 5); });
    onGroup(radio, [&] { radio->setPtt(true, a.get(), 4); }); // keyed before b's: refused
    EXPECT_EQ(radio->txVtrx(), b);
    onGroup(radio, [&] { radio->removeVtrx(b.get()); }); // removing the keyed one releases PTT
    EXPECT_FALSE(radio->ptt.get());
    EXPECT_EQ(radio->txVtrx(), a);
    poll();
    EXPECT_EQ(pttEvents, (std::vector<bool>{true, false, true, false}));
    int notAVtrx = 0;
    onGroup(radio, [&] { radio->removeVtrx(&notAVtrx); }); // only compared
    EXPECT_EQ(radio->vtrxList.size(), 1u);
}

TEST_F(RadioTest, ReleasesInAnyOrderWhileBlocksFlow) {
    for (int order = 0; order < 3; ++order) {
        auto radio = make();
        auto v = listener(radio);
        std::atomic<bool> stop{false};
        std::thread backEnd([&, r = radio] {
            while (!stop.load()) r->feed(512, 0, 128);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::weak_ptr<vtrx> weakV = v;
        if (order == 0) {
            onGroup(v, [&] { v->remove(); });
            v.reset();
        } else if (order == 1) {
            v.reset(); // the radio still holds it
        } else {
            onGroup(radio, [&] { radio->removeVtrx(v.get()); });
            v.reset();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop = true;
        backEnd.join();
        std::weak_ptr<FakeRadio> weakRadio = radio;
        radio.reset();
        waitFor([&] {
            asTask t;
            while (pool.renderQueue.pop(t)) t.fn();
            while (pool.updateQueue.pop(t)) t.fn();
            t = asTask(); // the last task's keep-alive goes too
            return weakV.expired();
        });
        EXPECT_TRUE(weakV.expired()) << order;
        EXPECT_TRUE(weakRadio.expired()) << order;
    }
}

TEST_F(RadioTest, IqCorrectorIsSharedSafelyByBothPaths) {
    // lockedWrite corrects on the back-end's thread, HandleFullBuffer on the
    // radio's task group: one corrector, never used by both at once.
    auto radio = make();
    onGroup(radio, [&] {
        hwReceiver second;
        radio->receivers.push_back(second);
    });
    radio->iqCorrection = true;
    auto v = listener(radio);
    std::thread direct([&] {
        for (int i = 0; i < 40; ++i)
            radio->lockedWrite([](std::complex<float>* d, size_t k) { std::fill(d, d + k, std::complex<float>(0.5f, 0.1f)); }, 512, 0);
    });
    radio->feed(512 * 40, 1, 512, true);
    direct.join();
    drainDataTasks(radio);
    ASSERT_NE(radio->iqCorrector, nullptr);
    // Both paths ran the blocks through it: 80 blocks of 512 so far.
    EXPECT_EQ(radio->iqCorrector->dc_re != 0.0f, true);
    EXPECT_EQ(radio->iqCorrector->working_position, (80 * 512) % 12288);
}

namespace {
std::mutex imageMutex;
buff<std::complex<float>> firstCorrected, lastCorrected;
void onCorrectedIQ(void* iq, double, int) {
    auto* b = static_cast<buff<std::complex<float>>*>(iq);
    std::lock_guard<std::mutex> l(imageMutex);
    if (b->count == 32768) {
        if (firstCorrected.empty()) firstCorrected = *b;
        lastCorrected = *b;
    }
    delete b;
}
// Image of a tone at f cycles per sample relative to the tone, in dB.
double imageDb(const buff<std::complex<float>>& x, double f) {
    auto level = [&](double g) {
        std::complex<double> acc = 0;
        for (size_t i = 0; i < x.count; ++i) acc += std::complex<double>(x[i]) * std::polar(1.0, -2 * M_PI * g * double(i));
        return std::abs(acc);
    };
    return 20 * std::log10(level(-f) / level(f));
}
} // namespace

// What the transceivers get from a radio with IQ correction on is corrected:
// the mirror image of an imbalanced tone shrinks as the corrector learns.
TEST_F(RadioTest, IqCorrectionShrinksTheImageTheTransceiversGet) {
    auto radio = make(2000000);
    radio->iqCorrection = true;
    auto v = listener(radio, 7000000, onCorrectedIQ);
    {
        std::lock_guard<std::mutex> l(imageMutex);
        firstCorrected = lastCorrected = buff<std::complex<float>>();
    }
    // A tone through an I/Q path with 5 % gain and 3 degrees phase error.
    const double f = 1000.0 / 16384;
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 1e-3f);
    size_t n = 0;
    for (int block = 0; block < 81; ++block) {
        radio->unlockedWrite(
            [&](std::complex<float>* d, size_t k) {
                for (size_t i = 0; i < k; ++i, ++n) {
                    const double t = 2 * M_PI * f * double(n);
                    d[i] = {float(std::cos(t)) + noise(rng), float(1.05 * std::sin(t + 3 * M_PI / 180)) + noise(rng)};
                }
            },
            block == 0 ? 512 : 32768, 0);
        if (block % 16 == 15) received(0); // the render queue holds 64 items
    }
    drainDataTasks(radio);
    drainDataTasks(v);
    received(0);
    std::lock_guard<std::mutex> l(imageMutex);
    ASSERT_FALSE(lastCorrected.empty());
    const double before = imageDb(firstCorrected, f), after = imageDb(lastCorrected, f);
    std::printf("image through the radio: %.1f dB -> %.1f dB\n", before, after);
    EXPECT_GT(before, -35);
    EXPECT_LT(after, before - 15);
}
