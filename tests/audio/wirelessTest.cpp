// The root object as a host drives it: its device lists, the default
// microphone equaliser with its change count, and MIDI through JACK (ports
// of the test's own feeding the system's input and receiving its output).
// The sound devices and MIDI ports are those of the JACK server with the
// dummy driver that ctest starts (tests/audio/jackd.sh).
//
// One root object per process, as for a host: the cases share it, and the
// last one releases it.
#include "audio/Midi.h"
#include "audio/Wireless.h"
#include "audio/midiPortByName.h"
#include "core/vtrx.h"

#include "core/coreObjectFixture.h"
#include "jackServer.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/stdoutCapture.h"
#include "support/waitFor.h"

#include <RtMidi.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <latch>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using midiCall = std::tuple<int, int, int, int>;
using bytes = std::vector<unsigned char>;

/// What reaches a callback on a MIDI thread, kept under a lock.
template <class T>
class received {
public:
    void add(T v) {
        std::lock_guard<std::mutex> l(m_);
        items_.push_back(std::move(v));
    }
    std::vector<T> all() {
        std::lock_guard<std::mutex> l(m_);
        return items_;
    }
    size_t size() { return all().size(); }
    /// Everything received since the last take, and forgets it.
    std::vector<T> take() {
        std::lock_guard<std::mutex> l(m_);
        return std::exchange(items_, {});
    }

private:
    std::mutex m_;
    std::vector<T> items_;
};

received<midiCall> midiData;
void onMidiData(int kind, int a, int b, int c) { midiData.add({kind, a, b, c}); }

void onPort(double, std::vector<unsigned char>* message, void* userData) {
    static_cast<received<bytes>*>(userData)->add(*message);
}

/// Plays a note on feed until heard, then a last one, and forgets them.
/// Under ThreadSanitizer the first pass through JACK's ring buffer stops the
/// process thread for as long as the report on it takes to be symbolised and
/// suppressed: what that cycle carries is lost.
void warmUp(RtMidiOut& feed, received<bytes>& heard) {
    std::vector<unsigned char> note{0x80, 0, 0}, last{0x80, 1, 0};
    for (int i = 0; i < 50 && heard.size() == 0; ++i) {
        feed.sendMessage(&note);
        waitFor([&] { return heard.size() != 0; }, std::chrono::milliseconds(200));
    }
    ASSERT_NE(heard.size(), 0u) << "the test's own MIDI port is not heard";
    feed.sendMessage(&last); // after every repeat of note
    ASSERT_TRUE(waitFor([&] { return heard.all().back() == last; }));
    heard.take();
}

class Root : public CoreObjects {
protected:
    /// The host's handle on the root; the last case releases it.
    static void*& root() {
        static void* handle = Wireless_create();
        return handle;
    }
    static Wireless& wireless() { return *object<Wireless>(root()); }
    /// Runs f on the root object's lane after every request queued so far.
    template <class F>
    static void onRoot(F f) {
        onWorker(object<Wireless>(root()), std::move(f));
    }
    /// Runs f on the MIDI worker, after the MIDI work of every request
    /// queued so far, and waits for it.
    template <class F>
    static void onMidi(F f) {
        onRoot([] {});
        std::latch done(1);
        wireless().midiJob([&] {
            f();
            done.count_down();
        });
        done.wait();
    }
    static void init(const char* path) {
        initSent = true;
        Wireless_Init(root(), path);
        onRoot([] {});
    }
    static void poll() { getUpdates(); }
    static inline bool initSent = false;
};

// ---- sound devices ----

