#include "radios/soapy/SoapyStream.h"

#include "framework/exitGate.h"
#include "framework/threadPriority.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/SoapyRadio.h"
#include "radios/soapy/soapyFill.h"
#include "radios/soapy/soapyOwned.h"

#include <spdlog/spdlog.h>

#include <cfloat>
#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace {

using cplx = std::complex<float>;

/// Feeds n device samples at src through one fill function into receiver 0,
/// in as many pieces as the radio's blocks ask for; returns the peak.
template <class Sample, class Peak>
Peak feed(Radio& radio, const void* src, size_t n, float scale, Peak (*fill)(const Sample*, cplx*, size_t, float, Peak)) {
    const Sample* cursor = static_cast<const Sample*>(src);
    Peak peak{};
    radio.unlockedWrite(
        [&](cplx* destination, size_t count) {
            peak = fill(cursor, destination, count, scale, peak);
            cursor += 2 * count;
        },
        n, 0);
    return peak;
}

} // namespace

void SoapyStream::run(std::weak_ptr<SoapyRadio> weak) {
    threadPriority priority(threadPriority::realtime);
    SoapyStream stream(SoapyLib::getInstance());
    // Once the process is exiting this thread takes no more samples; whoever
    // stops the radio joins it, so it still ends, and closes the device,
    // when asked.
    auto idle = [&weak] {
        exitGate::idleUntilStopped(weak, [](SoapyRadio& r) { return r.running.load(std::memory_order_acquire); });
    };
    try {
        {
            exitGate::pass pass;
            if (!pass) return idle();
            auto radio = weak.lock();
            if (!radio || !stream.open(*radio)) return;
            // After what the driver built for its first stream.
            exitGate::rearmAfterFirst("SoapySDR stream " + radio->driver.get());
        }
        for (;;) {
            exitGate::pass pass;
            if (!pass) {
                idle();
                break;
            }
            {
                auto radio = weak.lock();
                if (!radio || !radio->running.load(std::memory_order_acquire)) break;
                stream.applyChanges(*radio);
            }
            const block b = stream.read();
            if (b.n <= 0) continue;
            // When this is the last reference the radio goes at the end of
            // the turn, on this thread; its destructor lets the thread go,
            // and the next lock finds nothing.
            auto radio = weak.lock();
            if (!radio) {
                stream.giveBack(b);
                break;
            }
            try {
                stream.deliver(*radio, b);
            } catch (...) {
                stream.giveBack(b);
                throw;
            }
            stream.giveBack(b);
        }
        stream.close();
    } catch (const std::exception& e) {
        spdlog::error("soapy thread  {}", e.what());
        stream.abandon();
    } catch (...) {
        spdlog::error("soapy thread ??");
        stream.abandon();
    }
}

SoapyStream::SoapyStream(SoapyLib& lib) : lib_(lib) {}

SoapyStream::~SoapyStream() { abandon(); }

void SoapyStream::check(int rc, const char* what) {
    if (rc != 0) spdlog::error("{} {}", what, lib_.errorText(rc));
}

