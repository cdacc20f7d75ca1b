#pragma once
#include <cstdint>

/// A one-shot register write that takes the place of an ordinary
/// command-and-control frame (C0..C4 as sent, the radio's MOX bit ORed into
/// C0), followed by `wait` ordinary frames before the next one may go.
struct HpsdrCommand {
    uint8_t C0 = 0, C1 = 0, C2 = 0, C3 = 0, C4 = 0;
    uint32_t wait = 0;
};
