#include "audio/MidiDevice.h"

#include "audio/Wireless.h"
#include "audio/midiPortByName.h"
#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <cstdio>

MidiDevice::MidiDevice(std::string name_, int port, RtMidi::Api api) : name(std::move(name_)), portNumber(port) {
    port_ = std::make_unique<RtMidiIn>(api, "RtMidi Input Client", 100);
    try {
        port_->setCallback(&MidiDevice::mycallback, this);
        port_->setErrorCallback(&MidiDevice::myerrorcallback, this);
        if (!openMidiPortByName(*port_, api, name, "RtMidi Input")) spdlog::error("midi input {} gone", name);
    } catch (const RtMidiError& e) {
        spdlog::error("midi ctor {}", e.getMessage());
    }
}

MidiDevice::~MidiDevice() {
    try {
        port_->cancelCallback();
        if (port_->isPortOpen()) port_->closePort();
    } catch (const RtMidiError& e) {
        spdlog::error("midi dtor {}", e.getMessage());
    }
    // Destroying the port object ends its input thread; only then may the
    // states it decodes into go.
    port_.reset();
}

void MidiDevice::mycallback(double deltaTime, std::vector<unsigned char>* message, void* userData) {
    exitGate::pass pass;
    if (!pass) return; // the process is exiting
    if (userData) static_cast<MidiDevice*>(userData)->OnData(deltaTime, message);
}

void MidiDevice::myerrorcallback(RtMidiError::Type, const std::string& errorText, void*) {
    std::printf("error %s\r\n", errorText.c_str());
}

void MidiDevice::OnData(double, const std::vector<unsigned char>* message) {
    if (!message) return;
    auto* root = Wireless::getInstance();
    const auto cb = root ? root->MidiDataCallback.load(std::memory_order_acquire) : nullptr;
    const auto& m = *message;
    if (m.size() == 2) {
        if (cb) cb(2, m[0], m[1], 0);
        return;
    }
    if (m.size() != 3) return;
    const unsigned b0 = m[0], b1 = m[1], b2 = m[2];
    if ((b0 & 0x70) == 0x30) { // control change, 0xB0 to 0xBF
        const unsigned ch = b0 & 0x0F, cc = b1 & 0x7F, v = b2 & 0x7F;
        NrpnState& s = nrpn_[ch];
        if (cc == 99) {
            s.parameter = v << 7;
            s.value = 0;
            s.state = 1;
            return;
        }
        if (cc == 98 && s.state == 1) {
            s.parameter |= v;
            s.state = 2;
            return;
        }
        if (cc == 6 && s.state == 2) {
            s.value = v << 7;
            s.state = 3;
            return;
        }
        if (cc == 38 && s.state == 3) {
            s.value |= v;
            s.state = 0;
            if (cb) cb(3, int(ch), int(s.parameter), int(s.value));
            return;
        }
    }
    if (cb) cb(3, int(b0), int(b1), int(b2));
}
