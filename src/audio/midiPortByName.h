#pragma once
// MIDI ports are opened by number, and a port's number moves whenever a port
// listed before it goes (under JACK, any client of the server). A device is
// listed under its port's name; it opens the port of that name as numbered
// at the moment it opens, never whatever port took over the number it was
// listed at.
#include <RtMidi.h>

#include <string>

/// Opens, as ourName, the port named `name` of `client`, whose interface is
/// `api`, and returns once the connection carries messages (under JACK,
/// waiting for the server's graph to take it up: at most a second, then
/// "midi port {} not connected in time" is logged). False, with nothing opened, when no port
/// of that name exists now; an RtMidiError of the open propagates.
bool openMidiPortByName(RtMidi& client, RtMidi::Api api, const std::string& name, const std::string& ourName);
