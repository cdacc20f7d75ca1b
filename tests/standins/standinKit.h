#pragma once
// Parts shared by the stand-in device libraries that the tests build in
// place of the real drivers (libairspy, librtlsdr, SoapySDR modules, ...).
// A stand-in exports the driver's functions the library calls, plus a small
// control interface of its own (C functions named standin_<lib>_...), which a
// test reaches at run time through standinControl.h. Everything here is
// thread-safe: the library under test calls in from its own threads while
// the test reads the log.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

/// Every call the library made, as text ("open 10", "set_freq 7000000"), in
/// order.
class CallLog {
public:
    void add(std::string line) {
        std::lock_guard<std::mutex> l(m_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> l(m_);
        return lines_;
    }
    void clear() {
        std::lock_guard<std::mutex> l(m_);
        lines_.clear();
    }
    /// The log, a line each, into out (terminated, cut to size), as a
    /// stand-in's C control function hands it out; returns the size the
    /// whole log needs.
    size_t copyTo(char* out, size_t size) const {
        std::string all;
        for (auto& line : lines()) all += line + "\n";
        if (out && size) {
            size_t n = std::min(size - 1, all.size());
            all.copy(out, n);
            out[n] = 0;
        }
        return all.size() + 1;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> lines_;
};

/// Calls told to fail: the name of a call and the code it returns instead.
class Failures {
public:
    void set(const std::string& call, int code) {
        std::lock_guard<std::mutex> l(m_);
        codes_[call] = code;
    }
    void clear() {
        std::lock_guard<std::mutex> l(m_);
        codes_.clear();
    }
    /// The code `call` must return, or 0 when it succeeds.
    int code(const std::string& call) const {
        std::lock_guard<std::mutex> l(m_);
        auto it = codes_.find(call);
        return it == codes_.end() ? 0 : it->second;
    }

private:
    mutable std::mutex m_;
    std::map<std::string, int> codes_;
};

/// A delivery loop as a driver runs one: calls `deliver(n)` for the n-th
/// buffer, paced at `buffersPerSecond` (0: flat out), until stopped or until
/// deliver returns false. start() runs it on a thread of its own; run() on
/// the calling thread, as a driver's blocking read does. stop() ends either
/// and joins the thread start() made; it may be called from deliver, and a
/// stop() before run() begins is not remembered. allow(k) holds the loop
/// before the k-th buffer (counted from 0 since it began) until more are
/// allowed, so a test can have exactly k delivered.
class Streamer {
public:
    ~Streamer() { stop(); }

    void start(std::function<bool(long)> deliver, double buffersPerSecond) {
        stop();
        running_ = true;
        thread_ = std::thread([this, deliver = std::move(deliver), buffersPerSecond] { loop(deliver, buffersPerSecond); });
    }
    void run(const std::function<bool(long)>& deliver, double buffersPerSecond) {
        running_ = true;
        loop(deliver, buffersPerSecond);
    }
    void stop() {
        {
            std::lock_guard<std::mutex> l(m_);
            running_ = false;
        }
        cv_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }
    bool running() const { return running_; }
    /// Buffers 0 to total - 1 may be delivered (no limit at first). Any thread.
    void allow(long total) {
        {
            std::lock_guard<std::mutex> l(m_);
            allowed_ = total;
        }
        cv_.notify_all();
    }

private:
    void loop(const std::function<bool(long)>& deliver, double buffersPerSecond) {
        using clock = std::chrono::steady_clock;
        const auto t0 = clock::now();
        for (long n = 0; running_; ++n) {
            {
                std::unique_lock<std::mutex> l(m_);
                cv_.wait(l, [&] { return !running_ || n < allowed_; });
                if (!running_) break;
            }
            if (buffersPerSecond > 0) {
                auto due = t0 + std::chrono::duration_cast<clock::duration>(
                                    std::chrono::duration<double>(n / buffersPerSecond));
                std::unique_lock<std::mutex> l(m_);
                if (cv_.wait_until(l, due, [this] { return !running_; })) break;
            }
            if (!deliver(n)) break;
        }
        running_ = false;
    }

    std::atomic<bool> running_{false};
    long allowed_ = std::numeric_limits<long>::max(); // guarded by m_
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
};

/// A complex tone that continues across buffers: `offset` Hz from the centre
/// at `rate` samples per second, amplitude `amplitude`.
class Tone {
public:
    void set(double offset, double rate, double amplitude) {
        std::lock_guard<std::mutex> l(m_);
        step_ = 2 * M_PI * offset / rate;
        amplitude_ = amplitude;
    }
    /// The next n samples.
    void next(std::complex<double>* out, size_t n) {
        std::lock_guard<std::mutex> l(m_);
        for (size_t i = 0; i < n; ++i) {
            out[i] = std::polar(amplitude_, phase_);
            phase_ = std::remainder(phase_ + step_, 2 * M_PI);
        }
    }

private:
    std::mutex m_;
    double step_ = 0, amplitude_ = 0, phase_ = 0;
};

} // namespace standin

/// Marks a stand-in's control function for export.
#define STANDIN_API extern "C" __attribute__((visibility("default")))
