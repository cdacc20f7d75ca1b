#include "core/agc.h"
#include "core/modDemod.h"
#include "core/vtrx.h"

#include "drainTasks.h"
#include "framework/objectFixture.h"
#include "testRadio.h"

namespace {

class VtrxTest : public ObjectTest {
protected:
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>(group);
    std::shared_ptr<vtrx> add(long long f) {
        onGroup(radio, [&] { radio->addVtrx(f, 0, 0); });
        std::lock_guard<std::mutex> l(radio->listMutex);
        return radio->vtrxList.back();
    }
    // Lets the data tasks the transceiver posted to the radio run.
    void settleRadio() {
        if (radio) drainDataTasks(radio);
    }
    // Nothing may still be queued for the radio when the scheduler goes: a
    // queued task holds the radio, which holds its task group.
    void TearDown() override { settleRadio(); }
};

// A mode that records what the transceiver tells it.
struct RecordingMode : modDemod {
    using modDemod::modDemod;
    std::vector<std::string> calls;
    void pttChanged(bool on) override { calls.push_back(on ? "ptt on" : "ptt off"); }
    void vfoChanged(long long f) override { calls.push_back("vfo " + std::to_string(f)); }
    void setRxFilter(int low, int high) override {
        calls.push_back("rx " + std::to_string(low) + " " + std::to_string(high));
    }
    void init() override { calls.push_back("init"); }
};

} // namespace

TEST_F(VtrxTest, ANewTransceiverIsSetUpAndPlaced) {
    auto v = add(7000000);
    EXPECT_EQ(v->vfo.get(), 7000000);
    EXPECT_EQ(v->specFreq.get(), 7000000); // specOffset + vfo
    EXPECT_TRUE(v->specFreq.published());
    ASSERT_TRUE(v->rxagc.get());
    ASSERT_TRUE(v->txagc.get());
    EXPECT_EQ(v->txagc.get()->Volume.get(), 0.0f);
    EXPECT_EQ(v->rxagc.get()->Volume.get(), 1.0f);
    EXPECT_EQ(v->hwReceiverSlots[0].load(), 0); // the default mask 1
    for (int k = 1; k < 4; ++k) EXPECT_EQ(v->hwReceiverSlots[k].load(), -1);
    EXPECT_FALSE(v->running);
    EXPECT_EQ(v->rxFir.blockLength(), 512u);
}

TEST_F(VtrxTest, StreamIdsFollowRunningAndMuted) {
    auto v = add(7000000);
    onGroup(v, [&] {
        v->muted.hostSet(true);
        v->muted.hostSet(false); // stopped: output without device, input with its device
        EXPECT_EQ(v->outputStream.streamId(), 0);
        EXPECT_EQ(v->inputStream.streamId(), v->audioInput.get());
        v->start();
        EXPECT_TRUE(v->running);
        v->stop();
        EXPECT_EQ(v->outputStream.streamId(), 0);
        EXPECT_EQ(v->inputStream.streamId(), 0);
    });
}

TEST_F(VtrxTest, OffsetAndVfoHooksMoveTheSpectrumCentreAndTellTheMode) {
    auto v = add(7000000);
    auto mode = std::make_shared<RecordingMode>(group);
    onGroup(v, [&] {
        v->setModulation(mode);
        v->specOffset.hostSet(1000);
        EXPECT_EQ(v->specFreq.get(), 7001000);
        v->vfo.hostSet(7002000);
        EXPECT_EQ(v->specFreq.get(), 7003000);
    });
    EXPECT_EQ(mode->calls, (std::vector<std::string>{"init", "rx -3000 3000", "vfo 7002000"}));
    EXPECT_EQ(mode->lockOwner(), v);
}

TEST_F(VtrxTest, ReceiveFilterWhileTheModeClosesOnlyRecordsTheEdges) {
    auto v = add(7000000);
    auto mode = std::make_shared<RecordingMode>(group);
    onGroup(v, [&] {
        v->setModulation(mode);
        v->ModClosing.hostSet(true);
        v->setRxFilter(-1000, 1500);
        EXPECT_EQ(v->rxFilterLow.load(), -1000);
        EXPECT_EQ(v->rxFilterHigh.load(), 1500);
        EXPECT_EQ(mode->calls.size(), 2u); // nothing new for the mode
        v->setModulation(mode);            // applies them
        EXPECT_FALSE(v->ModClosing.get());
    });
    EXPECT_EQ(mode->calls.back(), "rx -1000 1500");
}

