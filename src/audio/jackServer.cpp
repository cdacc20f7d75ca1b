#include "audio/jackServer.h"

#include <jack/jack.h>

#include <atomic>

namespace jackServer {
namespace {

// Plain and trivially destructible: read by the worker also while the
// process ends.
std::atomic<jack_client_t*> client{nullptr};
std::atomic<bool> died{false};

/// A request to the server and back that changes nothing: the client's own
/// id, looked up by its name.
bool asks(jack_client_t* c) noexcept {
    char* id = jack_get_uuid_for_client_name(c, jack_get_client_name(c));
    if (!id) return false;
    jack_free(id);
    return true;
}

} // namespace

void watch() noexcept {
    if (client.load(std::memory_order_acquire)) return;
    jack_status_t status{};
    client.store(jack_client_open("vireocore-watch", JackNoStartServer, &status), std::memory_order_release);
}

bool answers() noexcept {
    if (died.load(std::memory_order_acquire)) return false;
    bool answered = false;
    if (jack_client_t* c = client.load(std::memory_order_acquire)) {
        answered = asks(c);
    } else {
        jack_status_t status{};
        if (jack_client_t* once = jack_client_open("vireocore-check", JackNoStartServer, &status)) {
            answered = true;
            jack_client_close(once);
        }
    }
    if (!answered) died.store(true, std::memory_order_release);
    return answered;
}

bool gone() noexcept { return died.load(std::memory_order_acquire); }

void close() noexcept {
    jack_client_t* c = client.exchange(nullptr, std::memory_order_acq_rel);
    if (c) jack_client_close(c);
}

} // namespace jackServer

// PortAudio's calls of jack_port_unregister come here first (the link wraps
// them; audio/sources.cmake). A server may die while a call of PortAudio's
// on the worker is on its way, after the worker's last ask: its opens and
// closes each wait a cycle or two of the server (10 to 20 ms on the dummy
// driver), most of the worker's time while devices are switched. The clean-up
// that ends such a call (the close's, or that of an open that failed)
// unregisters the stream's ports, and PortAudio asserts that each
// unregistration succeeded: the host would die with its server. A port of a
// server that no longer answers has gone with it, so its unregistration is
// done; any other failure is PortAudio's to see.
extern "C" int __real_jack_port_unregister(jack_client_t* client, jack_port_t* port);
// Visible to the link, which lets librtmidi's own calls of it (resolved at run time to
// libjack's) see it too; the shared library's version script keeps it local.
extern "C" __attribute__((visibility("default"))) int __wrap_jack_port_unregister(jack_client_t* client,
                                                                                 jack_port_t* port) {
    const int result = __real_jack_port_unregister(client, port);
    if (result != 0 && !jackServer::answers()) return 0;
    return result;
}
