// Exported functions of the data modes and the JT decoder.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "modes/data/psk/PskDetector.h"
#include "modes/data/psk/PskModDemod.h"
#include "modes/data/JTModDemod.h"
#include "modes/data/jt/crc.h"
#include "modes/data/jt/ft8decode.h"
#include "modes/data/multipsk/MultiPskModDemod.h"
#include "modes/data/chirp/chirpyModDemod.h"
#include "modes/data/dab/DABModDemod.h"
#include "modes/data/cw/cwModDemod.h"
#include "modes/data/fsk/fskModDemod.h"
#include "modes/data/hell/hellschreiberModDemod.h"
#include "modes/data/rtty/RTTYModDemod.h"

namespace {

/// A text mode's QueueText: the host's text lives only during the call, so
/// the request keeps a copy, and the call's moment, which decides what a
/// transmission's ending takes of it (core/transmission.h).
template <class Mode>
void queueText(void* h, const char* text, int start, const char* name) noexcept {
    vireo::api::guarded(name, [&] {
        if (!text) {
            spdlog::error("{} null text refused", name);
            return;
        }
        vireo::api::request<Mode>(h, name, [copy = std::string(text), start, at = transmission::now()](Mode& m) {
            m.QueueText(copy, start, at);
        });
    });
}

} // namespace

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
    queueText<PskModDemod>(h, text, start, "PskModDemod.QueueText()");
}

// ---- JTModDemod ----
VC_CLASS(JTModDemod)
VC_PROPERTY(JTModDemod, saveDirectory)
VC_PROPERTY(JTModDemod, samplesPerSymbol)
VC_PROPERTY(JTModDemod, toneSpacing)
VC_PROPERTY(JTModDemod, samplesPerBlock)
VC_PROPERTY(JTModDemod, endPadding)
VC_PROPERTY(JTModDemod, period)
VC_PROPERTY(JTModDemod, Decimation)
VC_PROPERTY(JTModDemod, SaveMode)
VC_PROPERTY(JTModDemod, FreqDevTable)
VC_PROPERTY(JTModDemod, TaperSamples)
VC_PROPERTY(JTModDemod, StartDelaySamples)
VC_PROPERTY(JTModDemod, Enabled)
VC_EVENT(JTModDemod, newFile)
VIREO_API void JTModDemod_queueMsg(void* h, void* tones, int mode, int start) {
    vireo::api::guarded("JTModDemod.queueMsg()", [&] {
        const auto* source = static_cast<const buff<float>*>(tones);
        if (!source || source->empty()) {
            spdlog::error("JTModDemod.queueMsg() {} tone buffer refused", source ? "empty" : "null");
            return;
        }
        // The request takes a copy whole: the host may reuse or free its
        // array as soon as the call returns.
        buff<float> copy(source->count);
        copy.copy(*source);
        vireo::api::request<JTModDemod>(h, "JTModDemod.queueMsg()",
                                        [copy, mode, start](JTModDemod& m) { m.queueMsg(copy, mode, start); });
    });
}

// ---- ft8decode and the CRC ----
VIREO_API int ft8decode(const char* path, unsigned char* result, int unused, int mode) {
    (void)unused;
    int n = -1;
    vireo::api::guarded("ft8decode", [&] { n = jtdecode::decodeFile(path, result, mode); });
    return n;
}

VIREO_API unsigned int crc12(const unsigned char* bytes, int length) {
    if (!bytes && length > 0) {
        vireo::api::guarded("crc12", [] { spdlog::error("crc12 null buffer refused"); });
        return 0;
    }
    return js8::crc(bytes, length);
}

VIREO_API int crc12_check(const unsigned char* bytes, int length) {
    if (!bytes && length > 0) {
        vireo::api::guarded("crc12_check", [] { spdlog::error("crc12_check null buffer refused"); });
        return 0;
    }
    return js8::crc(bytes, length) == 0 ? 1 : 0;
}

// ---- MultiPskModDemod ----
VC_CLASS(MultiPskModDemod)
VC_PROPERTY(MultiPskModDemod, connected)
VC_PROPERTY(MultiPskModDemod, sending)
VC_PROPERTY_BIND(MultiPskModDemod, port)
VIREO_API void MultiPskModDemod_setport(void* h, int value) {
    // A port outside 1-65535 is refused on the mode's group, where the kept
    // value is known.
    vireo::api::setRequest<&MultiPskModDemod::port>(h, "MultiPskModDemod.port.set",
                                                    [value](MultiPskModDemod& m) { m.hostSetPort(value); });
}

// ---- cwModDemod ----
VC_CLASS(cwModDemod)
VC_PROPERTY(cwModDemod, freq)
VC_PROPERTY(cwModDemod, wpm)
VC_PROPERTY(cwModDemod, swHangTime)
VC_PROPERTY(cwModDemod, sidetoneVolume)
VC_PROPERTY(cwModDemod, rxwpm)
VC_PROPERTY(cwModDemod, dbg1)
VC_PROPERTY(cwModDemod, dbg2)
VC_EVENT(cwModDemod, sentChars)
VC_EVENT(cwModDemod, newChars)
VC_EVENT(cwModDemod, newDebug)
VIREO_API void cwModDemod_QueueText(void* h, const char* text, int offset) {
    queueText<cwModDemod>(h, text, offset, "cwModDemod.QueueText()");
}
VC_METHOD(cwModDemod, KeyDown, (long long time), (time))
VC_METHOD(cwModDemod, KeyUp, (long long time), (time))

// ---- fskModDemod ----
VC_CLASS(fskModDemod)
VC_PROPERTY(fskModDemod, f0)
VC_PROPERTY(fskModDemod, f1)
VC_PROPERTY(fskModDemod, baud)

// ---- RTTYModDemod ----
VC_CLASS(RTTYModDemod)
VC_EVENT(RTTYModDemod, sentChars)
VC_EVENT(RTTYModDemod, newChars)
VC_PROPERTY(RTTYModDemod, dbg1)
VC_PROPERTY(RTTYModDemod, dbg2)
VC_EVENT(RTTYModDemod, newDebug)
VIREO_API void RTTYModDemod_QueueText(void* h, const char* text, int base) {
    queueText<RTTYModDemod>(h, text, base, "RTTYModDemod.QueueText()");
}

// ---- hellschreiberModDemod ----
VC_CLASS(hellschreiberModDemod)
VC_PROPERTY(hellschreiberModDemod, frequencyStep)
VC_EVENT(hellschreiberModDemod, sentChars)
VIREO_API void hellschreiberModDemod_QueueText(void* h, const char* text, int base) {
    queueText<hellschreiberModDemod>(h, text, base, "hellschreiberModDemod.QueueText()");
}

// ---- chirpyModDemod ----
VC_CLASS(chirpyModDemod)

// ---- DABModDemod ----
VC_CLASS(DABModDemod)

} // extern "C"
