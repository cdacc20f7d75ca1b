// Output and input devices on the simulated card: lazy opening, mixing,
// attach and detach across threads, stopping and reopening, the microphone
// ring.
#include "audio/AudioInputDevice.h"
#include "audio/AudioOutputDevice.h"
#include "audio/AudioStreams.h"
#include "audio/audioClock.h"

#include "soundRig.h"
#include "support/waitFor.h"

#include <algorithm>
#include <thread>

namespace {

class Devices : public SoundRig {
protected:
    std::shared_ptr<AudioOutputDevice> out = root->outputDevice(FakeAudio::stereoOut);

    /// Attaches ios and keeps them fed with their levels for a while.
    void play(std::vector<std::pair<std::shared_ptr<audioIO>, float>> sources) {
        for (auto& [io, level] : sources) out->registerStream(io);
        for (int k = 0; k < 60; ++k) {
            card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
            for (auto& [io, level] : sources) io->write(buff<float>(512, level), false, false, 0.5f);
        }
    }
    /// Left channel of the next callback's buffer.
    float next() {
        card.clearPlayed(FakeAudio::stereoOut);
        card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
        auto p = card.played(FakeAudio::stereoOut);
        return p.empty() ? -1.0f : p[300];
    }
    int opens() { return card.opens(true, FakeAudio::stereoOut) - opensBefore; }
    int opensBefore = card.opens(true, FakeAudio::stereoOut);
    std::shared_ptr<audioIO> a = std::make_shared<audioIO>(), b = std::make_shared<audioIO>();
};

TEST_F(Devices, OpensOnFirstAttachMixesAndStopsWhenEmpty) {
    const int closes = card.closes(true, FakeAudio::stereoOut);
    out->registerStream(a);
    EXPECT_EQ(opens(), 1);
    out->registerStream(b); // already attached below: ignored
    EXPECT_EQ(opens(), 1);
    play({{a, 0.25f}, {b, 0.125f}});
    EXPECT_FLOAT_EQ(next(), 0.375f); // the first writes, the second adds
    EXPECT_EQ(out->activeStreams(), 2u);

    out->unregisterStream(a);
    EXPECT_FLOAT_EQ(next(), 0.125f); // b alone, untouched
    testing::internal::CaptureStdout();
    out->unregisterStream(b);
    EXPECT_FLOAT_EQ(next(), 0.0f); // silence, and the stream ends
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "op sf\r\n");
    EXPECT_FALSE(out->started());
    EXPECT_FALSE(card.isOpen(true, FakeAudio::stereoOut));
    EXPECT_EQ(card.closes(true, FakeAudio::stereoOut), closes + 1);

    play({{a, 0.25f}});
    EXPECT_EQ(opens(), 2);
    EXPECT_FLOAT_EQ(next(), 0.25f);
}

TEST_F(Devices, AttachAndDetachBeforeACallbackLeaveNothing) {
    out->registerStream(a);
    out->unregisterStream(a);
    EXPECT_FLOAT_EQ(next(), 0.0f);
    EXPECT_EQ(out->activeStreams(), 0u);
    EXPECT_FALSE(out->started());
}

TEST_F(Devices, AStreamAttachedBeforeTheFinishedNoticeStillPlays) {
    play({{a, 0.25f}});
    out->unregisterStream(a);
    // The callback that ends the stream, then an attach while the device
    // still counts as started, then the finished notice.
    std::vector<float> buffer(1024);
    EXPECT_EQ(out->Callback(buffer.data(), 512, 0.0), 2);
    out->registerStream(b);
    EXPECT_EQ(opens(), 1);
    testing::internal::CaptureStdout();
    out->StreamFinished();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(opens(), 2);
    play({{b, 0.125f}});
    EXPECT_FLOAT_EQ(next(), 0.125f);
}

