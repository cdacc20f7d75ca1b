#pragma once
// A host value that is no number (NaN or an infinity) would spoil every
// sample or frequency computed from it for good: a change hook refuses it,
// with a log line naming it, and restores the last finite value.
#include "framework/asyncProperty.h"

#include <spdlog/spdlog.h>

#include <cmath>

/// In p's change hook: whether p's new value was refused (p then holds
/// `kept` again, logged as "<prefix> <name> <value> refused, keeping
/// <kept>"); a finite value becomes the new `kept`.
inline bool refuseNonFinite(asyncProperty<double>& p, double& kept, const char* prefix, const char* name) {
    const double v = p.get();
    if (std::isfinite(v)) {
        kept = v;
        return false;
    }
    spdlog::error("{} {} {} refused, keeping {}", prefix, name, v, kept);
    p.reinit(kept);
    return true;
}
