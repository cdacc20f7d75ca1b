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

#ifdef __cplusplus
}
#endif

#endif
