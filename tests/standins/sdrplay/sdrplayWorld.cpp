// The shared state of the sdrplay_api stand-in (see sdrplayWorld.h) and its
// control functions (standin_sdrplay_...).
//
// Devices are listed with chosen serials, hardware versions and RSPduo
// modes. A selected device gets a parameter tree of its own, freed when it
// is released (so a write after release is a use after free). Init starts a
// thread per tuner that streams 16-bit blocks of a tone or of constant
// values, and an event thread that delivers events the test queues; Uninit
// joins them all. Update records the tuner and reason bits and applies the
// frequency and the rate fields. Calls told to fail return their code.
// Anything the system must not do (a call before Open, an Uninit from a
// callback thread, an Update on a device that is not streaming) is logged
// as "fault: ...".
#include "sdrplayWorld.h"

#include "standins/standinKit.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <set>

namespace {

using sdrplayWorld::image;

struct tree {
    sdrplay_api_DevParamsT dev{};
    sdrplay_api_RxChannelParamsT a{}, b{};
    sdrplay_api_DeviceParamsT top{};
};

struct queuedEvent {
    sdrplay_api_EventT event;
    sdrplay_api_TunerSelectT tuner;
    sdrplay_api_EventParamsT params;
};

struct device {
    char serial[64] = {};
    unsigned char hwVer = 255;
    int duoMode = 0;
    bool removed = false;
    // claim
    const image* owner = nullptr;
    sdrplay_api_TunerSelectT tuner = 1;
    int mode = 0;
    std::unique_ptr<tree> params;
    // streaming
    bool streaming = false;
    sdrplay_api_CallbackFnsT callbacks{};
    void* context = nullptr;
    standin::Streamer streams[2];
    std::thread events;
    std::deque<queuedEvent> pending;
    bool inEvent = false; ///< an event callback runs
    bool stopEvents = false;
    std::set<std::thread::id> threads;
    // as applied by Init and Update
    double rate = 0;
    double rf[2] = {0, 0};
    bool rfChanged[2] = {false, false};
    int inCallback[2] = {0, 0};
};

struct toneSetting {
    double hz = 0, amplitude = 0;
    bool constant = false;
    short i = 0, q = 0;
    standin::Tone tone;
};

struct world {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::unique_ptr<device>> devices;
    standin::CallLog log;
    standin::Failures failures;
    float version = 3.15f;
    bool nullTree = false;
    bool overcount = false;
    unsigned int block = 1008;
    double pace = 2000;
    long allowed[2] = {-1, -1};
    long delivered[2] = {0, 0};
    int lockDepth = 0;
    toneSetting tones[2];
};

world& W() {
    static world w;
    return w;
}

void note(std::string line) { W().log.add(std::move(line)); }
void fault(const std::string& what) { note("fault: " + what); }

std::string serialOf(const device& d) { return std::string(d.serial, strnlen(d.serial, sizeof d.serial)); }

bool opened(const image& im, const char* call) {
    if (im.opened) return true;
    fault(std::string(call) + " before Open");
    return false;
}

/// The device behind a handle, or null (logged). World lock held.
device* find(sdrplay_api_DeviceHandle dev, const char* call) {
    for (auto& d : W().devices)
        if (d.get() == dev) return d.get();
    fault(std::string(call) + " with an unknown handle");
    return nullptr;
}

/// The rate the device streams at, from the tree. World lock held.
double outputRate(const tree& t) {
    if (t.a.ifKHz == 1620) return t.dev.adcRateHz / 3; // the low-IF mode's own decimation
    const int factor = t.a.decimation.enable && t.a.decimation.factor > 0 ? t.a.decimation.factor : 1;
    return t.dev.adcRateHz / factor;
}

void freshTree(device& d) {
    d.params = std::make_unique<tree>();
    tree& t = *d.params;
    t.dev.adcRateHz = 2000000;
    for (auto* c : {&t.a, &t.b}) {
        c->bandwidthKHz = 200;
        c->ifKHz = 0;
        c->rfHz = 200000000;
        c->lnaState = 0;
        c->decimation = {0, 1, 1};
    }
    t.top.devParams = &t.dev;
    t.top.rxChannelA = &t.a;
    t.top.rxChannelB = d.tuner == sdrplayTuner::both ? &t.b : nullptr;
}

/// One block of tuner k (0 or 1) into i and q. World lock held.
void fill(device& d, int k, std::vector<short>& i, std::vector<short>& q) {
    toneSetting& s = W().tones[k];
    if (s.constant) {
        std::fill(i.begin(), i.end(), s.i);
        std::fill(q.begin(), q.end(), s.q);
        return;
    }
    const double offset = s.hz - d.rf[k];
    // Outside the band the device passes nothing.
    const bool inBand = d.rate > 0 && std::abs(offset) < d.rate / 2;
    s.tone.set(offset, d.rate > 0 ? d.rate : 1, inBand ? s.amplitude : 0);
    std::vector<std::complex<double>> iq(i.size());
    s.tone.next(iq.data(), iq.size());
    auto quantise = [](double v) { return short(std::clamp(std::lround(v), -32768L, 32767L)); };
    for (size_t n = 0; n < iq.size(); ++n) {
        i[n] = quantise(iq[n].real());
        q[n] = quantise(iq[n].imag());
    }
}

/// Stops and joins the threads of a streaming device. Not on one of them,
/// and without the world lock.
void stopThreads(device& d) {
    for (auto& s : d.streams) s.stop();
    {
        std::lock_guard<std::mutex> l(W().m);
        d.stopEvents = true;
    }
    W().cv.notify_all();
    if (d.events.joinable()) d.events.join();
}

void startThreads(device& d) {
    world& w = W();
    const int tuners = d.tuner == sdrplayTuner::both ? 2 : 1;
    for (int k = 0; k < tuners; ++k) {
        d.streams[k].allow(w.allowed[k] < 0 ? std::numeric_limits<long>::max() : w.allowed[k]);
        d.streams[k].start(
            [&d, k](long) {
                world& w = W();
                std::vector<short> i, q;
                sdrplay_api_StreamCbParamsT params{};
                sdrplay_api_StreamCallback_t cb;
                {
                    std::lock_guard<std::mutex> l(w.m);
                    d.threads.insert(std::this_thread::get_id());
                    if (d.removed) return false;
                    i.resize(w.block);
                    q.resize(w.block);
                    fill(d, k, i, q);
                    params.rfChanged = d.rfChanged[k];
                    d.rfChanged[k] = false;
                    cb = k == 0 ? d.callbacks.streamA : d.callbacks.streamB;
                    ++d.inCallback[k];
                }
                if (cb) cb(i.data(), q.data(), &params, (unsigned int)i.size(), 0, d.context);
                std::lock_guard<std::mutex> l(w.m);
                --d.inCallback[k];
                ++w.delivered[k];
                w.cv.notify_all();
                return true;
            },
            w.pace);
    }
    d.stopEvents = false;
    d.events = std::thread([&d] {
        world& w = W();
        std::unique_lock<std::mutex> l(w.m);
        d.threads.insert(std::this_thread::get_id());
        for (;;) {
            w.cv.wait(l, [&] { return d.stopEvents || !d.pending.empty(); });
            if (d.stopEvents) return;
            queuedEvent e = d.pending.front();
            d.pending.pop_front();
            d.inEvent = true;
            auto cb = d.callbacks.event;
            l.unlock();
            if (cb) cb(e.event, e.tuner, &e.params, d.context);
            l.lock();
            d.inEvent = false;
            // Unplugged: the streams end, the service forgets the device.
            if (e.event == sdrplay_api_DeviceRemoved) d.removed = true;
            w.cv.notify_all();
        }
    });
}

} // namespace

