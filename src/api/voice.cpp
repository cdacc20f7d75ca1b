// Exported functions of the voice and analog modes.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "modes/voice/FreeDVModDemod.h"
#include "modes/voice/RawIQModDemod.h"
#include "modes/voice/amModDemod.h"
#include "modes/voice/clientModDemod.h"
#include "modes/voice/fmModDemod.h"
#include "modes/voice/sigGenModDemod.h"
#include "modes/voice/ssbModDemod.h"

extern "C" {

// ---- ssbModDemod ----
VC_CLASS(ssbModDemod)
VC_PROPERTY(ssbModDemod, compression)
VC_PROPERTY(ssbModDemod, UseMicEQ)

// ---- amModDemod ----
VC_CLASS(amModDemod)
VC_PROPERTY(amModDemod, compression)

// ---- sigGenModDemod ----
VC_CLASS(sigGenModDemod)
VC_PROPERTY(sigGenModDemod, ampl1)
VC_PROPERTY(sigGenModDemod, ampl2)
VC_PROPERTY(sigGenModDemod, freq2)

// ---- RawIQModDemod ----
VC_CLASS(RawIQModDemod)

// ---- clientModDemod ----
// The bind stores the callback at once; chunks reach it inside getUpdates.
VC_CLASS(clientModDemod)
VC_EVENT(clientModDemod, rxChunk)

// ---- fmModDemod ----
VC_CLASS(fmModDemod)
VC_PROPERTY(fmModDemod, compression)
VC_PROPERTY(fmModDemod, deviation)
VC_PROPERTY(fmModDemod, CTCSS)
VC_PROPERTY(fmModDemod, MaxDeviation)
VC_PROPERTY(fmModDemod, Stereo)

// ---- FreeDVModDemod ----
VC_CLASS(FreeDVModDemod)
VC_COLLECTION(FreeDVModDemod, Modes)
VC_PROPERTY(FreeDVModDemod, Mode)
VC_PROPERTY(FreeDVModDemod, Squelch)
VC_PROPERTY(FreeDVModDemod, SquelchEnabled)
VC_PROPERTY(FreeDVModDemod, compression)

} // extern "C"
