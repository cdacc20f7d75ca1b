// The noisy loop-back back-end that the mode tests measure error rates
// with: its noise must be what it claims, and nothing may be lost.
#include "support/noisyLoopRadio.h"

#include "core/modDemod.h"
#include "framework/objectFixture.h"

#include <mutex>

namespace {

using cplx = std::complex<float>;

// A unit-power tone at 1000 Hz, unfiltered.
struct ToneMode : modDemod {
    explicit ToneMode(std::shared_ptr<syncTask> g) : modDemod(std::move(g)) { txFiltered = false; }
    void modulate(buff<cplx>, buff<cplx> out) override {
        for (auto& s : out) {
            s = std::polar(1.0f, phase);
            phase = std::remainder(phase + float(2 * M_PI * 1000 / 48000), float(2 * M_PI));
        }
    }
    float phase = 0;
};

struct Noise {
    std::mutex m;
    double sum = 0;     // of |written - sent|^2 while keyed
    long samples = 0;
    long keyedBlocks = 0, idleBlocks = 0;
    bool mirrored = true; // every keyed block arrived conjugated (clean run)
};

class NoisyLoopRadioTest : public ObjectTest {
protected:
    std::shared_ptr<NoisyLoopRadio> radio = std::make_shared<NoisyLoopRadio>(group);
    std::shared_ptr<vtrx> v;
    Noise noise;

    void SetUp() override {
        onGroup(radio, [&] { radio->addVtrx(14000000, 0, 0); });
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            ASSERT_EQ(radio->vtrxList.size(), 1u);
            v = radio->vtrxList.front();
        }
        onGroup(v, [&] {
            v->start();
            v->setModulation(std::make_shared<ToneMode>(group));
        });
        radio->tap = [this](const buff<cplx>& sent, const buff<cplx>& written) {
            std::lock_guard<std::mutex> l(noise.m);
            bool keyed = false;
            for (size_t i = 0; i < sent.count; ++i) keyed |= sent[i] != cplx{};
            (keyed ? noise.keyedBlocks : noise.idleBlocks) += 1;
            if (!keyed) return;
            for (size_t i = 0; i < sent.count; ++i) {
                noise.sum += std::norm(written[i] - (radio->conjugate ? std::conj(sent[i]) : sent[i]));
                noise.mirrored &= written[i] == std::conj(sent[i]);
            }
            noise.samples += long(sent.count);
        };
    }
    void TearDown() override {
        onGroup(radio, [&] { radio->tap = nullptr; });
        radio->settle();
    }
};

TEST_F(NoisyLoopRadioTest, NoiseIsTheSetRatioIn2500HzAndEveryBlockArrives) {
    radio->setSnr(0.0, 1.0);
    onGroup(v, [&] { v->ptt.hostSet(true); });
    ASSERT_TRUE(radio->step(10)); // the key-up and the lead silence
    ASSERT_TRUE(radio->step(200));
    onGroup(v, [&] { v->ptt.hostSet(false); });
    ASSERT_TRUE(radio->step(20)); // tail, trailing silence, then noise alone
    EXPECT_FALSE(radio->ptt.get());
    const long sentBlocks = radio->transmitted.load();
    ASSERT_TRUE(radio->step(5));
    EXPECT_EQ(radio->transmitted.load(), sentBlocks) << "no requests once unkeyed";
    EXPECT_EQ(radio->written.load(), 235);

    std::lock_guard<std::mutex> l(noise.m);
    ASSERT_GE(noise.samples, 200 * 512);
    // Unit power at 0 dB in 2500 Hz: per-sample variance 48000 / 2500.
    EXPECT_NEAR(noise.sum / double(noise.samples), 19.2, 19.2 * 0.03);
    EXPECT_GE(noise.idleBlocks, 5);
}

TEST_F(NoisyLoopRadioTest, ConjugatingMirrorsEveryBlockExactly) {
    radio->setClean();
    radio->conjugate = true;
    onGroup(v, [&] { v->ptt.hostSet(true); });
    ASSERT_TRUE(radio->step(30));
    onGroup(v, [&] { v->ptt.hostSet(false); });
    ASSERT_TRUE(radio->step(20));
    std::lock_guard<std::mutex> l(noise.m);
    EXPECT_GE(noise.keyedBlocks, 20);
    EXPECT_TRUE(noise.mirrored);
    EXPECT_EQ(noise.sum, 0.0);
}

} // namespace