TEST_F(Root, ListsTheSoundDevicesAndStaysTheOnlyRoot) {
    if (!jackServes()) VIREO_SKIP_OR_FAIL("jackd is not running: tests/audio/jackd.sh starts it (ctest does)");
    LogCapture logged;
    void* h = root();
    Wireless_bindoutputDevices(h, host::onCollection<"out", ValueLabelItem_release>);
    Wireless_bindinputDevices(h, host::onCollection<"in", ValueLabelItem_release>);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("out").size() == 2 && log.of("in").size() == 2; }));
    for (const char* list : {"out", "in"}) {
        std::vector<std::pair<int, std::string>> items;
        for (auto& c : log.of(list)) {
            EXPECT_EQ(c.args, (std::vector<std::string>{"3", "0"}));
            auto item = object<ValueLabelItem>(c.handle);
            items.emplace_back(item->Value.get(), item->Label.get());
        }
        EXPECT_EQ(items, (std::vector<std::pair<int, std::string>>{{0, "None"}, {1, "system"}})) << list;
    }

    void* second = Wireless_create();
    EXPECT_TRUE(logged.contains("error|Wireless ctor called again"));
    EXPECT_EQ(Wireless::getInstance(), &wireless());
    EXPECT_EQ(object<Wireless>(second)->outputDeviceObjects.size(), 2u); // complete, but nobody reaches it
    Wireless_release(second);
    EXPECT_EQ(Wireless::getInstance(), &wireless());

    // The host's own list edits: an op 0 index far past the end is refused.
    void* item = ValueLabelItem_create();
    Wireless_setoutputDevices(h, 0, 1 << 30, item);
    ValueLabelItem_release(item);
    onRoot([] {});
    EXPECT_TRUE(logged.contains("error|collection index 1073741824 refused"));
    EXPECT_EQ(wireless().outputDevices.size(), 2u);
}

// ---- MIDI ----

