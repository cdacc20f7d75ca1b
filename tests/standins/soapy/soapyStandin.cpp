// The SoapySDR stand-in module: devices described by the test (see
// soapyStandin.h), served through SoapySDR's own registry and C interface.
#include "soapyStandin.h"

#include "standins/standinKit.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.h>
#include <SoapySDR/Formats.h>
#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Registry.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using namespace standin::soapy;
using Config = standin::soapy::Device;
using clock_ = std::chrono::steady_clock;

std::mutex configMutex;
std::vector<Config> devices;
standin::CallLog calls;
standin::Failures failures;
standin::Failures stalls; // milliseconds a call hangs, as on a bus that stopped answering
std::atomic<bool> unplugged{false};
std::atomic<long> reads{0}, acquired{0}, released{0};
// Reads per device label, kept as a driver keeps its device registry: every
// read finds its device there (under configMutex).
std::map<std::string, long> readsOfDevice;

std::string number(double v) {
    char t[64];
    std::snprintf(t, sizeof t, "%.10g", v);
    return t;
}

void failIfAsked(const std::string& call) {
    if (int code = failures.code(call)) throw std::runtime_error(call + " refused " + std::to_string(code));
}

std::string labelOf(const SoapySDR::Kwargs& args) {
    auto it = args.find("label");
    if (it == args.end()) it = args.find("device");
    return it == args.end() ? std::string() : it->second;
}

/// The stream of one device: a table of one period of the signal in the
/// device's format, read out cyclically at the pace of the set rate.
struct Stream {
    std::string format;
    size_t bytesPerSample = 4;
    std::vector<uint8_t> table;
    size_t tableSamples = 0, cursor = 0;
    bool active = false;
    clock_::time_point t0;
    long long delivered = 0;
    std::vector<std::vector<uint8_t>> direct;
    size_t nextDirect = 0;
};

size_t bytesOf(const std::string& f) {
    if (f == "CS8" || f == "U8") return 2;
    if (f == "CS16") return 4;
    return 8; // CF32
}

class VcDevice : public SoapySDR::Device {
public:
    explicit VcDevice(Config d) : d_(std::move(d)), label_(labelOf(SoapySDR::Kwargs(d_.find.begin(), d_.find.end()))) {
        calls.add("make " + label_);
    }
    ~VcDevice() override { calls.add("unmake " + label_); }

    std::string getDriverKey() const override { return d_.driver; }
    std::string getHardwareKey() const override { return label_; }

    // ---- capabilities ----
    std::vector<double> listSampleRates(const int, const size_t) const override { return d_.rates; }
    SoapySDR::RangeList getSampleRateRange(const int, const size_t) const override {
        SoapySDR::RangeList r;
        for (auto& range : d_.rateRanges) r.emplace_back(range.minimum, range.maximum, range.step);
        return r;
    }
    std::vector<std::string> listAntennas(const int, const size_t) const override { return d_.antennas; }
    std::string getAntenna(const int, const size_t) const override { return d_.antenna; }
    std::vector<std::string> listGains(const int, const size_t) const override {
        std::vector<std::string> names;
        for (auto& g : d_.gainElements) names.push_back(g.first);
        return names;
    }
    SoapySDR::Range getGainRange(const int, const size_t) const override {
        return SoapySDR::Range(d_.gainMinimum, d_.gainMaximum);
    }
    SoapySDR::Range getGainRange(const int, const size_t, const std::string& name) const override {
        for (auto& g : d_.gainElements)
            if (g.first == name) return SoapySDR::Range(g.second.first, g.second.second);
        return SoapySDR::Range(0, 0);
    }
    bool hasGainMode(const int, const size_t) const override { return d_.gainMode; }
    bool hasDCOffsetMode(const int, const size_t) const override { return true; }
    bool hasIQBalanceMode(const int, const size_t) const override { return true; }
    SoapySDR::ArgInfoList getSettingInfo() const override {
        SoapySDR::ArgInfoList list;
        for (auto& s : d_.settings) {
            SoapySDR::ArgInfo a;
            a.key = s.key;
            a.value = s.value;
            a.name = s.name;
            a.description = s.description;
            a.units = s.units;
            a.type = SoapySDR::ArgInfo::Type(s.type);
            a.range = SoapySDR::Range(s.minimum, s.maximum, s.step);
            a.options = s.options;
            a.optionNames = s.optionNames;
            list.push_back(a);
        }
        return list;
    }
    std::string getNativeStreamFormat(const int, const size_t, double& fullScale) const override {
        fullScale = d_.fullScale;
        return d_.format;
    }