bool SoapyStream::open(SoapyRadio& radio) {
    spdlog::info("soapy comms loop started");
    const std::string driver = radio.driver.get();
    rtl_ = driver == "rtlsdr";
    const bool spyserver = driver == "spyserver";
    const bool before08 = lib_.abiStartsWith({"0.5", "0.6", "0.7"});

    device_ = radio.FindRadio();
    if (!device_) return false;
    if (const char* m = lib_.missing<
            &SoapyLib::setSampleRate, &SoapyLib::setFrequencyComponent, &SoapyLib::setGain, &SoapyLib::setAntenna,
            &SoapyLib::hasDCOffsetMode, &SoapyLib::setDCOffsetMode, &SoapyLib::setGainMode,
            &SoapyLib::getNativeStreamFormat, &SoapyLib::deactivateStream, &SoapyLib::closeStream,
            &SoapyLib::activateStream, &SoapyLib::getStreamMTU, &SoapyLib::getNumDirectAccessBuffers,
            &SoapyLib::readStream, &SoapyLib::acquireReadBuffer, &SoapyLib::releaseReadBuffer,
            &SoapyLib::writeSetting>();
        m || !(before08 ? bool(lib_.setupStreamOld) : bool(lib_.setupStream))) {
        spdlog::error("soapy missing {}", m ? m : "SoapySDRDevice_setupStream");
        abandon();
        return false;
    }

    setRate(radio);
    setFrequency(radio);
    setGain(radio);
    check(lib_.setAntenna(device_, SOAPY_SDR_RX, 0, radio.antenna.get().c_str()), "soapy setAntenna error");
    if (lib_.hasDCOffsetMode(device_, SOAPY_SDR_RX, 0)) lib_.setDCOffsetMode(device_, SOAPY_SDR_RX, 0, true);
    if (lib_.hasIQBalanceMode && lib_.setIQBalanceMode && lib_.hasIQBalanceMode(device_, SOAPY_SDR_RX, 0))
        lib_.setIQBalanceMode(device_, SOAPY_SDR_RX, 0, true);
    if (radio.hasGainMode) lib_.setGainMode(device_, SOAPY_SDR_RX, 0, false);

    double fullScale = 0.0;
    std::string native;
    {
        soapyOwnedText f(lib_, lib_.getNativeStreamFormat(device_, SOAPY_SDR_RX, 0, &fullScale));
        native = f.str();
    }
    spdlog::info("soapy format {}", native);
    bool knownFormat = true;
    if (spyserver) {
        format_ = readFormat::CF32;
        fullScale = 1.0;
    } else if (native == "CS8") {
        format_ = readFormat::CS8;
    } else if (native == "CS16") {
        format_ = readFormat::CS16;
    } else if (native == "CF32") {
        format_ = readFormat::CF32;
    } else {
        knownFormat = false;
        format_ = readFormat::CF32;
        fullScale = 1.0;
    }
    // The scale divides by it: a device's zero, negative or non-finite full
    // scale would make every sample infinite.
    if (!(std::isfinite(fullScale) && fullScale > 0.0)) {
        spdlog::error("soapy full scale {} refused, using 1", fullScale);
        fullScale = 1.0;
    }
    fullScale_ = fullScale;
    const char* formatName = format_ == readFormat::CS8 ? "CS8" : format_ == readFormat::CS16 ? "CS16" : "CF32";

    spdlog::info("setting up stream ");
    const size_t channel = 0;
    SoapySDRKwargs none{};
    if (before08) {
        if (lib_.setupStreamOld(device_, &stream_, SOAPY_SDR_RX, formatName, &channel, 1, &none) != 0)
            stream_ = nullptr;
    } else {
        stream_ = lib_.setupStream(device_, SOAPY_SDR_RX, formatName, &channel, 1, &none);
    }
    if (!stream_) {
        spdlog::error("soapy setupStream failed {}", lib_.lastErrorText());
        abandon();
        return false;
    }
    spdlog::info("soapy set up stream");
    const int rc = lib_.activateStream(device_, stream_, 0, 0, 0);
    if (rc != 0) {
        spdlog::error("soapy Activate stream err {}", lib_.errorText(rc));
        abandon();
        return false;
    }
    spdlog::info("soapy activated stream");

    mtu_ = lib_.getStreamMTU(device_, stream_);
    spdlog::info("soapy MTU {}", mtu_);
    if (mtu_ == 0 || mtu_ > largestMtu) {
        const size_t use = mtu_ == 0 ? fallbackMtu : largestMtu;
        spdlog::error("soapy MTU {} refused, using {}", mtu_, use);
        mtu_ = use;
    }
    computeScale(radio);

    if (lib_.getNumDirectAccessBuffers(device_, stream_) == 0 || spyserver || !knownFormat) {
        spdlog::info("soapy using stream access");
        direct_ = false;
        buffer_ = buff<cplx>(2 * mtu_);
    } else {
        spdlog::info("soapy using buffer access");
        direct_ = true;
        // The dongle's own buffers hold its raw offset-binary bytes.
        if (rtl_ && native == "CS8") format_ = readFormat::U8;
    }
    setGain(radio);
    return true;
}

