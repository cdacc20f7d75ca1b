// A librtlsdr for the tests: devices with chosen serials, tuners and gain
// lists; a call log; calls told to fail; and a blocking rtlsdr_read_async
// that delivers 8-bit IQ buffers of a tone or a byte pattern on the calling
// thread, paced or flat out, within a buffer budget, until cancelled or
// "unplugged" (it then returns an error code). For an R820T tuner the tone
// lands where the tuner's synthesiser really puts it: shifted by the
// difference between the oscillator it can make and the one asked for.
//
// Built a second time with STANDIN_RTLSDR_PARTIAL: a library that lacks the
// USB-strings, tuner-gains and bias-tee functions.
#include "standins/standinKit.h"

#include <rtl-sdr.h>

#include <algorithm>
#include <cstring>
#include <set>

struct rtlsdr_dev {
    int index = 0;
    uint32_t centre = 0;  // under the world's lock
    uint32_t rate = 2048000;
    int direct = 0;
    bool cancelled = false;
    bool reading = false;
    standin::Streamer streamer;
};

namespace {

struct device {
    char serial[256] = {};
    rtlsdr_tuner tuner = RTLSDR_TUNER_R820T;
    std::vector<int> gains{0, 100, 200, 300, 400, 496};
    int reportedGains = 6;
};

struct world {
    std::mutex m;
    std::condition_variable cv;
    std::vector<device> devices;
    std::set<rtlsdr_dev*> open;
    standin::CallLog log;
    standin::Failures failures;
    standin::Tone tone;
    double pace = 0;
    double toneHz = 0, toneAmplitude = 0;
    std::vector<unsigned char> pattern;
    long budget = -1; // buffers still allowed; -1 without limit
    long delivered = 0;
    long unplugAfter = -1;
    int unplugCode = 0;
    int readers = 0;
};

world& W() {
    static world w;
    return w;
}

template <class... A>
void note(const char* call, A... args) {
    std::string line = call;
    ((line += " " + std::to_string(args)), ...);
    W().log.add(std::move(line));
}

bool isOpen(rtlsdr_dev_t* dev, const char* call) {
    std::lock_guard<std::mutex> l(W().m);
    if (W().open.count(dev)) return true;
    W().log.add(std::string(call) + " on a handle not open");
    return false;
}

/// The oscillator error of an R820T, as its synthesiser computes the
/// setting: an integer part and a 16-bit sigma-delta fraction of twice the
/// 28.8 MHz reference, behind a power-of-two divider.
int32_t r820tError(uint32_t centre, uint32_t rate) {
    const uint32_t lo = centre + (rate == 1536000 ? 1525000u : 3570000u);
    const uint32_t kHz = (lo + 500) / 1000;
    uint32_t div = 2;
    while (div < 128 && !(kHz * div >= 1770000 && kHz * div < 3540000)) div *= 2;
    const uint64_t vco = uint64_t(lo) * div;
    const uint32_t nint = uint32_t(vco / 57600000) & 0xff;
    if (nint >= 64) return 0;
    uint32_t left = uint32_t((vco - nint * 57600000ull) / 1000);
    uint32_t sdm = 0;
    for (uint32_t n = 2, weight = 32768; left > 1 && n <= 32768; n <<= 1, weight >>= 1)
        if (left > 57600 / n) {
            sdm += weight;
            left -= 57600 / n;
        }
    const uint64_t real = ((uint64_t(nint) << 16) + (sdm & 0xffff)) * 28800000ull / 32768 / div;
    return int32_t(uint32_t(real) - lo);
}

/// One buffer of bytes as the device would send it now. Under the lock.
void fill(std::vector<unsigned char>& out, const rtlsdr_dev& dev) {
    world& w = W();
    if (!w.pattern.empty()) {
        for (size_t i = 0; i < out.size(); ++i) out[i] = w.pattern[i % w.pattern.size()];
        return;
    }
    const bool shifted = w.devices[size_t(dev.index)].tuner == RTLSDR_TUNER_R820T && dev.direct == 0;
    const double realCentre = double(dev.centre) + (shifted ? r820tError(dev.centre, dev.rate) : 0);
    w.tone.set(w.toneHz - realCentre, double(dev.rate), w.toneAmplitude);
    std::vector<std::complex<double>> iq(out.size() / 2);
    w.tone.next(iq.data(), iq.size());
    auto byte = [](double v) { return (unsigned char)std::clamp(std::lround(128.0 + v), 0L, 255L); };
    for (size_t i = 0; i < iq.size(); ++i) {
        out[2 * i] = byte(iq[i].real());
        out[2 * i + 1] = byte(iq[i].imag());
    }
}

} // namespace

