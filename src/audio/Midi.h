#pragma once
// Midi: the MIDI manager of the root object. It lists the system's MIDI
// ports and keeps one device per input port (MidiDevice) and per output port
// (MidiOutDevice), matched by name across rescans.
//
// The interface is the platform's default RtMidi interface; where that
// cannot start (Linux without an ALSA sequencer, as in containers), JACK's,
// for the listing clients and every device alike, so that port numbers mean
// the same to all of them. With neither, one line is logged and both lists
// stay empty.
//
// Root object's task group only; the devices' input callbacks run on
// RtMidi's input thread (see MidiDevice).
#include "audio/MidiDevice.h"
#include "audio/MidiOutDevice.h"

#include <RtMidi.h>

#include <memory>
#include <string>
#include <vector>

class Midi {
public:
    Midi();
    ~Midi();
    Midi(const Midi&) = delete;
    Midi& operator=(const Midi&) = delete;

    /// Refreshes both device lists; returns the input port names, each
    /// followed by "\r\n", in port order.
    std::string Enumerate();
    /// Refreshes the output device list; returns the output port names.
    std::string EnumerateOp();

    /// Destroys every input device (closing its port); the outputs stay.
    void closeInputs();

    /// Sends on output device dev; nothing for a position outside the list.
    void send(int dev, int size, int b0, int b1, int b2);

    /// The RtMidi interface in use; UNSPECIFIED when there is none.
    RtMidi::Api api() const { return api_; }

    /// The current devices, in list order.
    const std::vector<std::unique_ptr<MidiDevice>>& inputs() const { return inputs_; }
    const std::vector<std::unique_ptr<MidiOutDevice>>& outputs() const { return outputs_; }

private:
    std::vector<std::unique_ptr<MidiDevice>> inputs_;
    std::vector<std::unique_ptr<MidiOutDevice>> outputs_;
    std::unique_ptr<RtMidiIn> inClient_;
    std::unique_ptr<RtMidiOut> outClient_;
    RtMidi::Api api_ = RtMidi::UNSPECIFIED;
};
