#pragma once
// The behaviour shared by the libairspy and libairspyhf stand-ins: a set of
// plugged-in devices (serials, sample rates), open and close by serial, and
// a delivery thread of 65,536-sample float32 I/Q transfers of a complex tone
// at the rate last set, paced in real time or flat out. Calls can be told to
// fail, the devices can be unplugged (delivery stops, later calls fail), and
// every call is logged.
//
// Each stand-in owns one FloatIqReceiver and defines its driver functions
// around it, plus the control functions of STANDIN_RECEIVER_CONTROLS.
#include "standins/standinKit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace standin {

class FloatIqReceiver {
public:
    static constexpr int transferSamples = 65536;

    /// One open device.
    struct Device {
        uint64_t serial = 0;
        uint32_t rate = 0;
        Tone tone;
        std::vector<float> samples = std::vector<float>(2 * transferSamples);
        std::vector<std::complex<double>> wave = std::vector<std::complex<double>>(transferSamples);
        Streamer streamer;
        std::atomic<std::thread::id> deliveryThread{};
    };

    /// notFound: what open returns for an absent or unplugged device.
    explicit FloatIqReceiver(int notFound) : notFound_(notFound) {}
    /// Goes with the process. A real driver's state would be freed under a
    /// close still running on another thread: the stand-in ends the process
    /// with status 70 instead, so that a test sees it every time.
    ~FloatIqReceiver() {
        if (closing_.load() == 0) return;
        std::fputs("stand-in: driver state destroyed while a close runs\n", stderr);
        std::_Exit(70);
    }

    CallLog log;
    Failures failures;

    // ---- control ----
    void reset() {
        std::lock_guard<std::mutex> l(m_);
        log.clear();
        failures.clear();
        serials_.clear();
        rates_.clear();
        unplugged_ = false;
        toneOffset_ = 0;
        toneAmplitude_ = 0;
        paced_ = true;
        budget_ = std::numeric_limits<long>::max();
        freqShift_ = 0;
        delivered_ = 0;
        closedOnDeliveryThread_ = 0;
        closeDelayMs_ = 0;
    }
    void setSerials(const uint64_t* s, int n) {
        std::lock_guard<std::mutex> l(m_);
        serials_.assign(s, s + std::max(n, 0));
    }
    void setRates(const uint32_t* r, int n) {
        std::lock_guard<std::mutex> l(m_);
        rates_.assign(r, r + std::max(n, 0));
    }
    void setTone(double offset, double amplitude) {
        std::lock_guard<std::mutex> l(m_);
        toneOffset_ = offset;
        toneAmplitude_ = amplitude;
    }
    void setPaced(bool paced) {
        std::lock_guard<std::mutex> l(m_);
        paced_ = paced;
    }
    /// Transfers each stream may deliver from its start; applies at once to
    /// the streams running.
    void allow(long transfers) {
        std::lock_guard<std::mutex> l(m_);
        budget_ = transfers;
        for (Device* d : open_) d->streamer.allow(transfers);
    }
    void unplug(bool on) { unplugged_ = on; }
    /// close takes this long after logging itself, before the device goes.
    void setCloseDelay(int ms) { closeDelayMs_ = ms; }
    void setFreqShift(int32_t hz) { freqShift_ = hz; }
    long delivered() const { return delivered_; }
    int streaming() {
        std::lock_guard<std::mutex> l(m_);
        int n = 0;
        for (Device* d : open_) n += d->streamer.running() ? 1 : 0;
        return n;
    }
    int closedOnDeliveryThread() const { return closedOnDeliveryThread_; }

    // ---- the driver's side ----
    /// Fills up to room serials; returns how many devices there are.
    int list(uint64_t* out, int room) {
        log.add("list_devices " + std::to_string(room));
        if (int c = failures.code("list_devices")) return c;
        if (unplugged_) return 0;
        std::lock_guard<std::mutex> l(m_);
        for (int i = 0; i < std::min(room, int(serials_.size())); ++i) out[i] = serials_[size_t(i)];
        return int(serials_.size());
    }

    int open(Device** out, uint64_t serial) {
        log.add("open_sn " + std::to_string(serial));
        if (int c = failures.code("open_sn")) return c;
        std::lock_guard<std::mutex> l(m_);
        if (unplugged_ || std::find(serials_.begin(), serials_.end(), serial) == serials_.end()) return notFound_;
        for (Device* d : open_)
            if (d->serial == serial) return notFound_; // one handle per device
        auto* d = new Device;
        d->serial = serial;
        d->rate = rates_.empty() ? 0 : rates_.front();
        open_.insert(d);
        *out = d;
        return 0;
    }

