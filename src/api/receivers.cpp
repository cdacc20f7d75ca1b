// Exported functions of the receiver back-ends and their discovery.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "radios/rtl/RTLController.h"
#include "radios/rtl/RTLRadio.h"
#include "radios/rtl/RTLTCPRadio.h"

extern "C" {

// ---- AirspyController ----

// ---- AirspyRadio ----

// ---- AirspyHFController ----

// ---- AirspyHFRadio ----

// ---- RTLController ----
VC_CLASS(RTLController)
VC_PROPERTY(RTLController, Enable)
VC_METHOD(RTLController, Discover, (), ())
VC_EVENT(RTLController, newRadio)

// ---- RTLRadio ----
VC_CLASS(RTLRadio)
VC_PROPERTY(RTLRadio, Serial)
VC_COLLECTION(RTLRadio, SampleRates)
VC_PROPERTY(RTLRadio, maxRxRFGain)
VC_PROPERTY(RTLRadio, minRxRFGain)
VC_PROPERTY(RTLRadio, rxGain)
VC_PROPERTY(RTLRadio, adcPeak)
VC_COLLECTION(RTLRadio, DirectSampleModes)
VC_PROPERTY(RTLRadio, DirectSample)
VC_PROPERTY(RTLRadio, BiasT)
VC_PROPERTY(RTLRadio, BalanceIQ)

// ---- RTLTCPRadio ----
VC_CLASS(RTLTCPRadio)
VC_PROPERTY(RTLTCPRadio, Host)
VC_PROPERTY(RTLTCPRadio, Port)
VC_PROPERTY(RTLTCPRadio, adcPeak)
VC_PROPERTY(RTLTCPRadio, DriverExe)
VC_PROPERTY(RTLTCPRadio, DriverKey)
VC_PROPERTY(RTLTCPRadio, ShowGui)
VC_PROPERTY(RTLTCPRadio, Pause)
VC_PROPERTY(RTLTCPRadio, DeviceSettings)

// ---- WsProxyRadio ----

// ---- SDRPlayController ----

// ---- SDRPlayRadio ----

// ---- SoapyController ----

// ---- SoapyRadio ----

} // extern "C"
