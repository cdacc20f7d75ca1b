/* vireocore: the C interface of the transceiver core.
 *
 * Every function may be called from one host thread at a time. Set, reset and
 * method functions only queue work and return at once; bind functions store
 * the callback at once. Callbacks run on the host thread inside getUpdates and
 * getRenderUpdates. Every handle the library gives the host is freed exactly
 * once by the host, with the release or delete function of its kind.
 */
#ifndef VIREOCORE_H
#define VIREOCORE_H

#if defined(VIREO_BUILDING_LIBRARY)
#define VIREO_API __attribute__((visibility("default")))
#else
#define VIREO_API
#endif

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library start-up, polling and shut-down ---- */
VIREO_API void init(const char* logPath, int verbose);
VIREO_API void getUpdates(void);
VIREO_API void getRenderUpdates(void);
VIREO_API void closeAudio(void);

/* ---- asyncObject ---- */
VIREO_API void* asyncObject_create(void);
VIREO_API void asyncObject_release(void* handle);
VIREO_API void asyncObject_Ping(void* handle, int n);
VIREO_API void asyncObject_bindDeleted(void* handle, void (*callback)(int));
VIREO_API void asyncObject_bindEcho(void* handle, void (*callback)(int));

/* ---- ValueLabelItem ---- */
VIREO_API void* ValueLabelItem_create(void);
VIREO_API void ValueLabelItem_release(void* handle);
VIREO_API void ValueLabelItem_bindValue(void* handle, void (*callback)(int));
VIREO_API void ValueLabelItem_setValue(void* handle, int value);
VIREO_API void ValueLabelItem_bindLabel(void* handle, void (*callback)(const char*));
VIREO_API void ValueLabelItem_setLabel(void* handle, const char* value);

/* ---- calibLine ---- */
VIREO_API void* calibLine_create(void);
VIREO_API void calibLine_release(void* handle);
VIREO_API void calibLine_bindinp(void* handle, void (*callback)(double));
VIREO_API void calibLine_setinp(void* handle, double value);
VIREO_API void calibLine_bindoutp(void* handle, void (*callback)(double));
VIREO_API void calibLine_setoutp(void* handle, double value);

/* ---- agc ---- */
VIREO_API void* agc_create(void);
VIREO_API void agc_release(void* handle);
VIREO_API void agc_bindAttack(void* handle, void (*callback)(float));
VIREO_API void agc_setAttack(void* handle, float value);
VIREO_API void agc_bindDecay(void* handle, void (*callback)(float));
VIREO_API void agc_setDecay(void* handle, float value);
VIREO_API void agc_bindHang(void* handle, void (*callback)(float));
VIREO_API void agc_setHang(void* handle, float value);
VIREO_API void agc_bindMaxGain(void* handle, void (*callback)(float));
VIREO_API void agc_setMaxGain(void* handle, float value);
VIREO_API void agc_bindVolume(void* handle, void (*callback)(float));
VIREO_API void agc_setVolume(void* handle, float value);
VIREO_API void agc_bindSquelch(void* handle, void (*callback)(float));
VIREO_API void agc_setSquelch(void* handle, float value);
VIREO_API void agc_bindManualGain(void* handle, void (*callback)(double));
VIREO_API void agc_setManualGain(void* handle, double value);
VIREO_API void agc_bindEnabled(void* handle, void (*callback)(bool));
VIREO_API void agc_setEnabled(void* handle, bool value);

/* ---- modDemod ---- (these serve every mode) */
VIREO_API void* modDemod_create(void);
VIREO_API void modDemod_release(void* handle);
VIREO_API void modDemod_bindrxFreq(void* handle, void (*callback)(int));
VIREO_API void modDemod_setrxFreq(void* handle, int value);
VIREO_API void modDemod_bindtxFreq(void* handle, void (*callback)(int));
VIREO_API void modDemod_settxFreq(void* handle, int value);
VIREO_API void modDemod_bindrnnoise(void* handle, void (*callback)(bool));
VIREO_API void modDemod_setrnnoise(void* handle, bool value);
VIREO_API void modDemod_bindrnnoiseSquelch(void* handle, void (*callback)(double));
VIREO_API void modDemod_setrnnoiseSquelch(void* handle, double value);
VIREO_API void modDemod_binddb1(void* handle, void (*callback)(int));
VIREO_API void modDemod_setdb1(void* handle, int value);
VIREO_API void modDemod_bindOpLevel(void* handle, void (*callback)(float));
VIREO_API void modDemod_setOpLevel(void* handle, float value);

/* ---- proxyModDemod ----
 * Unlike every other callback, these two are called synchronously on a
 * library worker thread while the transceiver's chain waits: rxChunk gets a
 * complex array sharing the receive block (what the host writes into it is
 * returned as audio, real parts); getTxChunk gets the microphone input and
 * the block to fill with transmit IQ. The host frees every array it is given
 * with complexArray_delete. Binding takes effect at once. */
