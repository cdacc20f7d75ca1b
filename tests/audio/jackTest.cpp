// The sound devices on a real, paced sound server: JACK with its dummy
// driver (tests/audio/jackd.sh), reached through PortAudio.
#include "audio/AudioStreams.h"
#include "audio/PortAudioAudioProvider.h"
#include "audio/Wireless.h"
#include "core/TestRadio.h"
#include "core/modDemod.h"
#include "core/vtrx.h"

#include "core/coreObjectFixture.h"
#include "core/drainTasks.h"
#include "framework/objectFixture.h"
#include "jackServer.h"
#include "support/logCapture.h"
#include "support/externalTool.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <jack/jack.h>
#include <pa_jack.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Demodulates anything into a 1 kHz tone.
struct ToneMode : modDemod {
    using modDemod::modDemod;
    buff<float> demodulate(buff<std::complex<float>>) override {
        buff<float> b(512);
        for (auto& s : b) s = float(0.3 * std::sin(2 * std::numbers::pi * 1000.0 * double(n++) / 48000));
        {
            std::lock_guard<std::mutex> l(m);
            made.push_back(std::chrono::steady_clock::now());
        }
        blocks.fetch_add(1);
        return b;
    }
    /// How far the latest of blocks [from, to) came behind the earliest,
    /// against one block every 512 samples, in samples.
    double lag(int from, int to) {
        std::lock_guard<std::mutex> l(m);
        double early = 0, late = 0;
        for (int k = from; k < to && k < int(made.size()); ++k) {
            const double behind = std::chrono::duration<double>(made[size_t(k)] - made[size_t(from)]).count() * 48000 -
                                  512.0 * (k - from);
            early = std::min(early, behind);
            late = std::max(late, behind);
        }
        return late - early;
    }
    /// Blocks after block `from` that came more than `by` samples behind it,
    /// against one block every 512 samples.
    int behind(int from, double by) {
        std::lock_guard<std::mutex> l(m);
        int count = 0;
        for (size_t k = size_t(from) + 1; k < made.size(); ++k)
            count += std::chrono::duration<double>(made[k] - made[size_t(from)]).count() * 48000 -
                         512.0 * double(k - size_t(from)) >
                     by;
        return count;
    }
    int64_t n = 0;
    std::atomic<int> blocks{0};
    std::mutex m;
    std::vector<std::chrono::steady_clock::time_point> made;
};

/// Connects PortAudio's first output port to its input port, so that the
/// microphone hears what plays.
bool patchOutputToInput() {
    const char* pa = nullptr;
    if (PaJack_GetClientName(&pa) != paNoError || !pa) return false;
    jack_status_t status;
    jack_client_t* c = jack_client_open("vireo-patch", JackNoStartServer, &status);
    if (!c) return false;
    const int r = jack_connect(c, (std::string(pa) + ":out_0").c_str(), (std::string(pa) + ":in_0").c_str());
    jack_client_close(c);
    return r == 0;
}

class Jack : public ObjectTest {
protected:
    void SetUp() override {
        if (!jackServes()) VIREO_SKIP_OR_FAIL("jackd is not running: tests/audio/jackd.sh starts it (ctest does)");
    }

    /// The root object lives as long as the process, as a host keeps it: the
    /// server's threads may still be finishing a stream of its devices when
    /// a test ends.
    static const std::shared_ptr<Wireless>& theRoot() {
        static auto* lane = new sothreadPool(1);
        static auto* root = new std::shared_ptr<Wireless>(std::make_shared<Wireless>(std::make_shared<syncTask>(*lane)));
        return *root;
    }
    const std::shared_ptr<Wireless>& root = theRoot();

    /// Stops the test radio, if a test made one, whatever way it ended.
    void TearDown() override {
        if (!radio) return;
        onGroup(radio, [&] { radio->stop(); });
        drainDataTasks(radio);
        if (v) drainDataTasks(v);
    }
    std::shared_ptr<TestRadio> radio;
    std::shared_ptr<vtrx> v;
};

TEST_F(Jack, ListsAreNoneAndSystem) {
    auto* ap = AudioProvider::getInstance();
    ASSERT_EQ(ap->outputs.size(), 2u);
    ASSERT_EQ(ap->inputs.size(), 2u);
    EXPECT_EQ(ap->outputs[1]->name, "system");
    EXPECT_EQ(ap->outputs[1]->channels, 2);
    EXPECT_EQ(ap->inputs[1]->name, "system");
    EXPECT_EQ(ap->inputs[1]->rate, 48000);
    EXPECT_EQ(ap->defaultAudioOutputDevice(), 1);
    EXPECT_EQ(ap->defaultAudioInputDevice(), 1);
}