TEST_F(Root, MidiInputIsDecodedAndOutputSentThroughJack) {
    if (!jackServes()) VIREO_SKIP_OR_FAIL("jackd is not running: tests/audio/jackd.sh starts it (ctest does)");
    LogCapture logged;
    void* h = root();
    const std::string tag = std::to_string(getpid());
    // The test's ports: feed plays into the system's input, sink hears its
    // output, and witness listens to feed too, to tell when feed has played.
    RtMidiOut feed(RtMidi::UNIX_JACK, "vireo-feed-" + tag);
    feed.openVirtualPort("feed");
    const std::string feedName = "vireo-feed-" + tag + ":feed";
    received<bytes> atSink, atWitness;
    // Listed before sink, and gone before the first send: the sink's number
    // moves, its name does not.
    auto decoy = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "vireo-decoy-" + tag);
    decoy->openVirtualPort("decoy");
    RtMidiIn sink(RtMidi::UNIX_JACK, "vireo-sink-" + tag);
    sink.setCallback(onPort, &atSink);
    sink.openVirtualPort("sink");
    RtMidiIn witness(RtMidi::UNIX_JACK, "vireo-witness-" + tag);
    witness.setCallback(onPort, &atWitness);
    for (unsigned i = 0; i < witness.getPortCount(); ++i)
        if (witness.getPortName(i) == feedName) witness.openPort(i);
    ASSERT_TRUE(witness.isPortOpen());
    ASSERT_NO_FATAL_FAILURE(warmUp(feed, atWitness));
    auto play = [&](std::vector<bytes> messages) {
        const size_t before = atWitness.size();
        for (auto& m : messages) feed.sendMessage(&m);
        ASSERT_TRUE(waitFor([&] { return atWitness.size() == before + messages.size(); }));
    };

    Wireless_bindMidiDevices(h, host::onText<"midiDevices">);
    Wireless_bindMidiData(h, onMidiData);
    Wireless_SendMidi(h, 0, 3, 0x90, 1, 1); // no MIDI yet: nothing goes out
    Wireless_setMidiEnabled(h, true);
    if (!initSent) { // before Init the switch is only stored
        onMidi([] { EXPECT_EQ(wireless().midi, nullptr); });
        getUpdates();
        EXPECT_TRUE(log.of("midiDevices").empty());
        init("/tmp");
        Wireless_setMidiEnabled(h, false);
    }
    Wireless_setMidiEnabled(h, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("midiDevices").size() == 1; }));
    const std::string listed = log.of("midiDevices")[0].args[0];
    EXPECT_NE(listed.find(feedName + "\r\n"), std::string::npos) << listed;
    size_t sinkAt = 0;
    onMidi([&] {
        ASSERT_NE(wireless().midi, nullptr);
        auto& outs = wireless().midi->outputs();
        sinkAt = std::find_if(outs.begin(), outs.end(),
                              [&](auto& d) { return d->name == "vireo-sink-" + tag + ":sink"; }) -
                 outs.begin();
        EXPECT_LT(sinkAt, outs.size());
        EXPECT_EQ(wireless().midi->api(), RtMidi::UNIX_JACK); // the default (ALSA) cannot start here
    });
    const int sinkDev = int(sinkAt);
    onMidi([&] {
        auto& outs = wireless().midi->outputs();
        EXPECT_TRUE(std::any_of(outs.begin(), outs.begin() + sinkDev,
                                [&](auto& d) { return d->name == "vireo-decoy-" + tag + ":decoy"; }));
    });
    decoy.reset();

    ASSERT_NO_FATAL_FAILURE(play({
        {0xB5, 99, 1}, {0xB5, 98, 2}, {0xB5, 6, 3}, {0xB5, 38, 4}, // NRPN on channel 5
        {0xB0, 6, 10},                                            // data entry outside a sequence
        {0xB0, 99, 1}, {0xB0, 99, 2}, {0xB0, 98, 3}, {0xB0, 6, 0}, {0xB0, 38, 1}, // 99 restarts
        {0xB1, 99, 0}, {0xB2, 99, 0}, {0xB1, 98, 7}, {0xB2, 98, 8},               // two channels
        {0xB1, 6, 1}, {0xB2, 6, 2}, {0xB1, 38, 0}, {0xB2, 38, 0},                 // at once
        {0xB3, 38, 5},    // 38 with no sequence
        {0xB4, 98, 1},    // 98 before 99
        {0xC0, 5},        // program change
        {0x90, 60, 100},  // note on
        {0xF6},           // one byte
        {0x80, 60, 0},    // note off, the last
    }));
    ASSERT_TRUE(waitFor([&] { return midiData.size() >= 10; }));
    EXPECT_EQ(midiData.take(), (std::vector<midiCall>{{3, 5, 130, 388},
                                                       {3, 176, 6, 10},
                                                       {3, 0, 259, 1},
                                                       {3, 1, 7, 128},
                                                       {3, 2, 8, 256},
                                                       {3, 179, 38, 5},
                                                       {3, 180, 98, 1},
                                                       {2, 192, 5, 0},
                                                       {3, 144, 60, 100},
                                                       {3, 128, 60, 0}}));

    // Output: only sizes 1 to 3 on a listed device; the port opens on the
    // first send, and what that send plays is heard. Nothing is asserted
    // while standard output is captured: the failure would be captured with
    // it, and lost.
    StdoutCapture printed;
    Wireless_SendMidi(h, sinkDev, 0, 0x90, 2, 2);
    Wireless_SendMidi(h, sinkDev, 4, 0x90, 3, 3);
    Wireless_SendMidi(h, sinkDev, -1, 0x90, 4, 4);
    Wireless_SendMidi(h, -1, 3, 0x90, 5, 5);
    Wireless_SendMidi(h, 1000, 3, 0x90, 6, 6);
    Wireless_SendMidi(h, sinkDev, 2, 0xC0, 7, 99);
    Wireless_SendMidi(h, sinkDev, 3, 0x90, 60, 100);
    const bool opened = waitFor([&] { return atSink.size() >= 2; });
    if (opened) Wireless_SendMidi(h, sinkDev, 1, 0xF6, 1, 1);
    const bool sent = opened && waitFor([&] { return atSink.size() >= 3; });
    const std::string out = printed.stop();
    EXPECT_TRUE(sent) << (opened ? "the last send" : "the sends that opened the port") << " not heard";
    EXPECT_EQ(atSink.take(), (std::vector<bytes>{{0xC0, 7}, {0x90, 60, 100}, {0xF6}}));
    EXPECT_NE(out.find("2 192 7 99 sent\r\n3 144 60 100 sent\r\n1 246 1 1 sent\r\n"), std::string::npos) << out;
    for (int size : {0, 4, -1}) EXPECT_TRUE(logged.contains("error|midi send size " + std::to_string(size) + " refused"));

    // Off: the input ports close, the list stays, output still works.
    Wireless_setMidiEnabled(h, false);
    onMidi([] {
        EXPECT_TRUE(wireless().midi->inputs().empty());
        EXPECT_FALSE(wireless().midi->outputs().empty());
    });
    ASSERT_NO_FATAL_FAILURE(play({{0x90, 1, 1}})); // heard by nobody but the witness
    Wireless_SendMidi(h, sinkDev, 3, 0x80, 60, 0);
    ASSERT_TRUE(waitFor([&] { return atSink.size() == 1; }));
    EXPECT_EQ(atSink.take(), (std::vector<bytes>{{0x80, 60, 0}}));
    getUpdates();
    EXPECT_EQ(log.of("midiDevices").size(), 1u);
    EXPECT_EQ(wireless().MidiDevices.get(), listed);

    // On again: the ports are listed afresh (now with the system's own output
    // port) and feed is heard again, from its next message on.
    Wireless_setMidiEnabled(h, true);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("midiDevices").size() == 2; }));
    EXPECT_NE(log.of("midiDevices")[1].args[0].find(feedName + "\r\n"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(play({{0x90, 2, 2}}));
    ASSERT_TRUE(waitFor([&] { return midiData.size() >= 1; }));
    EXPECT_EQ(midiData.take(), (std::vector<midiCall>{{3, 144, 2, 2}}));
    for (auto& line : logged.lines()) {
        EXPECT_TRUE(!line.starts_with("error|") || line.starts_with("error|midi send size")) << line;
        EXPECT_FALSE(line.starts_with("warning|")) << line;
    }
}

// ---- microphone equaliser ----

/// The curve as a straight-line interpolation between the points at
/// ascending frequencies, the first at 0 Hz, the last segment extended; a
/// segment of zero width gives the upper gain.
std::vector<double> reference(std::vector<std::pair<double, double>> points, int n) {
    std::vector<double> out;
    if (points.empty()) return std::vector<double>(size_t(n), 1.0);
    if (points.size() == 1) return std::vector<double>(size_t(n), points[0].second);
    points[0].first = 0;
    for (int i = 0; i < n; ++i) {
        const double f = 24000.0 * i / n;
        size_t k = 1;
        while (k + 1 < points.size() && f > points[k].first) ++k;
        auto [x0, y0] = points[k - 1];
        auto [x1, y1] = points[k];
        out.push_back(x1 == x0 ? y1 : y0 + (f - x0) / (x1 - x0) * (y1 - y0));
    }
    return out;
}

void expectCurve(const Wireless& root, const std::vector<std::pair<double, double>>& points, const char* what) {
    buff<float> got = root.Calc(1024);
    ASSERT_EQ(got.size(), 1024u) << what;
    auto want = reference(points, 1024);
    for (size_t i = 0; i < 1024; ++i) {
        ASSERT_TRUE(std::isfinite(got[i])) << what << " at " << i;
        ASSERT_NEAR(got[i], want[i], 1e-6) << what << " at " << i;
    }
}

TEST_F(Root, EqualiserCurveSamplesItsPointsAndCountsTheirChanges) {
    LogCapture logged;
    void* h = root();
    Wireless_resetDefaultMicEQ(h);
    onRoot([] {});
    Wireless_bindDefaultMicEQ(h, host::onCollection<"eq", calibLine_release>);
    init("/data/first");
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("eq").size() == 9; }));
    EXPECT_EQ(wireless().getInitPath(), "/data/first");
    std::vector<void*> p;
    std::vector<std::pair<double, double>> points;
    for (auto& c : log.of("eq")) {
        p.push_back(c.handle);
        auto point = object<calibLine>(c.handle);
        points.emplace_back(point->inp.get(), point->outp.get());
    }
    EXPECT_EQ(points, (std::vector<std::pair<double, double>>{
                          {0, 1}, {64, 1}, {128, 1}, {300, 1}, {600, 1}, {1200, 1}, {2400, 1}, {4800, 1}, {24000, 1}}));
    expectCurve(wireless(), points, "default");

    auto version = [] { return wireless().micEqVersion.load(); };
    auto set = [&](void (*setter)(void*, double), size_t k, double v) {
        setter(p[k], v);
        onRoot([] {}); // the points Init made live on the root's lane
    };
    const uint32_t v0 = version();
    set(calibLine_setoutp, 4, 2.0);
    EXPECT_EQ(version(), v0 + 1);
    points[4].second = 2.0;
    EXPECT_EQ(wireless().Calc(1024)[25], 1.953125f);
    EXPECT_EQ(wireless().Calc(1024)[12], 1.0f);
    expectCurve(wireless(), points, "point 4 at 2.0");
    set(calibLine_setoutp, 4, 2.0); // the same value
    EXPECT_EQ(version(), v0 + 1);
    set(calibLine_setinp, 0, 100.0); // point 0 always stands at 0 Hz
    EXPECT_EQ(version(), v0 + 2);
    expectCurve(wireless(), points, "point 0 moved");

    // A second Init keeps the curve, takes the new path, hooks once.
    init("/data/second");
    EXPECT_EQ(wireless().getInitPath(), "/data/second");
    set(calibLine_setoutp, 4, 3.0);
    EXPECT_EQ(version(), v0 + 3);
    getUpdates();
    EXPECT_EQ(log.of("eq").size(), 9u);

    // Emptied: counts nothing, and no points give 1.0 everywhere.
    Wireless_resetDefaultMicEQ(h);
    onRoot([] {});
    EXPECT_EQ(version(), v0 + 3);
    expectCurve(wireless(), {}, "empty");

    // Three points of the host's, on the global lane: not hooked until the
    // next Init.
    std::vector<void*> own;
    for (auto [hz, gain] : {std::pair{0.0, 0.5}, {1000.0, 1.5}, {2000.0, 0.5}}) {
        own.push_back(calibLine_create());
        calibLine_setinp(own.back(), hz);
        calibLine_setoutp(own.back(), gain);
        Wireless_setDefaultMicEQ(h, 3, 0, own.back());
    }
    auto onGlobal = [&] { onWorker(object<calibLine>(own[0]), [] {}); };
    onGlobal();
    onRoot([] {});
    expectCurve(wireless(), {{0, 0.5}, {1000, 1.5}, {2000, 0.5}}, "three points");
    calibLine_setoutp(own[2], 1.0);
    onGlobal();
    EXPECT_EQ(version(), v0 + 3);
    init("/data/third");
    onGlobal(); // after the hooks Init sent to the points' lane
    calibLine_setinp(own[1], 0.0); // points 0 and 1 at 0 Hz
    onGlobal();
    EXPECT_EQ(version(), v0 + 4);
    expectCurve(wireless(), {{0, 0.5}, {0, 1.5}, {2000, 1.0}}, "two points at 0 Hz");
    EXPECT_EQ(wireless().Calc(1024)[0], 1.5f);

    // Points 7 and 8 at one frequency.
    Wireless_resetDefaultMicEQ(h);
    init("/data/fourth"); // the default curve again
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("eq").size() == 18; }));
    p.clear();
    for (size_t k = 9; k < 18; ++k) p.push_back(log.of("eq")[k].handle);
    EXPECT_EQ(version(), v0 + 4);
    set(calibLine_setinp, 8, 4800.0);
    set(calibLine_setoutp, 8, 2.0);
    EXPECT_EQ(version(), v0 + 6);
    expectCurve(wireless(), {{0, 1}, {64, 1}, {128, 1}, {300, 1}, {600, 1}, {1200, 1}, {2400, 1}, {4800, 1}, {4800, 2}},
                "points 7 and 8 together");
    EXPECT_EQ(wireless().Calc(1024)[1023], 2.0f);

    // Entries left empty by an op 0 set past the end: only the points there
    // count, and a value that is not finite leaves its point out.
    Wireless_resetDefaultMicEQ(h);
    Wireless_setDefaultMicEQ(h, 0, 12, own[0]); // beyond position 8
    onRoot([] {});
    expectCurve(wireless(), {}, "a point past position 8");
    Wireless_setDefaultMicEQ(h, 0, 2, own[1]);
    init("/data/fifth");
    onGlobal();
    expectCurve(wireless(), {{0, 1.5}}, "one point");
    calibLine_setoutp(own[1], std::numeric_limits<double>::quiet_NaN());
    onGlobal();
    expectCurve(wireless(), {}, "a point whose gain is not a number");
    EXPECT_EQ(version(), v0 + 7);
    EXPECT_EQ(wireless().Calc(0).size(), 0u);
    for (void* o : own) calibLine_release(o);
    for (auto& line : logged.lines()) EXPECT_EQ(line.find("error"), std::string::npos) << line;
}

