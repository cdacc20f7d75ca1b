#pragma once
// MidiOutDevice: one MIDI output port, opened on its first send and kept
// open until the device goes. Root object's task group only.
#include <RtMidi.h>

#include <memory>
#include <string>

class MidiOutDevice {
public:
    /// The output port named `name` of the given RtMidi interface, listed at
    /// number `port`; neither its port object nor the port exist before the
    /// first send, which finds the port by name ("midi output {} gone" when
    /// it has gone, and nothing is sent).
    MidiOutDevice(std::string name, int port, RtMidi::Api api);
    ~MidiOutDevice();
    MidiOutDevice(const MidiOutDevice&) = delete;
    MidiOutDevice& operator=(const MidiOutDevice&) = delete;

    /// Sends the first `size` (1 to 3; anything else is refused with an
    /// error line) of the bytes b0, b1, b2, each taken as 8 bits, opening
    /// the port first if needed, and prints "size b0 b1 b2 sent". An
    /// RtMidiError is logged ("midi send {}") and ends the send; the next
    /// send tries to open the port again.
    void Send(int size, int b0, int b1, int b2);

    const std::string name;
    const int portNumber;
    bool seen = true;

private:
    RtMidi::Api api_;
    std::unique_ptr<RtMidiOut> port_;
};
