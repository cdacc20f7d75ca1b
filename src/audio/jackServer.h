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
// The server may still die while a call of PortAudio's is on its way, after
// the last ask. The libjack calls whose results PortAudio's JACK back-end
// asserts pass through here first (the link wraps them; audio/sources.cmake):
// jack_port_unregister (a stream's clean-up), jack_deactivate (the
// termination) and jack_client_close (the termination, and the clean-up of
// an initialisation that failed). Such a call that failed counts as done
// when the server no longer answers or no longer serves PortAudio's client:
// what it would have undone on the server has gone with the server, and the
// call has freed what it held in the process all the same. Any other
// failure, and any once PortAudio has ended, is returned as it came. An
// unregistration is asked for first too, and not made on a server that has
// gone (see jackServer.cpp). libjack itself is called, never rewritten.
//
// The asks, the worker's and those of a failed call on any thread, take
// turns: they share one client, whose requests share one socket. They wait
// for as long as the server is stopped, so the worker asks only on itself,
// never on a thread the host waits for.

namespace jackServer {

/// Opens the library's own client on the server the environment names, the
/// one PortAudio's JACK back-end has just started on, and follows the client
/// named `followed` there (PortAudio's), until close(). Without a server it
/// stays closed, and answers() then opens a short-lived client for each ask.
/// Once only; sound worker.
void watch(const char* followed) noexcept;

/// Whether the server answers a request now and still serves the followed
/// client; false once it has died or dropped that client, for good (a
/// server of the same name that starts later is another server, which
/// PortAudio never meets). Waits for as long as the server is stopped. Any
/// thread.
bool answers() noexcept;

/// Whether an ask, of any thread, has found the server gone. Asks nothing.
bool gone() noexcept;

/// Closes the library's own client, once PortAudio has ended, for good:
/// libjack's calls that pass through here keep their own results from then
/// on. Sound worker.
void close() noexcept;

/// Whether close() has been called. Any thread.
bool closed() noexcept;

} // namespace jackServer