TEST_F(VtrxTest, PttWithoutAModeGoesToTheRadioAtOnce) {
    onGroup(radio, [&] { radio->canTransmit.hostSet(true); });
    auto v = add(7000000);
    onGroup(v, [&] { v->ptt.hostSet(true); });
    settleRadio();
    EXPECT_TRUE(radio->ptt.get());
    onGroup(v, [&] {
        EXPECT_TRUE(v->transmitting());
        EXPECT_EQ(v->rampUpLeft, 768 + 512);
        v->ptt.hostSet(false);
        EXPECT_FALSE(v->transmitting());
    });
    settleRadio();
    EXPECT_FALSE(radio->ptt.get());
}

TEST_F(VtrxTest, PttOffWithAModeWaitsForTheTail) {
    onGroup(radio, [&] { radio->canTransmit.hostSet(true); });
    auto v = add(7000000);
    auto mode = std::make_shared<RecordingMode>(group);
    mode->txTailLength = 4096;
    onGroup(v, [&] {
        v->setModulation(mode);
        v->ptt.hostSet(true);
    });
    settleRadio();
    EXPECT_TRUE(radio->ptt.get());
    onGroup(v, [&] {
        EXPECT_FALSE(mode->pttReleased());
        v->ptt.hostSet(false);
        EXPECT_TRUE(mode->pttReleased());
        EXPECT_EQ(v->tx.where(), transmission::phase::tail);
        EXPECT_EQ(v->tailLeft, 4096);
        EXPECT_TRUE(v->transmitting()); // until the tail has run out
    });
    settleRadio();
    EXPECT_TRUE(radio->ptt.get()); // the radio is not told yet
    EXPECT_EQ(mode->calls.back(), "ptt off");
}

TEST_F(VtrxTest, MicrophoneLoopStoreIsFreshEachTime) {
    auto v = add(7000000);
    onGroup(v, [&] {
        v->DelayAudio.hostSet(true);
        ASSERT_EQ(v->delayBuffer.count, 240000u);
        v->delayPos = 100;
        v->delayFull = true;
        v->DelayAudio.hostSet(false);
        EXPECT_EQ(v->delayBuffer.count, 0u);
        v->DelayAudio.hostSet(true);
        EXPECT_EQ(v->delayBuffer.count, 240000u);
        EXPECT_EQ(v->delayPos, 0u);
        EXPECT_FALSE(v->delayFull);
    });
}

TEST_F(VtrxTest, TransceiverWithoutRadioOnlyStores) {
    auto lone = std::make_shared<vtrx>(group);
    onGroup(lone, [&] {
        lone->vfo.hostSet(1000); // no hooks: nothing happens
        lone->setRxFrequency(5);
        lone->remove();
    });
    EXPECT_EQ(lone->vfo.get(), 1000);
}

TEST_F(VtrxTest, LateTasksFindTheirRadioGone) {
    auto v = add(7000000);
    std::weak_ptr<FakeRadio> weak = radio;
    onGroup(radio, [&] { radio->removeVtrx(v.get()); });
    settleRadio();
    radio.reset();
    EXPECT_TRUE(waitFor([&] { return weak.expired(); }));
    onGroup(v, [&] {
        v->start();
        v->vfo.hostSet(7100000); // posts to a radio that is gone: dropped
        v->ptt.hostSet(true);
        v->remove();
    });
    // The transceiver's own side of each change still happened; a key with
    // no radio left to transmit is refused and ends at once.
    onGroup(v, [&] {
        EXPECT_EQ(v->vfo.get(), 7100000);
        EXPECT_EQ(v->specFreq.get(), 7100000); // the vfo hook ran to its end
        EXPECT_FALSE(v->ptt.get());
        EXPECT_FALSE(v->transmitting());
        EXPECT_EQ(v->tx.where(), transmission::phase::off);
        EXPECT_FALSE(v->running); // remove stopped it
        EXPECT_TRUE(v->owner.expired());
    });
    // No task holds it any more (a worker lets go just after it signals).
    EXPECT_TRUE(waitFor([&] { return v.use_count() == 1; }));
}