    // ---- settings the radio makes ----
    void setSampleRate(const int, const size_t, const double rate) override {
        failIfAsked("setSampleRate");
        calls.add("setSampleRate " + number(rate));
        std::lock_guard<std::mutex> l(m_);
        rate_ = rate;
        restartPace();
    }
    void setFrequency(const int, const size_t, const std::string& name, const double f,
                      const SoapySDR::Kwargs&) override {
        calls.add("setFrequency " + name + " " + number(f));
    }
    void setGain(const int, const size_t, const double g) override { calls.add("setGain " + number(g)); }
    void setAntenna(const int, const size_t, const std::string& a) override { calls.add("setAntenna " + a); }
    void setDCOffsetMode(const int, const size_t, const bool on) override {
        calls.add("setDCOffsetMode " + std::to_string(on));
    }
    void setIQBalanceMode(const int, const size_t, const bool on) override {
        calls.add("setIQBalanceMode " + std::to_string(on));
    }
    void setGainMode(const int, const size_t, const bool on) override { calls.add("setGainMode " + std::to_string(on)); }
    void writeSetting(const std::string& key, const std::string& value) override {
        calls.add("writeSetting " + key + " " + value);
    }

    // ---- the stream ----
    SoapySDR::Stream* setupStream(const int, const std::string& format, const std::vector<size_t>&,
                                  const SoapySDR::Kwargs&) override {
        failIfAsked("setupStream");
        calls.add("setupStream " + format);
        auto* s = new Stream;
        // The dongle's direct buffers hold its raw offset-binary bytes while
        // it calls its format CS8.
        s->format = d_.driver == "rtlsdr" && format == "CS8" && d_.directBuffers > 0 ? "U8" : format;
        s->bytesPerSample = bytesOf(s->format);
        makeTable(*s);
        s->direct.assign(d_.directBuffers, std::vector<uint8_t>(d_.mtu * s->bytesPerSample));
        return reinterpret_cast<SoapySDR::Stream*>(s);
    }
    void closeStream(SoapySDR::Stream* stream) override {
        calls.add("closeStream");
        delete reinterpret_cast<Stream*>(stream);
    }
    size_t getStreamMTU(SoapySDR::Stream*) const override { return d_.mtu; }
    int activateStream(SoapySDR::Stream* stream, const int, const long long, const size_t) override {
        calls.add("activateStream");
        if (int code = failures.code("activateStream")) return code;
        std::lock_guard<std::mutex> l(m_);
        reinterpret_cast<Stream*>(stream)->active = true;
        stream_ = reinterpret_cast<Stream*>(stream);
        restartPace();
        return 0;
    }
    int deactivateStream(SoapySDR::Stream* stream, const int, const long long) override {
        calls.add("deactivateStream");
        std::this_thread::sleep_for(std::chrono::milliseconds(stalls.code("deactivateStream")));
        std::lock_guard<std::mutex> l(m_);
        reinterpret_cast<Stream*>(stream)->active = false;
        return 0;
    }
    size_t getNumDirectAccessBuffers(SoapySDR::Stream*) override { return d_.directBuffers; }

