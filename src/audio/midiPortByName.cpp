#include "audio/midiPortByName.h"

bool openMidiPortByName(RtMidi& client, const std::string& name, const std::string& ourName) {
    const unsigned n = client.getPortCount();
    for (unsigned i = 0; i < n; ++i) {
        if (client.getPortName(i) != name) continue;
        client.openPort(i, ourName);
        return true;
    }
    return false;
}
