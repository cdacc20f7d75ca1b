#include "radios/hpsdr/frequencyFolding.h"

#include <spdlog/spdlog.h>

#include <atomic>

namespace {

/// True when the clock has zones; else logs the first such clock seen.
bool hasZones(int clockFrequency) {
    if (clockFrequency >= 2) return true;
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) spdlog::error("clockFrequency {} too low: frequencies sent unfolded", clockFrequency);
    return false;
}

} // namespace

long long getFoldedFrequency(long long f, int clockFrequency) {
    if (!hasZones(clockFrequency)) return f;
    const long long h = clockFrequency / 2;
    const long long q = f / h;
    const long long r = f - q * h;
    return (q & 1) ? h - r : r;
}

int IsFrequencyReversed(long long f, int clockFrequency) {
    if (!hasZones(clockFrequency)) return 0;
    return int((f / (clockFrequency / 2)) & 1);
}
