// Exported functions of the HPSDR network radios and their filter boards.
#include "vireocore.h"

#include "framework/exportPattern.h"
#include "radios/hpsdr/HpsdrNpRadio.h"
#include "radios/hpsdr/HpsdrRadio.h"
#include "radios/hpsdr/J16.h"
#include "radios/hpsdr/J16Filter.h"

extern "C" {

// ---- J16 ----
VC_CLASS(J16)
VC_PROPERTY(J16, maxfrequency)
VC_PROPERTY(J16, rx)
VC_PROPERTY(J16, tx)

// ---- J16FilterBands ----
VC_CLASS(J16FilterBands)
VC_PROPERTY(J16FilterBands, maxfrequency)
VC_PROPERTY(J16FilterBands, tx)

// ---- J16FilterRx ----
VC_CLASS(J16FilterRx)
VC_PROPERTY(J16FilterRx, bands)
VC_PROPERTY(J16FilterRx, rx)

// ---- J16Filter ----
VC_CLASS(J16Filter)
VC_COLLECTION(J16Filter, FilterBands)
VC_COLLECTION(J16Filter, FilterRx)

// ---- HpsdrRadio ----
VC_CLASS(HpsdrRadio)
VC_COLLECTION(HpsdrRadio, SampleRates)
VC_PROPERTY(HpsdrRadio, Mac)
VC_PROPERTY(HpsdrRadio, ipAddress)
VC_PROPERTY(HpsdrRadio, txGain)
VC_PROPERTY(HpsdrRadio, rxGain)
VC_PROPERTY(HpsdrRadio, maxTxRFGain)
VC_PROPERTY(HpsdrRadio, minTxRFGain)
VC_PROPERTY(HpsdrRadio, maxRxRFGain)
VC_PROPERTY(HpsdrRadio, minRxRFGain)
VC_PROPERTY(HpsdrRadio, adcOvl)
VC_PROPERTY(HpsdrRadio, ep6SeqErrors)
VC_PROPERTY(HpsdrRadio, ep4SeqErrors)
VC_PROPERTY(HpsdrRadio, adcPeak)
VC_PROPERTY(HpsdrRadio, adcPeakDBFS)
VC_PROPERTY(HpsdrRadio, maxAdcValue)
VC_PROPERTY(HpsdrRadio, clockFrequency)
VC_COLLECTION(HpsdrRadio, J16Set)
VC_PROPERTY(HpsdrRadio, UseJ16)
VC_PROPERTY(HpsdrRadio, FilterSet)
VC_COLLECTION(HpsdrRadio, rfAgcModes)
VC_PROPERTY(HpsdrRadio, rfAgcMode)
VC_PROPERTY(HpsdrRadio, autoFreqCalib)
VC_PROPERTY(HpsdrRadio, Dither)
VC_PROPERTY(HpsdrRadio, hasHL2PA)
VC_PROPERTY(HpsdrRadio, enablePA)
VC_PROPERTY(HpsdrRadio, disableTR)
VC_PROPERTY(HpsdrRadio, biasEnabled)
VC_PROPERTY(HpsdrRadio, paBias0)
VC_PROPERTY(HpsdrRadio, paBias1)
VC_PROPERTY(HpsdrRadio, paExtBias0)
VC_PROPERTY(HpsdrRadio, HLiteGain)
VC_PROPERTY(HpsdrRadio, HLite2Gain)
VC_PROPERTY(HpsdrRadio, HLiteRxTxGain)
VC_PROPERTY(HpsdrRadio, FwVersion)
VC_PROPERTY(HpsdrRadio, TypeID)
VC_PROPERTY(HpsdrRadio, Temp)
VC_PROPERTY(HpsdrRadio, Current)
VC_PROPERTY(HpsdrRadio, FwdPwr)
VC_PROPERTY(HpsdrRadio, RevPwr)
VC_PROPERTY(HpsdrRadio, Swr)
VC_PROPERTY(HpsdrRadio, MinTxBufferLevel)
VC_PROPERTY(HpsdrRadio, TxBufferOverflow)
VC_PROPERTY(HpsdrRadio, TxBufferUnderflow)
VC_COLLECTION(HpsdrRadio, FwdPwrCalibration)
VC_PROPERTY(HpsdrRadio, stopToAddReceiver)
VC_PROPERTY(HpsdrRadio, MercurySerial)
VC_PROPERTY(HpsdrRadio, PenelopeSerial)
VC_PROPERTY(HpsdrRadio, RXAntenna)
VC_PROPERTY(HpsdrRadio, DisableWatchdog)
VC_PROPERTY(HpsdrRadio, TXBufferLatency)
VC_PROPERTY(HpsdrRadio, PTTHangTime)
VC_PROPERTY(HpsdrRadio, ATUTune)
VC_PROPERTY(HpsdrRadio, IOBoardRxMode)
VC_METHOD(HpsdrRadio, writeBias, (), ())
VC_METHOD(HpsdrRadio, writeExtBias, (), ())
VC_METHOD(HpsdrRadio, writeMac, (int value), (value))
VC_METHOD(HpsdrRadio, writeIP, (int value), (value))
VC_METHOD(HpsdrRadio, writeStatus, (int value), (value))

// ---- HpsdrNpRadio ----
VC_CLASS(HpsdrNpRadio)
VC_COLLECTION(HpsdrNpRadio, SampleRates)
VC_PROPERTY(HpsdrNpRadio, Mac)
VC_PROPERTY(HpsdrNpRadio, ipAddress)
VC_PROPERTY(HpsdrNpRadio, txGain)
VC_PROPERTY(HpsdrNpRadio, rxGain)
VC_PROPERTY(HpsdrNpRadio, maxTxRFGain)
VC_PROPERTY(HpsdrNpRadio, minTxRFGain)
VC_PROPERTY(HpsdrNpRadio, maxRxRFGain)
VC_PROPERTY(HpsdrNpRadio, minRxRFGain)
VC_PROPERTY(HpsdrNpRadio, clockFrequency)
VC_PROPERTY(HpsdrNpRadio, autoFreqCalib)
VC_PROPERTY(HpsdrNpRadio, FwVersion)
VC_PROPERTY(HpsdrNpRadio, Temp)
VC_PROPERTY(HpsdrNpRadio, Current)
VC_PROPERTY(HpsdrNpRadio, FwdPwr)
VC_PROPERTY(HpsdrNpRadio, RevPwr)
VC_PROPERTY(HpsdrNpRadio, Swr)
VC_PROPERTY(HpsdrNpRadio, adcOvl)
VC_PROPERTY(HpsdrNpRadio, ep6SeqErrors)
VC_PROPERTY(HpsdrNpRadio, ep4SeqErrors)
VC_PROPERTY(HpsdrNpRadio, adcPeak)
VC_PROPERTY(HpsdrNpRadio, adcPeakDBFS)

} // extern "C"
