// Modes as the host and a transceiver use them: the silent base, the
// transmit level meter, the host-driven mode's callbacks through the C
// interface, and a mode outliving its transceiver.
#include "core/modDemod.h"
#include "core/proxyModDemod.h"
#include "core/vtrx.h"

#include "core/coreObjectFixture.h"
#include "core/testRadio.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <complex>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

using cf = std::complex<float>;
using ModeHost = CoreObjects;

namespace {

buff<cf> ramp(size_t n) {
    buff<cf> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = cf(float(i), -float(i));
    return b;
}

} // namespace

TEST_F(ModeHost, PlainModeIsSilent) {
    void* h = modDemod_create();
    auto mode = object<modDemod>(h);
    buff<float> audio(3, 1.0f);
    buff<cf> out(4, cf(7, 7));
    onWorker(mode, [&] {
        audio = mode->demodulate(ramp(512));
        mode->modulate(ramp(4), out);
    });
    EXPECT_TRUE(audio.empty());
    for (auto s : out) EXPECT_EQ(s, cf(7, 7));
    mode.reset();
    modDemod_release(h);
}

TEST_F(ModeHost, TransmitLevelIsReportedEveryFifthOfASecond) {
    void* h = modDemod_create();
    auto mode = object<modDemod>(h);
    modDemod_bindOpLevel(h, host::on<"level", float>);
    auto feed = [&](size_t n, size_t clipped) {
        buff<cf> block(n, cf(0.3f, 0.4f)); // magnitude 0.5
        for (size_t i = 0; i < clipped; ++i) block[i] = cf(0.0f, 2.0f);
        onWorker(mode, [&] { mode->CalcOpHist(block); });
        getUpdates();
    };
    feed(9599, 0);
    EXPECT_TRUE(log.of("level").empty());
    feed(1, 0);
    ASSERT_EQ(log.of("level").size(), 1u);
    EXPECT_EQ(log.of("level")[0].args[0], host::text(1.0f));

    feed(9600, 960); // a tenth of the samples above full scale
    ASSERT_EQ(log.of("level").size(), 2u);
    EXPECT_EQ(log.of("level")[1].args[0], host::text(1.1f));
    EXPECT_FLOAT_EQ(mode->OpLevel.get(), 1.1f);

    feed(4800, 0); // reports span blocks
    feed(4800, 0);
    ASSERT_EQ(log.of("level").size(), 3u);
    EXPECT_EQ(log.of("level")[2].args[0], host::text(1.0f));
    feed(9600, 0); // the same level again sends nothing
    modDemod_setOpLevel(h, 1.0f);
    onWorker(mode, [] {});
    host::pollFor(getUpdates, std::chrono::milliseconds(20));
    EXPECT_EQ(log.of("level").size(), 3u);
    mode.reset();
    modDemod_release(h);
}

// ---- the host-driven mode ----

namespace hostSide {

std::atomic<std::thread::id> callerThread;
std::atomic<int> rxCalls{0}, txCalls{0};

/// Reads the block, changes its first real part, frees the array.
void rxChunk(void* block) {
    callerThread = std::this_thread::get_id();
    ++rxCalls;
    float* iq = complexArray_data(block);
    if (complexArray_size(block) > 0) iq[0] = 42.0f;
    complexArray_delete(block);
}

/// Writes twice the input into the output and frees both arrays.
void getTxChunk(void* in, void* out) {
    callerThread = std::this_thread::get_id();
    ++txCalls;
    const float* src = complexArray_data(in);
    float* dst = complexArray_data(out);
    for (int i = 0; i < 2 * complexArray_size(in); ++i) dst[i] = 2.0f * src[i];
    complexArray_delete(in);
    complexArray_delete(out);
}

void otherRxChunk(void* block) {
    ++rxCalls;
    complexArray_delete(block);
}

/// Records the real parts the chain hands over and doubles them in place;
/// records the audio that comes back.
struct transcript {
    std::mutex m;
    std::atomic<std::thread::id> callerThread;
    std::vector<int> sizes;
    std::vector<float> seen, heard;
    void clear() {
        std::lock_guard<std::mutex> l(m);
        sizes.clear();
        seen.clear();
        heard.clear();
    }
} heardAndSeen;

void doublingRxChunk(void* block) {
    auto& t = heardAndSeen;
    t.callerThread = std::this_thread::get_id();
    float* iq = complexArray_data(block);
    int n = complexArray_size(block);
    {
        std::lock_guard<std::mutex> l(t.m);
        t.sizes.push_back(n);
        for (int i = 0; i < n; ++i) t.seen.push_back(iq[2 * i]);
    }
    for (int i = 0; i < n; ++i) iq[2 * i] *= 2.0f;
    complexArray_delete(block);
}

void onAudio(void* audio) {
    auto& t = heardAndSeen;
    std::lock_guard<std::mutex> l(t.m);
    t.heard.insert(t.heard.end(), floatArray_data(audio), floatArray_data(audio) + floatArray_size(audio));
    floatArray_delete(audio);
}

} // namespace hostSide

