#include "audio/jackServer.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdio>

namespace jackServer {
namespace {

// Plain and trivially destructible: read by the worker also while the
// process ends.
std::atomic<jack_client_t*> client{nullptr};
std::atomic<bool> lost{false};
char followedName[256] = {}; // written once, before any ask

/// A request to the server and back that changes nothing: the followed
/// client's id, looked up by its name. No id: the server has gone, or no
/// longer serves that client.
bool asks(jack_client_t* c) noexcept {
    char* id = jack_get_uuid_for_client_name(c, followedName[0] ? followedName : jack_get_client_name(c));
    if (!id) return false;
    jack_free(id);
    return true;
}

} // namespace

void watch(const char* followed) noexcept {
    if (client.load(std::memory_order_acquire)) return;
    if (followed) std::snprintf(followedName, sizeof followedName, "%s", followed);
    jack_status_t status{};
    client.store(jack_client_open("vireocore-watch", JackNoStartServer, &status), std::memory_order_release);
}

bool answers() noexcept {
    if (lost.load(std::memory_order_acquire)) return false;
    bool answered = false;
    if (jack_client_t* c = client.load(std::memory_order_acquire)) {
        answered = asks(c);
    } else {
        jack_status_t status{};
        if (jack_client_t* once = jack_client_open("vireocore-check", JackNoStartServer, &status)) {
            answered = asks(once);
            jack_client_close(once);
        }
    }
    if (!answered) lost.store(true, std::memory_order_release);
    return answered;
}

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
// client that its server no longer serves (the server died, or dropped the
// client) has gone with it, so its unregistration is done; any other
// failure is PortAudio's to see.
extern "C" int __real_jack_port_unregister(jack_client_t* client, jack_port_t* port);
// Visible to the link, which lets librtmidi's own calls of it (resolved at
// run time to libjack's) see it too; the shared library's version script
// keeps it local.
extern "C" __attribute__((visibility("default"))) int __wrap_jack_port_unregister(jack_client_t* client,
                                                                                 jack_port_t* port) {
    const int result = __real_jack_port_unregister(client, port);
    if (result != 0 && !jackServer::answers()) return 0;
    return result;
}
