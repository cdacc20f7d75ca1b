#include "audio/midiPortByName.h"

#include "audio/jackConnectionWatch.h"

#include <spdlog/spdlog.h>

#include <optional>

bool openMidiPortByName(RtMidi& client, RtMidi::Api api, const std::string& name, const std::string& ourName) {
    const unsigned n = client.getPortCount();
    for (unsigned i = 0; i < n; ++i) {
        if (client.getPortName(i) != name) continue;
        // Under JACK the connection carries messages only from a later
        // period on: until then what is sent is lost, and what arrives goes
        // unheard (see jackConnectionWatch).
        std::optional<jackConnectionWatch> watch;
        if (api == RtMidi::UNIX_JACK) watch.emplace(name);
        client.openPort(i, ourName);
        if (watch && !watch->waitForNew(ourName)) spdlog::warn("midi port {} not connected in time", name);
        return true;
    }
    return false;
}
