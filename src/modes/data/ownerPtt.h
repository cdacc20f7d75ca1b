#pragma once
// How a text mode ends a transmission from its transmit path: a system
// change of its transceiver's ptt to false (hook run, host told). Only on
// the transceiver's task group, where modulate runs.
#include "core/modDemod.h"
#include "core/vtrx.h"

inline void releaseOwnerPtt(modDemod& mode) {
    auto owner = mode.lockOwner();
    if (owner && owner->ptt.get()) owner->ptt.set(false, true);
}
