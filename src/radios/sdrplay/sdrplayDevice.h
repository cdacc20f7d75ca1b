#pragma once
// Reading the device records the library fills: their text is untrusted.
#include "radios/sdrplay/sdrplayApi.h"

#include <string>

namespace sdrplayDevice {

constexpr unsigned char rspDuo = 3;
constexpr int masterBit = 4;
constexpr int singleMode = 1;
constexpr int dualMode = 2;

/// The serial number, ending at the record's 64 bytes if not before.
std::string serial(const sdrplay_api_DeviceT& d);

/// The serial, "-" and the model named by the hardware version ("-RSPduo"
/// for 3); an unknown version adds nothing.
std::string id(const sdrplay_api_DeviceT& d);

} // namespace sdrplayDevice