// ---- the library ----

uint32_t rtlsdr_get_device_count(void) {
    note("get_device_count");
    std::lock_guard<std::mutex> l(W().m);
    return uint32_t(W().devices.size());
}

const char* rtlsdr_get_device_name(uint32_t) { return "Stand-in RTL2832U"; }

#ifndef STANDIN_RTLSDR_PARTIAL
int rtlsdr_get_device_usb_strings(uint32_t index, char* manufact, char* product, char* serial) {
    note("get_device_usb_strings", index);
    if (int code = W().failures.code("get_device_usb_strings " + std::to_string(index))) return code;
    std::lock_guard<std::mutex> l(W().m);
    if (index >= W().devices.size()) return -1;
    std::strcpy(manufact, "Stand-in");
    std::strcpy(product, "RTL2838");
    std::memcpy(serial, W().devices[index].serial, 256); // as read: perhaps without a zero
    return 0;
}
#endif

int rtlsdr_get_index_by_serial(const char* serial) {
    if (!serial) return -1;
    W().log.add(std::string("get_index_by_serial ") + serial);
    std::lock_guard<std::mutex> l(W().m);
    for (size_t i = 0; i < W().devices.size(); ++i)
        if (std::string(W().devices[i].serial, strnlen(W().devices[i].serial, 256)) == serial) return int(i);
    return -3;
}

int rtlsdr_open(rtlsdr_dev_t** dev, uint32_t index) {
    note("open", index);
    if (int code = W().failures.code("open")) return code;
    std::lock_guard<std::mutex> l(W().m);
    if (index >= W().devices.size()) return -1;
    *dev = new rtlsdr_dev;
    (*dev)->index = int(index);
    W().open.insert(*dev);
    return 0;
}

int rtlsdr_close(rtlsdr_dev_t* dev) {
    if (!isOpen(dev, "close")) return -1;
    note("close", dev->index);
    std::lock_guard<std::mutex> l(W().m);
    if (dev->reading) W().log.add("close while reading");
    W().open.erase(dev);
    delete dev;
    return 0;
}

int rtlsdr_set_xtal_freq(rtlsdr_dev_t*, uint32_t, uint32_t) { return 0; }
int rtlsdr_get_xtal_freq(rtlsdr_dev_t*, uint32_t*, uint32_t*) { return 0; }
int rtlsdr_get_usb_strings(rtlsdr_dev_t*, char*, char*, char*) { return 0; }
int rtlsdr_write_eeprom(rtlsdr_dev_t*, uint8_t*, uint8_t, uint16_t) { return 0; }
int rtlsdr_read_eeprom(rtlsdr_dev_t*, uint8_t*, uint8_t, uint16_t) { return 0; }

int rtlsdr_set_center_freq(rtlsdr_dev_t* dev, uint32_t freq) {
    if (!isOpen(dev, "set_center_freq")) return -1;
    note("set_center_freq", freq);
    std::lock_guard<std::mutex> l(W().m);
    dev->centre = freq;
    return 0;
}

uint32_t rtlsdr_get_center_freq(rtlsdr_dev_t*) { return 0; }

int rtlsdr_set_freq_correction(rtlsdr_dev_t* dev, int ppm) {
    if (!isOpen(dev, "set_freq_correction")) return -1;
    note("set_freq_correction", ppm);
    return 0;
}

int rtlsdr_get_freq_correction(rtlsdr_dev_t*) { return 0; }

enum rtlsdr_tuner rtlsdr_get_tuner_type(rtlsdr_dev_t* dev) {
    if (!isOpen(dev, "get_tuner_type")) return RTLSDR_TUNER_UNKNOWN;
    note("get_tuner_type");
    std::lock_guard<std::mutex> l(W().m);
    return W().devices[size_t(dev->index)].tuner;
}

#ifndef STANDIN_RTLSDR_PARTIAL
int rtlsdr_get_tuner_gains(rtlsdr_dev_t* dev, int* gains) {
    if (!isOpen(dev, "get_tuner_gains")) return -1;
    W().log.add(gains ? "get_tuner_gains list" : "get_tuner_gains count");
    std::lock_guard<std::mutex> l(W().m);
    const device& d = W().devices[size_t(dev->index)];
    if (gains && d.reportedGains > 0)
        std::copy_n(d.gains.begin(), std::min(size_t(d.reportedGains), d.gains.size()), gains);
    return d.reportedGains;
}
#endif