TEST_F(Jack, ATestRadioTransceiverPlaysAToneThatTheMicrophoneHears) {
    LogCapture log;
    radio = std::make_shared<TestRadio>(group);
    auto mode = std::make_shared<ToneMode>(group);
    onGroup(radio, [&] { radio->start(); }); // makes a transceiver on the default devices
    {
        std::lock_guard<std::mutex> l(radio->listMutex);
        v = radio->vtrxList.front();
    }
    onGroup(v, [&] {
        v->setModulation(mode);
        v->start();
    });
    AudioInputStream mic(1);
    auto output = root->outputDevice(1);
    auto input = root->inputDevice(1);
    const audioIO& io = *v->outputStream.io;
    // Both streams run once their callbacks have stamped their rings.
    ASSERT_TRUE(waitFor([&] { return io.readerStamp() != 0 && input->ringStamp() != 0; }));
    ASSERT_TRUE(patchOutputToInput());

    // Three seconds of tone; the microphone is read whenever a block is there.
    // The microphone's stamps also give the server's clock against the
    // steady clock: frames written per 48 kHz tick, fitted over every stamp.
    std::vector<float> heard;
    std::vector<std::pair<double, double>> clock; // (ticks, frames), unwrapped
    double ticks = 0, frames = 0;
    unsigned previous = input->ringStamp();
    const int start = mode->blocks.load(), seconds = 3;
    while (mode->blocks.load() < start + seconds * 48000 / 512) {
        ASSERT_TRUE(waitFor([&] { return uint16_t(input->ringStamp() - previous) >= 512; }));
        const unsigned now = input->ringStamp();
        ticks += uint16_t((now >> 16) - (previous >> 16));
        frames += uint16_t(now - previous);
        clock.emplace_back(ticks, frames);
        previous = now;
        buff<float> block(512);
        mic.read(block);
        heard.insert(heard.end(), block.begin(), block.end());
    }
    double st = 0, sf = 0, stt = 0, stf = 0;
    for (auto [t, f] : clock) {
        st += t;
        sf += f;
        stt += t * t;
        stf += t * f;
    }
    const double n = double(clock.size());
    const double slope = (n * stf - st * sf) / (n * stt - st * st), serverPpm = (slope - 1) * 1e6;
    // How far apart the server's callbacks strayed from its own steady pace,
    // in frames: the ring reckons where its reader is from the latest one.
    double early = 0, tardy = 0;
    for (auto [t, f] : clock) {
        const double off = f - (sf - slope * st) / n - slope * t;
        early = std::max(early, off);
        tardy = std::min(tardy, off);
    }
    const double jitter = early - tardy;
    // The ring first, then the blocks: a block made after this is only one
    // more counted late.
    const double target = io.target();
    const long repositions = io.repositions();
    const double ppm = (io.ratio() - 1) * 1e6;
    const double lag = mode->lag(start, mode->blocks.load());
    // The ring drops the warm-up's blocks, seeds its fill average with the
    // next one and places the writer `target` (512) frames ahead of the
    // reader with the one after. A later write finds the ring dry only when
    // its block came more than that behind the block that placed the writer,
    // less what the ratio's steering and the moment between making a block
    // and writing it take off (two milliseconds here) and how far the
    // server's callbacks strayed; a writer moved anew is placed behind a
    // block later still. Each dry write grows the target by 10/9; the writer
    // is moved anew from the fourth dry write on, and at a write so late
    // that the ring's 16-bit fill wraps.
    const int primed = audioIO::warmUpBlocks + 1;
    const double by = 512.0 - 96.0 - jitter;
    const int late = mode->behind(primed, by), wrapped = mode->behind(primed, 32768.0 + by);
    double mostTarget = 512.0;
    for (int k = 0; k < late; ++k)
        if (mostTarget < 8192.0) mostTarget *= 10.0 / 9.0;
    const long mostRepositions = 1 + std::max(0, late - 3) + wrapped;
    std::printf("jack: server clock %+.0f ppm; ratio after %d s %.6f (%+.1f ppm), fill %d, target %.1f, "
                "repositions %ld; blocks made up to %.0f samples late, %d a period late; server jitter %.0f\n",
                serverPpm, seconds, io.ratio(), ppm, io.lastFill(), target, repositions, lag, late, jitter);
    // Timing is checked exactly where it means something: not in a build
    // slowed down by a sanitizer, nor when the server lost time, starved of
    // the processor itself by a machine loaded far beyond its cores, nor when
    // the transceiver's chain was kept waiting longer than the ring's target
    // holds (the ring is right to grow it then, as far as the blocks came
    // late). A server that lost time leaves the ring's fill estimate wrong,
    // and then only the tone is checked.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const bool instrumented = true;
#else
    const bool instrumented = false;
#endif
    // The radio hands out its blocks in turns of 10 ms, so a block comes up
    // to one turn late (some 480 samples, a little more with the turn's own
    // delay). A chain kept waiting longer than a server period (512) and a
    // millisecond can let the ring run dry.
    const bool serverStarved = std::abs(serverPpm) >= 1000, chainStarved = lag > 512.0 + 48.0;
    const bool timed = !serverStarved && !chainStarved && !instrumented;
    if (timed) {
        EXPECT_EQ(target, 512.0);  // grows at any underrun
        EXPECT_EQ(repositions, 1); // priming only
        EXPECT_LT(std::abs(ppm), 3000.0);
    } else if (!serverStarved) {
        EXPECT_GE(target, 512.0);
        EXPECT_LE(target, mostTarget);
        EXPECT_GE(repositions, 1);
        EXPECT_LE(repositions, mostRepositions);
    } else {
        std::printf("jack: the server was starved; the ring's timing not checked\n");
    }

    // The last second the microphone heard: the tone, near 1 kHz. Its pitch
    // is the median spacing of its rising zero crossings (placed between
    // samples), which the gaps and joins of a late chain leave where it is;
    // with the chain in time, the count of crossings also shows none.
    ASSERT_GT(heard.size(), timed ? 48000u : 4800u);
    std::vector<float> last(heard.end() - std::min<size_t>(heard.size(), 48000), heard.end());
    int crossings = 0;
    float peak = 0;
    std::vector<double> at, spacing;
    for (size_t i = 1; i < last.size(); ++i) {
        if (last[i - 1] < 0 && last[i] >= 0) {
            ++crossings;
            at.push_back(double(i - 1) + double(last[i - 1]) / double(last[i - 1] - last[i]));
        }
        peak = std::max(peak, std::abs(last[i]));
    }
    EXPECT_GT(peak, 0.05f);
    for (size_t i = 1; i < at.size(); ++i) spacing.push_back(at[i] - at[i - 1]);
    ASSERT_GT(spacing.size(), 50u);
    std::nth_element(spacing.begin(), spacing.begin() + long(spacing.size() / 2), spacing.end());
    EXPECT_NEAR(48000.0 / spacing[spacing.size() / 2], 1000.0, 5.0);
    EXPECT_EQ(mic.margin(), AudioInputStream::initialMargin); // read in step throughout
    if (timed) {
        EXPECT_NEAR(crossings, 1000, 5);
    }

    // The last stream gone, the device stops by itself and opens again for
    // the next one; nothing fails on the way.
    TearDown();
    radio = nullptr;
    ASSERT_TRUE(waitFor([&] { return !output->started(); }));
    auto next = std::make_shared<audioIO>();
    output->registerStream(next);
    EXPECT_TRUE(waitFor([&] { return next->readerStamp() != 0; }));
    output->unregisterStream(next);
    EXPECT_TRUE(waitFor([&] { return !output->started(); }));
    for (auto& line : log.lines()) EXPECT_EQ(line.rfind("error", 0), std::string::npos) << line;
}

// The back-end stays closed for the rest of the process.
TEST_F(Jack, CloseEndsOpenStreamsWithItsSixLinesAndASecondCloseReturns) {
    auto io = std::make_shared<audioIO>();
    auto output = root->outputDevice(1);
    auto input = root->inputDevice(1);
    output->registerStream(io);
    input->registerStream();
    unsigned stamp = 0;
    input->getBuffer(&stamp);
    ASSERT_TRUE(waitFor([&] { return io->readerStamp() != 0 && input->ringStamp() != 0; }));

    auto* provider = static_cast<PortAudioAudioProvider*>(AudioProvider::getInstance());
    testing::internal::CaptureStdout();
    provider->Close();
    // A server starved of the processor may hold the worker's stops longer
    // than the close waits for it: the close then returns first, and the
    // worker ends on its own.
    const bool waited = provider->terminated();
    provider->Close();
    EXPECT_TRUE(waitFor([&] { return provider->terminated(); }));
    const std::string printed = testing::internal::GetCapturedStdout();
    size_t at = 0;
    for (const char* line : {"ap close\r\n", "pa close op\r\n", "pa close ip\r\n", "pa term\r\n", "pa termed\r\n",
                             "ap closed\r\n"}) {
        const size_t found = printed.find(line, waited || std::strcmp(line, "ap closed\r\n") != 0 ? at : 0);
        ASSERT_NE(found, std::string::npos) << line << " in order, in:\n" << printed;
        at = std::max(at, found + std::strlen(line));
    }
    if (!waited) std::printf("close: the worker was held, and ended after the close returned\n");
    EXPECT_EQ(printed.find("ap close\r\n", printed.find("ap close\r\n") + 1), std::string::npos)
        << "the second Close prints nothing";
    const unsigned frozen = input->ringStamp();
    output->unregisterStream(io);
    input->unregisterStream();
    EXPECT_EQ(input->ringStamp(), frozen); // no callback after the close
}