VIREO_API void* proxyModDemod_create(void);
VIREO_API void proxyModDemod_release(void* handle);
VIREO_API void proxyModDemod_bindrxChunk(void* handle, void (*callback)(void* block));
VIREO_API void proxyModDemod_bindgetTxChunk(void* handle, void (*callback)(void* in, void* out));

/* ---- Controller ---- */
VIREO_API void* Controller_create(void);
VIREO_API void Controller_release(void* handle);

/* ---- Arrays and memory ---- */
VIREO_API void* floatArray_create(int n);
VIREO_API float* floatArray_data(void* array);
VIREO_API int floatArray_size(void* array);
VIREO_API void floatArray_delete(void* array);
VIREO_API void* doubleArray_create(int n);
VIREO_API double* doubleArray_data(void* array);
VIREO_API int doubleArray_size(void* array);
VIREO_API void doubleArray_delete(void* array);
/* complex samples are interleaved real, imaginary floats */
VIREO_API void* complexArray_create(int n);
VIREO_API float* complexArray_data(void* array);
VIREO_API int complexArray_size(void* array);
VIREO_API void complexArray_delete(void* array);
VIREO_API void* mem_malloc(int size);
VIREO_API void mem_free(void* block);
VIREO_API void* mem_memcpy(void* dst, void* src, int n);

/* ---- Transforms ----
 * Unscaled discrete Fourier transforms on array handles: forward then inverse
 * returns N times the input. The host keeps and frees both handles. A null
 * handle, an empty input, an output shorter than the transform or an output
 * sharing samples with the input is refused with an error line in the log,
 * and the output is left untouched. */
/* out[k] = sum in[n] e^(-j2pi kn/N), N = size of in; out holds at least N values. */
VIREO_API void fft_Fwd(void* complexIn, void* complexOut);
/* out[k] = sum in[n] e^(+j2pi kn/N), N = size of in; out holds at least N values. */
VIREO_API void fft_Rev(void* complexIn, void* complexOut);
/* Spectrum of the N real samples of floatIn into the first N/2 values of
 * complexOut (value 0: DC in the real part, Nyquist in the imaginary part);
 * the rest of complexOut is left unchanged. */
VIREO_API void fft_FwdR(void* floatIn, void* complexOut);

/* ---- Radio ----
 * A back-end's handle (TestRadio, ...) is accepted wherever a Radio handle is. */
VIREO_API void* Radio_create(void);
VIREO_API void Radio_release(void* handle);
VIREO_API void Radio_bindptt(void* handle, void (*callback)(bool));
VIREO_API void Radio_setptt(void* handle, bool value);
VIREO_API void Radio_bindmaxHwReceivers(void* handle, void (*callback)(int));
VIREO_API void Radio_setmaxHwReceivers(void* handle, int value);
VIREO_API void Radio_bindmaxADCs(void* handle, void (*callback)(int));
VIREO_API void Radio_setmaxADCs(void* handle, int value);
VIREO_API void Radio_bindcanTransmit(void* handle, void (*callback)(bool));
VIREO_API void Radio_setcanTransmit(void* handle, bool value);
VIREO_API void Radio_bindrxLevelCalibration(void* handle, void (*callback)(double));
VIREO_API void Radio_setrxLevelCalibration(void* handle, double value);
VIREO_API void Radio_bindsentPackets(void* handle, void (*callback)(int));
VIREO_API void Radio_setsentPackets(void* handle, int value);
VIREO_API void Radio_bindreceivedPackets(void* handle, void (*callback)(int));
VIREO_API void Radio_setreceivedPackets(void* handle, int value);
VIREO_API void Radio_bindSampleRate(void* handle, void (*callback)(int));
VIREO_API void Radio_setSampleRate(void* handle, int value);
VIREO_API void Radio_binddisableVirtualReceivers(void* handle, void (*callback)(bool));
VIREO_API void Radio_setdisableVirtualReceivers(void* handle, bool value);
VIREO_API void Radio_bindTransceiverOffset(void* handle, void (*callback)(long long));
VIREO_API void Radio_setTransceiverOffset(void* handle, long long value);
VIREO_API void Radio_binddrive(void* handle, void (*callback)(int));
VIREO_API void Radio_setdrive(void* handle, int value);
VIREO_API void Radio_bindTuneDrive(void* handle, void (*callback)(int));
VIREO_API void Radio_setTuneDrive(void* handle, int value);
VIREO_API void Radio_bindRadioPtt(void* handle, void (*callback)(bool));
VIREO_API void Radio_setRadioPtt(void* handle, bool value);
VIREO_API void Radio_bindcwHangTime(void* handle, void (*callback)(int));
VIREO_API void Radio_setcwHangTime(void* handle, int value);
VIREO_API void Radio_bindcwInternal(void* handle, void (*callback)(bool));
VIREO_API void Radio_setcwInternal(void* handle, bool value);
VIREO_API void Radio_bindValidBandwidthRatio(void* handle, void (*callback)(double));
VIREO_API void Radio_setValidBandwidthRatio(void* handle, double value);
VIREO_API void Radio_bindfrequencyCalibration(void* handle, void (*callback)(double));
VIREO_API void Radio_setfrequencyCalibration(void* handle, double value);
VIREO_API void Radio_start(void* handle);
VIREO_API void Radio_stop(void* handle);
VIREO_API void Radio_addVtrx(void* handle, long long frequency, int hwRx, int ownerId);
/* vtrx: the transceiver's object address (what its handle refers to); only compared */
VIREO_API void Radio_removeVtrx(void* handle, void* vtrx);
VIREO_API void Radio_bindvtrxAdded(void* handle,
                                   void (*callback)(void* vtrxHandle, long long frequency, int sampleRate, int ownerId));