namespace sdrplayWorld {

sdrplay_api_ErrT open(image& im) {
    note("Open " + im.file);
    if (int code = W().failures.code("Open")) return code;
    im.opened = true;
    return 0;
}

sdrplay_api_ErrT close(image& im) {
    opened(im, "Close");
    {
        std::lock_guard<std::mutex> l(W().m);
        for (auto& d : W().devices)
            if (d->owner == &im) fault("Close with " + serialOf(*d) + " still claimed");
        im.opened = false;
    }
    // Noted last: a test that waits for the call finds its work done (a
    // radio may close from a thread of its own while the test ends).
    note("Close " + im.file);
    return 0;
}

sdrplay_api_ErrT apiVersion(image& im, float* version) {
    if (!opened(im, "ApiVersion")) return 1;
    note("ApiVersion");
    if (int code = W().failures.code("ApiVersion")) return code;
    std::lock_guard<std::mutex> l(W().m);
    *version = W().version;
    return 0;
}

sdrplay_api_ErrT lockApi(image& im) {
    if (!opened(im, "LockDeviceApi")) return 1;
    note("LockDeviceApi");
    if (int code = W().failures.code("LockDeviceApi")) return code;
    std::lock_guard<std::mutex> l(W().m);
    ++W().lockDepth;
    return 0;
}

sdrplay_api_ErrT unlockApi(image& im) {
    if (!opened(im, "UnlockDeviceApi")) return 1;
    note("UnlockDeviceApi");
    std::lock_guard<std::mutex> l(W().m);
    if (W().lockDepth > 0) --W().lockDepth; // a failed lock is unlocked too: harmless, as the service takes it
    return 0;
}

sdrplay_api_ErrT getDevices(image& im, sdrplay_api_DeviceT* devices, unsigned int* count, unsigned int capacity) {
    if (!opened(im, "GetDevices")) return 1;
    note("GetDevices " + std::to_string(capacity));
    if (int code = W().failures.code("GetDevices")) return code;
    std::lock_guard<std::mutex> l(W().m);
    unsigned int listed = 0, n = 0;
    for (auto& d : W().devices) {
        if (d->removed) continue;
        ++listed;
        if (n == capacity) continue;
        sdrplay_api_DeviceT& r = devices[n++];
        r = {};
        std::memcpy(r.serial, d->serial, sizeof r.serial);
        r.hwVer = d->hwVer;
        r.tuner = sdrplayTuner::A;
        r.rspDuoMode = d->duoMode;
        r.dev = d.get();
    }
    *count = W().overcount ? listed : n;
    return 0;
}

sdrplay_api_ErrT selectDevice(image& im, sdrplay_api_DeviceT* record) {
    if (!opened(im, "SelectDevice")) return 1;
    std::lock_guard<std::mutex> l(W().m);
    device* d = find(record->dev, "SelectDevice");
    if (!d) return 2;
    note("SelectDevice " + serialOf(*d) + " " + std::to_string(record->tuner) + " " + std::to_string(record->rspDuoMode));
    if (int code = W().failures.code("SelectDevice")) return code;
    if (d->owner) return 4; // in use
    d->owner = &im;
    d->tuner = record->tuner;
    d->mode = record->rspDuoMode;
    freshTree(*d);
    return 0;
}

sdrplay_api_ErrT releaseDevice(image& im, sdrplay_api_DeviceT* record) {
    if (!opened(im, "ReleaseDevice")) return 1;
    std::lock_guard<std::mutex> l(W().m);
    device* d = find(record->dev, "ReleaseDevice");
    if (!d) return 2;
    note("ReleaseDevice " + serialOf(*d));
    if (int code = W().failures.code("ReleaseDevice")) return code;
    if (d->owner != &im) fault("ReleaseDevice of a device not claimed here");
    if (d->streaming) fault("ReleaseDevice while streaming");
    d->owner = nullptr;
    d->params.reset();
    return 0;
}

const char* errorString(sdrplay_api_ErrT error) {
    static const char* texts[] = {"Success", "Fail", "InvalidParam", "OutOfRange", "ServiceNotResponding",
                                  "NotInitialised", "AlreadyInitialised", "DeviceRemoved", "Timeout"};
    if (error >= 0 && size_t(error) < std::size(texts)) return texts[error];
    return "Unknown";
}

sdrplay_api_ErrT getDeviceParams(image& im, sdrplay_api_DeviceHandle dev, sdrplay_api_DeviceParamsT** params) {
    if (!opened(im, "GetDeviceParams")) return 1;
    std::lock_guard<std::mutex> l(W().m);
    device* d = find(dev, "GetDeviceParams");
    if (!d) return 2;
    note("GetDeviceParams " + serialOf(*d));
    if (int code = W().failures.code("GetDeviceParams")) return code;
    if (d->owner != &im || !d->params) return 5;
    *params = W().nullTree ? nullptr : &d->params->top;
    return 0;
}

sdrplay_api_ErrT init(image& im, sdrplay_api_DeviceHandle dev, sdrplay_api_CallbackFnsT* callbacks, void* context) {
    if (!opened(im, "Init")) return 1;
    std::lock_guard<std::mutex> l(W().m);
    device* d = find(dev, "Init");
    if (!d) return 2;
    note("Init " + serialOf(*d));
    if (int code = W().failures.code("Init")) return code;
    if (d->owner != &im || !d->params) return 5;
    if (d->streaming) return 6;
    d->streaming = true;
    d->callbacks = *callbacks;
    d->context = context;
    d->threads.clear();
    d->pending.clear();
    d->rate = outputRate(*d->params);
    d->rf[0] = d->params->a.rfHz;
    d->rf[1] = d->params->b.rfHz;
    startThreads(*d);
    return 0;
}

sdrplay_api_ErrT uninit(image& im, sdrplay_api_DeviceHandle dev) {
    if (!opened(im, "Uninit")) return 1;
    device* d;
    {
        std::lock_guard<std::mutex> l(W().m);
        d = find(dev, "Uninit");
        if (!d) return 2;
        note("Uninit " + serialOf(*d));
        if (int code = W().failures.code("Uninit")) return code;
        if (!d->streaming) return 5;
        if (d->threads.count(std::this_thread::get_id())) {
            // The real library would wait for itself here, for ever.
            fault("Uninit from a callback thread");
            return 1;
        }
    }
    stopThreads(*d);
    std::lock_guard<std::mutex> l(W().m);
    d->streaming = false;
    return d->removed ? 7 : 0;
}

sdrplay_api_ErrT update(image& im, sdrplay_api_DeviceHandle dev, sdrplay_api_TunerSelectT tuner,
                        sdrplay_api_ReasonForUpdateT reason, sdrplay_api_ReasonForUpdateExtension1T extended) {
    if (!opened(im, "Update")) return 1;
    std::lock_guard<std::mutex> l(W().m);
    device* d = find(dev, "Update");
    if (!d) return 2;
    char line[96];
    std::snprintf(line, sizeof line, "Update %d 0x%x 0x%x", tuner, reason, extended);
    note(line);
    if (int code = W().failures.code("Update")) return code;
    if (d->removed) return 7;
    if (!d->streaming || !d->params) {
        fault(std::string(line) + " while not streaming");
        return 5;
    }
    tree& t = *d->params;
    if (reason & sdrplayReason::rfFrequency) {
        const int k = tuner == sdrplayTuner::B ? 1 : 0;
        d->rf[k] = k == 0 ? t.a.rfHz : t.b.rfHz;
        d->rfChanged[k] = true;
    }
    if (reason & (sdrplayReason::adcRate | sdrplayReason::ifType | sdrplayReason::decimation))
        d->rate = outputRate(t);
    return 0;
}

void uncalled(const char* name) { fault(std::string(name) + " called"); }

} // namespace sdrplayWorld