    int readStream(SoapySDR::Stream* stream, void* const* buffs, const size_t numElems, int& flags,
                   long long& timeNs, const long timeoutUs) override {
        ++reads;
        auto* s = reinterpret_cast<Stream*>(stream);
        const long n = due(*s, numElems, timeoutUs);
        if (n <= 0) return int(n);
        copyOut(*s, static_cast<uint8_t*>(buffs[0]), size_t(n));
        return int(n + d_.overclaim);
    }
    int acquireReadBuffer(SoapySDR::Stream* stream, size_t& handle, const void** buffs, int& flags,
                          long long& timeNs, const long timeoutUs) override {
        ++reads;
        auto* s = reinterpret_cast<Stream*>(stream);
        if (s->direct.empty()) return SOAPY_SDR_NOT_SUPPORTED;
        const long n = due(*s, d_.mtu, timeoutUs);
        if (n <= 0) return int(n);
        handle = s->nextDirect;
        s->nextDirect = (s->nextDirect + 1) % s->direct.size();
        copyOut(*s, s->direct[handle].data(), size_t(n));
        buffs[0] = s->direct[handle].data();
        ++acquired;
        return int(n);
    }
    void releaseReadBuffer(SoapySDR::Stream*, const size_t) override { ++released; }

private:
    void restartPace() {
        if (!stream_) return;
        stream_->t0 = clock_::now();
        stream_->delivered = 0;
    }

    /// How many samples this read delivers, after waiting for them at most
    /// the time-out; a stream error at once when unplugged.
    long due(Stream& s, size_t wanted, long timeoutUs) {
        const auto counted = [this](long n) {
            std::lock_guard<std::mutex> l(configMutex);
            ++readsOfDevice[label_];
            return n;
        };
        if (unplugged) return SOAPY_SDR_STREAM_ERROR;
        if (int code = failures.code("readStream")) return code;
        std::unique_lock<std::mutex> l(m_);
        const auto deadline = clock_::now() + std::chrono::microseconds(timeoutUs);
        if (!s.active) {
            l.unlock();
            std::this_thread::sleep_until(deadline);
            return counted(SOAPY_SDR_TIMEOUT);
        }
        if (d_.speed <= 0) return counted(long(wanted));
        // Paced at the set rate (48000 for none), d_.speed times real time.
        const double perSecond = (rate_ > 0 ? rate_ : 48000.0) * d_.speed;
        const auto ready = s.t0 + std::chrono::duration_cast<clock_::duration>(
                                      std::chrono::duration<double>((s.delivered + double(wanted)) / perSecond));
        const auto until = std::min(ready, deadline);
        l.unlock();
        std::this_thread::sleep_until(until);
        l.lock();
        const double elapsed = std::chrono::duration<double>(clock_::now() - s.t0).count();
        const long n = std::min(long(wanted), long(elapsed * perSecond) - long(s.delivered));
        if (n <= 0) return counted(SOAPY_SDR_TIMEOUT);
        s.delivered += n;
        l.unlock();
        return counted(n);
    }

    void copyOut(Stream& s, uint8_t* out, size_t n) {
        for (size_t done = 0; done < n;) {
            const size_t k = std::min(n - done, s.tableSamples - s.cursor);
            std::memcpy(out + done * s.bytesPerSample, s.table.data() + s.cursor * s.bytesPerSample,
                        k * s.bytesPerSample);
            done += k;
            s.cursor = (s.cursor + k) % s.tableSamples;
        }
    }

