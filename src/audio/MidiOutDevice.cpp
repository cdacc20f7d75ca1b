#include "audio/MidiOutDevice.h"

#include "audio/midiPortByName.h"

#include <spdlog/spdlog.h>

#include <cstdio>

MidiOutDevice::MidiOutDevice(std::string name_, int port, RtMidi::Api api)
    : name(std::move(name_)), portNumber(port), api_(api) {}

MidiOutDevice::~MidiOutDevice() {
    try {
        if (port_ && port_->isPortOpen()) port_->closePort();
    } catch (const RtMidiError& e) {
        spdlog::error("midi dtor {}", e.getMessage());
    }
}

void MidiOutDevice::Send(int size, int b0, int b1, int b2) {
    // Only three bytes exist: a larger size would send what lies beyond.
    if (size < 1 || size > 3) {
        spdlog::error("midi send size {} refused", size);
        return;
    }
    try {
        // Made here rather than when listed: under JACK every port object
        // is a client of the server with a thread of its own, which a port
        // nobody sends to should not cost.
        if (!port_) port_ = std::make_unique<RtMidiOut>(api_, "RtMidi Output Client");
        if (!port_->isPortOpen() && !openMidiPortByName(*port_, api_, name, "RtMidi Output")) {
            spdlog::error("midi output {} gone", name);
            return;
        }
        const unsigned char bytes[3] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                        static_cast<unsigned char>(b2)};
        port_->sendMessage(bytes, size_t(size));
        std::printf("%d %d %d %d sent\r\n", size, b0, b1, b2);
    } catch (const RtMidiError& e) {
        spdlog::error("midi send {}", e.getMessage());
    }
}