TEST_F(Devices, RequestsFromManyThreadsApplyInTheirOrder) {
    // Each thread moves its own stream on and off; whatever the callbacks
    // see in between, the end state is the last request of each.
    constexpr int threads = 4, rounds = 300;
    std::vector<std::shared_ptr<audioIO>> ios;
    for (int t = 0; t < threads; ++t) ios.push_back(std::make_shared<audioIO>());
    std::atomic<int> running{threads};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                out->registerStream(ios[size_t(t)]);
                if (r % 7 == 0) std::this_thread::yield();
                out->unregisterStream(ios[size_t(t)]);
            }
            if (t % 2 == 0) out->registerStream(ios[size_t(t)]);
            --running;
        });
    while (running.load() > 0) card.advance(std::chrono::milliseconds(1));
    for (auto& w : workers) w.join();
    card.advance(std::chrono::milliseconds(30));
    if (!card.isOpen(true, FakeAudio::stereoOut)) { // the last callback may have found none attached
        EXPECT_EQ(out->attachedStreams(), 2);
        EXPECT_TRUE(out->started());
        card.advance(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(out->attachedStreams(), 2);
    EXPECT_EQ(out->activeStreams(), 2u);
}

// A stream moving to another device: the old device lets go of its ring at
// its next callback, the new one takes it at its own; under ALSA each device
// calls back on a thread of its own, so those callbacks come in any order.
TEST_F(Devices, AMovedRingIsPlayedByTheNewDeviceOnlyOnceTheOldOneLetGo) {
    auto mono = root->outputDevice(FakeAudio::monoOut);
    std::vector<float> stereoBuffer(1024), monoBuffer(512);
    auto feed = [&] { a->write(buff<float>(512, 0.25f), false, false, 0.5f); };
    a->channels = 2;
    out->registerStream(a);
    for (int k = 0; k < 40; ++k) feed();
    ASSERT_EQ(out->Callback(stereoBuffer.data(), 512, 0.0), 0);
    ASSERT_EQ(a->readPosition(), 512);

    out->unregisterStream(a);
    a->channels = 1;
    mono->registerStream(a);
    feed();
    // The new device first: the ring is still the old one's.
    std::fill(monoBuffer.begin(), monoBuffer.end(), 1.0f);
    EXPECT_EQ(mono->Callback(monoBuffer.data(), 512, 0.0), 0);
    EXPECT_EQ(a->readPosition(), 512);
    EXPECT_EQ(monoBuffer[100], 0.0f); // silence, not what was in the buffer
    EXPECT_EQ(out->Callback(stereoBuffer.data(), 512, 0.0), 2); // lets go; nothing left to play
    EXPECT_EQ(mono->Callback(monoBuffer.data(), 512, 0.0), 0);
    EXPECT_EQ(a->readPosition(), 1024);

    // A device whose stream ends before its next callback lets go as well.
    mono->unregisterStream(a);
    a->channels = 2;
    out->registerStream(a);
    testing::internal::CaptureStdout();
    mono->StreamFinished();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(out->Callback(stereoBuffer.data(), 512, 0.0), 0);
    EXPECT_EQ(a->readPosition(), 1536);
}

// A device whose stream stalls without finishing (a JACK client the server
// dropped) never lets go: the ring goes to the device it moved to once the
// old one has been silent for a few buffers, and the old one, waking with
// the ring still listed, leaves it alone.
TEST_F(Devices, ARingLeavesADeviceThatStoppedCallingBack) {
    auto mono = root->outputDevice(FakeAudio::monoOut);
    auto feed = [&](int blocks) {
        card.clearPlayed(FakeAudio::stereoOut);
        card.clearPlayed(FakeAudio::monoOut);
        for (int k = 0; k < blocks; ++k) {
            card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
            a->write(buff<float>(512, 0.25f), false, false, 0.5f);
        }
    };
    play({{a, 0.25f}});
    card.stall(true, FakeAudio::stereoOut, true);
    a->channels = 1;
    mono->registerStream(a); // before the detach, which the stalled device never applies
    feed(12);
    auto heard = card.played(FakeAudio::monoOut);
    EXPECT_EQ(heard.front(), 0.0f); // waited for the old device first
    EXPECT_EQ(heard.back(), 0.25f);

    std::vector<float> buffer(1024, 1.0f);
    const uint16_t at = a->readPosition();
    EXPECT_EQ(out->Callback(buffer.data(), 512, 0.0), 0);
    EXPECT_EQ(a->readPosition(), at);
    EXPECT_EQ(buffer[100], 0.0f);
    out->unregisterStream(a);
    card.stall(true, FakeAudio::stereoOut, false);
    testing::internal::CaptureStdout();
    feed(4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "op sf\r\n"); // detached, nothing left: it ends
    heard = card.played(FakeAudio::stereoOut);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](float v) { return v == 0.0f; }));
    EXPECT_EQ(card.played(FakeAudio::monoOut).back(), 0.25f);
    mono->unregisterStream(a);
}

