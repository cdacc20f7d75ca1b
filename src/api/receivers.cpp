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
#include "radios/sdrplay/SDRPlayController.h"
#include "radios/sdrplay/SDRPlayRadio.h"
#include "radios/soapy/SoapyController.h"
#include "radios/soapy/SoapyRadio.h"
#include "radios/wsproxy/WsProxyRadio.h"

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
VC_CLASS(WsProxyRadio)
VC_PROPERTY(WsProxyRadio, RemoteID)
VC_PROPERTY(WsProxyRadio, URI)

// ---- SDRPlayController ----
VC_CLASS(SDRPlayController)
VC_PROPERTY(SDRPlayController, Enable)
VC_EVENT(SDRPlayController, newRadio)
VC_METHOD(SDRPlayController, Discover, (), ())

// ---- SDRPlayRadio ----
VC_CLASS(SDRPlayRadio)
VC_COLLECTION(SDRPlayRadio, SampleRates)
VC_COLLECTION(SDRPlayRadio, Antennas)
VC_PROPERTY(SDRPlayRadio, SerialNo)
VC_PROPERTY(SDRPlayRadio, Model)
VC_PROPERTY(SDRPlayRadio, Antenna)
VC_PROPERTY(SDRPlayRadio, maxRxRFGain)
VC_PROPERTY(SDRPlayRadio, minRxRFGain)
VC_PROPERTY(SDRPlayRadio, rxGain)
VC_PROPERTY(SDRPlayRadio, maxRxRFGain2)
VC_PROPERTY(SDRPlayRadio, minRxRFGain2)
VC_PROPERTY(SDRPlayRadio, rxGain2)
VC_PROPERTY(SDRPlayRadio, BiasT)
VC_PROPERTY(SDRPlayRadio, RFNotch)
VC_PROPERTY(SDRPlayRadio, DABNotch)
VC_PROPERTY(SDRPlayRadio, ClockOut)
VC_PROPERTY(SDRPlayRadio, HasClockOut)
VC_PROPERTY(SDRPlayRadio, maxRxIFGain)
VC_PROPERTY(SDRPlayRadio, minRxIFGain)
VC_PROPERTY(SDRPlayRadio, rxIFGain)
VC_PROPERTY(SDRPlayRadio, adcOverload)
VC_PROPERTY(SDRPlayRadio, adcPeak)
VC_PROPERTY(SDRPlayRadio, adcOverload2)
VC_PROPERTY(SDRPlayRadio, adcPeak2)

// ---- SoapyController ----
VC_CLASS(SoapyController)
VC_PROPERTY(SoapyController, Enable)
VC_PROPERTY(SoapyController, SoapyArgs)
VC_PROPERTY(SoapyController, UseAirspyHF)
VC_PROPERTY(SoapyController, UseAirspy)
VC_PROPERTY(SoapyController, UseRTL)
VC_EVENT(SoapyController, newRadio)
VC_METHOD(SoapyController, Discover, (), ())

// ---- SoapyRadio ----
VC_CLASS(SoapyRadio)
VC_COLLECTION(SoapyRadio, SampleRates)
VC_PROPERTY(SoapyRadio, label)
VC_PROPERTY(SoapyRadio, driver)
VC_PROPERTY(SoapyRadio, antenna)
VC_PROPERTY(SoapyRadio, maxRxRFGain)
VC_PROPERTY(SoapyRadio, minRxRFGain)
VC_PROPERTY(SoapyRadio, rxGain)
VC_PROPERTY(SoapyRadio, maxRxIFGain)
VC_PROPERTY(SoapyRadio, minRxIFGain)
VC_PROPERTY(SoapyRadio, rxIFGain)
VC_PROPERTY(SoapyRadio, agc)
VC_PROPERTY(SoapyRadio, swapIQ)
VC_PROPERTY(SoapyRadio, adcPeak)
VC_PROPERTY(SoapyRadio, SoapyArgs)
VC_EVENT(SoapyRadio, antennaAdded)
VC_EVENT(SoapyRadio, samplerateAdded)
VC_EVENT(SoapyRadio, settingAdded)
VC_METHOD(SoapyRadio, Distroy, (), ())
// The request outlives the call: it carries its own copy of the text.
VIREO_API void SoapyRadio_ChangeSetting(void* h, int index, const char* value) {
    if (!value) {
        spdlog::error("SoapyRadio.ChangeSetting() null text refused");
        return;
    }
    vireo::api::request<SoapyRadio>(h, "SoapyRadio.ChangeSetting()",
                                    [index, text = std::string(value)](SoapyRadio& x) { x.ChangeSetting(index, text); });
}

} // extern "C"
