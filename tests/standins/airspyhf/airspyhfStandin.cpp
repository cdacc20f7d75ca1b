// Stand-in for libairspyhf (soname libairspyhf.so.1): the calls the library
// makes, on the shared FloatIqReceiver model, and its control functions. It
// also offers airspyhf_get_freq_shift, which Debian's build lacks.
#include "standins/airspy/floatIqReceiver.h"

#pragma GCC visibility push(default)
#include <airspyhf.h>
#pragma GCC visibility pop

namespace {
standin::FloatIqReceiver model(AIRSPYHF_ERROR);
} // namespace

// The driver's device type stays incomplete: handles are the model's
// devices, passed through it unchanged.
static standin::FloatIqReceiver::Device* dev(airspyhf_device* d) { return reinterpret_cast<standin::FloatIqReceiver::Device*>(d); }

STANDIN_RECEIVER_CONTROLS(airspyhf, model)

extern "C" {

int airspyhf_list_devices(uint64_t* serials, int count) { return model.list(serials, count); }

int airspyhf_open_sn(airspyhf_device_t** device, uint64_t serial_number) {
    standin::FloatIqReceiver::Device* d = nullptr;
    int r = model.open(&d, serial_number);
    if (r == 0) *device = reinterpret_cast<airspyhf_device_t*>(d);
    return r;
}

int airspyhf_close(airspyhf_device_t* device) { return model.close(dev(device)); }

int airspyhf_get_samplerates(airspyhf_device_t* device, uint32_t* buffer, const uint32_t len) {
    return model.rates(buffer, len);
}

int airspyhf_set_samplerate(airspyhf_device_t* device, uint32_t samplerate) {
    return model.setRate(dev(device), samplerate);
}
int airspyhf_set_freq(airspyhf_device_t* device, const uint32_t freq_hz) { return model.set("set_freq", freq_hz); }
int airspyhf_set_hf_agc(airspyhf_device_t* device, uint8_t flag) { return model.set("set_hf_agc", flag); }
int airspyhf_set_hf_att(airspyhf_device_t* device, uint8_t value) { return model.set("set_hf_att", value); }
int airspyhf_set_hf_lna(airspyhf_device_t* device, uint8_t flag) { return model.set("set_hf_lna", flag); }

int airspyhf_start(airspyhf_device_t* device, airspyhf_sample_block_cb_fn callback, void* ctx) {
    return model.start(dev(device), "start", [device, callback, ctx](float* samples, int count) {
        airspyhf_transfer_t t{};
        t.device = device;
        t.ctx = ctx;
        t.samples = reinterpret_cast<airspyhf_complex_float_t*>(samples);
        t.sample_count = count;
        callback(&t);
    });
}

int airspyhf_stop(airspyhf_device_t* device) { return model.stop(dev(device), "stop"); }

} // extern "C"

/// Not in Debian's header: the offset the device is left from the frequency
/// asked of it, which it leaves in the samples.
STANDIN_API int32_t airspyhf_get_freq_shift(airspyhf_device_t* device) { return model.freqShift(); }
