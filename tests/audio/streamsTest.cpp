// The transceivers' audio streams on the simulated card, and the root
// object's device lists they pick their devices from.
#include "audio/AudioStreams.h"
#include "core/TestRadio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "core/vtrx.h"

#include "soundRig.h"
#include "core/drainTasks.h"
#include "support/logCapture.h"

#include <algorithm>

namespace {

class Streams : public SoundRig {};

TEST_F(Streams, TheRootObjectListsEveryDeviceAtItsPosition) {
    auto labels = [](const asyncCollection<ValueLabelItem>& c) {
        std::vector<std::pair<int, std::string>> v;
        for (auto& item : c.items()) v.emplace_back(item->Value.get(), item->Label.get());
        return v;
    };
    using list = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(labels(root->outputDevices), (list{{0, "None"}, {1, "Fake stereo"}, {2, "Fake mono"}}));
    EXPECT_EQ(labels(root->inputDevices), (list{{0, "None"}, {1, "Fake mic 48000"}, {2, "Fake mic 44100"}}));
    EXPECT_EQ(root->outputDevice(2)->channels, 1);
    EXPECT_EQ(root->outputDevice(0)->name, "None");
    EXPECT_EQ(root->inputDevice(2)->rate, 44100);
    EXPECT_EQ(root->outputDevice(3), nullptr);
    EXPECT_EQ(Wireless::getInstance(), root.get());
    EXPECT_EQ(card.deviceChanged, &addDevice);

    LogCapture log;
    auto second = std::make_shared<Wireless>(group);
    EXPECT_TRUE(log.contains("error|Wireless ctor called again"));
    EXPECT_EQ(second->outputDeviceObjects.size(), 3u); // complete, but nobody reaches it
    EXPECT_EQ(Wireless::getInstance(), root.get());
    second.reset();
    EXPECT_EQ(Wireless::getInstance(), root.get());
}

TEST_F(Streams, OutputStreamIdsAreCheckedAndMoveTheRing) {
    LogCapture log;
    AudioOutputStream out;
    out.write(buff<float>(512, 0.5f), false, false, 0.5f); // detached: dropped
    out.setStreamId(3);
    out.setStreamId(-1);
    EXPECT_EQ(out.streamId(), 0);
    out.setStreamId(FakeAudio::stereoOut);
    out.setStreamId(FakeAudio::stereoOut); // the same again: only the line
    out.setStreamId(FakeAudio::monoOut);
    EXPECT_EQ(out.io->channels, 1);
    out.setStreamId(3);
    EXPECT_EQ(out.streamId(), FakeAudio::monoOut);
    card.advance(std::chrono::milliseconds(11));
    EXPECT_EQ(root->outputDevice(FakeAudio::stereoOut)->attachedStreams(), 0);
    EXPECT_EQ(root->outputDevice(FakeAudio::monoOut)->attachedStreams(), 1);
    EXPECT_EQ(root->outputDevice(FakeAudio::monoOut)->activeStreams(), 1u);
    EXPECT_EQ(out.io->writePosition(), 0); // nothing written while detached
    // The new id first, then the current one.
    EXPECT_EQ(log.count("info|set op stream id 1 1"), 1u);
    EXPECT_EQ(log.count("info|set op stream id 3 2"), 1u);
    EXPECT_EQ(log.count("error|Invalid op audio stream id 3"), 2u);
    EXPECT_EQ(log.count("error|Invalid op audio stream id -1"), 1u);
    out.setStreamId(0);
}

TEST_F(Streams, WithoutARootObjectStreamsStayDetached) {
    root.reset();
    LogCapture log;
    AudioOutputStream out;
    out.setStreamId(FakeAudio::stereoOut);
    AudioInputStream in;
    in.setStreamId(FakeAudio::mic48000);
    EXPECT_EQ(out.streamId(), 0);
    EXPECT_EQ(in.streamId(), 0);
    EXPECT_TRUE(log.contains("error|op audio stream id 1: no root object with that device"));
    EXPECT_TRUE(log.contains("error|audio stream id 1: no root object with that device"));
}

class MicrophoneStream : public SoundRig {
protected:
    void SetUp() override {
        // Each sample carries its own number, so a read shows where it read.
        card.setMicrophone(FakeAudio::mic48000, [](int64_t n) { return float(n % 65536); });
    }
    std::vector<float> read(AudioInputStream& in, size_t n = 512) {
        buff<float> out(n);
        in.read(out);
        return {out.begin(), out.end()};
    }
    int64_t written() { return card.callbacks(false, FakeAudio::mic48000) * 512; }
};

TEST_F(MicrophoneStream, ReadsBehindTheWriterAndResynchronises) {
    AudioInputStream in(0);
    EXPECT_EQ(read(in)[0], 0.0f);
    EXPECT_EQ(in.getPeak(), 0.0f);
    EXPECT_FALSE(card.isOpen(false, FakeAudio::mic48000)); // id 0 opens nothing

    in.setStreamId(FakeAudio::mic48000);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(read(in)[0], 0.0f); // before it delivers: silence, not running dry
    EXPECT_EQ(in.margin(), -2048);
    card.advance(std::chrono::milliseconds(200));
    auto first = read(in); // the first read starts 2048 behind the writer
    EXPECT_EQ(first[0], float(written() - 2048));
    EXPECT_EQ(first[511], float(written() - 2048 + 511));
    EXPECT_FLOAT_EQ(in.getPeak(), float(written() - 1));

    // Regular reads continue where the last one stopped.
    float last = first[511];
    EXPECT_EQ(in.resyncs(), 1u);
    for (int k = 0; k < 20; ++k) {
        card.advance(std::chrono::nanoseconds(int64_t(blockNs)));
        auto block = read(in);
        EXPECT_EQ(block[0], last + 1) << k;
        last = block[511];
    }
    // 100 ms apart is still in step; 101 ms starts over 2048 behind.
    card.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(read(in)[0], last + 1);
    EXPECT_EQ(in.resyncs(), 1u);
    card.advance(std::chrono::milliseconds(101));
    EXPECT_EQ(read(in)[0], float(written() - 2048));
    EXPECT_EQ(in.margin(), -2048);
    EXPECT_EQ(in.resyncs(), 2u);

    // Reads that run dry while regular move further behind each time.
    std::vector<int> margins;
    for (int k = 0; k < 40; ++k) {
        read(in);
        if (margins.empty() || margins.back() != in.margin()) margins.push_back(in.margin());
    }
    EXPECT_EQ(margins, (std::vector<int>{-2048, -3072, -4608, -6912, -8192}));
    card.advance(std::chrono::milliseconds(150));
    auto block = read(in);
    EXPECT_EQ(block[0], float(written() - 8192)); // the margin never returns

    // A writer that is late (the card misses its buffers): reads go on until
    // they run dry, then give silence, each a gap and no jump, keeping their
    // place; once the card delivers again they go on where they stopped.
    auto silent = [](const std::vector<float>& b) {
        return std::all_of(b.begin(), b.end(), [](float v) { return v == 0.0f; });
    };
    const uint64_t resyncs = in.resyncs();
    card.stall(false, FakeAudio::mic48000, true);
    card.advance(std::chrono::milliseconds(20));
    last = block[511];
    int inStep = 0;
    for (block = read(in); !silent(block) && inStep < 20; block = read(in), ++inStep) {
        EXPECT_EQ(block[0], last + 1) << inStep;
        last = block[511];
    }
    EXPECT_EQ(inStep, 14); // 7680 left: the 15th block lacks the sample after it
    EXPECT_EQ(in.gaps(), 1u);
    EXPECT_TRUE(silent(read(in)));
    EXPECT_EQ(in.gaps(), 2u);
    card.stall(false, FakeAudio::mic48000, false);
    card.advance(std::chrono::milliseconds(1)); // its next buffer
    EXPECT_EQ(read(in)[0], last + 1);
    EXPECT_EQ(in.gaps(), 2u);
    EXPECT_EQ(in.resyncs(), resyncs);
    EXPECT_EQ(in.margin(), -8192);
}

TEST_F(MicrophoneStream, LeavingTheDeviceRestoresItsUsers) {
    auto mic = root->inputDevice(FakeAudio::mic44100);
    const int users = mic->users.load();
    {
        AudioInputStream in(FakeAudio::mic44100);
        EXPECT_EQ(mic->users.load(), users + 1);
        in.setStreamId(0);
        EXPECT_EQ(mic->users.load(), users);
    }
    EXPECT_EQ(mic->users.load(), users);
    {
        AudioInputStream in(FakeAudio::mic44100);
    }
    EXPECT_EQ(mic->users.load(), users);
}

// Transmits the microphone as it is and plays what it receives.
struct EchoMode : modDemod {
    explicit EchoMode(std::shared_ptr<syncTask> g) : modDemod(std::move(g)) { txFiltered = false; }
    void modulate(buff<std::complex<float>> in, buff<std::complex<float>> out) override {
        for (size_t i = 0; i < out.count && i < in.count; ++i) out[i] = in[i];
    }
    buff<float> demodulate(buff<std::complex<float>> block) override {
        buff<float> audio(block.count);
        for (size_t i = 0; i < block.count; ++i) audio[i] = block[i].real();
        return audio;
    }
};

TEST_F(Streams, ATransceiverLoopsItsMicrophoneToItsSpeakerThroughTheTestRadio) {
    // A 44100 Hz microphone, read at 48000.
    card.setMicrophone(FakeAudio::mic44100, [](int64_t n) {
        return float(0.3 * std::sin(2 * std::numbers::pi * 1000.0 * double(n) / 44100));
    });
    auto radio = std::make_shared<TestRadio>(group);
    auto mode = std::make_shared<EchoMode>(group);
    onGroup(radio, [&] { radio->start(); });
    std::shared_ptr<vtrx> v;
    {
        std::lock_guard<std::mutex> l(radio->listMutex);
        v = radio->vtrxList.front();
    }
    card.startPacing(); // the card keeps time with the radio, which runs on the real clock
    onGroup(v, [&] {
        v->setModulation(mode);
        v->txagc.get()->Volume.hostSet(1.0f); // hear the transmission
        v->audioInput.hostSet(FakeAudio::mic44100);
        v->start(); // the output: the default, the fake stereo speaker
        v->ptt.hostSet(true);
    });
    auto heard = [&] {
        auto p = card.played(FakeAudio::stereoOut);
        std::vector<float> left;
        for (size_t i = p.size() > 2 * 24000 ? p.size() - 2 * 24000 : 0; i < p.size(); i += 2) left.push_back(p[i]);
        return left;
    };
    auto crossings = [](const std::vector<float>& x) {
        int c = 0;
        for (size_t i = 1; i < x.size(); ++i) c += x[i - 1] < 0 && x[i] >= 0;
        return c;
    };
    // Half a second of the tone, near 1 kHz (the speaker's ring steers to
    // the card's clock).
    EXPECT_TRUE(waitFor(
        [&] {
            auto h = heard();
            return h.size() == 24000 && std::abs(crossings(h) - 500) <= 3 &&
                   *std::max_element(h.begin(), h.end()) > 0.1f;
        },
        std::chrono::seconds(20)));
    onGroup(v, [&] { v->ptt.hostSet(false); });
    onGroup(radio, [&] { radio->stop(); });
    drainDataTasks(radio);
    drainDataTasks(v);
    card.stopPacing();
}

} // namespace
