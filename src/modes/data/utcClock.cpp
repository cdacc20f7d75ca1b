#include "modes/data/utcClock.h"

#include <atomic>
#include <chrono>

namespace jt {

namespace {

long long systemMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Pairs with nothing but itself: a reader sees either source, whole.
std::atomic<clockSource> source_{&systemMicros};

} // namespace

long long utcMicros() { return source_.load(std::memory_order_acquire)(); }

void setUtcClock(clockSource source) { source_.store(source ? source : &systemMicros, std::memory_order_release); }

} // namespace jt