/* ---- TestRadio ----
 * A loop-back radio without hardware: one receiver at 14000000 Hz and 48000
 * samples per second. Driven through the Radio functions; Radio_start adds a
 * transceiver at 14000000 when it has none. */
VIREO_API void* TestRadio_create(void);
VIREO_API void TestRadio_release(void* handle);

/* ---- vtrx ---- */
VIREO_API void* vtrx_create(void);
VIREO_API void vtrx_release(void* handle);
VIREO_API void vtrx_bindptt(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setptt(void* handle, bool value);
VIREO_API void vtrx_bindtune(void* handle, void (*callback)(bool));
VIREO_API void vtrx_settune(void* handle, bool value);
VIREO_API void vtrx_bindspecFreq(void* handle, void (*callback)(long long));
VIREO_API void vtrx_setspecFreq(void* handle, long long value);
VIREO_API void vtrx_bindspecOffset(void* handle, void (*callback)(long long));
VIREO_API void vtrx_setspecOffset(void* handle, long long value);
VIREO_API void vtrx_bindspecZoom(void* handle, void (*callback)(double));
VIREO_API void vtrx_setspecZoom(void* handle, double value);
VIREO_API void vtrx_bindaudioInput(void* handle, void (*callback)(int));
VIREO_API void vtrx_setaudioInput(void* handle, int value);
VIREO_API void vtrx_bindaudioOutput(void* handle, void (*callback)(int));
VIREO_API void vtrx_setaudioOutput(void* handle, int value);
VIREO_API void vtrx_bindmuted(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setmuted(void* handle, bool value);
VIREO_API void vtrx_bindrxagc(void* handle, void (*callback)(void* agcHandle));
VIREO_API void vtrx_setrxagc(void* handle, void* agcHandle);
VIREO_API void vtrx_bindtxagc(void* handle, void (*callback)(void* agcHandle));
VIREO_API void vtrx_settxagc(void* handle, void* agcHandle);
VIREO_API void vtrx_bindsignalStrength(void* handle, void (*callback)(double));
VIREO_API void vtrx_setsignalStrength(void* handle, double value);
VIREO_API void vtrx_bindforegroundDisplay(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setforegroundDisplay(void* handle, bool value);
VIREO_API void vtrx_bindoversample(void* handle, void (*callback)(int));
VIREO_API void vtrx_setoversample(void* handle, int value);
VIREO_API void vtrx_bindwaterfallSpeed(void* handle, void (*callback)(int));
VIREO_API void vtrx_setwaterfallSpeed(void* handle, int value);
VIREO_API void vtrx_bindvfo(void* handle, void (*callback)(long long));
VIREO_API void vtrx_setvfo(void* handle, long long value);
VIREO_API void vtrx_bindTxOffset(void* handle, void (*callback)(int));
VIREO_API void vtrx_setTxOffset(void* handle, int value);
VIREO_API void vtrx_binduseResampler(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setuseResampler(void* handle, bool value);
VIREO_API void vtrx_bindmicLevel(void* handle, void (*callback)(double));
VIREO_API void vtrx_setmicLevel(void* handle, double value);
VIREO_API void vtrx_bindbandwidthSufficient(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setbandwidthSufficient(void* handle, bool value);
VIREO_API void vtrx_binduseVox(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setuseVox(void* handle, bool value);
VIREO_API void vtrx_bindVoxThreshold(void* handle, void (*callback)(double));
VIREO_API void vtrx_setVoxThreshold(void* handle, double value);
VIREO_API void vtrx_bindVoxHold(void* handle, void (*callback)(double));
VIREO_API void vtrx_setVoxHold(void* handle, double value);
VIREO_API void vtrx_binddrive(void* handle, void (*callback)(int));
VIREO_API void vtrx_setdrive(void* handle, int value);
VIREO_API void vtrx_bindADCs(void* handle, void (*callback)(int));
VIREO_API void vtrx_setADCs(void* handle, int value);
VIREO_API void vtrx_bindADC1Gain(void* handle, void (*callback)(double));
VIREO_API void vtrx_setADC1Gain(void* handle, double value);
VIREO_API void vtrx_bindADC1Phase(void* handle, void (*callback)(double));
VIREO_API void vtrx_setADC1Phase(void* handle, double value);
VIREO_API void vtrx_bindBalance(void* handle, void (*callback)(float));
VIREO_API void vtrx_setBalance(void* handle, float value);
VIREO_API void vtrx_bindDelayAudio(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setDelayAudio(void* handle, bool value);
VIREO_API void vtrx_bindSendAudio(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setSendAudio(void* handle, bool value);
VIREO_API void vtrx_bindSendIQ(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setSendIQ(void* handle, bool value);
VIREO_API void vtrx_bindTuningValid(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setTuningValid(void* handle, bool value);
VIREO_API void vtrx_bindOwnerID(void* handle, void (*callback)(int));
VIREO_API void vtrx_setOwnerID(void* handle, int value);
VIREO_API void vtrx_bindModClosing(void* handle, void (*callback)(bool));
VIREO_API void vtrx_setModClosing(void* handle, bool value);
/* line: floatArray of 2048 values; low and high: frequencies of its ends in Hz */
VIREO_API void vtrx_bindnewSpectrum(void* handle, void (*callback)(void* line, int sampleRate, double low, double high));
/* audio: floatArray */
VIREO_API void vtrx_bindnewAudio(void* handle, void (*callback)(void* audio));
/* iq: complexArray */
VIREO_API void vtrx_bindnewIQ(void* handle, void (*callback)(void* iq, double frequency, int sampleRate));
VIREO_API void vtrx_setRxFrequency(void* handle, long long frequency);
VIREO_API void vtrx_setModulation(void* handle, void* modDemodHandle);
VIREO_API void vtrx_setRxFilter(void* handle, int low, int high);
VIREO_API void vtrx_setTxFilter(void* handle, int low, int high);
VIREO_API void vtrx_remove(void* handle);
VIREO_API void vtrx_start(void* handle);

/* ---- Wireless ---- */

/* ---- ssbModDemod ---- */

/* ---- amModDemod ---- */

/* ---- sigGenModDemod ---- */

/* ---- RawIQModDemod ---- */

/* ---- clientModDemod ---- */

/* ---- fmModDemod ---- */

/* ---- FreeDVModDemod ---- */

/* ---- J16 ---- */

/* ---- J16FilterBands ---- */

/* ---- J16FilterRx ---- */

/* ---- J16Filter ---- */

/* ---- HpsdrRadio ---- */

/* ---- HpsdrNpRadio ---- */

/* ---- AirspyController ---- */

/* ---- AirspyRadio ---- */

/* ---- AirspyHFController ---- */

/* ---- AirspyHFRadio ---- */

/* ---- RTLController ---- */

/* ---- RTLRadio ---- */

/* ---- RTLTCPRadio ---- */

/* ---- WsProxyRadio ----
 * A receive-only radio fed over a websocket by a remote proxy server. URI
 * (ws://host:port/path) and RemoteID (the server's radio; 0 until set) are
 * read at each Radio_start, which opens a new connection; Radio_stop closes
 * it. Driven through the Radio functions; Radio_start adds a transceiver at
 * 14095600 when it has none. */
VIREO_API void* WsProxyRadio_create(void);
VIREO_API void WsProxyRadio_release(void* handle);
VIREO_API void WsProxyRadio_bindRemoteID(void* handle, void (*callback)(int));
VIREO_API void WsProxyRadio_setRemoteID(void* handle, int value);
VIREO_API void WsProxyRadio_bindURI(void* handle, void (*callback)(const char*));
VIREO_API void WsProxyRadio_setURI(void* handle, const char* value);

/* ---- SDRPlayController ---- */

/* ---- SDRPlayRadio ---- */

/* ---- SoapyController ---- */

/* ---- SoapyRadio ---- */

/* ---- PskDetector ---- */

/* ---- PskModDemod ---- */

/* ---- JTModDemod ---- */

/* ---- ft8decode and the CRC ---- */

/* ---- MultiPskModDemod ---- */

/* ---- cwModDemod ---- */

/* ---- fskModDemod ---- */

/* ---- RTTYModDemod ---- */

/* ---- hellschreiberModDemod ---- */

/* ---- chirpyModDemod ---- */

/* ---- DABModDemod ---- */

#ifdef __cplusplus
}
#endif

#endif
