#pragma once
#include <jack/jack.h>

/// Whether the JACK server the environment names (JACK_DEFAULT_SERVER)
/// answers, without starting one.
inline bool jackServes() {
    jack_status_t status;
    jack_client_t* c = jack_client_open("vireo-probe", JackNoStartServer, &status);
    if (!c) return false;
    jack_client_close(c);
    return true;
}
