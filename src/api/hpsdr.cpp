// Exported functions of the HPSDR network radios and their filter boards.
#include "vireocore.h"

#include "framework/exportPattern.h"

extern "C" {

// ---- J16 ----

// ---- J16FilterBands ----

// ---- J16FilterRx ----

// ---- J16Filter ----

// ---- HpsdrRadio ----

// ---- HpsdrNpRadio ----

} // extern "C"