// ---- control ----

namespace {

device* at(int index) {
    auto& v = W().devices;
    return index >= 0 && size_t(index) < v.size() ? v[size_t(index)].get() : nullptr;
}

} // namespace

/// Forgets devices, settings, failures and the log; stops streams left running.
STANDIN_API void standin_sdrplay_reset() {
    world& w = W();
    std::vector<std::unique_ptr<device>> old;
    {
        std::lock_guard<std::mutex> l(w.m);
        old.swap(w.devices);
    }
    for (auto& d : old) stopThreads(*d);
    std::lock_guard<std::mutex> l(w.m);
    w.log.clear();
    w.failures.clear();
    w.version = 3.15f;
    w.nullTree = w.overcount = false;
    w.block = 1008;
    w.pace = 2000;
    for (int k = 0; k < 2; ++k) {
        w.allowed[k] = -1;
        w.delivered[k] = 0;
        w.tones[k].hz = w.tones[k].amplitude = 0;
        w.tones[k].constant = false;
    }
    w.lockDepth = 0;
}

/// Lists a device: its 64 serial bytes (taken up to the first zero or 64),
/// hardware version (255 RSP1A, 3 RSPduo ...) and RSPduo mode (4|1: master).
STANDIN_API int standin_sdrplay_add_device(const char* serial, int hwVer, int duoMode) {
    auto d = std::make_unique<device>();
    std::memcpy(d->serial, serial, strnlen(serial, sizeof d->serial));
    d->hwVer = (unsigned char)hwVer;
    d->duoMode = duoMode;
    std::lock_guard<std::mutex> l(W().m);
    W().devices.push_back(std::move(d));
    return int(W().devices.size()) - 1;
}

