// Exported functions of the audio and MIDI devices: the root object.
#include "vireocore.h"

#include "framework/exportPattern.h"

extern "C" {

// ---- Wireless ----

} // extern "C"
