// Exported functions of the receiver back-ends and their discovery.
#include "vireocore.h"

#include "framework/exportPattern.h"

extern "C" {

// ---- AirspyController ----

// ---- AirspyRadio ----

// ---- AirspyHFController ----

// ---- AirspyHFRadio ----

// ---- RTLController ----

// ---- RTLRadio ----

// ---- RTLTCPRadio ----

// ---- WsProxyRadio ----

// ---- SDRPlayController ----

// ---- SDRPlayRadio ----

// ---- SoapyController ----

// ---- SoapyRadio ----

} // extern "C"
