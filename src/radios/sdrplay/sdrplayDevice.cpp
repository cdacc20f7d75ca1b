#include "radios/sdrplay/sdrplayDevice.h"

#include <cstring>

namespace sdrplayDevice {

std::string serial(const sdrplay_api_DeviceT& d) { return std::string(d.serial, strnlen(d.serial, sizeof d.serial)); }

std::string id(const sdrplay_api_DeviceT& d) {
    const char* suffix = "";
    switch (d.hwVer) {
    case 1: suffix = "-RSP1"; break;
    case 255: suffix = "-RSP1A"; break;
    case 2: suffix = "-RSP2"; break;
    case 3: suffix = "-RSPduo"; break;
    case 4: suffix = "-RSPdx"; break;
    case 6: suffix = "-RSP1B"; break;
    case 7: suffix = "-RSPdxR2"; break;
    default: break;
    }
    return serial(d) + suffix;
}

} // namespace sdrplayDevice