    /// 65536 samples: a whole number of tone periods at the offset rounded
    /// to the table's bins, so that reading it round keeps the tone clean.
    void makeTable(Stream& s) {
        s.tableSamples = 65536;
        s.table.assign(s.tableSamples * s.bytesPerSample, 0);
        const double rate = rate_ > 0 ? rate_ : 48000.0;
        const double bin = std::round(d_.toneOffset / rate * double(s.tableSamples));
        for (size_t k = 0; k < s.tableSamples; ++k) {
            double a = d_.pair.first, b = d_.pair.second;
            if (!d_.pattern) {
                const double ph = 2 * M_PI * bin * double(k) / double(s.tableSamples);
                a = d_.toneAmplitude * std::cos(ph);
                b = d_.toneAmplitude * std::sin(ph);
            }
            uint8_t* p = s.table.data() + k * s.bytesPerSample;
            if (s.format == "U8") {
                p[0] = uint8_t(d_.pattern ? a : std::lround(a * 127) + 128);
                p[1] = uint8_t(d_.pattern ? b : std::lround(b * 127) + 128);
            } else if (s.format == "CS8") {
                p[0] = uint8_t(int8_t(d_.pattern ? a : std::lround(a * 127)));
                p[1] = uint8_t(int8_t(d_.pattern ? b : std::lround(b * 127)));
            } else if (s.format == "CS16") {
                const int16_t v[2] = {int16_t(d_.pattern ? a : std::lround(a * 32767)),
                                      int16_t(d_.pattern ? b : std::lround(b * 32767))};
                std::memcpy(p, v, 4);
            } else {
                const float v[2] = {float(a), float(b)};
                std::memcpy(p, v, 8);
            }
        }
    }

    const Config d_;
    const std::string label_;
    std::mutex m_;
    double rate_ = 0;
    Stream* stream_ = nullptr;
};

SoapySDR::KwargsList findOf(const std::string& driver) {
    SoapySDR::KwargsList found;
    std::lock_guard<std::mutex> l(configMutex);
    for (auto& d : devices)
        if (d.driver == driver) found.emplace_back(d.find.begin(), d.find.end());
    return found;
}

SoapySDR::Device* makeOf(const std::string& driver, const SoapySDR::Kwargs& args) {
    failIfAsked("make");
    std::lock_guard<std::mutex> l(configMutex);
    const std::string label = labelOf(args);
    for (auto& d : devices)
        if (d.driver == driver && labelOf(SoapySDR::Kwargs(d.find.begin(), d.find.end())) == label)
            return new VcDevice(d);
    throw std::runtime_error("no device " + label);
}

SoapySDR::KwargsList findTest(const SoapySDR::Kwargs&) { return findOf("vctest"); }
SoapySDR::Device* makeTest(const SoapySDR::Kwargs& a) { return makeOf("vctest", a); }
SoapySDR::KwargsList findDongle(const SoapySDR::Kwargs&) { return findOf("rtlsdr"); }
SoapySDR::Device* makeDongle(const SoapySDR::Kwargs& a) { return makeOf("rtlsdr", a); }

SoapySDR::Registry testRegistry("vctest", &findTest, &makeTest, SOAPY_SDR_ABI_VERSION);
SoapySDR::Registry dongleRegistry("rtlsdr", &findDongle, &makeDongle, SOAPY_SDR_ABI_VERSION);

} // namespace

STANDIN_API void standin_soapy_setDevices(const std::vector<Config>& list) {
    std::lock_guard<std::mutex> l(configMutex);
    devices = list;
}
STANDIN_API void standin_soapy_fail(const char* call, int code) { failures.set(call, code); }
STANDIN_API void standin_soapy_stall(const char* call, int ms) { stalls.set(call, ms); }
STANDIN_API void standin_soapy_unplug(bool on) { unplugged = on; }
STANDIN_API std::vector<std::string> standin_soapy_calls() { return calls.lines(); }
STANDIN_API void standin_soapy_counts(long* r, long* a, long* rel) {
    *r = reads;
    *a = acquired;
    *rel = released;
}
STANDIN_API void standin_soapy_log(int level, const char* text) { SoapySDR::log(SoapySDRLogLevel(level), text); }
STANDIN_API void standin_soapy_reset() {
    {
        std::lock_guard<std::mutex> l(configMutex);
        devices.clear();
    }
    calls.clear();
    failures.clear();
    stalls.clear();
    unplugged = false;
    reads = acquired = released = 0;
}