// ---- the root outlives the host's handle ----

void onAdded(void* v, long long, int, int) { host::Log::get().add({"added", {}, v}, vtrx_release); }

// Last: releases the process's root handle.
TEST_F(Root, ReleasedByTheHostItServesTheSoundAndMidiOn) {
    if (!jackServes()) VIREO_SKIP_OR_FAIL("jackd is not running: tests/audio/jackd.sh starts it (ctest does)");
    void* h = root();
    const std::string tag = std::to_string(getpid());
    RtMidiOut feed(RtMidi::UNIX_JACK, "vireo-late-" + tag);
    feed.openVirtualPort("feed");
    if (!initSent) init("/tmp");
    Wireless_bindMidiData(h, onMidiData);
    Wireless_setMidiEnabled(h, false);
    Wireless_setMidiEnabled(h, true); // lists feed
    ASSERT_TRUE(host::pollUntil(poll, [&] {
        return wireless().MidiDevices.get().find("vireo-late-" + tag + ":feed") != std::string::npos;
    }));

    // A transceiver playing on the server's sound card.
    void* radio = TestRadio_create();
    Radio_bindvtrxAdded(radio, onAdded);
    Radio_start(radio);
    ASSERT_TRUE(host::pollUntil(poll, [&] { return log.of("added").size() == 1; }));
    void* v = log.of("added")[0].handle;
    vtrx_start(v);
    const auto io = object<vtrx>(v)->outputStream.io;
    ASSERT_TRUE(waitFor([&] { return io->readerStamp() != 0; }));

    Wireless_release(h);
    root() = nullptr;
    midiData.take();
    const uint32_t stamp = io->readerStamp();
    EXPECT_TRUE(host::pollUntil(poll, [&] { return io->readerStamp() != stamp; })); // still played
    // Still delivered; played again until heard, as in warmUp.
    std::vector<unsigned char> note{0x90, 3, 3};
    for (int i = 0; i < 50 && midiData.size() == 0; ++i) {
        feed.sendMessage(&note);
        waitFor([&] { return midiData.size() != 0; }, std::chrono::milliseconds(200));
    }
    const auto heard = midiData.take();
    ASSERT_FALSE(heard.empty());
    for (auto& call : heard) EXPECT_EQ(call, (midiCall{3, 144, 3, 3}));

    asyncObject_bindDeleted(radio, host::on<"gone", int>);
    asyncObject_bindDeleted(v, host::on<"gone", int>);
    Radio_release(radio);
    log.clear(); // frees the transceiver's handle
    EXPECT_TRUE(host::pollUntil(poll, [&] { return log.of("gone").size() == 2; }));
    closeAudio(); // as a host ends: no sound job outlives the process's statics
}