/// A JACK client of the test's own that plays a sine of `hz` at `level`, and
/// counts the xruns the server reports.
struct JackTone {
    JackTone(double hz, float level) : level(level) {
        jack_status_t status;
        client = jack_client_open("vireo-tone", JackNoStartServer, &status);
        if (!client) return;
        step = 2 * std::numbers::pi * hz / double(jack_get_sample_rate(client));
        port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, &JackTone::process, this);
        jack_set_xrun_callback(client, &JackTone::xrun, this);
        jack_activate(client);
    }
    ~JackTone() {
        if (client) jack_client_close(client);
    }
    bool playInto(const std::string& to) { return port && jack_connect(client, jack_port_name(port), to.c_str()) == 0; }
    /// The audio ports of that JACK client with those flags (all for 0).
    std::vector<std::string> portsOf(const std::string& to, unsigned long flags = 0) {
        std::vector<std::string> names;
        const std::string pattern = "^" + to + ":";
        const char** ports = jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags);
        for (size_t i = 0; ports && ports[i]; ++i) names.emplace_back(ports[i]);
        jack_free(ports);
        return names;
    }
    /// The audio input ports of that JACK client: one per open input stream.
    std::vector<std::string> inputsOf(const std::string& to) { return portsOf(to, JackPortIsInput); }
    /// Plays into every input port of that JACK client that it does not play
    /// into yet, as a patchbay keeps a source on a program's inputs; how many
    /// it joined.
    int patchInto(const std::string& to) {
        int joined = 0;
        for (const auto& input : inputsOf(to))
            joined += port && !jack_port_connected_to(port, input.c_str()) && playInto(input);
        return joined;
    }
    static int xrun(void* self) {
        static_cast<JackTone*>(self)->xruns.fetch_add(1);
        return 0;
    }
    static int process(jack_nframes_t frames, void* self) {
        auto& t = *static_cast<JackTone*>(self);
        auto* out = static_cast<float*>(jack_port_get_buffer(t.port, frames));
        for (jack_nframes_t i = 0; i < frames; ++i, t.phase = std::fmod(t.phase + t.step, 2 * std::numbers::pi))
            out[i] = t.level * float(std::sin(t.phase));
        return 0;
    }
    float level;
    /// Cycles the server reported lost: a client it starved missed one.
    std::atomic<int> xruns{0};
    double step = 0, phase = 0;
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
};