TEST_F(Devices, TwoDevicesOnTheirOwnThreadsNeverPlayOneRingAtOnce) {
    // Run under ThreadSanitizer, which reports any two callbacks that touch
    // the ring's reader side without the hand-over between them.
    auto mono = root->outputDevice(FakeAudio::monoOut);
    AudioOutputStream stream(FakeAudio::stereoOut);
    std::atomic<bool> stop{false};
    std::atomic<int> heard[2] = {0, 0};
    auto device = [&](AudioOutputDevice& d, std::atomic<int>& heardHere) {
        std::vector<float> buffer(512 * size_t(d.channels));
        double time = 1;
        while (!stop.load()) {
            d.Callback(buffer.data(), 512, time += 512 / 48000.0);
            if (std::any_of(buffer.begin(), buffer.end(), [](float s) { return s != 0.0f; })) ++heardHere;
            std::this_thread::yield();
        }
    };
    std::thread stereoCard(device, std::ref(*out), std::ref(heard[0]));
    std::thread monoCard(device, std::ref(*mono), std::ref(heard[1]));
    // Each move is fed until the device it went to plays it, which it may
    // only once the other has let go: every move is a hand-over, however
    // late a busy machine runs either thread.
    int move = 0;
    for (; move < 300; ++move) {
        std::atomic<int>& heardThere = heard[move % 2 ? 0 : 1];
        const int before = heardThere.load();
        stream.setStreamId(move % 2 ? FakeAudio::stereoOut : FakeAudio::monoOut);
        const bool handedOver = waitFor([&] {
            stream.write(buff<float>(512, 0.25f), false, false, 0.5f);
            return heardThere.load() > before;
        });
        if (!handedOver) break;
    }
    stop = true;
    stereoCard.join();
    monoCard.join();
    stream.setStreamId(0);
    EXPECT_EQ(move, 300) << "the device it moved to never played it";
}

class Microphone : public SoundRig {
protected:
    std::shared_ptr<AudioInputDevice> mic = root->inputDevice(FakeAudio::mic48000);
};