// ---- turns ----

size_t SoapyStream::turn(SoapyRadio& radio) {
    applyChanges(radio);
    const block b = read();
    if (b.n <= 0) return 0;
    try {
        deliver(radio, b);
    } catch (...) {
        giveBack(b);
        throw;
    }
    giveBack(b);
    return size_t(b.n);
}

SoapyStream::block SoapyStream::read() {
    int flags = 0;
    long long timeNs = 0;
    block b;
    const auto started = std::chrono::steady_clock::now();
    if (!direct_) {
        void* buffs[] = {buffer_.data};
        b.n = lib_.readStream(device_, stream_, buffs, mtu_, &flags, &timeNs, readTimeoutUs);
        if (b.n <= 0) {
            failedRead(b.n, started);
            return b;
        }
        if (size_t(b.n) > mtu_) {
            // More than was asked for: what lies past the request is not ours.
            spdlog::error("soapy buff too small {}", b.n);
            b.n = int(mtu_);
        }
        b.samples = buffer_.data;
        return b;
    }
    const void* buffs[] = {nullptr};
    b.n = lib_.acquireReadBuffer(device_, stream_, &b.handle, buffs, &flags, &timeNs, readTimeoutUs);
    if (b.n <= 0) {
        failedRead(b.n, started);
        return b;
    }
    b.samples = buffs[0];
    return b;
}

void SoapyStream::giveBack(const block& b) {
    if (direct_ && b.n > 0) lib_.releaseReadBuffer(device_, stream_, b.handle);
}

void SoapyStream::failedRead(long n, std::chrono::steady_clock::time_point started) {
    // An overflow or an empty read now and then is ordinary: read again at
    // once. Anything else (an unplugged device), and those twice in a row,
    // tends to come back at once, every time: at real-time priority the loop
    // must not spin on it, so it waits out the rest of a time-out and says so
    // once.
    const bool again = std::exchange(failedBefore_, true);
    if ((n == 0 || n == SOAPY_SDR_OVERFLOW) && !again) return;
    if (n < 0 && n != SOAPY_SDR_TIMEOUT && n != SOAPY_SDR_OVERFLOW && !readErrorLogged_) {
        readErrorLogged_ = true;
        spdlog::error("soapy read error {}", lib_.errorText(int(n)));
    }
    const auto due = started + std::chrono::microseconds(readTimeoutUs);
    if (std::chrono::steady_clock::now() < due) std::this_thread::sleep_until(due);
}

double SoapyStream::write(SoapyRadio& radio, const void* src, size_t n) {
    using namespace soapyFill;
    const bool swap = radio.swapIQ.get();
    switch (format_) {
    case readFormat::U8:
        return feed(radio, src, n, scale_, swap ? u8<true> : u8<false>) * 0.0078125;
    case readFormat::CS8:
        return feed(radio, src, n, scale_, swap ? cs8<true> : cs8<false>) * 0.0078125;
    case readFormat::CS16:
        return feed(radio, src, n, scale_, swap ? cs16<true> : cs16<false>) / fullScale_;
    case readFormat::CF32:
        return feed(radio, src, n, scale_, swap ? cf32<true> : cf32<false>) / fullScale_;
    }
    return 0.0;
}

void SoapyStream::deliver(SoapyRadio& radio, const block& b) {
    size_t n = size_t(b.n);
    double blockLevel = 0.0;
    if (b.samples)
        blockLevel = write(radio, b.samples, n);
    else {
        spdlog::error("soapy empty read buffer {}", n);
        n = 0;
    }
    readErrorLogged_ = failedBefore_ = false;
    level_ = std::max(level_, blockLevel);
    samples_ += int64_t(n);
    // Published once the samples span more than 200 ms of sample time. A
    // rate of 0 (or less) spans no time: nothing is published.
    const int64_t rate = radio.rateInForce();
    if (rate <= 0 || samples_ * 1000 / rate < 201) return;
    if (radio.agc.get()) {
        const int gain = radio.rxGain.get();
        if (level_ > 0.95 && gain > radio.minRxRFGain.get())
            radio.stepGain(-1);
        else if (level_ < 0.4 && gain < radio.maxRxRFGain.get())
            radio.stepGain(+1);
    }
    if (level_ != radio.adcPeak.get()) radio.adcPeak.set(level_);
    samples_ = 0;
    level_ = 0.0;
}