// A microphone whose JACK server stalls (stopped, then let go on) and at last
// goes away while it is read: each time the stream stops calling back
// without finishing. On a server of the test's own, which the sound
// back-end, made once per process, is made for: the test runs in a process
// of its own (ctest runs each so).
TEST(JackServerGoes, AMicrophoneHasOneWriterAfterAStallAndIsClosedAsFailedWhenItsServerGoes) {
    if (!tool::available("jackd")) VIREO_SKIP_OR_FAIL("jackd is not installed");
    PrivateJackServer server(VIREO_JACKD_SCRIPT, VIREO_JACK_SERVER "-gone", VIREO_JACK_DIR "-gone");
    ASSERT_GT(server.pid(), 0) << "the test's own JACK server did not start:\n" << server.why();
    ASSERT_TRUE(server.serveThisProcess());
    LogCapture logged;
    // Kept for the process, as a host keeps its root.
    static auto* lane = new sothreadPool(1);
    static auto* root = new std::shared_ptr<Wireless>(std::make_shared<Wireless>(std::make_shared<syncTask>(*lane)));
    auto input = (*root)->inputDevice(1);
    ASSERT_NE(input, nullptr);
    AudioInputStream mic(1);
    ASSERT_TRUE(waitFor([&] { return input->ringStamp() != 0; }));
    const char* pa = nullptr;
    ASSERT_EQ(PaJack_GetClientName(&pa), paNoError);
    JackTone tone(730, 0.4f);
    if (!tone.playInto(std::string(pa) + ":in_0"))
        VIREO_SKIP_OR_FAIL("this process's sound back-end plays on another JACK server: run the test alone");

    // Read as a transmitting transceiver does: 512 samples every 512
    // samples' time, each block noted with the moment it was read, whether
    // the reader started over behind the writer for it, and the xruns the
    // server had reported by then.
    std::vector<float> heard;
    std::vector<std::chrono::steady_clock::time_point> readAt;
    std::vector<bool> startedOver;
    std::vector<int> xrunsBy;
    auto readFor = [&](std::chrono::milliseconds length) {
        const auto end = std::chrono::steady_clock::now() + length;
        for (auto next = std::chrono::steady_clock::now(); next < end; next += std::chrono::microseconds(10667)) {
            std::this_thread::sleep_until(next);
            buff<float> block(512);
            const uint64_t resyncs = mic.resyncs();
            mic.read(block);
            heard.insert(heard.end(), block.begin(), block.end());
            readAt.push_back(std::chrono::steady_clock::now());
            startedOver.push_back(mic.resyncs() != resyncs);
            xrunsBy.push_back(tone.xruns.load());
        }
    };
    // Where a join is no second writer's: the reader started over there (a
    // read that came late, as on a machine busy beyond its cores, jumps),
    // or the server reported an xrun (a client it starved missed a cycle, so
    // a block is lost or played twice) within as many blocks as the reader
    // keeps behind the writer, either way, for the report may come late.
    auto disturbed = [&](size_t n) {
        const size_t block = n / 512, last = xrunsBy.size() - 1;
        const size_t behind = size_t(-AudioInputStream::widestMargin) / 512 + 4;
        const bool xrun = xrunsBy[std::min(block + behind, last)] != xrunsBy[block > behind ? block - behind : 0];
        return xrun || (n % 512 == 0 && startedOver[block]);
    };
    // Joins in the tone from sample `from` on: three samples in a row, none
    // silent, that do not follow one sine (a join disturbs two such
    // triples), other than where it was disturbed.
    auto splices = [&](size_t from) {
        const double c = 2 * std::cos(2 * std::numbers::pi * 730 / 48000);
        int joins = 0;
        bool inJoin = false;
        for (size_t n = std::max<size_t>(from, 1); n + 1 < heard.size(); ++n) {
            const double a = heard[n - 1], b = heard[n], d = heard[n + 1];
            const bool off = a != 0 && b != 0 && d != 0 && std::abs(a + d - c * b) > 0.01 && !disturbed(n) &&
                             !disturbed(n + 1);
            joins += off && !inJoin;
            inJoin = off;
        }
        return joins;
    };
    // The tone's frequency from sample `from` on, and over how many seconds:
    // its rising zero crossings, placed between samples, counted over the
    // time from the first to the last of each stretch of tone (silence, and
    // where it was disturbed, end one). Samples lost or repeated within a
    // stretch move it.
    auto frequency = [&](size_t from) {
        double cycles = 0, span = 0, first = 0, last = 0;
        int crossings = 0;
        auto endStretch = [&] {
            if (crossings > 1) {
                cycles += crossings - 1;
                span += last - first;
            }
            crossings = 0;
        };
        for (size_t n = std::max<size_t>(from, 1); n < heard.size(); ++n) {
            const double a = heard[n - 1], b = heard[n];
            if (a == 0 || b == 0 || disturbed(n)) {
                endStretch();
                continue;
            }
            if (a >= 0 || b < 0) continue;
            last = double(n - 1) + a / (a - b);
            if (crossings++ == 0) first = last;
        }
        endStretch();
        return std::make_pair(span > 0 ? 48000.0 * cycles / span : 0.0, span / 48000.0);
    };
    // How long the microphone went on sounding after `at` (sample `from`).
    auto soundAfter = [&](size_t from, std::chrono::steady_clock::time_point at) {
        size_t last = heard.size(); // after the last sample that is not silence
        while (last > from && heard[last - 1] == 0.0f) --last;
        return last > from ? std::chrono::duration<double>(readAt[(last - 1) / 512] - at).count() : 0.0;
    };
    auto toneHeard = [&] {
        return heard.size() >= 512 && *std::max_element(heard.end() - 512, heard.end()) > 0.3f;
    };
    auto awaitTone = [&] {
        for (int k = 0; k < 50 && !toneHeard(); ++k) readFor(std::chrono::milliseconds(100));
        return toneHeard();
    };
    ASSERT_TRUE(awaitTone());
    readFor(std::chrono::milliseconds(1000));
    const int splicesBefore = splices(heard.size() - 48000); // the control

    // The server stopped for a while, then let go on. A stall shorter than
    // the failure limit keeps its stream; a longer one has it closed as
    // failed and opened again, and the stream that stalled calls back once
    // more as it wakes: it must write no more, so the tone comes back whole,
    // at its own frequency, from one writer.
    const std::string closedAsFailed = "error|audio input 1 (system) stopped delivering: closed as failed";
    struct stall {
        std::chrono::milliseconds length;
        size_t closesAsFailed;
    };
    for (const stall s : {stall{std::chrono::milliseconds(300), 0}, stall{std::chrono::milliseconds(1500), 1},
                          stall{std::chrono::milliseconds(3000), 1}}) {
        const size_t failedBefore = logged.count(closedAsFailed);
        const int xrunsBefore = tone.xruns.load();
        const size_t atStop = heard.size();
        const auto stoppedAt = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
        readFor(s.length);
        ASSERT_EQ(kill(server.pid(), SIGCONT), 0);
        const size_t atGoOn = heard.size();
        const double sound = soundAfter(atStop, stoppedAt);
        // A stream opened again has ports of its own, which the tone joins.
        const bool patched = s.closesAsFailed == 0 || waitFor([&] { return tone.patchInto(pa) > 0; });
        const bool back = awaitTone();
        const size_t toneBack = heard.size();
        // Two seconds of tone; more, within bounds, until one second of it
        // is one that the server did not disturb.
        readFor(std::chrono::milliseconds(2000));
        for (int k = 0; k < 4 && frequency(toneBack).second < 1.0; ++k) readFor(std::chrono::milliseconds(500));
        const int joins = splices(atGoOn);
        const auto [hz, measured] = frequency(toneBack);
        // The stream that stalled, once it woke, is gone: one input stream,
        // one port, is left.
        const bool oneStream = waitFor([&] { return tone.inputsOf(pa).size() == 1; });
        std::printf("microphone: server stopped for %lld ms: sound for %.1f ms after, tone back %.0f ms after it "
                    "went on, then %d splices in %.1f s (%d xruns), tone at %.3f Hz over %.1f s; %zu input port(s)\n",
                    (long long)s.length.count(), sound * 1000, double(toneBack - atGoOn) / 48.0, joins,
                    double(heard.size() - atGoOn) / 48000.0, tone.xruns.load() - xrunsBefore, hz, measured,
                    tone.inputsOf(pa).size());
        EXPECT_LT(sound, 0.5) << s.length.count() << " ms";
        EXPECT_TRUE(patched && back) << s.length.count() << " ms";
        EXPECT_TRUE(oneStream) << s.length.count() << " ms";
        EXPECT_EQ(logged.count(closedAsFailed) - failedBefore, s.closesAsFailed) << s.length.count() << " ms";
        // A server starved of the processor by a machine loaded far beyond
        // its cores disturbs its own cycles too often to tell its joins from
        // a second writer's; the tone is not checked then.
        if (measured < 1.0) {
            std::printf("microphone: the server was starved; the tone not checked\n");
            continue;
        }
        EXPECT_EQ(joins, 0) << s.length.count() << " ms";
        EXPECT_NEAR(hz, 730.0, 0.5) << s.length.count() << " ms";
    }

    const size_t atKill = heard.size();
    const auto killedAt = std::chrono::steady_clock::now();
    const size_t failedBefore = logged.count(closedAsFailed);
    ASSERT_EQ(kill(server.pid(), SIGTERM), 0);
    readFor(std::chrono::milliseconds(1500));
    const double soundFor = soundAfter(atKill, killedAt);
    const int splicesAfter = splices(atKill);

    // Keyed again later.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const size_t again = heard.size();
    readFor(std::chrono::milliseconds(500));
    float peakAgain = 0;
    for (size_t n = again; n < heard.size(); ++n) peakAgain = std::max(peakAgain, std::abs(heard[n]));

    // The host's shut-down ends; one that hangs is left behind.
    auto closed = std::make_shared<std::atomic<bool>>(false);
    std::thread([closed] {
        AudioProvider::getInstance()->Close();
        *closed = true;
    }).detach();
    const bool closes = waitFor([&] { return closed->load(); }, std::chrono::seconds(10));
    std::printf("microphone: %d splices in the second before its server went; sound for %.1f ms after, %d splices "
                "in 1.5 s; 2 s later peak %.3f, %d splices; shut-down %s\n",
                splicesBefore, soundFor * 1000, splicesAfter, peakAgain, splices(again), closes ? "ends" : "hangs");
    EXPECT_LT(soundFor, 0.5);
    // A loaded server may leave the reader one re-synchronisation as it goes
    // (the control can show one too); a loop splices on and on.
    EXPECT_LE(splicesAfter, 1);
    EXPECT_EQ(peakAgain, 0.0f);
    EXPECT_EQ(mic.getPeak(), 0.0f); // the level meter falls with it
    EXPECT_EQ(logged.count(closedAsFailed) - failedBefore, 1u);
    EXPECT_TRUE(logged.contains("error|pa stream system 0 calls back no more: left open"));
    EXPECT_TRUE(closes);
    EXPECT_TRUE(logged.contains("error|pa not terminated: 1 stream(s) left open"));
    // The streams that woke after their stalls ended, and were closed.
    EXPECT_EQ(logged.count("info|pa stream system 0 left open has ended: closed"), 2u);
}

