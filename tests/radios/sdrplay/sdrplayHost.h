#pragma once
// The test side of the sdrplay_api stand-in (tests/standins/sdrplay): its
// control functions, and a fixture that gives every case a fresh stand-in
// "installed" in a folder of its own, a root object whose Init folder takes
// the instance copies, and a log capture.
#include "audio/Wireless.h"
#include "core/coreObjectFixture.h"
#include "radios/sdrplay/SDRPlayLib.h"
#include "radios/sdrplay/SDRPlayRadio.h"
#include "standins/standinControl.h"
#include "support/fakeAudio.h"
#include "support/logCapture.h"
#include "support/waitFor.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sdrplay {

template <class F>
F* fn(const char* name) {
    return standin::control<F>("libsdrplayworld.so", name);
}

inline void reset() { fn<void()>("standin_sdrplay_reset")(); }
inline int addDevice(const char* serial, int hwVer = 255, int duoMode = 0) {
    return fn<int(const char*, int, int)>("standin_sdrplay_add_device")(serial, hwVer, duoMode);
}
inline void fail(const char* call, int code) { fn<void(const char*, int)>("standin_sdrplay_fail")(call, code); }
inline void nullTree(bool on) { fn<void(int)>("standin_sdrplay_null_tree")(on); }
inline void overcount(bool on) { fn<void(int)>("standin_sdrplay_overcount")(on); }
inline void version(float v) { fn<void(float)>("standin_sdrplay_version")(v); }
inline void stream(unsigned samples, double perSecond) {
    fn<void(unsigned, double)>("standin_sdrplay_stream")(samples, perSecond);
}
inline void tone(int k, double hz, double amplitude) { fn<void(int, double, double)>("standin_sdrplay_tone")(k, hz, amplitude); }
inline void constant(int k, int i, int q) { fn<void(int, int, int)>("standin_sdrplay_constant")(k, i, q); }
inline void allow(int k, long total) { fn<void(int, long)>("standin_sdrplay_allow")(k, total); }
inline long delivered(int k) { return fn<long(int)>("standin_sdrplay_delivered")(k); }
inline int inCallback(int d, int k) { return fn<int(int, int)>("standin_sdrplay_in_callback")(d, k); }
inline void event(int d, int e, int tuner, double value) {
    fn<void(int, int, int, double)>("standin_sdrplay_event")(d, e, tuner, value);
}
inline bool eventsDone(int d) { return fn<int(int)>("standin_sdrplay_events_done")(d); }
inline void replug(int d) { fn<void(int)>("standin_sdrplay_replug")(d); }
inline double rf(int d, int k) { return fn<double(int, int)>("standin_sdrplay_rf")(d, k); }
inline bool streaming(int d) { return fn<int(int)>("standin_sdrplay_streaming")(d); }
inline bool claimed(int d) { return fn<int(int)>("standin_sdrplay_claimed")(d); }
inline void clearCalls() { fn<void()>("standin_sdrplay_clear_log")(); }

/// The calls the library received that start with `prefix`, in order.
inline std::vector<std::string> calls(const std::string& prefix = "") {
    auto log = fn<size_t(char*, size_t)>("standin_sdrplay_log");
    std::string text(log(nullptr, 0), '\0');
    log(text.data(), text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

} // namespace sdrplay

class SDRPlayHost : public CoreObjects {
protected:
    static void SetUpTestSuite() {
        FakeAudio::install();
        CoreObjects::SetUpTestSuite();
    }

    void SetUp() override {
        static int cases = 0;
        sdrplay::reset();
        folder = ::testing::TempDir() + "vireo_sdrplay_" + std::to_string(getpid()) + "_" + std::to_string(++cases);
        std::filesystem::create_directories(folder + "/lib");
        install(SDRPLAY_STANDIN, "3.15");
        root().setInitPath(folder + "/root");
        SDRPlayLib::restartProcessState(folder + "/lib");
        capture = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        EXPECT_TRUE(sdrplay::calls("fault").empty()) << sdrplay::calls("fault").front();
        CoreObjects::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    /// The root object whose Init folder places the copies; one per process.
    static Wireless& root() {
        static auto* r = new std::shared_ptr<Wireless>(std::make_shared<Wireless>(globalTaskGroup));
        return **r;
    }

    /// Puts a stand-in where the loader probes, as libsdrplay_api.so.<version>.
    void install(const char* standin, const std::string& version) {
        std::filesystem::copy_file(standin, folder + "/lib/libsdrplay_api.so." + version,
                                   std::filesystem::copy_options::overwrite_existing);
    }

    /// A radio on the device with this serial, at this rate and model, in
    /// the order a host sets them; its first start will add a transceiver.
    void* radio(const char* serial, const char* model, int rate) {
        void* r = SDRPlayRadio_create();
        Radio_bindvtrxAdded(r, [](void* v, long long, int, int) { host::Log::get().add({"added", {}, v}, vtrx_release); });
        SDRPlayRadio_setSerialNo(r, serial);
        Radio_setSampleRate(r, rate);
        SDRPlayRadio_setModel(r, model);
        return r;
    }
    /// Waits until the radio has run every request queued so far.
    void settle(void* r) {
        onWorker(object<SDRPlayRadio>(r), [] {});
    }
    /// Runs f(radio) on the radio's task group, after the requests queued
    /// so far, and waits for it.
    template <class F>
    void inspect(void* r, F f) {
        auto radio = object<SDRPlayRadio>(r);
        onWorker(radio, [&] { f(*radio); });
    }
    /// Starts a radio and waits for it.
    void start(void* r) {
        Radio_start(r);
        settle(r);
    }
    /// Starts a radio and waits until it has tuned tuner A.
    void startTuned(void* r) {
        start(r);
        ASSERT_TRUE(waitFor([] { return !sdrplay::calls("Update 1 0x20000").empty(); }));
    }
    /// Stops (unless told not to) and releases a radio and its
    /// transceivers, and waits until all are gone.
    void finish(void* r, bool stop = true) {
        if (stop) Radio_stop(r);
        getUpdates(); // the transceivers added so far
        asyncObject_bindDeleted(r, host::on<"gone", int>);
        auto added = log.of("added");
        for (auto& a : added) asyncObject_bindDeleted(a.handle, host::on<"gone", int>);
        SDRPlayRadio_release(r);
        log.clear();
        EXPECT_TRUE(host::pollUntil(
            [] {
                getUpdates();
                getRenderUpdates();
            },
            [&] { return log.of("gone").size() == 1 + added.size(); }));
        log.forget("gone");
    }
    bool logged(const std::string& line) {
        return host::pollUntil(getUpdates, [&] { return capture->contains(line); });
    }

    std::string folder;
    std::unique_ptr<LogCapture> capture;
};
