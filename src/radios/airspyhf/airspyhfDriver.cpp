// libairspyhf behind the driver table. The only files that include its
// header are this one and AirspyHFRadio.cpp.
#include "radios/airspyhf/airspyhfDriver.h"

#include "radios/airspy/UsbStreamRadio.h"

#include <airspyhf.h>
#include <algorithm>
#include <cstdint>
#include <dlfcn.h>
#include <spdlog/spdlog.h>

namespace {

airspyhf_device_t* dev(void* d) { return static_cast<airspyhf_device_t*>(d); }

int onTransfer(airspyhf_transfer_t* t) {
    if (t) UsbStreamRadio::deliver(t->ctx, reinterpret_cast<const float*>(t->samples), t->sample_count);
    return 0;
}

using freqShiftCall = int32_t (*)(airspyhf_device_t*);

/// airspyhf_get_freq_shift of the libairspyhf this process loaded, found
/// through the library that holds airspyhf_open_sn; null when it lacks it.
freqShiftCall findFreqShift() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&airspyhf_open_sn), &info) || !info.dli_fname) return nullptr;
    void* lib = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) return nullptr;
    void* f = dlsym(lib, "airspyhf_get_freq_shift");
    dlclose(lib); // the process keeps the library loaded through its own link
    if (!f) spdlog::info("airspyhf_get_freq_shift not in {}: tuning error 0", info.dli_fname);
    return reinterpret_cast<freqShiftCall>(f);
}

freqShiftCall freqShift() {
    static const freqShiftCall call = findFreqShift();
    return call;
}

} // namespace

bool airspyhfHasFreqShift() { return freqShift() != nullptr; }

int airspyhfTuningError(void* device) {
    auto call = freqShift();
    if (!call || !device) return 0;
    // The shift is requested minus actual; the error is the other way round.
    // Widened first, so that no shift overflows when negated.
    const long long error = -static_cast<long long>(call(dev(device)));
    return int(std::clamp<long long>(error, INT32_MIN, INT32_MAX));
}

const usbDriver airspyhfDriver = {
    "airspyhf",
    [](uint64_t* serials, int room) { return airspyhf_list_devices(serials, room); },
    [](void** d, uint64_t serial) {
        airspyhf_device_t* opened = nullptr;
        int r = airspyhf_open_sn(&opened, serial);
        if (r == 0) *d = opened;
        return r;
    },
    [](void* d) { airspyhf_close(dev(d)); },
    [](void* d, uint32_t* buffer, uint32_t len) { return airspyhf_get_samplerates(dev(d), buffer, len); },
    [](void* d, uint32_t rate) { airspyhf_set_samplerate(dev(d), rate); },
    [](void* d, uint32_t hz) { airspyhf_set_freq(dev(d), hz); },
    [](void* d, void* context) { return airspyhf_start(dev(d), onTransfer, context); },
    [](void* d) { airspyhf_stop(dev(d)); },
};