// The host's close, and its exit, while its JACK server is stopped
// (SIGSTOP), as a hung sound server.
//
// The close never waits on the server, wherever in the stall it comes: in
// the stop of streams that have only just gone quiet, on streams that have
// stalled, behind the microphone's re-open after it was closed as failed (a
// second into the stall), or, with nothing streaming, in the sound library's
// own end. A server killed afterwards takes nothing with it: a clean-up or a
// termination through a dead server fails PortAudio's own assertions. One
// let go on finds nothing left behind: PortAudio ended, its ports, threads
// and descriptors gone. One case per process (ctest runs each so): the sound
// back-end is made once per process, and closed for good.
//
// The exit (a host returning from main with its microphone and speaker open
// and its transmitter keyed, in a process of its own) never waits on the
// server either: behind the microphone's re-open, behind a close that left
// the sound worker to it, or behind a switch of devices whose open the
// server holds, it leaves the worker, logged; before the re-open nothing
// holds it. Each case beside its control, on a server that runs on. The
// server that goes on or dies while the process ends finds the worker doing
// nothing with what is going: the process ends with status 0. Nor does the
// exit wait for jobs that the worker will never run: a switch of devices
// just before main returns leaves some queued, and one in the worker's hand
// as it sees the exit, on a server that runs on or on one stopped that goes
// on while the process ends; each beside its control, the return 600 ms
// after the switch. Nor does it wait on MIDI: switched on right before main
// returns, on a stopped server, its client's open is held as a device's
// would be, and the exit leaves it; beside its control, a switch of the
// speaker instead.
//
// A host lives on through its server's death (SIGKILL, as a server that
// crashes), whatever its sound worker is doing then: the host switches its
// speaker and microphone to the other program and back, four times 100 ms
// apart, so that the worker opens and closes streams, and the server dies
// 0 to 150 ms after the last switch; the host makes no more calls, or goes
// on switching for a second after the death. It lives on, and ends with
// status 0. Beside them, the same death without switching, and the
// switching without a death.
//
// Nor does a host die with a server that dies while PortAudio's termination
// runs, after a close (closeAudio, or the root's Wireless_Close) on a server
// that answered: killed as the termination begins or 5 or 10 ms into it, or
// stopped 3 ms into it and killed a second later. PortAudio's calls that the
// dead server failed count as done; one line tells it, and nothing of the
// sound's is left running. Beside each, the same close without a death, or
// with the stopped server let go on.
struct stallClose {
    const char* name;
    bool streaming = true;             // the microphone and the speaker, else nothing
    std::chrono::milliseconds at{-1};  // closeAudio, into the stall; negative: none
    bool wholeRelease = false;         // the host's whole release sequence, else closeAudio alone
    int then = 0;                      // what becomes of the server: SIGKILL, SIGCONT, or 0 (stopped still)
    // For the host's exit, in a process of its own:
    std::chrono::milliseconds exitAt{-1};   // main returns, into the stall; negative: no exit
    std::chrono::milliseconds switchAt{-1}; // devices switched; negative: none
    bool stalls = true;                     // false: the control, the server runs on
    /// The exit leaves the sound worker, logged; none: either, as the
    /// machine's load has it.
    std::optional<bool> leavesWorker = false;
    const char* switched = "in,out"; // which devices, in that order: "in", "out" (the microphone, the speaker)
    /// The server goes on this long after main returned, while the process
    /// ends; negative: not then.
    std::chrono::milliseconds goesOnAt{-1};
    /// Switches in all, this far apart, to the other program and back in
    /// turn, from switchAt on.
    int switches = 1;
    std::chrono::milliseconds switchEvery{0};
    /// The host kills the server (SIGKILL) then; negative: never.
    std::chrono::milliseconds diesAt{-1};
    /// The host switches MIDI on then; negative: never.
    std::chrono::milliseconds midiAt{-1};
    /// The host stops the server (SIGSTOP) then, and lets it go on (SIGCONT)
    /// stoppedFor later; negative: never.
    std::chrono::milliseconds stopsAt{-1};
    std::chrono::milliseconds stoppedFor{-1};
    /// The host's close is the root's Wireless_Close rather than closeAudio.
    bool closesRoot = false;
    /// diesAt and stopsAt count from the start of PortAudio's termination
    /// (the sound worker's trace "pa term"), not from the stall's.
    bool fromTermination = false;
};

void PrintTo(const stallClose& c, std::ostream* os) { *os << c.name; }

class JackServerStalls : public CoreObjects, public testing::WithParamInterface<stallClose> {};

size_t entriesOf(const char* folder) {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder); it != std::filesystem::directory_iterator(); ++it) ++n;
    return n;
}

/// The host's exit in vireo_stall_exit_host on the server of pid `server`:
/// its status, and how long its process took to end after main returned,
/// less what the host itself spent on the server's fate.
struct hostEnd {
    int status = -1, signal = 0;
    double seconds = -1;
    double ran = 0; // from its start to its end
    std::string err, log;
    /// Its threads once its streams called back, and as main returned.
    long threadsWithSound = -1, threadsAtReturn = -1;
    /// PortAudio was terminated before main returned.
    bool terminated = false;
};

hostEnd endHost(const stallClose& c, int server, const std::string& other) {
    const tool::ScratchDir scratch;
    auto ms = [](std::chrono::milliseconds m) { return std::to_string(m.count() < 0 ? -1 : m.count()); };
    const char* fate = c.then == SIGKILL ? "kill" : c.then == SIGCONT ? "cont" : "none";
    // A host that hangs is ended: its figures then say so.
    const auto begun = std::chrono::steady_clock::now();
    std::string switches = ms(c.switchAt);
    if (c.switches > 1) switches += "+" + ms(c.switchEvery) + "x" + std::to_string(c.switches);
    const std::string from = c.fromTermination ? "term+" : "";
    std::string stops = c.stopsAt.count() >= 0 ? from + ms(c.stopsAt) : ms(c.stopsAt);
    if (c.stopsAt.count() >= 0 && c.stoppedFor.count() >= 0) stops += "+" + ms(c.stoppedFor);
    const std::string dies = c.diesAt.count() >= 0 ? from + ms(c.diesAt) : ms(c.diesAt);
    const tool::Result r = tool::run({"timeout", "-s", "KILL", "45", VIREO_STALL_EXIT_HOST, scratch.file("host.log"),
                                      std::to_string(server), c.stalls ? "stall" : "control", switches, c.switched,
                                      ms(c.at) + (c.closesRoot ? ":root" : ""), ms(c.exitAt), fate, ms(c.goesOnAt),
                                      other, dies, ms(c.midiAt), stops},
                                     scratch.path);
    const auto ended = std::chrono::steady_clock::now().time_since_epoch();
    hostEnd e{r.status, r.signal, -1, std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(),
              r.err, tool::readFile(scratch.file("host.log"))};
    long long returned = 0, lingered = 0;
    if (const auto at = r.out.find("returned "); at != std::string::npos) returned = std::atoll(&r.out[at + 9]);
    if (const auto at = r.out.find("fate "); at != std::string::npos) lingered = std::atoll(&r.out[at + 5]);
    if (const auto at = r.out.find("threads "); at != std::string::npos)
        std::sscanf(&r.out[at], "threads %ld %ld", &e.threadsWithSound, &e.threadsAtReturn);
    e.terminated = r.out.find("pa termed\r\n") < r.out.find("returned ");
    if (returned > 0)
        e.seconds = double(std::chrono::duration_cast<std::chrono::nanoseconds>(ended).count() - returned - lingered) /
                    1e9;
    return e;
}

