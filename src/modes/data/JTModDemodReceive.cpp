// The receive half of the JT mode: period timing against the UTC clock
// (which a recording follows across gaps in the stream), the decimated (or
// mixed-down complex) copy of each period, and the hand-over of finished
// periods to their writers and of written files to the host.
#include "modes/data/JTModDemod.h"
#include "modes/data/utcClock.h"

#include "core/vtrx.h"
#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>

namespace {

constexpr long long microsPerDay = 86400000000LL;
constexpr double twoPi = 2.0 * 3.14159265358979323846;
/// A stream this far behind the clock has had a gap (a radio stopped and
/// started, samples lost on the way), not a late turn: longer than the
/// bursts radios deliver their samples in (an RTL-SDR buffer at 250000/s
/// spans 65 ms), shorter than a device takes to stop and start again.
constexpr long long gapMicros = 200000;

/// A phase brought back into [0, 2 pi).
double wrapped(double phase) {
    phase = std::fmod(phase, twoPi);
    return phase < 0 ? phase + twoPi : phase;
}

/// UTC time of a clock reading in the recording's name format.
std::string fileName(long long micros, const char* format) {
    std::time_t seconds = std::time_t(micros / 1000000);
    if (micros < 0 && micros % 1000000) --seconds;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, format, &utc);
    return std::string(text, n);
}

} // namespace

buff<float> JTModDemod::demodulate(buff<cplx> block) {
    buff<float> audio(block.count);
    for (size_t i = 0; i < block.count; ++i) audio[i] = block[i].real();
    if (!Enabled.get()) return audio;
    if (block.count > 0) blockLength_.store(int(std::min<size_t>(block.count, INT_MAX)));

    const long long now = jt::utcMicros();
    if (recording_ && rec_.disabled != disabled_.load()) abandonRecording();
    if (recording_) {
        keepGapSilent(now);
        if (periodFull()) completePeriod();
    }
    if (!recording_ && periodStarts(now)) recording_ = true;
    if (recording_) {
        record(block);
        if (periodFull()) completePeriod();
        startTest();
    }
    collectFiles();
    return audio;
}

bool JTModDemod::periodStarts(long long micros) {
    long long timeOfDay = micros % microsPerDay;
    if (timeOfDay < 0) timeOfDay += microsPerDay;
    const long long minuteOfHour = timeOfDay / 60000000 % 60;
    const long long inMinute = timeOfDay % 60000000;
    // Whole half-seconds since the start of the hour.
    const long long halves = 2 * (inMinute / 1000000 + 60 * minuteOfHour) + inMinute % 1000000 / 500000;
    const int periodMs = period_.get();
    const long long P = periodMs / 500; // at least 1: shorter periods are refused
    // A period is recorded once while the clock runs on in it, also when
    // its recording ends (or is abandoned) within the half second in which
    // it may start; a reading in another period, or a clock set back,
    // forgets it.
    const long long begins = micros - timeOfDay % 3600000000LL + halves / P * periodMs * 1000LL;
    if (begins == recordedPeriod_ && micros > startMicros_) return false;
    recordedPeriod_ = LLONG_MIN;
    if (halves % P != 0) return false;

    recordedPeriod_ = begins;
    periodStart_ = int(halves / P * periodMs);
    startMicros_ = micros;
    rec_.saveMode = saveMode_.get();
    rec_.samplesPerBlock = samplesPerBlock_.get();
    rec_.endPadding = endPadding_.get();
    rec_.decimation = decimation_.get();
    rec_.period = periodMs;
    rec_.disabled = disabled_.load();
    writePos_ = 0;
    kept_ = 0;
    taken_ = 0;
    peak_ = 0;
    magSum_ = 0;
    periodBuffer_ = buff<float>(size_t(rec_.samplesPerBlock));
    const char* format = rec_.saveMode == 1 ? "%y%m%d_%H%M.c2" : periodMs < 60000 ? "%y%m%d_%H%M%S.wav" : "%y%m%d_%H%M.wav";
    path_ = saveDirectory.get() + fileName(micros, format);
    return true;
}

