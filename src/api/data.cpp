// Exported functions of the data modes and the JT decoder.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "modes/data/psk/PskDetector.h"
#include "modes/data/psk/PskModDemod.h"
#include "modes/data/multipsk/MultiPskModDemod.h"
#include "modes/data/chirp/chirpyModDemod.h"
#include "modes/data/dab/DABModDemod.h"

extern "C" {

// ---- PskDetector ----
VC_CLASS(PskDetector)
VC_PROPERTY(PskDetector, freq)
VC_PROPERTY(PskDetector, signalStrength)
VC_PROPERTY(PskDetector, activity)
VC_PROPERTY(PskDetector, Mode)
VC_EVENT(PskDetector, newChars)
VC_EVENT(PskDetector, reset)

// ---- PskModDemod ----
VC_CLASS(PskModDemod)
VC_PROPERTY(PskModDemod, sigLevel)
VC_PROPERTY(PskModDemod, primaryDetector)
VC_COLLECTION(PskModDemod, Modes)
VC_PROPERTY(PskModDemod, mode)
VC_COLLECTION(PskModDemod, dets)
VC_EVENT(PskModDemod, newChars)
VC_EVENT(PskModDemod, sentChars)
VIREO_API void PskModDemod_QueueText(void* h, const char* text, int start) {
    // The host's text lives only during the call: the request keeps a copy.
    if (!text) {
        vireo::api::guarded("PskModDemod.QueueText()",
                            [] { spdlog::error("PskModDemod.QueueText() null text refused"); });
        return;
    }
    vireo::api::guarded("PskModDemod.QueueText()", [&] {
        vireo::api::request<PskModDemod>(h, "PskModDemod.QueueText()",
                                         [copy = std::string(text), start](PskModDemod& m) { m.QueueText(copy, start); });
    });
}

// ---- JTModDemod ----

// ---- ft8decode and the CRC ----

// ---- MultiPskModDemod ----
VC_CLASS(MultiPskModDemod)
VC_PROPERTY(MultiPskModDemod, connected)
VC_PROPERTY(MultiPskModDemod, sending)
VC_PROPERTY_BIND(MultiPskModDemod, port)
VIREO_API void MultiPskModDemod_setport(void* h, int value) {
    // A port outside 1-65535 is refused on the mode's group, where the kept
    // value is known.
    vireo::api::request<MultiPskModDemod>(h, "MultiPskModDemod.port.set",
                                          [value](MultiPskModDemod& m) { m.hostSetPort(value); });
}

// ---- cwModDemod ----

// ---- fskModDemod ----

// ---- RTTYModDemod ----

// ---- hellschreiberModDemod ----

// ---- chirpyModDemod ----
VC_CLASS(chirpyModDemod)

// ---- DABModDemod ----
VC_CLASS(DABModDemod)

} // extern "C"