void expectHostEndsSoon(const stallClose& c, const PrivateJackServer& server) {
    // Another sound program on the server, with a port each way, silent: the
    // host's second device.
    JackTone other(730, 0.0f);
    ASSERT_NE(other.client, nullptr);
    ASSERT_NE(jack_port_register(other.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0), nullptr);
    const hostEnd e = endHost(c, server.pid(), jack_get_client_name(other.client));
    kill(server.pid(), SIGCONT); // a server left stopped is then stopped for good by its pid
    const bool reported =
        e.err.find("Sanitizer") != std::string::npos || e.err.find("runtime error:") != std::string::npos;
    // The sound back-end's worker, or the MIDI worker.
    const bool left = e.log.find("is held by a server outside the process: left") != std::string::npos;
    const bool skipped = e.log.find("not made: its JACK server has gone") != std::string::npos;
    size_t went = 0; // a termination that met the server's death, told
    for (size_t at = 0; (at = e.log.find("pa terminated: its JACK server went during the close", at)) !=
                        std::string::npos;
         ++at)
        ++went;
    std::printf("stall exit: %s: the process ended %.3f s after main returned, status %d%s%s%s%s; it ran %.3f s\n",
                c.name, e.seconds, e.status,
                e.signal ? (" (signal " + std::to_string(e.signal) + ", " + strsignal(e.signal) + ")").c_str() : "",
                left ? "; the held worker left" : "", skipped ? "; calls on the dead server not made" : "",
                went ? "; terminated on a server that died meanwhile" : "", e.ran);
    // A host that died: its last lines say how far it got.
    EXPECT_EQ(e.status, 0) << e.err.substr(0, 6000) << "the host's log, its end:\n"
                           << e.log.substr(e.log.size() > 6000 ? e.log.size() - 6000 : 0);
    EXPECT_FALSE(reported) << e.err.substr(0, 6000);
    EXPECT_GE(e.seconds, 0.0) << "main never returned: " << e.err.substr(0, 2000);
    EXPECT_LE(e.seconds, 1.0 * buildSlowdown);
    EXPECT_EQ(e.log.find("still running"), std::string::npos) << e.log.substr(0, 6000);
    // One line tells a termination that met the server's death.
    EXPECT_LE(went, c.diesAt.count() < 0 ? 0u : 1u) << e.log.substr(0, 6000);
    // A termination before main returned, also one that met the server's
    // death, leaves nothing of the sound's running: the worker, PortAudio's
    // client's process and notification threads, the library's own client's
    // notification thread, and libjack's message thread, which goes with the
    // process's last client. A worker that a sanitizer's slowdown left in a
    // row whose server went on (see below) may still be running then, and
    // the worker made after it; a plain build fails such a row below.
    const bool slowedAndLeft = left && c.leavesWorker.has_value() && !*c.leavesWorker;
    if (e.terminated && !slowedAndLeft) {
        EXPECT_LE(e.threadsAtReturn + 5, e.threadsWithSound)
            << e.threadsAtReturn << " threads as main returned, " << e.threadsWithSound << " with the sound";
    }
    if (!c.leavesWorker.has_value()) return;
    // "Held" is a quarter second inside one piece of work: on a running
    // server a sanitizer's slowdown under the suite's load may reach it in a
    // close or a termination, and the exit then rightly leaves the worker
    // too. Elsewhere only a held server makes the exit leave it.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    if (!*c.leavesWorker) return;
    // The other way round, the worker a held server would hold may not have
    // reached it 300 ms after the host's call under the suite's load: the
    // exit then finds nothing held, and has been held to its bound above
    // (waiting on a held worker would take the exit's ten seconds).
    if (!left) return;
#endif
    EXPECT_EQ(left, *c.leavesWorker) << e.log.substr(0, 6000);
}

