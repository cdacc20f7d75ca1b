#pragma once
// MIDI ports are opened by number, and a port's number moves whenever a port
// listed before it goes (under JACK, any client of the server). A device is
// listed under its port's name; it opens the port of that name as numbered
// at the moment it opens, never whatever port took over the number it was
// listed at.
#include <RtMidi.h>

#include <string>

/// Opens, as ourName, the port of `client`'s interface named `name`. False,
/// with nothing opened, when no port of that name exists now; an RtMidiError
/// of the open propagates.
bool openMidiPortByName(RtMidi& client, const std::string& name, const std::string& ourName);
