// Exported functions of the signal processing: the transforms.
#include "vireocore.h"

#include "dsp/fft/hostFft.h"

extern "C" {

// ---- Transforms ----
VIREO_API void fft_Fwd(void* complexIn, void* complexOut) { hostFft::fwd(complexIn, complexOut); }
VIREO_API void fft_Rev(void* complexIn, void* complexOut) { hostFft::rev(complexIn, complexOut); }
VIREO_API void fft_FwdR(void* floatIn, void* complexOut) { hostFft::fwdR(floatIn, complexOut); }

} // extern "C"
