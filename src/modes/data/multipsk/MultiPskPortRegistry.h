#pragma once
// The ports that bridge instances of this process serve, so that a second
// instance does not even try the port of the first. Process-wide and
// guarded: instances are created and destroyed on any worker.
#include <functional>

namespace multipsk {

struct portSearch {
    bool found = false;
    int port = 0; ///< the port served, or where the search ended
};

/// Offers tryPort up to `attempts` ports from `from` upward, skipping those
/// another instance holds and stopping at 65535; the first port tryPort
/// accepts is recorded and returned. Without success, port is the next port
/// the search would have offered (at most 65535) and nothing is recorded.
/// tryPort runs with the registry held.
portSearch claimPort(int from, int attempts, const std::function<bool(int)>& tryPort);

/// Frees a port recorded by claimPort.
void releasePort(int port);

/// Whether an instance holds the port.
bool portHeld(int port);

} // namespace multipsk
