#include "core/modDemod.h"
#include "core/vtrx.h"

#include "drainTasks.h"
#include "framework/objectFixture.h"
#include "testRadio.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

using cplx = std::complex<float>;

// A radio that keeps every transmit block and notes how many samples it had
// received when its PTT went off.
class TxRadio : public FakeRadio {
public:
    using FakeRadio::FakeRadio;
    void transmit(buff<cplx> samples) override { blocks.push_back(samples); }
    size_t samples() const {
        size_t n = 0;
        for (auto& b : blocks) n += b.count;
        return n;
    }
    std::vector<buff<cplx>> blocks;
    size_t unkeyedAt = std::numeric_limits<size_t>::max();
};

// A mode with a known transmit signal.
struct TxMode : modDemod {
    enum kind { constant, counter, echo, once };
    TxMode(std::shared_ptr<syncTask> g, kind k, bool blockMode, bool filtered) : modDemod(std::move(g)), what(k) {
        txBlockMode = blockMode;
        txFiltered = filtered;
    }
    void modulate(buff<cplx> in, buff<cplx> out) override {
        sizes.push_back(in.count);
        if (what == once && sizes.size() > 1) return; // writes nothing from the second block on
        for (size_t i = 0; i < out.count; ++i)
            out[i] = what == echo ? in[i] : what == counter ? cplx(next++, 0.0f) : cplx(1.0f, 0.0f);
    }
    void setTxFilter(int low, int high) override { txFilters.emplace_back(low, high); }
    kind what;
    float next = 1.0f;
    std::vector<size_t> sizes;
    std::vector<std::pair<int, int>> txFilters;
};

float riseFactor(int left) { return float(0.5 + 0.5 * std::cos(3.1415927 * left / 512)); }

class TransmitTest : public ObjectTest {
protected:
    std::shared_ptr<TxRadio> radio = std::make_shared<TxRadio>(group);
    std::shared_ptr<vtrx> v;

    void SetUp() override {
        onGroup(radio, [&] {
            radio->canTransmit.hostSet(true);
            radio->ptt.changeHook = [r = radio.get()] {
                if (!r->ptt.get()) r->unkeyedAt = r->samples();
            };
            radio->addVtrx(7000000, 0, 0);
            v = radio->vtrxList.back(); // paced by the test (FakeRadio::tune)
        });
    }
    void TearDown() override {
        if (!radio) return;
        // A task left in the radio's queue would hold the radio past the
        // scheduler's end.
        settle();
        onGroup(radio, [&] { radio->ptt.changeHook = nullptr; });
    }

    std::shared_ptr<TxMode> attach(TxMode::kind k, bool blockMode = true, bool filtered = false) {
        auto m = std::make_shared<TxMode>(group, k, blockMode, filtered);
        onGroup(v, [&] { v->setModulation(m); });
        return m;
    }
    void setPtt(bool on) {
        onGroup(v, [&] { v->ptt.hostSet(on); });
        settle();
    }
    /// Requests of these sizes, as a radio would make them; returns the
    /// samples they produced, in order.
    std::vector<cplx> request(std::vector<unsigned long> sizes) {
        settle();
        size_t first = radio->blocks.size();
        for (auto n : sizes) onGroup(v, [&] { v->modulate(n); });
        settle();
        std::vector<cplx> all;
        for (size_t b = first; b < radio->blocks.size(); ++b)
            all.insert(all.end(), radio->blocks[b].begin(), radio->blocks[b].end());
        return all;
    }
    std::vector<cplx> request(unsigned long n, int times) { return request(std::vector<unsigned long>(times, n)); }
    /// Lets the tasks the transceiver posted to the radio run.
    void settle() { drainDataTasks(radio); }
};

} // namespace

TEST_F(TransmitTest, BlockModeStartsWithLeadSilenceThenRisesOver513Samples) {
    attach(TxMode::constant);
    setPtt(true);
    auto out = request(512, 3);
    ASSERT_EQ(out.size(), 1536u);
    for (size_t i = 0; i < 768; ++i) ASSERT_EQ(out[i], cplx(0.0f)) << i;
    for (int k = 0; k <= 512; ++k) ASSERT_EQ(out[768 + k].real(), riseFactor(512 - k)) << k;
    EXPECT_NEAR(out[768].real(), 0.0f, 1e-6); // π is taken as 3.1415927
    EXPECT_NEAR(out[768 + 256].real(), 0.5f, 1e-6);
    EXPECT_EQ(out[1280].real(), 1.0f);
    for (size_t i = 1280; i < out.size(); ++i) ASSERT_EQ(out[i], cplx(1.0f, 0.0f)) << i;
    onGroup(v, [&] { EXPECT_FALSE(v->rampUpPending); });
    EXPECT_TRUE(radio->ptt.get());
}

