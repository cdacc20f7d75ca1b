#include "radios/hpsdr/StartStopPacket.h"

namespace {

buff<char> make(unsigned char flags) {
    buff<char> p(StartStopPacket::size, char(0));
    p[0] = char(0xEF);
    p[1] = char(0xFE);
    p[2] = char(0x04);
    p[3] = char(flags);
    return p;
}

} // namespace

buff<char> StartStopPacket::start(bool disableWatchdog) { return make(disableWatchdog ? 0x83 : 0x03); }
buff<char> StartStopPacket::stop() { return make(0x00); }
