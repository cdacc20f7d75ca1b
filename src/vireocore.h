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

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library start-up, polling and shut-down ---- */
VIREO_API void init(const char* logPath, int verbose);
VIREO_API void getUpdates(void);
VIREO_API void getRenderUpdates(void);
VIREO_API void closeAudio(void);

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