TEST_F(TransmitTest, BlockModeThatWritesNothingSendsSilenceNotItsLastBlockAgain) {
    for (bool filtered : {false, true}) {
        attach(TxMode::once, true, filtered);
        setPtt(true);
        auto out = request(512, 6);
        ASSERT_EQ(out.size(), 3072u);
        // Filtered, the first block rings on for the filter's length.
        for (size_t i = filtered ? 2048 : 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], cplx(0.0f)) << i << (filtered ? " filtered" : "");
        setPtt(false);
        request(512, 4);
    }
}

TEST_F(TransmitTest, AModeAttachedLaterSendsInThePassBandTheHostChose) {
    auto first = attach(TxMode::constant);
    EXPECT_TRUE(first->txFilters.empty()); // nothing chosen yet: the mode keeps its own
    onGroup(v, [&] { v->setTxFilter(-2800, -300); });
    EXPECT_EQ(first->txFilters, (std::vector<std::pair<int, int>>{{-2800, -300}}));
    auto second = attach(TxMode::constant);
    EXPECT_EQ(second->txFilters, (std::vector<std::pair<int, int>>{{-2800, -300}}));
}

TEST_F(TransmitTest, DirectModeAndTuneOnlyRise) {
    attach(TxMode::constant, false);
    setPtt(true);
    auto out = request(100, 7); // the rise spans requests
    for (int k = 0; k <= 512; ++k) ASSERT_EQ(out[size_t(k)].real(), riseFactor(512 - k)) << k;
    for (size_t i = 513; i < out.size(); ++i) ASSERT_EQ(out[i], cplx(1.0f, 0.0f)) << i;

    setPtt(false);
    request(1100, 1);
    onGroup(v, [&] { v->tune.hostSet(true); });
    setPtt(true);
    out = request(600, 1);
    EXPECT_NEAR(out[0].real(), 0.0f, 1e-6);
    EXPECT_EQ(out[512], cplx(0.99f, 0.0f)); // a steady carrier, whatever the mode
    EXPECT_EQ(out[599], cplx(0.99f, 0.0f));
}

TEST_F(TransmitTest, ReleaseSendsTailThenSilenceAndUnkeysAfterAtLeast504Silent) {
    attach(TxMode::constant);
    setPtt(true);
    request(512, 4); // past the rise: full scale
    setPtt(false);
    EXPECT_TRUE(radio->ptt.get()); // not yet: the tail is to go out first
    const size_t releasedAt = radio->samples();

    // Requests of 100: 512 tail samples, then silence; the unkeying follows
    // the request that completes 504 silent samples (1016 in all): the 11th.
    auto out = request(100, 10);
    EXPECT_TRUE(radio->ptt.get());
    ASSERT_EQ(out.size(), 1000u);
    for (int k = 0; k < 512; ++k) {
        int tailLeft = 512 - k;
        ASSERT_EQ(out[size_t(k)].real(), float(0.5 + 0.5 * std::cos(3.1415927 * (512 - tailLeft) / 512))) << k;
    }
    EXPECT_EQ(out[0].real(), 1.0f);
    EXPECT_GT(out[511].real(), 0.0f);
    for (size_t i = 512; i < out.size(); ++i) ASSERT_EQ(out[i], cplx(0.0f)) << i;

    request(100, 1);
    EXPECT_FALSE(radio->ptt.get());
    EXPECT_EQ(radio->unkeyedAt - releasedAt, 1100u); // after the 11th block, not before
    onGroup(v, [&] {
        EXPECT_FALSE(v->transmitting());
        EXPECT_EQ(v->tailLeft, -588);
    });
}

