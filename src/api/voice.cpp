// Exported functions of the voice and analog modes.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "modes/voice/FreeDVModDemod.h"

extern "C" {

// ---- ssbModDemod ----

// ---- amModDemod ----

// ---- sigGenModDemod ----

// ---- RawIQModDemod ----

// ---- clientModDemod ----

// ---- fmModDemod ----

// ---- FreeDVModDemod ----
VC_CLASS(FreeDVModDemod)
VC_COLLECTION(FreeDVModDemod, Modes)
VC_PROPERTY(FreeDVModDemod, Mode)
VC_PROPERTY(FreeDVModDemod, Squelch)
VC_PROPERTY(FreeDVModDemod, SquelchEnabled)
VC_PROPERTY(FreeDVModDemod, compression)

} // extern "C"
