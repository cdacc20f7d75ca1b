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
// Every MIDI client opens and closes on the MIDI worker (worker()), and the
// manager and its devices are used there only; the devices' input callbacks
// run on RtMidi's input thread (see MidiDevice). A client's open or close
// (under JACK, a request to the server) waits for as long as its server is
// stopped: the MIDI worker is held then, never the root object's task group,
// and the process's exit leaves it as it leaves the sound back-end's worker
// (serverWorker). Once the exit has begun, a manager whose server held it
// opens no more devices.
#include "audio/MidiDevice.h"
#include "audio/MidiOutDevice.h"
#include "audio/serverWorker.h"

#include <RtMidi.h>

#include <memory>
#include <string>
#include <vector>

class Midi {
public:
    /// The process's MIDI worker, started on first use and never ended:
    /// every job that makes, uses or destroys a manager or a device runs
    /// there, in the order posted. Any thread.
    static serverWorker& worker();

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
