#pragma once
// The loop-back rig of the voice-mode tests, driven through the exported
// functions as a host would: the test radio with a transmitting and a
// receiving transceiver at 14000000, the transmitter's microphone being the
// simulated card's 48000 Hz input. What is measured comes back through
// getUpdates: the receiver's raw IQ (on the test radio exactly what was
// transmitted) and its audio, with the receive gain control off at 0 dB.
//
// The test radio keeps real time, so the card is paced along with it; a
// measurement of 65536 samples takes 1.4 s.
#include "vireocore.h"

#include "audio/Wireless.h"
#include "audio/soundRig.h" // thdPlusNoiseDb
#include "core/vtrx.h"
#include "framework/library.h"
#include "framework/objectHandle.h"
#include "support/fakeAudio.h"
#include "support/hostHarness.h"
#include "support/logCapture.h"

#include <gtest/gtest.h>
#include <kissfft/kissfft.hh>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace voiceLoop {

inline std::mutex m;
inline std::vector<void*> added;
inline std::vector<std::complex<float>> iq;
inline size_t iqReceived = 0; // all the IQ samples that came, never cleared
inline std::vector<float> audio;

inline void onAdded(void* v, long long, int, int) {
    std::lock_guard<std::mutex> l(m);
    added.push_back(v);
}
inline void onIQ(void* a, double, int) {
    std::lock_guard<std::mutex> l(m);
    auto* d = reinterpret_cast<std::complex<float>*>(complexArray_data(a));
    iq.insert(iq.end(), d, d + complexArray_size(a));
    iqReceived += size_t(complexArray_size(a));
    complexArray_delete(a);
}
inline void onAudio(void* a) {
    std::lock_guard<std::mutex> l(m);
    audio.insert(audio.end(), floatArray_data(a), floatArray_data(a) + floatArray_size(a));
    floatArray_delete(a);
}
inline void poll() {
    getUpdates();
    getRenderUpdates();
}

constexpr size_t fftLength = 65536;

/// Power spectrum of the last fftLength samples under a 4-term
/// Blackman-Harris window (side lobes below -92 dB), bin k at
/// k × 48000 / fftLength Hz (negative frequencies in the upper half).
inline std::vector<double> powerSpectrum(const std::vector<std::complex<double>>& x) {
    const size_t n = fftLength;
    std::vector<std::complex<double>> in(n), out(n);
    for (size_t i = 0; i < n; ++i) {
        const double p = 2 * std::numbers::pi * double(i) / double(n);
        const double w = 0.35875 - 0.48829 * std::cos(p) + 0.14128 * std::cos(2 * p) - 0.01168 * std::cos(3 * p);
        in[i] = w * x[x.size() - n + i];
    }
    kissfft<double>(n, false).transform(in.data(), out.data());
    std::vector<double> power(n);
    for (size_t k = 0; k < n; ++k) power[k] = std::norm(out[k]);
    return power;
}

/// Power within ± 8 bins of hz (which may be negative).
inline double lineAt(const std::vector<double>& power, double hz) {
    const long n = long(power.size());
    const long centre = std::lround(hz * double(n) / 48000.0);
    double s = 0;
    for (long k = centre - 8; k <= centre + 8; ++k) s += power[size_t(((k % n) + n) % n)];
    return s;
}

inline std::vector<double> spectrumOf(const std::vector<std::complex<float>>& x) {
    return powerSpectrum(std::vector<std::complex<double>>(x.begin(), x.end()));
}
inline std::vector<double> spectrumOf(const std::vector<float>& x) {
    return powerSpectrum(std::vector<std::complex<double>>(x.begin(), x.end()));
}

/// Harmonic distortion of a real tone at hz: harmonics 2 .. 5 against the
/// fundamental, as a ratio of amplitudes.
inline double thd(const std::vector<float>& x, double hz) {
    auto p = spectrumOf(x);
    double h = 0;
    for (int k = 2; k <= 5; ++k) h += lineAt(p, k * hz);
    return std::sqrt(h / lineAt(p, hz));
}