/// A call ("Open", "Init", "Uninit", ...) returns `code`; 0 lets it succeed.
STANDIN_API void standin_sdrplay_fail(const char* call, int code) { W().failures.set(call, code); }

/// GetDeviceParams succeeds but hands out no tree.
STANDIN_API void standin_sdrplay_null_tree(int on) {
    std::lock_guard<std::mutex> l(W().m);
    W().nullTree = on != 0;
}

/// GetDevices reports every device listed, even past the capacity it filled.
STANDIN_API void standin_sdrplay_overcount(int on) {
    std::lock_guard<std::mutex> l(W().m);
    W().overcount = on != 0;
}

STANDIN_API void standin_sdrplay_version(float v) {
    std::lock_guard<std::mutex> l(W().m);
    W().version = v;
}

/// Samples per callback and callbacks per second (0: flat out), from the
/// next Init on.
STANDIN_API void standin_sdrplay_stream(unsigned int samples, double perSecond) {
    std::lock_guard<std::mutex> l(W().m);
    W().block = samples;
    W().pace = perSecond;
}

/// Tuner k (0 A, 1 B) sends a tone at radio frequency hz, amplitude in
/// sample steps.
STANDIN_API void standin_sdrplay_tone(int k, double hz, double amplitude) {
    std::lock_guard<std::mutex> l(W().m);
    W().tones[k].hz = hz;
    W().tones[k].amplitude = amplitude;
    W().tones[k].constant = false;
}

