// Exported functions of the receiver back-ends and their discovery.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "radios/wsproxy/WsProxyRadio.h"

extern "C" {

// ---- AirspyController ----

// ---- AirspyRadio ----

// ---- AirspyHFController ----

// ---- AirspyHFRadio ----

// ---- RTLController ----

// ---- RTLRadio ----

// ---- RTLTCPRadio ----

// ---- WsProxyRadio ----
VC_CLASS(WsProxyRadio)
VC_PROPERTY(WsProxyRadio, RemoteID)
VC_PROPERTY(WsProxyRadio, URI)

// ---- SDRPlayController ----

// ---- SDRPlayRadio ----

// ---- SoapyController ----

// ---- SoapyRadio ----

} // extern "C"