// ---- a port opened by name ----

/// A JACK client whose next period, when asked, ends 100 ms late. Until it
/// ends the server runs the graph it had: a connection made meanwhile
/// carries nothing.
class lateClient {
public:
    explicit lateClient(const std::string& name) : client_(jack_client_open(name.c_str(), JackNoStartServer, nullptr)) {
        if (!client_) return;
        jack_set_process_callback(client_, [](jack_nframes_t, void* self) {
            auto& state = static_cast<lateClient*>(self)->state_;
            if (state != asked) return 0;
            state = late;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            state = idle;
            return 0;
        }, this);
        jack_activate(client_);
    }
    ~lateClient() {
        if (client_) jack_client_close(client_);
    }
    /// Returns once a late period has begun, after any before it ended.
    void begin() {
        while (state_ != idle) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        state_ = asked;
        while (state_ == asked) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

private:
    enum { idle, asked, late };
    jack_client_t* client_;
    std::atomic<int> state_{idle};
};

// Not under ThreadSanitizer: the first pass of each port through JACK's ring
// buffer stalls a cycle there (see warmUp), and the message it carries is lost.
#ifndef __SANITIZE_THREAD__
TEST(MidiPortByName, CarriesTheFirstMessageEitherWayWhileAClientRunsLate) {
    if (!jackServes()) VIREO_SKIP_OR_FAIL("jackd is not running: tests/audio/jackd.sh starts it (ctest does)");
    const std::string tag = std::to_string(getpid());
    received<bytes> atSink, atIn;
    RtMidiIn sink(RtMidi::UNIX_JACK, "vireo-sink-" + tag), in(RtMidi::UNIX_JACK, "vireo-in-" + tag);
    sink.setCallback(onPort, &atSink);
    sink.openVirtualPort("sink");
    in.setCallback(onPort, &atIn);
    RtMidiOut feed(RtMidi::UNIX_JACK, "vireo-feed-" + tag), out(RtMidi::UNIX_JACK, "vireo-out-" + tag);
    feed.openVirtualPort("feed");
    bytes note{0x90, 60, 100};
    lateClient client("vireo-late-" + tag);
    client.begin();
    ASSERT_TRUE(openMidiPortByName(out, RtMidi::UNIX_JACK, "vireo-sink-" + tag + ":sink", "out"));
    out.sendMessage(&note);
    client.begin();
    ASSERT_TRUE(openMidiPortByName(in, RtMidi::UNIX_JACK, "vireo-feed-" + tag + ":feed", "in"));
    feed.sendMessage(&note);
    EXPECT_TRUE(waitFor([&] { return atSink.size() && atIn.size(); }, std::chrono::seconds(2)));
    EXPECT_EQ(atSink.all(), std::vector<bytes>{note}) << "sent on an output port just opened";
    EXPECT_EQ(atIn.all(), std::vector<bytes>{note}) << "arriving at an input port just opened";
}
#endif

} // namespace
