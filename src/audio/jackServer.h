#pragma once
// Whether the JACK server still answers, asked before PortAudio's JACK
// back-end is shut down: its termination closes PortAudio's JACK client
// through the server, and fails PortAudio's own assertion (the process
// aborts) when that server has died. PortAudio keeps to itself whether its
// client lost its server, so a client of the library's own asks.

namespace jackServer {

/// Whether the JACK server the environment names answers a client of its
/// own, opened and closed again; false when it has gone. Waits for as long
/// as the server is stopped: never call it on a thread the host waits for.
bool answers() noexcept;

} // namespace jackServer
