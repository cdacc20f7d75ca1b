// The PortAudio back-end on a machine without sound devices (JACK is pointed
// at a server that does not run): only the "None" entries, silence, and the
// shut-down.
#include "audio/AudioStreams.h"
#include "audio/PortAudioAudioProvider.h"

#include "support/logCapture.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

namespace {

AudioProvider* withoutDevices() {
    auto* ap = AudioProvider::getInstance();
    if (ap->outputs.size() > 1 || ap->inputs.size() > 1) return nullptr;
    return ap;
}

#define NEEDS_NO_DEVICES(ap)                                                                                         \
    auto* ap = withoutDevices();                                                                                     \
    if (!ap) GTEST_SKIP() << "this machine has sound devices"

TEST(PortAudioWithoutDevices, ListsHoldOnlyTheNoneEntries) {
    NEEDS_NO_DEVICES(ap);
    EXPECT_NE(dynamic_cast<PortAudioAudioProvider*>(ap), nullptr);
    EXPECT_EQ(ap, AudioProvider::getInstance());
    EXPECT_EQ(ap->outputs[0]->name, "None");
    EXPECT_EQ(ap->outputs[0]->device, -1);
    EXPECT_EQ(ap->outputs[0]->rate, 48000);
    EXPECT_EQ(ap->outputs[0]->channels, 2);
    EXPECT_EQ(ap->inputs[0]->name, "None");
    EXPECT_EQ(ap->inputs[0]->rate, 48000);
    EXPECT_EQ(ap->inputs[0]->channels, 1);
    EXPECT_EQ(ap->defaultAudioInputDevice(), 0);
    EXPECT_EQ(ap->defaultAudioOutputDevice(), 0);
}

TEST(PortAudioWithoutDevices, StreamIdZeroIsSilentAndOthersAreRefused) {
    NEEDS_NO_DEVICES(ap);
    LogCapture log;
    AudioInputStream in(0);
    buff<float> mic(480, 1.0f);
    in.read(mic);
    for (float s : mic) EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(in.getPeak(), 0.0f);
    in.setStreamId(3);
    in.setStreamId(-1);
    EXPECT_EQ(in.streamId(), 0);
    EXPECT_EQ(log.count("error|Invalid audio stream id 3"), 1u);
    EXPECT_EQ(log.count("error|Invalid audio stream id -1"), 1u);

    AudioOutputStream out;
    out.write(buff<float>(512, 0.5f), true, false, 0.5f); // nothing attached: no effect
    out.setStreamId(1);
    EXPECT_EQ(out.streamId(), 0);
    EXPECT_EQ(log.count("error|Invalid op audio stream id 1"), 1u);
    out.setStreamId(0);
    EXPECT_EQ(out.streamId(), 0);
}

TEST(PortAudioWithoutDevices, OpeningNoneOpensNothing) {
    NEEDS_NO_DEVICES(ap);
    LogCapture log;
    AudioProducer producer;
    AudioConsumer consumer;
    ap->OpenOutput(0, &producer);
    ap->OpenInput(0, &consumer);
    ap->CloseOutput(0);
    ap->CloseInput(0);
    ap->OpenOutput(5, &producer); // outside the list
    EXPECT_TRUE(waitFor([&] { return log.contains("info|pa_start op -1") && log.contains("info|pa_start inp -1"); }));
    EXPECT_EQ(ap->outputs[0]->stream, nullptr);
    EXPECT_TRUE(log.contains("error|OpenOutput: no output 5"));
}

// Last: the back-end stays closed for the rest of the process.
TEST(PortAudioWithoutDevices, ClosePrintsItsSixLinesOnceAndMayBeRepeated) {
    NEEDS_NO_DEVICES(ap);
    testing::internal::CaptureStdout();
    ap->Close();
    ap->Close(); // returns at once
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ap close\r\npa close op\r\npa close ip\r\npa term\r\npa termed\r\nap closed\r\n");
    EXPECT_TRUE(static_cast<PortAudioAudioProvider*>(ap)->terminated());
    AudioProducer producer;
    ap->OpenOutput(0, &producer); // no effect
}

} // namespace