// ---- changes ----

void SoapyStream::applyChanges(SoapyRadio& radio) {
    auto& r = radio.requests;
    if (r.sampleRate.take()) {
        if (!rtl_) check(lib_.deactivateStream(device_, stream_, 0, 0), "soapy deactivate error");
        setRate(radio);
        if (!rtl_) check(lib_.activateStream(device_, stream_, 0, 0, 0), "soapy Activate stream err");
        if (!direct_) {
            size_t m = lib_.getStreamMTU(device_, stream_);
            m = m == 0 ? fallbackMtu : std::min(m, largestMtu);
            if (buffer_.size() < 2 * m) buffer_ = buff<cplx>(2 * m);
        }
    }
    r.frequencyCalibration.take(); // its hook has already asked for a tune
    if (r.levelCalibration.take()) computeScale(radio);
    if (r.tune.take()) setFrequency(radio);
    if (r.rxGain.take()) {
        setGain(radio);
        computeScale(radio);
    }
    if (r.antenna.take())
        check(lib_.setAntenna(device_, SOAPY_SDR_RX, 0, radio.antenna.get().c_str()), "soapy setAntenna error");
    if (r.settings.take()) {
        const SettingKeyValue s = radio.changedSetting();
        if (!s.key.empty())
            check(lib_.writeSetting(device_, s.key.c_str(), s.value.c_str()), "soapy writeSetting error");
    }
}

void SoapyStream::setRate(SoapyRadio& radio) {
    check(lib_.setSampleRate(device_, SOAPY_SDR_RX, 0, radio.rateInForce()), "soapy setSampleRate error");
}

void SoapyStream::setFrequency(SoapyRadio& radio) {
    const double f = radio.frequencyCalibration.get() * double(radio.receiverFrequency());
    SoapySDRKwargs none{};
    check(lib_.setFrequencyComponent(device_, SOAPY_SDR_RX, 0, "RF", f, &none), "soapy setFrequency error");
}

void SoapyStream::setGain(SoapyRadio& radio) {
    check(lib_.setGain(device_, SOAPY_SDR_RX, 0, radio.gainOffset + radio.rxGain.get()), "soapy setGain error");
}

void SoapyStream::computeScale(SoapyRadio& radio) {
    const double s =
        radio.rxLevelCalibration.get() * ((10.0 / std::pow(10.0, radio.rxGain.get() / 20.0)) / fullScale_) * 0.01;
    // A host's non-finite calibration would poison every block from now on;
    // the last good scale stays instead.
    if (!std::isfinite(s) || std::fabs(s) > double(FLT_MAX)) {
        spdlog::error("soapy gain scale {} refused", s);
        return;
    }
    scale_ = float(s);
}

// ---- the end ----

void SoapyStream::close() {
    if (stream_) {
        spdlog::info("soapy deactivate");
        check(lib_.deactivateStream(device_, stream_, 0, 0), "soapy deactivate error");
        spdlog::info("soapy closestream");
        check(lib_.closeStream(device_, stream_), "soapy close error");
        stream_ = nullptr;
    }
    if (device_) {
        spdlog::info("soapy unmake");
        SoapySDRDevice* d = std::exchange(device_, nullptr);
        check(lib_.unmake(d), "soapy unmake error");
    }
}

void SoapyStream::abandon() {
    if (stream_) {
        SoapySDRStream* s = std::exchange(stream_, nullptr);
        if (lib_.closeStream) check(lib_.closeStream(device_, s), "soapy close error");
    }
    if (!device_) return;
    SoapySDRDevice* d = std::exchange(device_, nullptr);
    try {
        check(lib_.unmake(d), "soapy unmake error");
    } catch (const std::exception& e) {
        spdlog::error("soapy thread unmake  {}", e.what());
    } catch (...) {
        spdlog::error("soapy thread unmake ??");
    }
}
