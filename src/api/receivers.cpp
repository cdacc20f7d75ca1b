// Exported functions of the receiver back-ends and their discovery.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "radios/airspy/AirspyController.h"
#include "radios/airspy/AirspyRadio.h"
#include "radios/airspyhf/AirspyHFController.h"
#include "radios/airspyhf/AirspyHFRadio.h"

extern "C" {

// ---- AirspyController ----
VC_CLASS(AirspyController)
VC_PROPERTY(AirspyController, Enable)
VC_METHOD(AirspyController, Discover, (), ())
VC_EVENT(AirspyController, newRadio)

// ---- AirspyRadio ----
VC_CLASS(AirspyRadio)
VC_PROPERTY(AirspyRadio, Serial)
VC_COLLECTION(AirspyRadio, SampleRates)
VC_PROPERTY(AirspyRadio, maxRxRFGain)
VC_PROPERTY(AirspyRadio, minRxRFGain)
VC_PROPERTY(AirspyRadio, rxGain)
VC_PROPERTY(AirspyRadio, BiasT)
VC_PROPERTY(AirspyRadio, adcPeak)

// ---- AirspyHFController ----
VC_CLASS(AirspyHFController)
VC_PROPERTY(AirspyHFController, Enable)
VC_METHOD(AirspyHFController, Discover, (), ())
VC_EVENT(AirspyHFController, newRadio)

// ---- AirspyHFRadio ----
VC_CLASS(AirspyHFRadio)
VC_PROPERTY(AirspyHFRadio, Serial)
VC_COLLECTION(AirspyHFRadio, SampleRates)
VC_PROPERTY(AirspyHFRadio, maxRxRFGain)
VC_PROPERTY(AirspyHFRadio, minRxRFGain)
VC_PROPERTY(AirspyHFRadio, rxGain)
VC_PROPERTY(AirspyHFRadio, adcPeak)

// ---- RTLController ----

// ---- RTLRadio ----

// ---- RTLTCPRadio ----

// ---- WsProxyRadio ----

// ---- SDRPlayController ----

// ---- SDRPlayRadio ----

// ---- SoapyController ----

// ---- SoapyRadio ----

} // extern "C"
