#pragma once
// StartStopPacket: the 64-byte host-to-radio command of HPSDR protocol 1
// that starts or stops streaming: EF FE 04 flags and 60 zero bytes; flags 03
// start the receive and wide-band streams, bit 7 disables the board's
// watchdog, 00 stops.
#include "dsp/buff.h"

class StartStopPacket {
public:
    static constexpr size_t size = 64;

    static buff<char> start(bool disableWatchdog);
    static buff<char> stop();
};
