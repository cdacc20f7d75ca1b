#pragma once
// The test side of the librtlsdr stand-in (tests/standins/rtlsdr): its
// control functions, and a fixture for host-driven RTL tests that starts
// every case from a clean stand-in and captures the log.
#include "core/coreObjectFixture.h"
#include "standins/standinControl.h"
#include "support/logCapture.h"

#include <rtl-sdr.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace rtlsdr {

template <class F>
F* fn(const char* name) {
    return standin::control<F>("librtlsdr.so.0", name);
}

inline void reset() { fn<void()>("standin_rtlsdr_reset")(); }
inline int addDevice(const char* serial, int tuner = RTLSDR_TUNER_R820T) {
    return fn<int(const char*, int)>("standin_rtlsdr_add_device")(serial, tuner);
}
inline void rawSerial(int index, const std::string& bytes256) {
    fn<void(int, const char*)>("standin_rtlsdr_raw_serial")(index, bytes256.data());
}
inline void gains(int index, const std::vector<int>& g, int reported) {
    fn<void(int, const int*, int, int)>("standin_rtlsdr_gains")(index, g.data(), int(g.size()), reported);
}
inline void gains(int index, const std::vector<int>& g) { gains(index, g, int(g.size())); }
inline void fail(const char* call, int code) { fn<void(const char*, int)>("standin_rtlsdr_fail")(call, code); }
inline void pace(double buffersPerSecond) { fn<void(double)>("standin_rtlsdr_pace")(buffersPerSecond); }
inline void tone(double hz, double amplitude) { fn<void(double, double)>("standin_rtlsdr_tone")(hz, amplitude); }
inline void pattern(const std::vector<unsigned char>& bytes) {
    fn<void(const unsigned char*, int)>("standin_rtlsdr_pattern")(bytes.data(), int(bytes.size()));
}
inline void budget(long buffers) { fn<void(long)>("standin_rtlsdr_budget")(buffers); }
inline void unplugAfter(long buffers, int code) { fn<void(long, int)>("standin_rtlsdr_unplug_after")(buffers, code); }
inline long delivered() { return fn<long()>("standin_rtlsdr_delivered")(); }
inline int reading() { return fn<int()>("standin_rtlsdr_reading")(); }
inline int openHandles() { return fn<int()>("standin_rtlsdr_open_handles")(); }
inline void clearCalls() { fn<void()>("standin_rtlsdr_clear_log")(); }

/// The calls the library received, in order.
inline std::vector<std::string> calls() {
    auto log = fn<size_t(char*, size_t)>("standin_rtlsdr_log");
    std::string text(log(nullptr, 0), '\0');
    log(text.data(), text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

/// The calls that start with `prefix`.
inline std::vector<std::string> calls(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& c : calls())
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

} // namespace rtlsdr

/// Host-driven RTL tests: a fresh stand-in and a log capture per case.
class RTLHost : public CoreObjects {
protected:
    void SetUp() override {
        rtlsdr::reset();
        capture = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        // Nothing the library did may have touched a closed handle.
        for (auto& c : rtlsdr::calls()) EXPECT_EQ(c.find("not open"), std::string::npos) << c;
        CoreObjects::TearDown();
        capture.reset();
    }

    /// Releases an object and waits until it is gone.
    void releaseAndWait(void* handle, void (*release)(void*)) {
        asyncObject_bindDeleted(handle, host::on<"gone", int>);
        size_t before = log.of("gone").size();
        release(handle);
        EXPECT_TRUE(host::pollUntil(getUpdates, [&] { return log.of("gone").size() == before + 1; }));
    }

    /// Waits until the log holds `line` `times` times.
    bool logged(const std::string& line, size_t times = 1) {
        return host::pollUntil(getUpdates, [&] { return capture->count(line) >= times; });
    }

    std::unique_ptr<LogCapture> capture;
};