TEST_F(ModeHost, ProxyModeHandsBlocksToTheHostOnTheWorker) {
    void* h = proxyModDemod_create();
    auto mode = object<proxyModDemod>(h);
    hostSide::rxCalls = 0;
    hostSide::txCalls = 0;

    // Unbound: the real parts as audio, the transmit block untouched.
    buff<float> audio;
    buff<cf> out(4, cf(5, 5));
    onWorker(mode, [&] {
        audio = mode->demodulate(ramp(512));
        mode->modulate(ramp(4), out);
    });
    ASSERT_EQ(audio.size(), 512u);
    EXPECT_EQ(audio[511], 511.0f);
    EXPECT_EQ(out[3], cf(5, 5));
    EXPECT_EQ(hostSide::rxCalls + hostSide::txCalls, 0);

    proxyModDemod_bindrxChunk(h, hostSide::rxChunk);
    proxyModDemod_bindgetTxChunk(h, hostSide::getTxChunk);
    buff<cf> block = ramp(512);
    onWorker(mode, [&] {
        audio = mode->demodulate(block);
        mode->modulate(ramp(4), out);
    });
    EXPECT_EQ(hostSide::rxCalls, 1);
    EXPECT_EQ(hostSide::txCalls, 1);
    EXPECT_NE(hostSide::callerThread.load(), std::this_thread::get_id()); // not in getUpdates
    EXPECT_EQ(audio[0], 42.0f); // what the host wrote is the audio
    EXPECT_EQ(audio[1], 1.0f);
    EXPECT_EQ(block[0], cf(42.0f, 0.0f)); // written in place, shared
    EXPECT_EQ(out[3], cf(6.0f, -6.0f));

    // The mode is a modDemod to the host as well.
    modDemod_setrxFreq(h, 800);
    onWorker(mode, [] {});
    EXPECT_EQ(mode->rxFreq.get(), 800);
    mode.reset();
    proxyModDemod_release(h);
}

TEST_F(ModeHost, ProxyCallbacksRebindWhileTheWorkerRuns) {
    void* h = proxyModDemod_create();
    auto mode = object<proxyModDemod>(h);
    hostSide::rxCalls = 0;
    constexpr int blocks = 2000;
    std::atomic<int> audible{0};
    std::latch started(1);
    std::thread chain([&] {
        onWorker(mode, [&] {
            started.count_down();
            for (int i = 0; i < blocks; ++i)
                if (mode->demodulate(ramp(16)).size() == 16) ++audible;
        });
    });
    started.wait();
    for (int i = 0; i < 500; ++i) {
        proxyModDemod_bindrxChunk(h, i % 3 == 0 ? hostSide::rxChunk : i % 3 == 1 ? hostSide::otherRxChunk : nullptr);
        proxyModDemod_bindgetTxChunk(h, i % 2 ? hostSide::getTxChunk : nullptr);
    }
    chain.join();
    EXPECT_EQ(audible, blocks);
    EXPECT_LE(hostSide::rxCalls, blocks);
    mode.reset();
    proxyModDemod_release(h);
}