int rtlsdr_set_tuner_gain(rtlsdr_dev_t* dev, int gain) {
    if (!isOpen(dev, "set_tuner_gain")) return -1;
    note("set_tuner_gain", gain);
    return 0;
}

int rtlsdr_set_tuner_bandwidth(rtlsdr_dev_t*, uint32_t) { return 0; }
int rtlsdr_get_tuner_gain(rtlsdr_dev_t*) { return 0; }

int rtlsdr_set_tuner_if_gain(rtlsdr_dev_t* dev, int stage, int gain) {
    if (!isOpen(dev, "set_tuner_if_gain")) return -1;
    note("set_tuner_if_gain", stage, gain);
    return 0;
}

int rtlsdr_set_tuner_gain_mode(rtlsdr_dev_t*, int) { return 0; }

int rtlsdr_set_sample_rate(rtlsdr_dev_t* dev, uint32_t rate) {
    if (!isOpen(dev, "set_sample_rate")) return -1;
    note("set_sample_rate", rate);
    std::lock_guard<std::mutex> l(W().m);
    dev->rate = rate;
    return 0;
}

uint32_t rtlsdr_get_sample_rate(rtlsdr_dev_t*) { return 0; }
int rtlsdr_set_testmode(rtlsdr_dev_t*, int) { return 0; }
int rtlsdr_set_agc_mode(rtlsdr_dev_t*, int) { return 0; }

int rtlsdr_set_direct_sampling(rtlsdr_dev_t* dev, int on) {
    if (!isOpen(dev, "set_direct_sampling")) return -1;
    note("set_direct_sampling", on);
    std::lock_guard<std::mutex> l(W().m);
    dev->direct = on;
    return 0;
}

int rtlsdr_get_direct_sampling(rtlsdr_dev_t*) { return 0; }

int rtlsdr_set_offset_tuning(rtlsdr_dev_t* dev, int on) {
    if (!isOpen(dev, "set_offset_tuning")) return -1;
    note("set_offset_tuning", on);
    return 0;
}

int rtlsdr_get_offset_tuning(rtlsdr_dev_t*) { return 0; }

int rtlsdr_reset_buffer(rtlsdr_dev_t* dev) {
    if (!isOpen(dev, "reset_buffer")) return -1;
    note("reset_buffer");
    return 0;
}

int rtlsdr_read_sync(rtlsdr_dev_t*, void*, int, int*) { return -1; }
int rtlsdr_wait_async(rtlsdr_dev_t*, rtlsdr_read_async_cb_t, void*) { return -1; }

int rtlsdr_read_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx, uint32_t buf_num, uint32_t buf_len) {
    if (!isOpen(dev, "read_async")) return -1;
    note("read_async", buf_num, buf_len);
    if (int code = W().failures.code("read_async")) return code;
    world& w = W();
    std::vector<unsigned char> buffer(buf_len ? buf_len : 16 * 32 * 512);
    double pace;
    {
        std::lock_guard<std::mutex> l(w.m);
        dev->cancelled = false;
        dev->reading = true;
        ++w.readers;
        pace = w.pace;
    }
    int result = 0;
    dev->streamer.run(
        [&](long) {
            std::unique_lock<std::mutex> l(w.m);
            w.cv.wait(l, [&] { return dev->cancelled || w.budget != 0; });
            if (dev->cancelled) return false;
            if (w.unplugAfter == 0) {
                w.unplugAfter = -1;
                result = w.unplugCode;
                return false;
            }
            if (w.unplugAfter > 0) --w.unplugAfter;
            if (w.budget > 0) --w.budget;
            fill(buffer, *dev);
            l.unlock();
            cb(buffer.data(), uint32_t(buffer.size()), ctx);
            l.lock();
            ++w.delivered;
            w.cv.notify_all();
            return true;
        },
        pace);
    std::lock_guard<std::mutex> l(w.m);
    dev->reading = false;
    --w.readers;
    w.cv.notify_all();
    return result;
}

int rtlsdr_cancel_async(rtlsdr_dev_t* dev) {
    if (!isOpen(dev, "cancel_async")) return -1;
    note("cancel_async");
    {
        std::lock_guard<std::mutex> l(W().m);
        // As the driver: only a read that is running can be cancelled.
        if (!dev->reading) return -2;
        dev->cancelled = true;
    }
    W().cv.notify_all();
    dev->streamer.stop();
    return 0;
}

