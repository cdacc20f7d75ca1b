// The root object where no sound or MIDI system answers: no ALSA sequencer
// (as in containers) and no JACK server, or one that never answers. The
// start is quiet or bounded, the lists hold "None" only and MIDI runs with
// no ports.
#include "audio/Midi.h"
#include "audio/PortAudioAudioProvider.h"
#include "audio/Wireless.h"

#include "jackServer.h"

#include "core/coreObjectFixture.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/externalTool.h"
#include "support/stdoutCapture.h"
#include "support/waitFor.h"

#include <csignal>
#include <latch>

namespace {

class LoneRoot : public CoreObjects {
protected:
    static void SetUpTestSuite() {
        // Asked quietly; then libjack prints its own way again until the
        // library takes its messages over.
        jack_set_error_function([](const char*) {});
        serves = jackServes();
        jack_set_error_function(nullptr);
        startPrinted = new StderrCapture;
        CoreObjects::SetUpTestSuite(); // init
    }
    static inline bool serves = false;
    static inline StderrCapture* startPrinted = nullptr;
};

TEST_F(LoneRoot, StartsQuietlyListsNoneAndSwitchesMidiOnWithNoPorts) {
    // A library must not write to its host's terminal; libjack complains
    // about the missing server on every client it tries to open.
    std::unique_ptr<StderrCapture> printedAtStart(startPrinted);
    if (serves) {
        printedAtStart->stop();
        VIREO_SKIP_OR_FAIL("a JACK server answers here");
    }
    LogCapture logged;
    spdlog::default_logger()->set_level(spdlog::level::debug);
    void* h = Wireless_create();
    auto root = object<Wireless>(h);
    Wireless_bindoutputDevices(h, host::onCollection<"out", ValueLabelItem_release>);
    Wireless_bindinputDevices(h, host::onCollection<"in", ValueLabelItem_release>);
    Wireless_Init(h, "/tmp");
    onWorker(root, [] {});
    EXPECT_EQ(printedAtStart->stop(), "");
    EXPECT_TRUE(logged.contains("debug|jack: Cannot connect to server socket err = No such file or directory"));
    EXPECT_TRUE(logged.contains("debug|jack: jack server is not running or cannot be started"));

    Wireless_setMidiEnabled(h, true);
    Wireless_SendMidi(h, 0, 3, 0x90, 60, 100);
    // The switch, then its work on the MIDI worker, then the list it sets
    // on the root's lane.
    onWorker(root, [] {});
    bool jack = false;
    std::latch switched(1);
    root->midiJob([&] {
        ASSERT_NE(root->midi, nullptr);
        jack = root->midi->api() == RtMidi::UNIX_JACK;
        EXPECT_TRUE(root->midi->inputs().empty());
        EXPECT_TRUE(root->midi->outputs().empty());
    });
    root->midiJob([&] { switched.count_down(); });
    switched.wait();
    onWorker(root, [] {});
    // An empty list, the same text as before: published, so a bind hears it.
    Wireless_bindMidiDevices(h, host::onText<"midiDevices">);
    ASSERT_TRUE(host::pollUntil([] { getUpdates(); }, [&] { return !log.of("midiDevices").empty(); }));
    EXPECT_EQ(log.of("midiDevices")[0].args[0], "");
    for (const char* list : {"out", "in"}) {
        ASSERT_EQ(log.of(list).size(), 1u) << list;
        EXPECT_EQ(object<ValueLabelItem>(log.of(list)[0].handle)->Label.get(), "None");
    }
    if (!jack) VIREO_SKIP_OR_FAIL("this machine's default MIDI interface works: the JACK fallback is not used");
    size_t fallback = 0;
    for (auto& line : logged.lines()) {
        fallback += line.starts_with("info|midi: ") && line.ends_with("; using JACK");
        EXPECT_FALSE(line.starts_with("error|")) << line;
    }
    EXPECT_EQ(fallback, 1u);

    // The host's shut-down: the sound library ends for good.
    StdoutCapture printed;
    Wireless_Close(h);
    onWorker(root, [] {});
    const std::string out = printed.stop();
    EXPECT_NE(out.find("ap close\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ap closed\r\n"), std::string::npos) << out;
    Wireless_release(h);
}

// A JACK server stopped with SIGSTOP answers no client's open, as one that
// is wedged or starved. The root starts all the same, without devices, and
// the sound library closes; the probe of the tests gives up as well.
using StoppedServer = CoreObjects;

TEST_F(StoppedServer, TheRootStartsWithoutDevicesAndTheSoundLibraryCloses) {
    if (!tool::available("jackd")) VIREO_SKIP_OR_FAIL("jackd is not installed");
    PrivateJackServer server(VIREO_JACKD_SCRIPT, VIREO_JACK_SERVER "-stopped", VIREO_JACK_DIR "-stopped");
    const int jackd = server.pid();
    ASSERT_GT(jackd, 0) << "the test's own JACK server did not start:\n" << server.why();
    ASSERT_TRUE(server.serveThisProcess());
    ASSERT_EQ(kill(jackd, SIGSTOP), 0);
    LogCapture logged;
    std::atomic<void*> h{nullptr};
    std::thread start([&] { h = Wireless_create(); });
    const bool started = waitFor([&] { return h.load() != nullptr; }, std::chrono::seconds(30));
    EXPECT_FALSE(jackServes(std::chrono::seconds(1)));
    if (started) closeAudio(); // still stopped
    kill(jackd, SIGCONT); // lets a start that hung end, whatever the outcome
    start.join();
    ASSERT_TRUE(started) << "the root's start waited for the stopped server";
    EXPECT_TRUE(logged.contains("error|PortAudio did not start within 5 s: no sound devices"));
    EXPECT_EQ(object<Wireless>(h.load())->outputDeviceObjects.size(), 1u);
    EXPECT_EQ(object<Wireless>(h.load())->inputDeviceObjects.size(), 1u);
    // The worker left behind ends the library once the server answers.
    EXPECT_TRUE(waitFor([] { return static_cast<PortAudioAudioProvider*>(AudioProvider::getInstance())->terminated(); },
                        std::chrono::seconds(30)));
    Wireless_release(h.load());
}

} // namespace
