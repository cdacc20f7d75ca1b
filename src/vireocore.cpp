// The exported C interface, grouped by class. Every function is a thin
// wrapper: nothing thrown inside ever crosses the boundary.
#include "vireocore.h"

#include "framework/library.h"

extern "C" {

// ---- Library start-up, polling and shut-down ----
VIREO_API void init(const char* logPath, int verbose) { vireo::init(logPath, verbose); }
VIREO_API void getUpdates(void) { vireo::getUpdates(); }
VIREO_API void getRenderUpdates(void) { vireo::getRenderUpdates(); }
VIREO_API void closeAudio(void) { vireo::closeAudio(); }

} // extern "C"
