// The exported C interface, grouped by class. Every function is a thin
// wrapper: nothing thrown inside ever crosses the boundary.
#include "vireocore.h"

#include "dsp/fft/hostFft.h"
#include "framework/library.h"

extern "C" {

// ---- Library start-up, polling and shut-down ----
VIREO_API void init(const char* logPath, int verbose) { vireo::init(logPath, verbose); }
VIREO_API void getUpdates(void) { vireo::getUpdates(); }
VIREO_API void getRenderUpdates(void) { vireo::getRenderUpdates(); }
VIREO_API void closeAudio(void) { vireo::closeAudio(); }

// ---- Transforms ----
VIREO_API void fft_Fwd(void* complexIn, void* complexOut) { hostFft::fwd(complexIn, complexOut); }
VIREO_API void fft_Rev(void* complexIn, void* complexOut) { hostFft::rev(complexIn, complexOut); }
VIREO_API void fft_FwdR(void* floatIn, void* complexOut) { hostFft::fwdR(floatIn, complexOut); }

} // extern "C"
