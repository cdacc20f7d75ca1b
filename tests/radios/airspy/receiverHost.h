#pragma once
// A host driving an Airspy or Airspy HF+ radio through the C interface, with
// the driver's stand-in (tests/standins/airspy, airspyhf) loaded in its place:
// the stand-in's control functions, the radio's transceiver and its spectrum
// lines, and the log.
#include "core/coreObjectFixture.h"
#include "framework/library.h"
#include "framework/sothreadPool.h"
#include "standins/standinControl.h"
#include "standins/standinKit.h"
#include "support/logCapture.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <string>
#include <vector>

/// The control functions of a stand-in receiver driver (standin_<lib>_...,
/// tests/standins/airspy/floatIqReceiver.h).
struct ReceiverStandin {
    void (*reset)();
    void (*setSerials)(const uint64_t*, int);
    void (*setRates)(const uint32_t*, int);
    void (*setTone)(double offset, double amplitude);
    void (*setPaced)(int);
    void (*allow)(long transfers);
    void (*fail)(const char* call, int code);
    void (*unplug)(int);
    void (*setFreqShift)(int32_t);
    long (*delivered)();
    int (*streaming)();
    int (*closedOnDeliveryThread)();
    void (*setCloseDelay)(int ms);
    const standin::CallLog* (*callLog)();

    /// Throws when the loaded `library` is not the stand-in.
    ReceiverStandin(const char* library, const std::string& lib) {
#define VIREO_FIND(f) f = standin::control<std::remove_pointer_t<decltype(f)>>(library, ("standin_" + lib + "_" #f).c_str())
        VIREO_FIND(reset), VIREO_FIND(setSerials), VIREO_FIND(setRates), VIREO_FIND(setTone), VIREO_FIND(setPaced);
        VIREO_FIND(allow), VIREO_FIND(fail), VIREO_FIND(unplug), VIREO_FIND(setFreqShift), VIREO_FIND(delivered);
        VIREO_FIND(streaming), VIREO_FIND(closedOnDeliveryThread), VIREO_FIND(setCloseDelay), VIREO_FIND(callLog);
#undef VIREO_FIND
    }

    std::vector<std::string> calls() const { return callLog()->lines(); }
    /// The calls whose text starts with `prefix`.
    std::vector<std::string> callsOf(const std::string& prefix) const {
        std::vector<std::string> out;
        for (auto& c : calls())
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }
    bool waitForCall(const std::string& line, size_t times = 1) const {
        return waitFor([&] {
            auto all = calls();
            return size_t(std::count(all.begin(), all.end(), line)) >= times;
        });
    }
};

/// One spectrum line as the host receives it.
struct SpectrumLine {
    std::vector<float> values;
    double low, high;
};

class ReceiverHost : public CoreObjects {
protected:
    /// library: the driver's file name ("libairspy.so.0"); lib: its control
    /// prefix ("airspy").
    void attach(const char* library, const char* lib) {
        try {
            standin_ = std::make_unique<ReceiverStandin>(library, lib);
        } catch (const std::exception& e) {
            VIREO_SKIP_OR_FAIL(std::string("the driver's stand-in is not loaded (") + e.what() +
                               "); run through ctest, which puts it on LD_LIBRARY_PATH");
        }
        standin_->reset();
        capture_ = std::make_unique<LogCapture>();
        std::lock_guard<std::mutex> l(linesMutex());
        lines().clear();
    }
    void TearDown() override {
        poll();
        CoreObjects::TearDown(); // frees the transceivers' handles
        // Blocks still queued keep their transceivers working; they must be
        // done before the process (and its transform plans) goes.
        waitFor([] { return globalPool->busy() == 0; });
        poll();
        capture_.reset();
    }

    ReceiverStandin& standin() { return *standin_; }
    LogCapture& logged() { return *capture_; }

    static void poll() {
        getUpdates();
        getRenderUpdates();
    }

