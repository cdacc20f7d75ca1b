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

#include <type_traits>

namespace {

/// CW keys its transceiver for a text or a press of its hand key, as the
/// host's key made at `at`: only when the host has the mode on a
/// transceiver then, where the key is marked as on its way. The mode is
/// looked up for that alone; the request made with the handle logs a bad
/// one.
std::shared_ptr<askedKey> cwKey(void* h, transmission::serial at) {
    if (!h) return nullptr;
    auto m = std::dynamic_pointer_cast<cwModDemod>(*static_cast<objectHandle*>(h));
    auto v = m ? m->hostsTransceiver() : nullptr;
    return v ? std::make_shared<askedKey>(v, at) : nullptr;
}

/// A text mode's QueueText: the host's text lives only during the call, so
/// the request keeps a copy, and the call's moment, which decides what a
/// transmission's ending takes of it (core/transmission.h); CW's key for it
/// too.
template <class Mode>
void queueText(void* h, const char* text, int start, const char* name) noexcept {
    vireo::api::guarded(name, [&] {
        if (!text) {
            spdlog::error("{} null text refused", name);
            return;
        }
        const auto at = transmission::now();
        if constexpr (std::is_same_v<Mode, cwModDemod>) {
            vireo::api::request<Mode>(h, name, [copy = std::string(text), start, at, key = cwKey(h, at)](Mode& m) {
                m.QueueText(copy, start, at, key != nullptr, key);
            });
        } else {
            vireo::api::request<Mode>(h, name,
                                      [copy = std::string(text), start, at](Mode& m) { m.QueueText(copy, start, at); });
        }
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
        // The call's moment decides whether a let-go of its transceiver
        // takes the message (core/transmission.h).
        vireo::api::request<JTModDemod>(
            h, "JTModDemod.queueMsg()",
            [copy, mode, start, at = transmission::now()](JTModDemod& m) { m.queueMsg(copy, mode, start, at); });
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
VIREO_API void cwModDemod_KeyDown(void* h, long long time) {
    vireo::api::guarded("cwModDemod.KeyDown()", [&] {
        const auto at = transmission::now();
        vireo::api::request<cwModDemod>(h, "cwModDemod.KeyDown()", [time, at, key = cwKey(h, at)](cwModDemod& m) {
            m.KeyDown(time, at, key != nullptr, key);
        });
    });
}
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