class Rig : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool started = false;
        if (started) return;
        started = true;
        FakeAudio::install();
        init((::testing::TempDir() + "vireo_voice_" + std::to_string(getpid()) + ".log").c_str(), 1);
        LogCapture::tapLibrary();
        // The root object lives as long as the process, as a host keeps it.
        static auto root = std::make_shared<Wireless>(globalTaskGroup);
    }

    void SetUp() override {
        radio = TestRadio_create();
        Radio_bindvtrxAdded(radio, onAdded);
        Radio_start(radio); // adds the first transceiver
        Radio_addVtrx(radio, 14000000, 0, 0);
        ASSERT_TRUE(host::pollUntil(poll, [] {
            std::lock_guard<std::mutex> l(m);
            return added.size() == 2;
        }));
        tx = added[0];
        rx = added[1];
        vtrx_bindrxagc(rx, host::onObject<"rxagc", agc_release>);
        ASSERT_TRUE(host::pollUntil(poll, [] { return !host::Log::get().of("rxagc").empty(); }));
        void* agc = host::Log::get().of("rxagc")[0].handle;
        agc_setEnabled(agc, false);
        agc_setManualGain(agc, 0.0);
        vtrx_bindnewAudio(rx, onAudio);
        vtrx_bindnewIQ(rx, onIQ);
        vtrx_setSendAudio(rx, true);
        vtrx_setSendIQ(rx, true);
        vtrx_setaudioInput(tx, FakeAudio::mic48000);
        card.startPacing();
        vtrx_start(rx);
        vtrx_start(tx);
    }

    void TearDown() override {
        vtrx_setptt(tx, false);
        Radio_stop(radio);
        host::pollFor(poll, std::chrono::milliseconds(100));
        card.stopPacing();
        for (void* v : added) vtrx_release(v);
        added.clear();
        for (auto& [h, release] : modes) release(h);
        modes.clear();
        Radio_release(radio);
        host::pollFor(poll, std::chrono::milliseconds(50));
        host::Log::get().clear();
        card.setMicrophone(FakeAudio::mic48000, [](int64_t) { return 0.0f; });
        std::lock_guard<std::mutex> l(m);
        iq.clear();
        audio.clear();
    }

    /// A tone at the microphone, amplitude a (1 is full scale).
    void microphone(double hz, double a) {
        card.setMicrophone(FakeAudio::mic48000, [hz, a](int64_t n) {
            return float(a * std::sin(2 * std::numbers::pi * hz * double(n) / 48000.0));
        });
    }

    /// Puts a mode on a transceiver; the rig releases it at the end.
    void use(void* transceiver, void* mode, void (*release)(void*)) {
        modes.push_back({mode, release});
        vtrx_setModulation(transceiver, mode);
    }

    /// Lets the chain settle, then gathers at least n samples of IQ and audio
    /// (audio only when the receiver's mode makes any). Settled means 400 ms,
    /// and 400 ms of samples on the air: a busy chain makes them slower than
    /// the clock, and the start of a transmission (its lead silence, fade-in
    /// and filters filling) must lie behind.
    ///
    /// A machine too busy to keep the chain in real time breaks the
    /// microphone stream: it falls behind the paced sound card and jumps to
    /// catch up, or it runs dry while the card is late with a buffer and
    /// reads silence until it comes. Either is a click or a gap in the
    /// transmitted tone that no receiver could hide, and it reaches the air
    /// only after the chain's filters and queues, a few blocks later. So
    /// each break the settling sees starts it over, and a gathering the
    /// stream broke in is taken again (up to six times in all). A stream that
    /// breaks without such a cause fails the suite at the fifth gathering it
    /// spoils: a loaded machine spoils a gathering or two a suite, a break in
    /// every other gathering a dozen.
    void gather(size_t n, bool wantAudio = true) {
        for (int attempt = 1;; ++attempt) {
            // Up to 15 s: a chain that never settles that long spoils the
            // gathering below.
            constexpr auto settling = std::chrono::milliseconds(400);
            constexpr size_t settlingSamples = 48000 * 400 / 1000;
            uint64_t breaks = microphoneBreaks();
            auto settled = std::chrono::steady_clock::now() + settling;
            size_t from = received();
            const bool settledInTime = host::pollUntil(
                poll,
                [&] {
                    const auto now = std::chrono::steady_clock::now();
                    if (const uint64_t b = microphoneBreaks(); b != breaks) {
                        breaks = b;
                        settled = now + settling;
                        from = received();
                    }
                    return now >= settled && received() - from >= settlingSamples;
                },
                std::chrono::seconds(15));
            {
                std::lock_guard<std::mutex> l(m);
                iq.clear();
                audio.clear();
            }
            // The longest this thread was held off between two looks.
            auto looked = std::chrono::steady_clock::now();
            std::chrono::steady_clock::duration heldOff{};
            ASSERT_TRUE(host::pollUntil(
                poll,
                [&] {
                    const auto now = std::chrono::steady_clock::now();
                    heldOff = std::max(heldOff, now - looked);
                    looked = now;
                    std::lock_guard<std::mutex> l(m);
                    return iq.size() >= n && (!wantAudio || audio.size() >= n);
                },
                std::chrono::seconds(15)));
            if (settledInTime && microphoneBreaks() == breaks) return;
            // A machine that held this thread off for half the time after
            // which the stream starts over held the chain off too: that break
            // is explained. So is any in a build slowed by a sanitizer, where
            // the chain falls behind the paced card by itself.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
            constexpr bool instrumented = true;
#else
            constexpr bool instrumented = false;
#endif
            if (!instrumented && heldOff < std::chrono::nanoseconds(AudioInputStream::resyncAfterNs / 2)) {
                const long seen = jumpedGatherings();
                ASSERT_LE(seen, 4) << "the microphone stream broke in " << seen << " gatherings of the suite";
            }
            if (attempt == 6) return;
            std::printf("microphone stream broke while gathering (this thread held off %.0f ms): again\n",
                        std::chrono::duration<double, std::milli>(heldOff).count());
        }
    }

    /// Counts one more spoiled gathering; returns how many the suite has seen.
    /// The suite's tests run as processes of their own, so under ctest they
    /// count together in the file VIREO_MICROPHONE_JUMPS names (emptied by the
    /// fixture voice_loop.jumps.reset), a byte for each; otherwise in this
    /// process alone.
    static long jumpedGatherings() {
        static long own = 0;
        const char* path = std::getenv("VIREO_MICROPHONE_JUMPS");
        if (!path || !*path) return ++own;
        // One appended byte is one atomic write, whichever processes append.
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0 || ::write(fd, "j", 1) != 1) {
            if (fd >= 0) ::close(fd);
            ADD_FAILURE() << "cannot count a jump in " << path;
            return ++own;
        }
        struct stat st {};
        const long seen = ::fstat(fd, &st) == 0 ? long(st.st_size) : ++own;
        ::close(fd);
        return seen;
    }

    static size_t received() {
        std::lock_guard<std::mutex> l(m);
        return iqReceived;
    }

    /// The transmitter's microphone stream's jumps and gaps so far.
    uint64_t microphoneBreaks() const {
        const AudioInputStream& mic = dynamic_cast<vtrx&>(**static_cast<objectHandle*>(tx)).inputStream;
        return mic.resyncs() + mic.gaps();
    }

    FakeAudio& card = FakeAudio::install();
    void* radio = nullptr;
    void *tx = nullptr, *rx = nullptr;
    std::vector<std::pair<void*, void (*)(void*)>> modes;
};

} // namespace voiceLoop