TEST_P(JackServerStalls, TheHostsCloseAndExitAreNotHeldAndTheServersFateHarmsNothing) {
    const stallClose c = GetParam();
    static bool ran = false;
    if (std::exchange(ran, true)) VIREO_SKIP_OR_FAIL("one case per process, as ctest runs them: the sound ends");
    if (!tool::available("jackd")) VIREO_SKIP_OR_FAIL("jackd is not installed");
    PrivateJackServer server(VIREO_JACKD_SCRIPT, VIREO_JACK_SERVER "-stalls", VIREO_JACK_DIR "-stalls");
    ASSERT_GT(server.pid(), 0) << "the test's own JACK server did not start:\n" << server.why();
    ASSERT_TRUE(server.serveThisProcess());
    if (c.exitAt.count() >= 0) return expectHostEndsSoon(c, server);
    LogCapture logged;
    void* root = Wireless_create();
    void* radio = c.streaming ? TestRadio_create() : nullptr;
    std::atomic<bool> reading{c.streaming};
    std::thread reader;
    if (c.streaming) {
        Radio_start(radio); // makes a transceiver on the default devices
        auto r = object<TestRadio>(radio);
        std::shared_ptr<vtrx> v;
        ASSERT_TRUE(waitFor([&] {
            std::lock_guard<std::mutex> l(r->listMutex);
            if (!r->vtrxList.empty()) v = r->vtrxList.front();
            return v != nullptr;
        }));
        onWorker(v, [&] { v->start(); });
        // The microphone read as a transmitting transceiver reads it: 512
        // samples every 512 samples' time; in a stall that reading closes it
        // as failed after a second, and opens it again.
        reader = std::thread([&reading] {
            AudioInputStream mic(1);
            buff<float> block(512);
            for (auto next = std::chrono::steady_clock::now(); reading.load();
                 next += std::chrono::microseconds(10667)) {
                std::this_thread::sleep_until(next);
                mic.read(block);
            }
        });
        auto input = object<Wireless>(root)->inputDevice(1);
        ASSERT_TRUE(waitFor([&] { return v->outputStream.io->readerStamp() != 0 && input->ringStamp() != 0; }));
    }
    const char* pa = nullptr;
    ASSERT_EQ(PaJack_GetClientName(&pa), paNoError);
    const std::string paClient = pa;
    JackTone watcher(730, 0.0f); // a client of the test's own, to see PortAudio's ports
    EXPECT_EQ(watcher.portsOf(paClient).empty(), !c.streaming);
    // The libjack calls that PortAudio asserts pass through the library, the
    // test's own too. On a server that answers, a failure that is not the
    // server's comes back as it came: a port the client does not own, no
    // client at all.
    EXPECT_NE(jack_port_unregister(watcher.client, jack_port_by_name(watcher.client, "system:playback_1")), 0);
    EXPECT_NE(jack_deactivate(nullptr), 0);
    EXPECT_NE(jack_client_close(nullptr), 0);
    const size_t threads = entriesOf("/proc/self/task"), fds = entriesOf("/proc/self/fd");

    // The host's calls, each timed, on a thread of their own: one that hangs
    // is left behind rather than hang the test.
    struct hostSide {
        std::mutex m;
        std::vector<std::pair<std::string, double>> steps;
        std::atomic<bool> done{false};
    };
    auto host = std::make_shared<hostSide>();
    ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(c.at);
    std::thread([host, root, radio, whole = c.wholeRelease] {
        auto step = [&](const char* name, auto call) {
            const auto from = std::chrono::steady_clock::now();
            call();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - from;
            std::lock_guard<std::mutex> l(host->m);
            host->steps.emplace_back(name, took.count());
        };
        if (whole) {
            step("Radio_stop", [&] { Radio_stop(radio); });
            step("TestRadio_release", [&] { TestRadio_release(radio); });
            step("Wireless_Close", [&] { Wireless_Close(root); });
        }
        step("closeAudio", [] { closeAudio(); });
        host->done = true;
    }).detach();
    const bool returned = waitFor([&] { return host->done.load(); }, std::chrono::seconds(3));
    ASSERT_EQ(kill(server.pid(), c.then), 0);
    const bool returnedAtAll = returned || waitFor([&] { return host->done.load(); });
    reading = false;
    if (reader.joinable()) reader.join();

    std::string figures;
    {
        std::lock_guard<std::mutex> l(host->m);
        for (auto& [name, seconds] : host->steps) {
            figures += " " + name + " " + std::to_string(int(seconds * 1000)) + " ms;";
            EXPECT_LT(seconds, 0.5 * buildSlowdown) << name;
        }
    }
    std::printf("stall: %s, %lld ms into it:%s %s\n", c.name, (long long)c.at.count(), figures.c_str(),
                returned ? "" : returnedAtAll ? "returned once the server went on or died" : "hangs");
    EXPECT_TRUE(returned);
    auto* provider = static_cast<PortAudioAudioProvider*>(AudioProvider::getInstance());
    if (c.then == SIGKILL) {
        // What the dead server held is left, logged, and the back-end ends
        // without PortAudio's termination, which would go through it.
        EXPECT_TRUE(waitFor([&] {
            for (auto& line : logged.lines())
                if (line.starts_with("error|pa not terminated")) return true;
            return false;
        }));
        EXPECT_FALSE(provider->terminated());
        // The server was killed since the test's own client last called it:
        // the calls count as done. A request written to a dead server's
        // socket raises SIGPIPE, which libjack holds back only on the thread
        // that opened the process's first client.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        EXPECT_EQ(jack_port_unregister(watcher.client, watcher.port), 0);
        EXPECT_EQ(jack_deactivate(watcher.client), 0);
        EXPECT_EQ(jack_client_close(std::exchange(watcher.client, nullptr)), 0);
    } else {
        EXPECT_TRUE(waitFor([&] { return provider->terminated(); }));
        EXPECT_TRUE(waitFor([&] { return watcher.portsOf(paClient).empty(); })) << "PortAudio's ports are left";
        EXPECT_TRUE(waitFor([&] { return entriesOf("/proc/self/task") <= threads; }))
            << entriesOf("/proc/self/task") << " threads, " << threads << " before the stall";
        EXPECT_TRUE(waitFor([&] { return entriesOf("/proc/self/fd") <= fds; }))
            << entriesOf("/proc/self/fd") << " descriptors, " << fds << " before the stall";
    }
    if (radio && !c.wholeRelease) {
        Radio_stop(radio);
        TestRadio_release(radio);
    }
    Wireless_release(root);
}

using std::chrono::milliseconds;
INSTANTIATE_TEST_SUITE_P(
    Close, JackServerStalls,
    testing::Values(stallClose{"AsItBeginsThenKilled", true, milliseconds(0), false, SIGKILL},
                    stallClose{"StalledThenKilled", true, milliseconds(300), false, SIGKILL},
                    stallClose{"BehindTheReopenThenKilled", true, milliseconds(1200), false, SIGKILL},
                    stallClose{"BehindTheReopenThenLetGoOn", true, milliseconds(1200), false, SIGCONT},
                    stallClose{"WholeReleaseThenLetGoOn", true, milliseconds(300), true, SIGCONT},
                    stallClose{"NothingStreamingThenKilled", false, milliseconds(300), false, SIGKILL}),
    [](const testing::TestParamInfo<stallClose>& info) { return std::string(info.param.name); });

/// A host that switches devices as the stall begins (or, on a server that
/// runs on, as it would) and returns from main `after` ms later. A stopped
/// server goes on 100 ms into the exit, and the worker it held runs on while
/// the process ends. Whether the exit leaves the worker is checked only where
/// a stopped server surely holds it past the quarter second: held until the
/// server goes on, it comes near that; on a running server, the suite's load
/// can hold an open or a close that long.
stallClose switchThenReturn(const char* name, const char* devices, int after, bool stalls,
                            std::optional<bool> leavesWorker) {
    return stallClose{.name = name,
                      .exitAt = milliseconds(after),
                      .switchAt = milliseconds(0),
                      .stalls = stalls,
                      .leavesWorker = leavesWorker,
                      .switched = devices,
                      .goesOnAt = milliseconds(stalls ? 100 : -1)};
}

/// A host on a server that runs (the control's timeline) switches its
/// speaker and microphone four times, 100 ms apart, from the start; the
/// server dies `after` ms after the last switch (negative: it lives on); the
/// host then returns from main 400 ms later, or goes on switching every
/// 100 ms until it returns a second later. `switching` false: no switch.
stallClose diesAfterSwitches(const char* name, int after, bool switching, bool later) {
    const int dies = 300 + std::max(after, 0), returns = dies + (later ? 1000 : 400);
    return stallClose{.name = name,
                      .exitAt = milliseconds(returns),
                      .switchAt = milliseconds(switching ? 0 : -1),
                      .stalls = false,
                      .leavesWorker = std::nullopt,
                      .switched = "out,in",
                      .switches = later ? returns / 100 + 1 : 4,
                      .switchEvery = milliseconds(100),
                      .diesAt = milliseconds(after < 0 ? -1 : dies)};
}

/// A host on a stopped server switches MIDI on, or (`midi` false, the
/// control) switches its speaker, and returns from main `after` ms later;
/// the server goes on 15 s after that, when the process has long gone.
stallClose midiThenReturn(const char* name, int after, bool midi, std::optional<bool> leavesWorker) {
    return stallClose{.name = name,
                      .exitAt = milliseconds(300 + after),
                      .switchAt = milliseconds(midi ? -1 : 300),
                      .leavesWorker = leavesWorker,
                      .switched = "out",
                      .goesOnAt = milliseconds(15000),
                      .midiAt = milliseconds(midi ? 300 : -1)};
}

/// A host on a server that runs (the control's timeline) closes its sound
/// 300 ms in, by closeAudio or (`root`) by the root's Wireless_Close, and
/// returns from main a second later. The server dies `after` ms after
/// PortAudio's termination began (negative: it lives on).
stallClose killedInTheClose(const char* name, bool root, int after) {
    return stallClose{.name = name,
                      .at = milliseconds(300),
                      .exitAt = milliseconds(1300),
                      .stalls = false,
                      .diesAt = milliseconds(after),
                      .closesRoot = root,
                      .fromTermination = true};
}