// The radio stopped asking (stopped, or gone silent) while a tail that only
// its requests run out was left: the tail is dropped and the radio unkeyed
// once it has asked for nothing for the limit, counted from its last request
// whether that came before the release or after it.
TEST_F(TransmitTest, AReleaseWhoseRadioAsksForNothingMoreEndsTheLimitAfterItsLastRequest) {
    using namespace std::chrono;
    using steady = steady_clock;
    attach(TxMode::constant, true);
    settle(); // the placements' own setting of the limit first
    drainDataTasks(v);
    onGroup(v, [&] { v->tx.tailStallLimit = milliseconds(250); });
    struct Case {
        const char* name;
        milliseconds silentBefore; // since the last request, at the release
        milliseconds askingAfter;  // requests go on after the release
    };
    for (const Case c : {Case{"asked after the release", 0ms, 50ms}, Case{"silent before the release", 400ms, 0ms}}) {
        SCOPED_TRACE(c.name);
        setPtt(true);
        steady::time_point last = steady::now(); // before the request: it comes no later
        request(512, 4);
        std::this_thread::sleep_for(c.silentBefore);
        setPtt(false);
        for (auto until = steady::now() + c.askingAfter; steady::now() < until;) {
            last = steady::now();
            request(64, 1);
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(waitFor([&] { return !radio->ptt.get(); }, seconds(5)));
        const auto ended = steady::now() - last;
        EXPECT_GE(ended, 250ms);
        // Within the limit, less what had passed: counted from the release
        // (or looked at only every limit) it would end up to a limit later.
        EXPECT_LT(ended, std::max(c.silentBefore, 250ms) + milliseconds(long(150 * buildSlowdown)));
        settle();
        onGroup(v, [&] {
            EXPECT_FALSE(v->transmitting());
            EXPECT_EQ(v->tx.where(), transmission::phase::off);
        });
    }
}

TEST_F(TransmitTest, UnkeysWithTheRequestThatCompletes504SilentSamples) {
    attach(TxMode::constant);
    setPtt(true);
    request(512, 3);
    setPtt(false);
    request(512, 1);
    EXPECT_TRUE(radio->ptt.get());
    auto out = request(503, 1); // 503 silent samples are not yet enough
    for (auto s : out) ASSERT_EQ(s, cplx(0.0f));
    EXPECT_TRUE(radio->ptt.get());
    request(1, 1);
    EXPECT_FALSE(radio->ptt.get());
    // A radio that keeps asking gets silence and the unkeying again.
    out = request(512, 2);
    EXPECT_EQ(out.size(), 1024u);
    EXPECT_FALSE(radio->ptt.get());
}

TEST_F(TransmitTest, PttOnDuringTheTailCancelsTheReleaseAndStartsOver) {
    attach(TxMode::constant);
    setPtt(true);
    request(512, 3);
    setPtt(false);
    request(256, 1);
    setPtt(true);
    auto out = request(512, 6);
    EXPECT_TRUE(radio->ptt.get());
    EXPECT_EQ(radio->unkeyedAt, std::numeric_limits<size_t>::max()); // never unkeyed
    for (size_t i = 0; i < 768; ++i) ASSERT_EQ(out[i], cplx(0.0f)) << i;
    EXPECT_EQ(out[1280], cplx(1.0f, 0.0f));
    EXPECT_EQ(out.back(), cplx(1.0f, 0.0f));
}

TEST_F(TransmitTest, BlocksOfTheModeAreIndependentOfRequestSizes) {
    auto mode = attach(TxMode::counter);
    setPtt(true); // the mode is asked only while a transmission is on
    onGroup(v, [&] {
        v->rampUpPending = false; // no fade: compare samples as made
        v->txFirPos = v->txFir.blockLength();
    });
    auto out = request({100, 100, 1300, 0, 7, 512, 3});
    ASSERT_EQ(out.size(), 2022u);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], cplx(float(i + 1), 0.0f)) << i;
    EXPECT_EQ(mode->sizes, std::vector<size_t>(4, 512)); // once per filter block
    EXPECT_EQ(radio->blocks.size(), 7u);                   // one block per request, even of 0
}

