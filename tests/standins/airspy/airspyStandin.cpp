// Stand-in for libairspy (soname libairspy.so.0): the calls the library
// makes, on the shared FloatIqReceiver model, and its control functions.
#include "standins/airspy/floatIqReceiver.h"

// The driver's functions keep the header's names and are exported; the
// rest of this library is hidden.
#pragma GCC visibility push(default)
#include <airspy.h>
#pragma GCC visibility pop

namespace {
standin::FloatIqReceiver model(AIRSPY_ERROR_NOT_FOUND);
} // namespace

// The driver's device type stays incomplete: handles are the model's
// devices, passed through it unchanged.
static standin::FloatIqReceiver::Device* dev(airspy_device* d) { return reinterpret_cast<standin::FloatIqReceiver::Device*>(d); }

STANDIN_RECEIVER_CONTROLS(airspy, model)

extern "C" {

int airspy_list_devices(uint64_t* serials, int count) { return model.list(serials, count); }

int airspy_open_sn(airspy_device** device, uint64_t serial) {
    standin::FloatIqReceiver::Device* d = nullptr;
    int r = model.open(&d, serial);
    if (r == 0) *device = reinterpret_cast<airspy_device*>(d);
    return r;
}

int airspy_close(airspy_device* device) { return model.close(dev(device)); }

int airspy_get_samplerates(airspy_device* device, uint32_t* buffer, const uint32_t len) {
    return model.rates(buffer, len);
}

int airspy_set_samplerate(airspy_device* device, uint32_t samplerate) { return model.setRate(dev(device), samplerate); }
int airspy_set_freq(airspy_device* device, const uint32_t freq_hz) { return model.set("set_freq", freq_hz); }
int airspy_set_linearity_gain(airspy_device* device, uint8_t value) {
    return model.set("set_linearity_gain", value);
}
int airspy_set_rf_bias(airspy_device* dev, uint8_t value) { return model.set("set_rf_bias", value); }

int airspy_start_rx(airspy_device* device, airspy_sample_block_cb_fn callback, void* rx_ctx) {
    return model.start(dev(device), "start_rx", [device, callback, rx_ctx](float* samples, int count) {
        airspy_transfer_t t{};
        t.device = device;
        t.ctx = rx_ctx;
        t.samples = samples;
        t.sample_count = count;
        t.sample_type = AIRSPY_SAMPLE_FLOAT32_IQ;
        callback(&t);
    });
}

int airspy_stop_rx(airspy_device* device) { return model.stop(dev(device), "stop_rx"); }

} // extern "C"