/// The same, with the server stopped `after` ms after PortAudio's
/// termination began and killed a second later (`killed` false: let go on
/// then); main returns 2.5 s in.
stallClose stoppedInTheClose(const char* name, bool root, int after, bool killed) {
    return stallClose{.name = name,
                      .at = milliseconds(300),
                      .exitAt = milliseconds(2500),
                      .stalls = false,
                      .diesAt = milliseconds(killed ? after + 1000 : -1),
                      .stopsAt = milliseconds(after),
                      .stoppedFor = milliseconds(killed ? -1 : 1000),
                      .closesRoot = root,
                      .fromTermination = true};
}

// name, streaming, closeAudio, whole release, the server's fate as the process ends, main's return, the switch,
// stalls, leaves the worker
const auto noStep = milliseconds(-1);
INSTANTIATE_TEST_SUITE_P(
    Exit, JackServerStalls,
    testing::Values(
        stallClose{"BeforeTheReopen", true, noStep, false, 0, milliseconds(600), noStep, true, false},
        stallClose{"BeforeTheReopenControl", true, noStep, false, 0, milliseconds(600), noStep, false, false},
        stallClose{"BehindTheReopenThenKilled", true, noStep, false, SIGKILL, milliseconds(1500), noStep, true, true},
        stallClose{"BehindTheReopenControl", true, noStep, false, 0, milliseconds(1500), noStep, false, false},
        stallClose{"AfterACloseThenLetGoOn", true, milliseconds(1500), false, SIGCONT, milliseconds(1800), noStep, true,
                   true},
        stallClose{"AfterACloseControl", true, milliseconds(1500), false, 0, milliseconds(1800), noStep, false, false},
        stallClose{"AfterASwitchThenLetGoOn", true, noStep, false, SIGCONT, milliseconds(900), milliseconds(300), true,
                   true},
        stallClose{"AfterASwitchControl", true, noStep, false, 0, milliseconds(900), milliseconds(300), false, false},
        stallClose{"AfterASwitchAndACloseThenKilled", true, milliseconds(600), false, SIGKILL, milliseconds(900),
                   milliseconds(300), true, true},
        stallClose{"AfterASwitchAndACloseControl", true, milliseconds(600), false, 0, milliseconds(900),
                   milliseconds(300), false, false},
        // name, devices switched as the stall begins, main's return after that, stalls (the server then goes
        // on 100 ms into the exit), leaves the worker (none: either)
        switchThenReturn("InputSwitchThenReturnAtOnce", "in", 0, false, std::nullopt),
        switchThenReturn("InputSwitchThenReturnIn50ms", "in", 50, false, std::nullopt),
        switchThenReturn("InputSwitchThenReturnIn100ms", "in", 100, false, std::nullopt),
        switchThenReturn("InputSwitchThenReturnControl", "in", 600, false, std::nullopt),
        switchThenReturn("OutputInputSwitchThenReturnAtOnce", "out,in", 0, false, std::nullopt),
        switchThenReturn("OutputInputSwitchThenReturnIn50ms", "out,in", 50, false, std::nullopt),
        switchThenReturn("OutputInputSwitchThenReturnIn100ms", "out,in", 100, false, std::nullopt),
        switchThenReturn("OutputInputSwitchThenReturnControl", "out,in", 600, false, std::nullopt),
        switchThenReturn("InputSwitchInAStallThenReturnAtOnce", "in", 0, true, std::nullopt),
        switchThenReturn("InputSwitchInAStallThenReturnIn50ms", "in", 50, true, std::nullopt),
        switchThenReturn("InputSwitchInAStallThenReturnIn100ms", "in", 100, true, std::nullopt),
        switchThenReturn("InputSwitchInAStallThenReturnControl", "in", 600, true, true),
        switchThenReturn("OutputInputSwitchInAStallThenReturnAtOnce", "out,in", 0, true, std::nullopt),
        switchThenReturn("OutputInputSwitchInAStallThenReturnIn50ms", "out,in", 50, true, std::nullopt),
        switchThenReturn("OutputInputSwitchInAStallThenReturnIn100ms", "out,in", 100, true, std::nullopt),
        switchThenReturn("OutputInputSwitchInAStallThenReturnControl", "out,in", 600, true, true),
        // name, MIDI on (else a switch of the speaker) this long before main returns on a stopped server, leaves
        // a worker (none: either)
        midiThenReturn("MidiOnInAStallThenReturnIn50ms", 50, true, std::nullopt),
        midiThenReturn("MidiOnInAStallThenReturnIn300ms", 300, true, true),
        midiThenReturn("MidiOnInAStallThenReturnControl", 300, false, true),
        // name, the server dies this long after the last switch (negative: never), switches, goes on switching
        diesAfterSwitches("DiesAtTheLastSwitch", 0, true, false),
        diesAfterSwitches("Dies50msAfterTheLastSwitch", 50, true, false),
        diesAfterSwitches("Dies100msAfterTheLastSwitch", 100, true, false),
        diesAfterSwitches("Dies150msAfterTheLastSwitch", 150, true, false),
        diesAfterSwitches("DiesWithoutSwitchesControl", 0, false, false),
        diesAfterSwitches("Dies150msWithoutSwitchesControl", 150, false, false),
        diesAfterSwitches("DiesAtTheLastSwitchWhileSwitching", 0, true, true),
        diesAfterSwitches("Dies50msAfterTheLastSwitchWhileSwitching", 50, true, true),
        diesAfterSwitches("Dies100msAfterTheLastSwitchWhileSwitching", 100, true, true),
        diesAfterSwitches("Dies150msAfterTheLastSwitchWhileSwitching", 150, true, true),
        diesAfterSwitches("SwitchingWithoutADeathControl", -1, true, true),
        // name, the root's Wireless_Close (else closeAudio), the server dies (or is stopped) this long after
        // PortAudio's termination began (negative: never), killed a second after the stop (else let go on)
        killedInTheClose("CloseAudioDiesAsItsTerminationBegins", false, 0),
        killedInTheClose("CloseAudioDies5msIntoItsTermination", false, 5),
        killedInTheClose("CloseAudioDies10msIntoItsTermination", false, 10),
        killedInTheClose("CloseAudioWithoutADeathControl", false, -1),
        killedInTheClose("WirelessCloseDiesAsItsTerminationBegins", true, 0),
        killedInTheClose("WirelessCloseDies5msIntoItsTermination", true, 5),
        killedInTheClose("WirelessCloseDies10msIntoItsTermination", true, 10),
        killedInTheClose("WirelessCloseWithoutADeathControl", true, -1),
        stoppedInTheClose("CloseAudioStoppedInItsTerminationThenKilled", false, 3, true),
        stoppedInTheClose("CloseAudioStoppedInItsTerminationThenLetGoOnControl", false, 3, false),
        stoppedInTheClose("WirelessCloseStoppedInItsTerminationThenKilled", true, 3, true),
        stoppedInTheClose("WirelessCloseStoppedInItsTerminationThenLetGoOnControl", true, 3, false)),
    [](const testing::TestParamInfo<stallClose>& info) { return std::string(info.param.name); });

} // namespace
