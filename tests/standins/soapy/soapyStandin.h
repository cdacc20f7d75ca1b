#pragma once
// The test side and the module side of the SoapySDR stand-in module share
// these records. The module (a SoapySDR plugin found through
// SOAPY_SDR_PLUGIN_PATH) offers the drivers "vctest" and "rtlsdr" with the
// devices a test describes here, logs every call that sets something, fails
// a call on request, and streams a tone or a fixed pair in the device's
// format, paced at the set sample rate.
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace standin::soapy {

/// The module's file, as SoapySDR loads it.
inline constexpr const char* module = "libvireoSoapyStandin.so";

struct Setting {
    std::string key, value, name, description, units;
    int type = 0; // SoapySDR's argument type: 0 bool ... 3 string
    double minimum = 0, maximum = 0, step = 0;
    std::vector<std::string> options, optionNames;
};

/// A range of sample rates; a step of 0 takes any rate within it.
struct RateRange {
    double minimum = 0, maximum = 0, step = 0;
};

struct Device {
    std::string driver = "vctest";
    /// What enumeration reports besides "driver" (SoapySDR adds it).
    std::map<std::string, std::string> find;
    std::vector<RateRange> rateRanges;
    std::vector<double> rates;
    std::vector<std::string> antennas{"RX", "LNA"};
    std::string antenna = "RX";
    std::vector<std::pair<std::string, std::pair<double, double>>> gainElements;
    double gainMinimum = 0, gainMaximum = 40;
    bool gainMode = false;
    std::vector<Setting> settings;
    std::string format = "CS16";
    double fullScale = 32768;
    size_t directBuffers = 0;
    size_t mtu = 4096;
    /// The signal: a tone `toneOffset` Hz from the centre at `toneAmplitude`
    /// of full scale, or, when `pattern` is set, that raw pair in every
    /// sample (device units: bytes for CS8 and the dongle's U8, ...).
    double toneOffset = 12000, toneAmplitude = 0.5;
    bool pattern = false;
    std::pair<double, double> pair{0, 0};
    /// Samples per second delivered, as a multiple of the set rate; 0 reads
    /// at once, as fast as asked.
    double speed = 1;
    /// readStream claims this many samples more than it wrote.
    long overclaim = 0;
};

/// Control functions, found with standin::control(module, name).
using setDevicesFn = void(const std::vector<Device>&);
using failFn = void(const char* call, int code); // code 0: succeed again
using stallFn = void(const char* call, int ms);   // hangs ms first, as on a bus that stopped answering
using unplugFn = void(bool unplugged);
using callsFn = std::vector<std::string>();      // every call logged so far
using countsFn = void(long* reads, long* acquired, long* released);
using logFn = void(int level, const char* text); // through SoapySDR's logger
using resetFn = void();

} // namespace standin::soapy