void JTModDemod::record(const buff<cplx>& block) {
    const size_t D = size_t(rec_.decimation);
    const bool complexMix = rec_.saveMode == 1;
    const uint64_t slotsLeft = uint64_t(rec_.samplesPerBlock) - writePos_;
    const size_t fit = size_t(complexMix ? slotsLeft / 2 : slotsLeft);
    const size_t n = std::min(block.count / D, fit);
    const double step = twoPi * 1500.0 * double(D) / 48000.0;
    float* out = periodBuffer_.data + writePos_;
    for (size_t i = 0; i < n; ++i) {
        cplx x = block[i * D];
        // A sample that is not a number is kept as silence: one bad value
        // must not spoil the levels of the whole period.
        if (!std::isfinite(x.real()) || !std::isfinite(x.imag())) x = cplx(0.0f, 0.0f);
        if (complexMix) {
            mixerPhase_ -= step;
            const std::complex<double> p = std::complex<double>(x) * std::polar(1.0, mixerPhase_);
            *out++ = float(p.real());
            *out++ = float(-p.imag());
        } else {
            *out++ = x.real();
        }
        const float a = std::fabs(x.real());
        peak_ = std::max(peak_, a);
        magSum_ += a;
    }
    writePos_ += complexMix ? 2 * n : n;
    kept_ += n;
    taken_ += block.count;
    if (complexMix) mixerPhase_ = wrapped(mixerPhase_);
}

void JTModDemod::keepGapSilent(long long micros) {
    // A decoder finds a signal by where its symbols lie in the period: the
    // input the clock says the recording has missed is kept as silence, so
    // that what follows lands at its time and the period ends on time.
    const long long elapsed = std::min(micros - startMicros_, microsPerDay);
    const long long missed = elapsed * samplesPerMs / 1000 - (long long)taken_;
    if (missed <= gapMicros * samplesPerMs / 1000) return;
    const uint64_t D = uint64_t(rec_.decimation);
    const uint64_t samples = uint64_t(missed) / D;
    const bool complexMix = rec_.saveMode == 1;
    const uint64_t end = std::min(writePos_ + samples * (complexMix ? 2 : 1), uint64_t(rec_.samplesPerBlock));
    std::fill(periodBuffer_.data + writePos_, periodBuffer_.data + end, 0.0f);
    writePos_ = end;
    taken_ += uint64_t(missed);
    // The mixer runs on through the gap, as the clock does.
    if (complexMix) mixerPhase_ = wrapped(mixerPhase_ - twoPi * 1500.0 * double(D) / 48000.0 * double(samples));
}

bool JTModDemod::periodFull() const {
    return writePos_ >= uint64_t(std::max(rec_.samplesPerBlock - rec_.endPadding, 0LL));
}

void JTModDemod::completePeriod() {
    if (rec_.endPadding > 0 && writePos_ < periodBuffer_.count)
        std::fill(periodBuffer_.begin() + writePos_, periodBuffer_.end(), 0.0f);
    recording_ = false;
    const int mode = decodeMode_;
    const double mean = kept_ > 0 ? magSum_ / double(kept_) : 0.0;
    auto v = lockOwner();
    const double dialMHz = v ? double(v->vfo.get()) / 1000000.0 : 0.0;
    buff<float> samples = std::move(periodBuffer_);
    periodBuffer_ = buff<float>();
    try {
        // The file is written off the transceiver's task group; the buffer
        // goes with the writer, which owns it from here. The process's exit
        // waits for a file being written.
        pending_.push_back({std::async(std::launch::async,
                                       [writing = exitGate::hold::take(), samples = std::move(samples),
                                        peak = double(peak_), mean, path = path_, dialMHz,
                                        saveMode = rec_.saveMode]() mutable {
                                           exitGate::hold done = std::move(writing);
                                           return decode(std::move(samples), peak, mean, path, dialMHz, saveMode);
                                       }),
                            mode});
    } catch (const std::exception& e) {
        spdlog::error("JTModDemod recording {} not written: {}", path_, e.what());
    }
}

void JTModDemod::collectFiles() {
    // In the order the periods ended; a slow writer holds back the ones
    // after it rather than reorder them.
    while (!pending_.empty()) {
        auto& front = pending_.front();
        if (front.path.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
        std::string path;
        try {
            path = front.path.get();
        } catch (const std::exception& e) {
            spdlog::error("JTModDemod recording lost: {}", e.what());
        }
        const int mode = front.mode;
        pending_.pop_front();
        if (!path.empty()) newFile.send(path + std::to_string(mode));
    }
}

void JTModDemod::abandonRecording() {
    recording_ = false;
    periodBuffer_ = buff<float>();
}
