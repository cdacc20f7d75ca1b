// Exported functions of the receiver back-ends and their discovery.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "radios/airspy/AirspyController.h"
#include "radios/airspy/AirspyRadio.h"
#include "radios/airspyhf/AirspyHFController.h"
#include "radios/airspyhf/AirspyHFRadio.h"
#include "radios/rtl/RTLController.h"
#include "radios/rtl/RTLRadio.h"
#include "radios/rtl/RTLTCPRadio.h"

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