TEST_F(TransmitTest, FilteredBlocksComeOutOfTheTransmitFilter) {
    attach(TxMode::counter, true, true);
    setPtt(true);
    onGroup(v, [&] {
        v->rampUpPending = false;
        v->txFir.clearState();
        v->txFirPos = v->txFir.blockLength();
    });
    auto out = request(300, 5);
    lowLatFir reference(-3000.0f, 6000.0f, 48000, 1536, 512);
    float next = 1.0f;
    std::vector<cplx> expected;
    for (int b = 0; b < 3; ++b) {
        for (size_t i = 0; i < 512; ++i) reference.inBlock[i] = {next++, 0.0f};
        reference.calc();
        expected.insert(expected.end(), reference.outBlock.begin(), reference.outBlock.end());
    }
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], expected[i]) << i;

    // Steady requests take from the sample pool only the block each hands
    // to the radio: microphone and mode input reuse the chain's buffers.
    size_t pooled = 0;
    onGroup(v, [&] {
        const size_t before = vireo::poolAllocationsOnThisThread();
        for (int r = 0; r < 12; ++r) v->modulate(256);
        pooled = vireo::poolAllocationsOnThisThread() - before;
    });
    EXPECT_EQ(pooled, 12u);
}

TEST_F(TransmitTest, WithoutAModeTheRadioGetsSilenceOfTheRequestedLength) {
    auto out = request({512, 37});
    EXPECT_EQ(out.size(), 549u);
    for (auto s : out) ASSERT_EQ(s, cplx(0.0f));
}

TEST_F(TransmitTest, RecordedLoopReplaysFromTheStartAfter468Requests) {
    attach(TxMode::echo, false);
    setPtt(true);
    onGroup(v, [&] {
        v->DelayAudio.hostSet(true);
        v->rampUpPending = false;
    });
    request(512, 467);
    onGroup(v, [&] {
        EXPECT_FALSE(v->delayFull);
        EXPECT_EQ(v->delayPos, 467u * 512);
    });
    request(512, 1);
    onGroup(v, [&] {
        EXPECT_TRUE(v->delayFull);
        EXPECT_EQ(v->delayPos, 0u);
        // Mark the recording so the replay can be followed.
        for (size_t i = 0; i < v->delayBuffer.count; ++i) v->delayBuffer[i] = float(i % 1000) / 1000.0f;
    });
    auto out = request(512, 1);
    EXPECT_EQ(out[3], cplx(0.707f * 0.003f, 0.707f * 0.003f));
    onGroup(v, [&] { EXPECT_EQ(v->delayPos, 512u); });
}

TEST_F(TransmitTest, ReplayNeverReadsPastTheStore) {
    attach(TxMode::echo, false);
    setPtt(true);
    onGroup(v, [&] {
        v->DelayAudio.hostSet(true);
        v->rampUpPending = false;
        for (size_t i = 0; i < v->delayBuffer.count; ++i) v->delayBuffer[i] = 1.0f + float(i % 7);
        v->delayFull = true;
        v->delayPos = v->delayBuffer.count - 600; // a longer request near the end
    });
    auto out = request(1024, 1);
    EXPECT_EQ(out[0].real(), 0.707f * 1.0f); // the loop started over
    EXPECT_EQ(out[1023].real(), 0.707f * float(1 + 1023 % 7));
    out = request(250000, 1); // longer than the whole store
    EXPECT_EQ(out[239999].real(), 0.707f * float(1 + 239999 % 7));
    EXPECT_EQ(out[240000], cplx(0.0f));
    EXPECT_EQ(out.back(), cplx(0.0f));
}

TEST_F(TransmitTest, RecordingStartsFromASilentStore) {
    attach(TxMode::echo, false);
    onGroup(v, [&] {
        v->DelayAudio.hostSet(true);
        v->ptt.hostSet(true);
        for (auto& s : v->delayBuffer) s = 5.0f; // whatever the pool left there
        v->modulate(512);
        EXPECT_EQ(v->delayBuffer[0], 0.0f);
        EXPECT_EQ(v->delayBuffer[239999], 0.0f);
    });
}

TEST_F(TransmitTest, LateRequestsFindTheRadioGone) {
    attach(TxMode::constant);
    setPtt(true);
    std::weak_ptr<TxRadio> weak = radio;
    onGroup(radio, [&] { radio->removeVtrx(v.get()); });
    radio.reset();
    ASSERT_TRUE(waitFor([&] { return weak.expired(); })); // a finished task may still hold it a moment
    onGroup(v, [&] {
        v->modulate(512);
        v->ptt.hostSet(false);
        v->modulate(2048); // the unkeying has nowhere to go
        EXPECT_FALSE(v->transmitting());
    });
}