TEST_F(ModeHost, ProxyModeInsideAReceivingTransceiver) {
    auto radio = std::make_shared<FakeRadio>(globalTaskGroup, 48000, 7000000);
    onWorker(radio, [&] { radio->addVtrx(7000000, 0, 0); });
    auto transceiver = radio->vtrxList.back();
    void* v = newHandle(transceiver);
    void* p = proxyModDemod_create();
    hostSide::heardAndSeen.clear();
    proxyModDemod_bindrxChunk(p, hostSide::doublingRxChunk);

    vtrx_bindrxagc(v, host::onObject<"rxagc", agc_release>);
    ASSERT_TRUE(host::pollUntil(getUpdates, [&] { return !log.of("rxagc").empty(); }));
    void* rx = log.of("rxagc")[0].handle;
    agc_setEnabled(rx, false); // a fixed gain of 10^0: the host's audio as it is
    agc_setManualGain(rx, 0.0);
    vtrx_setSendAudio(v, true);
    vtrx_bindnewAudio(v, hostSide::onAudio);
    vtrx_setModulation(v, p);
    vtrx_start(v);
    onWorker(transceiver, [] {});

    // The back-end's thread writes a steady carrier at the tuned frequency.
    radio->write([](std::complex<float>* d, size_t k) { std::fill(d, d + k, std::complex<float>(0.1f, 0.0f)); },
                 4 * 512, 0);
    onWorker(radio, [] {});
    onWorker(transceiver, [] {});
    getRenderUpdates();

    auto& got = hostSide::heardAndSeen;
    ASSERT_EQ(got.sizes, (std::vector<int>{512, 512, 512, 512}));
    EXPECT_NE(got.callerThread.load(), std::this_thread::get_id());
    ASSERT_EQ(got.heard.size(), got.seen.size());
    for (size_t i = 0; i < got.seen.size(); ++i) ASSERT_EQ(got.heard[i], 2.0f * got.seen[i]) << i;
    EXPECT_NEAR(got.seen.back(), 0.1f, 0.01f);

    vtrx_release(v);
    proxyModDemod_release(p);
}

// ---- a mode outliving its transceiver ----

namespace {

/// What the late tasks found; kept by the test, since the mode may be gone
/// by the time it looks.
struct tally {
    std::atomic<vtrx*> seen{nullptr};
    std::atomic<int> found{0}, skipped{0};
};

/// A mode that queues work of its own which later needs its transceiver.
class lateMode : public modDemod {
public:
    using modDemod::modDemod;
    void later(tally* t, std::latch* ran) {
        seqTask task;
        task.fn = [this, t, ran] {
            if (auto owner = lockOwner()) {
                t->seen = owner.get(); // the owner stays alive while this uses it
                ++t->found;
            } else {
                ++t->skipped;
            }
            ran->count_down();
        };
        task.name = "test.lateMode.later";
        asyncProcess(task);
    }
};

} // namespace

TEST_F(ModeHost, LateTaskFindsItsTransceiverGoneAndDoesNothing) {
    auto mode = std::make_shared<lateMode>(globalTaskGroup);
    std::weak_ptr<modDemod> modeAlive = mode;
    void* modeHandle = newHandle(mode);
    void* v = vtrx_create();
    std::weak_ptr<vtrx> transceiverAlive = object<vtrx>(v);
    vtrx_setModulation(v, modeHandle);
    modDemod_release(modeHandle); // the transceiver holds its mode now

    tally t;
    std::latch first(1);
    mode->later(&t, &first);
    first.wait();
    EXPECT_EQ(t.seen.load(), transceiverAlive.lock().get());

    // Hold the mode's task group busy so that the next task is still queued
    // when the host lets go of the transceiver on its own thread.
    std::latch blocking(1), gate(1), late(1);
    std::thread blocker([&] {
        onWorker(mode, [&] {
            blocking.count_down();
            gate.wait();
        });
    });
    blocking.wait();
    mode->later(&t, &late);
    mode.reset(); // the queued task keeps the mode
    vtrx_release(v);
    EXPECT_TRUE(transceiverAlive.expired());
    gate.count_down();
    late.wait();
    blocker.join();
    EXPECT_EQ(t.found.load(), 1);
    EXPECT_EQ(t.skipped.load(), 1);
    EXPECT_TRUE(waitFor([&] { return modeAlive.expired(); })); // no ownership cycle
}

TEST_F(ModeHost, OwnerChangesWhileTasksLookItUp) {
    auto mode = std::make_shared<lateMode>(globalTaskGroup);
    constexpr int tasks = 100;
    tally t;
    std::latch ran(tasks);
    std::thread attach([&] {
        for (int i = 0; i < tasks; ++i) {
            auto owner = std::make_shared<vtrx>(std::shared_ptr<syncTask>());
            mode->setOwner(owner); // gone again at the end of the turn
        }
    });
    for (int i = 0; i < tasks; ++i) mode->later(&t, &ran);
    attach.join();
    ran.wait();
    EXPECT_EQ(t.found + t.skipped, tasks);
    std::latch last(1);
    mode->later(&t, &last); // every owner has gone by now
    last.wait();
    EXPECT_EQ(t.skipped + t.found, tasks + 1);
    EXPECT_GE(t.skipped.load(), 1);
}
