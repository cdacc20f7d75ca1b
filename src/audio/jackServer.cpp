#include "audio/jackServer.h"

#include <jack/jack.h>

namespace jackServer {

bool answers() noexcept {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("vireocore-check", JackNoStartServer, &status);
    if (!client) return false;
    jack_client_close(client);
    return true;
}

} // namespace jackServer