#ifndef STANDIN_RTLSDR_PARTIAL
int rtlsdr_set_bias_tee(rtlsdr_dev_t* dev, int on) {
    if (!isOpen(dev, "set_bias_tee")) return -1;
    note("set_bias_tee", on);
    return 0;
}
int rtlsdr_set_bias_tee_gpio(rtlsdr_dev_t*, int, int) { return 0; }
#endif

// ---- control ----

/// Forgets devices, settings, failures and the log. Not while reading.
STANDIN_API void standin_rtlsdr_reset() {
    world& w = W();
    std::lock_guard<std::mutex> l(w.m);
    w.devices.clear();
    w.log.clear();
    w.failures.clear();
    w.pace = 0;
    w.toneHz = w.toneAmplitude = 0;
    w.pattern.clear();
    w.budget = -1;
    w.delivered = 0;
    w.unplugAfter = -1;
}

/// Adds a device with this serial and tuner (RTLSDR_TUNER_...); its index.
STANDIN_API int standin_rtlsdr_add_device(const char* serial, int tuner) {
    std::lock_guard<std::mutex> l(W().m);
    device d;
    std::strncpy(d.serial, serial, sizeof d.serial - 1);
    d.tuner = rtlsdr_tuner(tuner);
    W().devices.push_back(d);
    return int(W().devices.size()) - 1;
}

/// All 256 bytes of a device's serial buffer, as the device gives them.
STANDIN_API void standin_rtlsdr_raw_serial(int index, const char* bytes) {
    std::lock_guard<std::mutex> l(W().m);
    std::memcpy(W().devices.at(size_t(index)).serial, bytes, 256);
}

/// The tuner's gain list, and the count rtlsdr_get_tuner_gains reports.
STANDIN_API void standin_rtlsdr_gains(int index, const int* gains, int count, int reported) {
    std::lock_guard<std::mutex> l(W().m);
    auto& d = W().devices.at(size_t(index));
    d.gains.assign(gains, gains + std::max(count, 0));
    d.reportedGains = reported;
}

/// A call that returns `code` instead ("open", "read_async",
/// "get_device_usb_strings <index>"); 0 lets it succeed again.
STANDIN_API void standin_rtlsdr_fail(const char* call, int code) { W().failures.set(call, code); }

/// Buffers per second while reading; 0 flat out. Taken when a read starts.
STANDIN_API void standin_rtlsdr_pace(double buffersPerSecond) {
    std::lock_guard<std::mutex> l(W().m);
    W().pace = buffersPerSecond;
}

/// A tone at this radio frequency, amplitude in byte steps (up to 127).
STANDIN_API void standin_rtlsdr_tone(double hz, double amplitude) {
    std::lock_guard<std::mutex> l(W().m);
    W().toneHz = hz;
    W().toneAmplitude = amplitude;
    W().pattern.clear();
}

/// Buffers made of these bytes repeated, instead of the tone.
STANDIN_API void standin_rtlsdr_pattern(const unsigned char* bytes, int n) {
    std::lock_guard<std::mutex> l(W().m);
    W().pattern.assign(bytes, bytes + n);
}

/// How many more buffers may be delivered (-1: no limit); reads wait.
STANDIN_API void standin_rtlsdr_budget(long buffers) {
    std::lock_guard<std::mutex> l(W().m);
    W().budget = buffers;
    W().cv.notify_all();
}

/// After this many more buffers the read returns `code`, as on unplugging.
STANDIN_API void standin_rtlsdr_unplug_after(long buffers, int code) {
    std::lock_guard<std::mutex> l(W().m);
    W().unplugAfter = buffers;
    W().unplugCode = code;
    W().cv.notify_all();
}

/// Buffers whose callback has returned, since the reset.
STANDIN_API long standin_rtlsdr_delivered() {
    std::lock_guard<std::mutex> l(W().m);
    return W().delivered;
}

/// Reads running now, and handles open now.
STANDIN_API int standin_rtlsdr_reading() {
    std::lock_guard<std::mutex> l(W().m);
    return W().readers;
}
STANDIN_API int standin_rtlsdr_open_handles() {
    std::lock_guard<std::mutex> l(W().m);
    return int(W().open.size());
}

/// The call log, one line per call, into out (terminated, cut to size);
/// returns the size the whole log needs.
STANDIN_API size_t standin_rtlsdr_log(char* out, size_t size) { return W().log.copyTo(out, size); }

STANDIN_API void standin_rtlsdr_clear_log() { W().log.clear(); }