TEST_F(Microphone, TheCallbackFillsTheRingStampsItAndStopsWithoutUsers) {
    card.setMicrophone(FakeAudio::mic48000, [](int64_t n) { return n % 2 ? -0.5f : 0.25f; });
    mic->registerStream();
    unsigned stamp = 0;
    buff<float> ring = mic->getBuffer(&stamp);
    ASSERT_EQ(ring.count, AudioInputDevice::ringSize);
    EXPECT_TRUE(card.isOpen(false, FakeAudio::mic48000));
    card.advance(std::chrono::milliseconds(25)); // three buffers
    mic->getBuffer(&stamp);
    EXPECT_EQ(stamp & 0xFFFF, 1536u);
    EXPECT_EQ(stamp >> 16, audioClock::ticks48k(card.lastCallbackAt(false, FakeAudio::mic48000)) & 0xFFFF);
    EXPECT_EQ(ring[1535], -0.5f);
    EXPECT_EQ(mic->getPeak(), 0.5f);

    // A callback without samples: a fresh stamp, the same position and peak.
    card.advance(std::chrono::milliseconds(3));
    EXPECT_EQ(mic->Callback(nullptr, 512, 0.0), 0);
    EXPECT_EQ(mic->ringStamp(), audioClock::stamp(card.now(), 1536));
    EXPECT_EQ(mic->getPeak(), 0.5f);

    // Samples that are not numbers are stored as silence.
    const float bad[3] = {NAN, INFINITY, 0.75f};
    EXPECT_EQ(AudioInputDevice::copyToCircular(bad, 3, ring.data, 65535), 2);
    EXPECT_EQ(ring[65535], 0.0f);
    EXPECT_EQ(ring[0], 0.0f);
    EXPECT_EQ(ring[1], 0.75f);

    testing::internal::CaptureStdout();
    mic->unregisterStream();
    card.advance(std::chrono::milliseconds(11));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "sf\r\n");
    EXPECT_FALSE(mic->started());
    EXPECT_FALSE(card.isOpen(false, FakeAudio::mic48000));
    buff<float> fresh = mic->getBuffer(&stamp); // opens again, on a new zeroed ring
    EXPECT_NE(fresh.data, ring.data);
    EXPECT_EQ(fresh[100], 0.0f);
    EXPECT_TRUE(card.isOpen(false, FakeAudio::mic48000));
}

// A stream closed as failed may wake (a JACK server that was only stopped)
// and call back beside the one opened after it: it writes nothing, asks to
// end, and its end leaves the device as it is.
TEST_F(Microphone, AStreamClosedAsFailedThatWakesWritesNothing) {
    card.setMicrophone(FakeAudio::mic48000, [](int64_t) { return 0.25f; });
    mic->registerStream();
    unsigned stamp = 0;
    mic->getBuffer(&stamp);
    card.advance(std::chrono::milliseconds(25));
    AudioConsumer* stalled = card.inputs[FakeAudio::mic48000]->owner.load();
    card.stall(false, FakeAudio::mic48000, true);
    card.advance(std::chrono::milliseconds(1100));
    buff<float> ring = mic->getBuffer(&stamp); // closed as failed, and opened again
    AudioConsumer* next = card.inputs[FakeAudio::mic48000]->owner.load();
    ASSERT_NE(next, stalled);
    card.advance(std::chrono::milliseconds(25));
    mic->getBuffer(&stamp);
    EXPECT_EQ(stamp & 0xFFFF, 1536u);

    const std::vector<float> late(512, 0.75f);
    EXPECT_EQ(stalled->Callback(late.data(), 512, 0.0), 2);
    testing::internal::CaptureStdout();
    stalled->StreamFinished();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(mic->ringStamp(), stamp);
    EXPECT_TRUE(std::all_of(ring.begin(), ring.end(), [](float v) { return v != 0.75f; }));
    EXPECT_EQ(mic->getPeak(), 0.25f);
    EXPECT_EQ(mic->state(), streamLife::phase::running);
    card.advance(std::chrono::milliseconds(11));
    mic->getBuffer(&stamp);
    EXPECT_EQ(stamp & 0xFFFF, 2048u); // its writer goes on alone
    mic->unregisterStream();
}

TEST_F(Microphone, ReadersTakeTheRingWholeWhileItIsReplaced) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop.load()) {
                unsigned stamp = 0;
                buff<float> ring = mic->getBuffer(&stamp);
                EXPECT_EQ(ring.count, AudioInputDevice::ringSize);
            }
        });
    ASSERT_TRUE(waitFor([&] { return card.isOpen(false, FakeAudio::mic48000); }));
    const int before = card.opens(false, FakeAudio::mic48000);
    for (int cycle = 0; cycle < 100; ++cycle) {
        mic->registerStream();
        card.advance(std::chrono::milliseconds(11));
        mic->unregisterStream(); // the next callback ends the stream; the readers reopen it
        card.advance(std::chrono::milliseconds(11));
        ASSERT_TRUE(waitFor([&] { return card.isOpen(false, FakeAudio::mic48000); }));
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(card.opens(false, FakeAudio::mic48000), before + 100);
}

} // namespace