    /// Starts the radio and returns the transceiver it adds, attached to a
    /// mode and drawing spectrum lines in the foreground.
    void* startWithTransceiver(void* radio) {
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio);
        if (!host::pollUntil(poll, [&] { return !log.of("added").empty(); })) return nullptr;
        void* v = log.of("added").back().handle;
        void* mode = proxyModDemod_create();
        vtrx_setModulation(v, mode);
        proxyModDemod_release(mode); // the transceiver keeps it
        vtrx_setforegroundDisplay(v, true);
        vtrx_bindnewSpectrum(v, onLine);
        vtrx_start(v);
        return v;
    }

    /// Returns once the radio has run every request queued before, and the
    /// data tasks those requests queued for it (a new transceiver's retune).
    void settle(void* radio) {
        onWorker(object<Radio>(radio), [] {});
        onWorker(object<Radio>(radio), [] {});
    }
    /// The same after a transceiver's requests, which reach the radio as
    /// data tasks.
    void settle(void* radio, void* transceiver) {
        onWorker(object<asyncObject>(transceiver), [] {});
        settle(radio);
    }
    /// The driver calls made since the first `mark` ones.
    std::vector<std::string> callsSince(size_t mark) {
        auto all = standin().calls();
        return {all.begin() + long(std::min(mark, all.size())), all.end()};
    }

    /// Releases a radio and waits until it is gone, its work with it.
    void releaseAndWait(void* radio) {
        asyncObject_bindDeleted(radio, host::on<"gone", int>);
        size_t before = log.of("gone").size();
        Radio_release(radio);
        EXPECT_TRUE(host::pollUntil(poll, [&] { return log.of("gone").size() > before; }));
    }

    /// Forgets the spectrum lines received so far.
    void clearLines() {
        std::lock_guard<std::mutex> l(linesMutex());
        lines().clear();
    }
    /// Polls until `count` lines have come since clearLines (at most 10 s);
    /// returns those there are.
    std::vector<SpectrumLine> waitForLines(size_t count) {
        host::pollUntil(poll, [&] {
            std::lock_guard<std::mutex> l(linesMutex());
            return lines().size() >= count;
        });
        std::lock_guard<std::mutex> l(linesMutex());
        return lines();
    }
    /// Polls until a line spans `span` Hz.
    bool waitForLineSpanning(double span) {
        return host::pollUntil(poll, [&] {
            std::lock_guard<std::mutex> l(linesMutex());
            for (auto& line : lines())
                if (std::abs(line.high - line.low - span) < 1.0) return true;
            return false;
        });
    }
    /// Whether some logged line ("level|text") starts with `prefix`.
    bool loggedStartingWith(const std::string& prefix) {
        for (auto& line : logged().lines())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }

    /// Where a complex tone of amplitude a at frequency f should show in a
    /// line: its bin, and its value, from the transform of the window the
    /// transceiver's spectrum uses (mean 1) at the tone's offset from that
    /// bin's centre.
    static std::pair<size_t, double> expectedPeak(const std::vector<float>& window, const SpectrumLine& line,
                                                  double f, double a) {
        const double n = double(window.size());
        const double position = (f - line.low) / (line.high - line.low) * n;
        const double bin = std::round(position);
        std::complex<double> w = 0;
        for (size_t k = 0; k < window.size(); ++k)
            w += double(window[k]) * std::polar(1.0, -2 * M_PI * (position - bin) * double(k) / n);
        return {size_t(bin), std::log10(10.0 * a * a * std::norm(w) / (n * n))};
    }

    host::Log& log = host::Log::get();

private:
    static std::mutex& linesMutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<SpectrumLine>& lines() {
        static std::vector<SpectrumLine> l;
        return l;
    }
    static void onAdded(void* v, long long frequency, int rate, int ownerId) {
        host::Log::get().add({"added", {std::to_string(frequency)}, v}, vtrx_release);
    }
    static void onLine(void* line, int, double low, double high) {
        std::lock_guard<std::mutex> l(linesMutex());
        lines().push_back({{floatArray_data(line), floatArray_data(line) + floatArray_size(line)}, low, high});
        floatArray_delete(line);
    }

    std::unique_ptr<ReceiverStandin> standin_;
    std::unique_ptr<LogCapture> capture_;
};
