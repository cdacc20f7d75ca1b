#pragma once
// Whether the JACK server PortAudio plays on is still there. PortAudio keeps
// to itself whether its JACK client lost its server, and then fails its own
// assertions (the process aborts) in any call that goes through it: an open
// or a close of a stream (its clean-up unregisters the stream's ports), its
// termination. So a client of the library's own asks.
//
// The server's death shows to a client only once the dead server's socket
// has closed, some milliseconds after it died; a request made meanwhile waits
// for that moment, then fails. So the ask is a request to the server and
// back (its answer comes from the living server), not a flag a client's
// thread sets when it hears of the death later.
//
// Worker of the sound back-end only: the asks wait for as long as the server
// is stopped, so never on a thread the host waits for.

namespace jackServer {

/// Opens the library's own client on the server the environment names, the
/// one PortAudio's JACK back-end has just started on, and keeps it until
/// close(). Without a server it stays closed, and answers() then opens a
/// short-lived client for each ask. Once only.
void watch() noexcept;

/// Whether the server answers a request now, through the library's own
/// client; false once it has died (for good: a server of the same name that
/// starts later is another server, which PortAudio never meets). Waits for
/// as long as the server is stopped.
bool answers() noexcept;

/// Whether a request found the server gone. Never waits.
bool gone() noexcept;

/// Closes the library's own client, once PortAudio has ended.
void close() noexcept;

} // namespace jackServer
