#pragma once
// Whether PortAudio's JACK client is still served. PortAudio keeps to itself
// whether its client lost its server (the server died, or dropped the client
// as too slow), and then fails its own assertions (the process aborts) in
// any call that goes through it: an open or a close of a stream (its
// clean-up unregisters the stream's ports), its termination. So a client of
// the library's own asks the server after PortAudio's client.
//
// The server's death shows to a client only once the dead server's socket
// has closed, some milliseconds after it died; a request made meanwhile waits
// for that moment, then fails. So the ask is a request to the server and
// back, answered by the living server, not a flag a client's thread sets when
// it hears of the death later.
//
// Worker of the sound back-end only: the asks wait for as long as the server
// is stopped, so never on a thread the host waits for.

namespace jackServer {

/// Opens the library's own client on the server the environment names, the
/// one PortAudio's JACK back-end has just started on, and follows the client
/// named `followed` there (PortAudio's), until close(). Without a server it
/// stays closed, and answers() then opens a short-lived client for each ask.
/// Once only.
void watch(const char* followed) noexcept;

/// Whether the server answers a request now and still serves the followed
/// client; false once it has died or dropped that client, for good (a
/// server of the same name that starts later is another server, which
/// PortAudio never meets). Waits for as long as the server is stopped.
bool answers() noexcept;

/// Closes the library's own client, once PortAudio has ended.
void close() noexcept;

} // namespace jackServer
