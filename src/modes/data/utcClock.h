#pragma once
// The wall clock that JT periods are aligned to. Everything that times a
// period reads it through utcMicros(), so tests can run periods unpaced on a
// clock of their own.
namespace jt {

using clockSource = long long (*)();

/// Microseconds since the epoch, UTC. Any thread.
long long utcMicros();

/// Makes utcMicros() call source; null restores the system clock. Any
/// thread; takes effect at the next reading.
void setUtcClock(clockSource source);

} // namespace jt