    int close(Device* d) {
        ++closing_;
        log.add("close");
        if (onDeliveryThread(d)) {
            // The device cannot join its own thread: it stays, and the test
            // sees the count.
            ++closedOnDeliveryThread_;
            --closing_;
            return -1;
        }
        if (int ms = closeDelayMs_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        d->streamer.stop();
        {
            std::lock_guard<std::mutex> l(m_);
            open_.erase(d);
        }
        delete d;
        const int result = unplugged_ ? notFound_ : 0;
        --closing_;
        return result;
    }

    /// count 0: the number of rates into buffer[0]; else up to count rates.
    int rates(uint32_t* buffer, uint32_t count) {
        log.add("get_samplerates " + std::to_string(count));
        if (int c = failures.code("get_samplerates")) return c;
        std::lock_guard<std::mutex> l(m_);
        if (count == 0) {
            buffer[0] = uint32_t(rates_.size());
            return 0;
        }
        for (uint32_t i = 0; i < std::min(count, uint32_t(rates_.size())); ++i) buffer[i] = rates_[i];
        return 0;
    }

    /// A setting call: logged as "<name> <value>"; fails while unplugged.
    int set(const std::string& name, long long value) {
        log.add(name + " " + std::to_string(value));
        if (int c = failures.code(name)) return c;
        return unplugged_ ? notFound_ : 0;
    }

    int setRate(Device* d, uint32_t rate) {
        int r = set("set_samplerate", rate);
        if (r == 0) d->rate = rate;
        return r;
    }

    /// Starts the delivery thread, which hands each transfer (interleaved
    /// I/Q, sample count) to `transfer`.
    int start(Device* d, const std::string& name, std::function<void(float*, int)> transfer) {
        log.add(name);
        if (int c = failures.code(name)) return c;
        if (unplugged_) return notFound_;
        double pace;
        {
            std::lock_guard<std::mutex> l(m_);
            d->tone.set(toneOffset_, d->rate > 0 ? d->rate : 1.0, toneAmplitude_);
            pace = paced_ && d->rate > 0 ? double(d->rate) / transferSamples : 0.0;
            d->streamer.allow(budget_);
        }
        d->streamer.start(
            [this, d, transfer = std::move(transfer)](long) {
                if (unplugged_) return false;
                d->deliveryThread = std::this_thread::get_id();
                d->tone.next(d->wave.data(), d->wave.size());
                for (size_t i = 0; i < d->wave.size(); ++i) {
                    d->samples[2 * i] = float(d->wave[i].real());
                    d->samples[2 * i + 1] = float(d->wave[i].imag());
                }
                transfer(d->samples.data(), transferSamples);
                ++delivered_;
                return true;
            },
            pace);
        return 0;
    }

    int stop(Device* d, const std::string& name) {
        log.add(name);
        if (onDeliveryThread(d))
            ++closedOnDeliveryThread_;
        else
            d->streamer.stop();
        return unplugged_ ? notFound_ : 0;
    }

    int32_t freqShift() {
        log.add("get_freq_shift");
        return freqShift_;
    }

private:
    static bool onDeliveryThread(Device* d) { return d->deliveryThread.load() == std::this_thread::get_id(); }

    const int notFound_;
    std::mutex m_;
    std::vector<uint64_t> serials_;
    std::vector<uint32_t> rates_;
    std::set<Device*> open_;
    double toneOffset_ = 0, toneAmplitude_ = 0;
    bool paced_ = true;
    long budget_ = std::numeric_limits<long>::max();
    std::atomic<bool> unplugged_{false};
    std::atomic<int32_t> freqShift_{0};
    std::atomic<long> delivered_{0};
    std::atomic<int> closedOnDeliveryThread_{0};
    std::atomic<int> closeDelayMs_{0};
    std::atomic<int> closing_{0}; // closes running
};

} // namespace standin

/// The control functions of a FloatIqReceiver stand-in, standin_<lib>_...
#define STANDIN_RECEIVER_CONTROLS(lib, model)                                                                \
    STANDIN_API void standin_##lib##_reset() { model.reset(); }                                              \
    STANDIN_API void standin_##lib##_setSerials(const uint64_t* s, int n) { model.setSerials(s, n); }       \
    STANDIN_API void standin_##lib##_setRates(const uint32_t* r, int n) { model.setRates(r, n); }           \
    STANDIN_API void standin_##lib##_setTone(double offset, double amplitude) { model.setTone(offset, amplitude); } \
    STANDIN_API void standin_##lib##_setPaced(int paced) { model.setPaced(paced != 0); }                    \
    STANDIN_API void standin_##lib##_allow(long transfers) { model.allow(transfers); }                      \
    STANDIN_API void standin_##lib##_fail(const char* call, int code) { model.failures.set(call, code); }   \
    STANDIN_API void standin_##lib##_unplug(int on) { model.unplug(on != 0); }                              \
    STANDIN_API void standin_##lib##_setFreqShift(int32_t hz) { model.setFreqShift(hz); }                   \
    STANDIN_API long standin_##lib##_delivered() { return model.delivered(); }                              \
    STANDIN_API int standin_##lib##_streaming() { return model.streaming(); }                               \
    STANDIN_API int standin_##lib##_closedOnDeliveryThread() { return model.closedOnDeliveryThread(); }     \
    STANDIN_API void standin_##lib##_setCloseDelay(int ms) { model.setCloseDelay(ms); }                     \
    STANDIN_API const standin::CallLog* standin_##lib##_callLog() { return &model.log; }
