// libairspy behind the driver table. The only files that include its
// header are this one and AirspyRadio.cpp.
#include "radios/airspy/airspyDriver.h"

#include "radios/airspy/UsbStreamRadio.h"

#include <airspy.h>

namespace {

airspy_device* dev(void* d) { return static_cast<airspy_device*>(d); }

int onTransfer(airspy_transfer_t* t) {
    // The stream is never switched from float I/Q; anything else would be
    // read past its end, so it is dropped.
    if (t && t->sample_type == AIRSPY_SAMPLE_FLOAT32_IQ)
        UsbStreamRadio::deliver(t->ctx, static_cast<const float*>(t->samples), t->sample_count);
    return 0;
}

} // namespace

const usbDriver airspyDriver = {
    "airspy",
    [](uint64_t* serials, int room) { return airspy_list_devices(serials, room); },
    [](void** d, uint64_t serial) {
        airspy_device* opened = nullptr;
        int r = airspy_open_sn(&opened, serial);
        if (r == 0) *d = opened;
        return r;
    },
    [](void* d) { airspy_close(dev(d)); },
    [](void* d, uint32_t* buffer, uint32_t len) { return airspy_get_samplerates(dev(d), buffer, len); },
    [](void* d, uint32_t rate) { airspy_set_samplerate(dev(d), rate); },
    [](void* d, uint32_t hz) { airspy_set_freq(dev(d), hz); },
    [](void* d, void* context) { return airspy_start_rx(dev(d), onTransfer, context); },
    [](void* d) { airspy_stop_rx(dev(d)); },
};
