#pragma once
#include "radios/airspy/usbDriver.h"

/// libairspy's calls, on a `struct airspy_device*`.
extern const usbDriver airspyDriver;