/// Tuner k sends every sample as (i, q).
STANDIN_API void standin_sdrplay_constant(int k, int i, int q) {
    std::lock_guard<std::mutex> l(W().m);
    W().tones[k].constant = true;
    W().tones[k].i = short(i);
    W().tones[k].q = short(q);
}

/// Tuner k may deliver blocks 0 to total - 1 of each stream (-1: no limit).
STANDIN_API void standin_sdrplay_allow(int k, long total) {
    std::lock_guard<std::mutex> l(W().m);
    W().allowed[k] = total;
    for (auto& d : W().devices)
        if (d->streaming) d->streams[k].allow(total < 0 ? std::numeric_limits<long>::max() : total);
}

/// Blocks of tuner k whose callback has returned, since the reset.
STANDIN_API long standin_sdrplay_delivered(int k) {
    std::lock_guard<std::mutex> l(W().m);
    return W().delivered[k];
}

/// Callbacks of tuner k running now.
STANDIN_API int standin_sdrplay_in_callback(int index, int k) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d ? d->inCallback[k] : 0;
}

/// Queues an event for the event thread of a streaming device: value is the
/// gain in dB (0) or the overload change type (1).
STANDIN_API void standin_sdrplay_event(int index, int event, int tuner, double value) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    if (!d || !d->streaming) return;
    queuedEvent e{sdrplay_api_EventT(event), tuner, {}};
    if (event == sdrplay_api_GainChange) e.params.gain.currentGainDb = value;
    if (event == sdrplay_api_PowerOverloadChange) e.params.overload.changeType = int(value);
    d->pending.push_back(e);
    W().cv.notify_all();
}

/// Whether a device's queued events have all been delivered and their
/// callbacks have returned.
STANDIN_API int standin_sdrplay_events_done(int index) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d ? d->pending.empty() && !d->inEvent : 1;
}

/// A removed device is listed again.
STANDIN_API void standin_sdrplay_replug(int index) {
    std::lock_guard<std::mutex> l(W().m);
    if (device* d = at(index)) d->removed = false;
}

/// The frequency tuner k of a device streams at, as last applied.
STANDIN_API double standin_sdrplay_rf(int index, int k) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d ? d->rf[k] : -1;
}

/// The sample rate a device streams at, as last applied.
STANDIN_API double standin_sdrplay_rate(int index) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d ? d->rate : -1;
}

/// 1 while a device streams, 0 otherwise; claimed: 1 while selected.
STANDIN_API int standin_sdrplay_streaming(int index) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d && d->streaming;
}
STANDIN_API int standin_sdrplay_claimed(int index) {
    std::lock_guard<std::mutex> l(W().m);
    device* d = at(index);
    return d && d->owner;
}

/// The call log, one line per call, into out (terminated, cut to size);
/// returns the size the whole log needs.
STANDIN_API size_t standin_sdrplay_log(char* out, size_t size) { return W().log.copyTo(out, size); }

STANDIN_API void standin_sdrplay_clear_log() { W().log.clear(); }
