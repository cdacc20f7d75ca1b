// Exported functions of the audio and MIDI devices: the root object.
#include "vireocore.h"

#include "audio/Wireless.h"
#include "framework/exportPattern.h"
#include "framework/library.h"

extern "C" {

// ---- Wireless ----
VIREO_API void* Wireless_create(void) {
    void* h = nullptr;
    vireo::api::guarded("Wireless_create", [&] { h = newHandle(Wireless::create(globalTaskGroup)); });
    return h;
}
VIREO_API void Wireless_release(void* h) { vireo::api::release(h, "Wireless_release"); }
VC_COLLECTION(Wireless, outputDevices)
VC_COLLECTION(Wireless, inputDevices)
VC_COLLECTION(Wireless, DefaultMicEQ)
VC_PROPERTY(Wireless, MidiEnabled)
VC_PROPERTY(Wireless, MidiDevices)
VC_METHOD(Wireless, Init, (const char* path), (path))
VC_METHOD(Wireless, SendMidi, (int dev, int size, int b0, int b1, int b2), (dev, size, b0, b1, b2))
VC_METHOD(Wireless, Close, (), ())
// The two callbacks are stored at once; the MIDI data callback is then called
// directly on the MIDI input thread, the plot callback never.
VIREO_API void Wireless_bindPlotCplxF(void* h, Wireless::plotCallback cb) {
    vireo::api::guarded("Wireless_bindPlotCplxF", [&] {
        if (auto w = vireo::api::target<Wireless>(h, "Wireless_bindPlotCplxF"))
            w->PlotCplxF.store(cb, std::memory_order_release);
    });
}
VIREO_API void Wireless_bindMidiData(void* h, Wireless::midiDataCallback cb) {
    vireo::api::guarded("Wireless_bindMidiData", [&] {
        if (auto w = vireo::api::target<Wireless>(h, "Wireless_bindMidiData"))
            w->MidiDataCallback.store(cb, std::memory_order_release);
    });
}

} // extern "C"
