#pragma once
#include "radios/airspy/usbDriver.h"

/// libairspyhf's calls, on an `airspyhf_device_t*`.
extern const usbDriver airspyhfDriver;

/// How far the device of `device` is really tuned from the frequency last
/// asked of it (actual minus requested, Hz), from the driver's
/// airspyhf_get_freq_shift when the loaded libairspyhf has it; 0 when it
/// does not, as with a driver that takes the shift out of the samples
/// itself. Looked up once, at run time.
int airspyhfTuningError(void* device);

/// Whether the loaded libairspyhf offers airspyhf_get_freq_shift.
bool airspyhfHasFreqShift();
