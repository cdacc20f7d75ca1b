#pragma once
// The calls a USB receiver driver offers for opening a device by serial,
// listing its rates and streaming interleaved float I/Q, gathered in a table
// of plain functions on an opaque device. UsbStreamRadio and the discovery
// run on such a table; each driver (libairspy, libairspyhf) fills one in the
// one file that includes its header.
#include <cstdint>

struct usbDriver {
    /// Prefix of the log lines: "airspy", "airspyhf".
    const char* name;
    /// Fills up to `room` serials; the device count, or a negative failure code.
    int (*list)(uint64_t* serials, int room);
    /// 0 and *device set on success, else a failure code and *device untouched.
    int (*open)(void** device, uint64_t serial);
    void (*close)(void* device);
    /// The driver's rate query: with len 0 the count goes to buffer[0],
    /// otherwise up to len rates. Non-zero is a failure.
    int (*getRates)(void* device, uint32_t* buffer, uint32_t len);
    void (*setRate)(void* device, uint32_t rate);
    void (*setFrequency)(void* device, uint32_t hz);
    /// Starts the driver's thread, which hands every transfer to
    /// UsbStreamRadio::deliver with `context`. 0 is success.
    int (*start)(void* device, void* context);
    /// Stops the callbacks; returns once the driver's thread has ended.
    void (*stop)(void* device);
};
