// Exported functions of the data modes and the JT decoder.
#include "vireocore.h"

#include "framework/exportPattern.h"

extern "C" {

// ---- PskDetector ----

// ---- PskModDemod ----

// ---- JTModDemod ----

// ---- ft8decode and the CRC ----

// ---- MultiPskModDemod ----

// ---- cwModDemod ----

// ---- fskModDemod ----

// ---- RTTYModDemod ----

// ---- hellschreiberModDemod ----

// ---- chirpyModDemod ----

// ---- DABModDemod ----

} // extern "C"
