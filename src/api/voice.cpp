// Exported functions of the voice and analog modes.
#include "vireocore.h"

#include "framework/exportPattern.h"

extern "C" {

// ---- ssbModDemod ----

// ---- amModDemod ----

// ---- sigGenModDemod ----

// ---- RawIQModDemod ----

// ---- clientModDemod ----

// ---- fmModDemod ----

// ---- FreeDVModDemod ----

} // extern "C"
