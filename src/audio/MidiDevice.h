#pragma once
// MidiDevice: one open MIDI input port. Every message the port receives is
// decoded on RtMidi's input thread and handed to the root object's MIDI data
// callback as (kind, a, b, c):
//   (3, channel, parameter, value)  a completed NRPN sequence: controllers
//                                   99, 98, 6, 38 in this order on a channel
//   (3, b0, b1, b2)                 every other 3-byte message
//   (2, b0, b1, 0)                  every 2-byte message
// The two kinds 3 differ in a: a channel is below 16, a status byte 128 or
// more. Messages of other lengths are dropped.
//
// Threads: constructed and destroyed on the root object's task group; OnData
// runs on RtMidi's input thread only, and only it touches the NRPN states.
// The states are zeroed before the port exists, so the input thread, which
// starts with the port, sees them zeroed. Destruction cancels the callback
// and closes the port before the states go.
#include <RtMidi.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// The NRPN being assembled on one channel: state 0 idle, 1 after 99,
/// 2 after 98, 3 after 6; 38 completes it.
struct NrpnState {
    uint32_t parameter = 0;
    uint32_t value = 0;
    uint32_t state = 0;
};

class MidiDevice {
public:
    /// Opens the input port named `name` of the given RtMidi interface, found
    /// afresh (`port` is the number it was listed at). A port gone since
    /// ("midi input {} gone") or an RtMidiError while opening ("midi ctor
    /// {}") is logged and leaves the device listed without input; an error
    /// while creating the port object propagates.
    MidiDevice(std::string name, int port, RtMidi::Api api);
    ~MidiDevice();
    MidiDevice(const MidiDevice&) = delete;
    MidiDevice& operator=(const MidiDevice&) = delete;

    /// RtMidi's input callback: OnData on the device given as user data.
    static void mycallback(double deltaTime, std::vector<unsigned char>* message, void* userData);
    /// RtMidi's error callback for this port: prints the error.
    static void myerrorcallback(RtMidiError::Type type, const std::string& errorText, void* userData);

    /// Decodes one message and calls the MIDI data callback. Input thread.
    void OnData(double deltaTime, const std::vector<unsigned char>* message);

    const std::string name;
    const int portNumber;
    /// Enumeration mark; root object's task group only.
    bool seen = true;

private:
    std::array<NrpnState, 16> nrpn_{};
    std::unique_ptr<RtMidiIn> port_; // last: made after, and gone before, the states
};
