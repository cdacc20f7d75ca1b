#pragma once
// SoapyStream: one run of a SoapyRadio's stream thread. It opens the device,
// sets it up from the radio's properties, reads IQ (from its own buffer, or
// from the device's direct-access buffers without a copy), converts it with
// the fill function of the read format into the radio's receive blocks,
// meters the peak, steps the gain in software, and applies what the host
// changed meanwhile; at the end it closes the stream and the device.
//
// Everything here is the thread's own. The radio is passed in per call; the
// thread holds it only to apply changes and to deliver a block, never while
// the device blocks, so a host that releases a running radio sees it go
// (full blocks in flight would otherwise keep it alive from turn to turn),
// and the thread never touches a radio that is gone.
#include "dsp/buff.h"

#include <chrono>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class SoapyLib;
class SoapyRadio;
struct SoapySDRDevice;
struct SoapySDRStream;

class SoapyStream {
public:
    enum class readFormat { U8, CS8, CS16, CF32 };
    static constexpr long readTimeoutUs = 100000;
    /// Used for a device that reports an MTU of 0, and the most taken from
    /// one that reports more.
    static constexpr size_t fallbackMtu = 16384;
    static constexpr size_t largestMtu = size_t(1) << 20;

    /// The thread body: opens, turns while the radio runs and exists,
    /// closes. Never throws.
    static void run(std::weak_ptr<SoapyRadio> radio);

    explicit SoapyStream(SoapyLib& lib);
    /// Closes whatever is still open.
    ~SoapyStream();
    SoapyStream(const SoapyStream&) = delete;
    SoapyStream& operator=(const SoapyStream&) = delete;

    /// The start: device open, set up, stream active. False (device closed,
    /// logged) when the thread should end.
    bool open(SoapyRadio& radio);
    /// What one read gave: a sample count (or SoapySDR's error code) and,
    /// with buffer access, the device buffer to give back.
    struct block {
        int n = 0;
        const void* samples = nullptr;
        size_t handle = 0;
    };
    /// Applies what the host changed since the last call.
    void applyChanges(SoapyRadio& radio);
    /// Reads once, waiting at most one time-out. Needs no radio.
    block read();
    /// Writes a block into the radio and meters it.
    void deliver(SoapyRadio& radio, const block& b);
    /// Gives a device buffer back (buffer access); nothing otherwise.
    void giveBack(const block& b);
    /// One whole turn with the radio held throughout (benchmarks); returns
    /// the samples delivered.
    size_t turn(SoapyRadio& radio);
    /// The normal end, each step logged.
    void close();
    /// The end after an exception: stream and device closed quietly.
    void abandon();

    readFormat format() const { return format_; }
    bool directAccess() const { return direct_; }
    size_t mtu() const { return mtu_; }
    float gainScale() const { return scale_; }

private:
    void setFrequency(SoapyRadio& radio);
    void setGain(SoapyRadio& radio);
    void computeScale(SoapyRadio& radio);
    void setRate(SoapyRadio& radio);
    /// Converts n samples at src into the radio; returns the block level.
    double write(SoapyRadio& radio, const void* src, size_t n);
    void failedRead(long n, std::chrono::steady_clock::time_point started);
    void check(int rc, const char* what);

    SoapyLib& lib_;
    SoapySDRDevice* device_ = nullptr;
    SoapySDRStream* stream_ = nullptr;
    bool rtl_ = false;
    readFormat format_ = readFormat::CF32;
    double fullScale_ = 1.0;
    bool direct_ = false;
    size_t mtu_ = 0;
    buff<std::complex<float>> buffer_;
    float scale_ = 0.0f;
    double level_ = 0.0;
    int64_t samples_ = 0;
    bool readErrorLogged_ = false;
    bool failedBefore_ = false; // the last read gave no samples
};
