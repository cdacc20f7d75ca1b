/* vireocore: the C interface of the transceiver core.
 *
 * Every function may be called from one host thread at a time. Set, reset and
 * method functions only queue work and return at once; bind functions store
 * the callback at once. Callbacks run on the host thread inside getUpdates and
 * getRenderUpdates. Every handle the library gives the host is freed exactly
 * once by the host, with the release or delete function of its kind.
 *
 * The host may end (return from main, call exit, even from a callback) with
 * radios running and handles held: the library's threads then stop taking
 * work before its static state goes, and later calls of the object and
 * polling functions do nothing.
 * Unloading the library leaves it loaded, its threads idle in it.
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
 * A back-end's handle (TestRadio, ...) is accepted wherever a Radio handle is.
 * SampleRate: a back-end takes only the rates its device or protocol
 * delivers; any other is refused (logged) and the rate in force is told
 * back to the bound callback. */
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
 * samples per second, the only SampleRate it takes. Driven through the Radio
 * functions; Radio_start adds a transceiver at 14000000 when it has none. */
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
/* waterfallSpeed 0 to 10: in the foreground about 2^waterfallSpeed
 * overlapping transforms per 2048 new samples, never more than 400 spectrum
 * lines a second. */
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
/* The root object: make one, once, after init; it lives until the process
 * ends whatever is released. Collection callbacks receive op 3 (added),
 * index 0 and a ValueLabelItem handle (Value: stream id, Label: device name;
 * "None" at 0), or a calibLine handle for DefaultMicEQ (inp: Hz, outp:
 * linear gain). */
VIREO_API void* Wireless_create(void);
VIREO_API void Wireless_release(void* handle);
VIREO_API void Wireless_bindoutputDevices(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void Wireless_setoutputDevices(void* handle, int op, int index, void* item);
VIREO_API void Wireless_resetoutputDevices(void* handle);
VIREO_API void Wireless_bindinputDevices(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void Wireless_setinputDevices(void* handle, int op, int index, void* item);
VIREO_API void Wireless_resetinputDevices(void* handle);
VIREO_API void Wireless_bindDefaultMicEQ(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void Wireless_setDefaultMicEQ(void* handle, int op, int index, void* item);
VIREO_API void Wireless_resetDefaultMicEQ(void* handle);
VIREO_API void Wireless_bindMidiEnabled(void* handle, void (*callback)(bool));
VIREO_API void Wireless_setMidiEnabled(void* handle, bool value);
/* text: the MIDI input port names, each followed by "\r\n" */
VIREO_API void Wireless_bindMidiDevices(void* handle, void (*callback)(const char* text));
VIREO_API void Wireless_setMidiDevices(void* handle, const char* value);
/* path: the host's folder; also makes the default equaliser curve when it is
 * empty and lets MidiEnabled switch MIDI from its next change on */
VIREO_API void Wireless_Init(void* handle, const char* path);
/* sends the first size (1 to 3) of b0, b1, b2 on MIDI output port dev */
VIREO_API void Wireless_SendMidi(void* handle, int dev, int size, int b0, int b1, int b2);
VIREO_API void Wireless_Close(void* handle);
/* stored, never called */
VIREO_API void Wireless_bindPlotCplxF(void* handle, void (*callback)(void* complexArray));
/* called directly on the MIDI input thread, not in getUpdates, with
 * (3, channel, parameter, value) for a completed NRPN, (3, b0, b1, b2) for
 * other 3-byte messages and (2, b0, b1, 0) for 2-byte ones */
VIREO_API void Wireless_bindMidiData(void* handle, void (*callback)(int kind, int a, int b, int c));

/* ---- ssbModDemod ----
 * Single sideband: the transmit sideband follows the sign of the band given
 * to vtrx_setTxFilter (negative: lower sideband). */
VIREO_API void* ssbModDemod_create(void);
VIREO_API void ssbModDemod_release(void* handle);
VIREO_API void ssbModDemod_bindcompression(void* handle, void (*callback)(double));
VIREO_API void ssbModDemod_setcompression(void* handle, double value);
VIREO_API void ssbModDemod_bindUseMicEQ(void* handle, void (*callback)(bool));
VIREO_API void ssbModDemod_setUseMicEQ(void* handle, bool value);

/* ---- amModDemod ---- */
VIREO_API void* amModDemod_create(void);
VIREO_API void amModDemod_release(void* handle);
VIREO_API void amModDemod_bindcompression(void* handle, void (*callback)(double));
VIREO_API void amModDemod_setcompression(void* handle, double value);

/* ---- sigGenModDemod ----
 * Two lines: ampl1 at the transmit frequency, ampl2 at freq2 Hz from it. */
VIREO_API void* sigGenModDemod_create(void);
VIREO_API void sigGenModDemod_release(void* handle);
VIREO_API void sigGenModDemod_bindampl1(void* handle, void (*callback)(double));
VIREO_API void sigGenModDemod_setampl1(void* handle, double value);
VIREO_API void sigGenModDemod_bindampl2(void* handle, void (*callback)(double));
VIREO_API void sigGenModDemod_setampl2(void* handle, double value);
VIREO_API void sigGenModDemod_bindfreq2(void* handle, void (*callback)(double));
VIREO_API void sigGenModDemod_setfreq2(void* handle, double value);

/* ---- RawIQModDemod ---- */
VIREO_API void* RawIQModDemod_create(void);
VIREO_API void RawIQModDemod_release(void* handle);

/* ---- clientModDemod ----
 * rxChunk receives every receive block as a complexArray with its sequence
 * number (0, 1, 2 ..., wrapping at 2^32; a gap means chunks that could not
 * be queued), inside getUpdates; the host frees each array with
 * complexArray_delete. The bind takes effect at once. */
VIREO_API void* clientModDemod_create(void);
VIREO_API void clientModDemod_release(void* handle);
VIREO_API void clientModDemod_bindrxChunk(void* handle, void (*callback)(void* chunk, unsigned int sequence));

/* ---- fmModDemod ----
 * Frequency modulation. deviation (Hz) below 12000 receives narrow-band FM
 * from IQ at 48000; 12000 or more (the default, 75000) receives broadcast
 * FM at 384000, in stereo pairs with Stereo. Transmit is narrow-band voice
 * with a CTCSS tone at CTCSS Hz when above 0. MaxDeviation is stored only. */
VIREO_API void* fmModDemod_create(void);
VIREO_API void fmModDemod_release(void* handle);
VIREO_API void fmModDemod_bindcompression(void* handle, void (*callback)(double));
VIREO_API void fmModDemod_setcompression(void* handle, double value);
VIREO_API void fmModDemod_binddeviation(void* handle, void (*callback)(double));
VIREO_API void fmModDemod_setdeviation(void* handle, double value);
VIREO_API void fmModDemod_bindCTCSS(void* handle, void (*callback)(double));
VIREO_API void fmModDemod_setCTCSS(void* handle, double value);
VIREO_API void fmModDemod_bindMaxDeviation(void* handle, void (*callback)(double));
VIREO_API void fmModDemod_setMaxDeviation(void* handle, double value);
VIREO_API void fmModDemod_bindStereo(void* handle, void (*callback)(bool));
VIREO_API void fmModDemod_setStereo(void* handle, bool value);

/* ---- FreeDVModDemod ----
 * FreeDV digital voice through codec2's library, loaded at run time. Without
 * the library Modes stays empty and the mode is silent both ways. Mode takes
 * a FreeDV mode number from Modes (default 7, 700D); compression is the
 * transmit speech gain (default 1.0); Squelch and SquelchEnabled are stored. */
VIREO_API void* FreeDVModDemod_create(void);
VIREO_API void FreeDVModDemod_release(void* handle);
VIREO_API void FreeDVModDemod_bindModes(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void FreeDVModDemod_setModes(void* handle, int op, int index, void* item);
VIREO_API void FreeDVModDemod_resetModes(void* handle);
VIREO_API void FreeDVModDemod_bindMode(void* handle, void (*callback)(int));
VIREO_API void FreeDVModDemod_setMode(void* handle, int value);
VIREO_API void FreeDVModDemod_bindSquelch(void* handle, void (*callback)(float));
VIREO_API void FreeDVModDemod_setSquelch(void* handle, float value);
VIREO_API void FreeDVModDemod_bindSquelchEnabled(void* handle, void (*callback)(bool));
VIREO_API void FreeDVModDemod_setSquelchEnabled(void* handle, bool value);
VIREO_API void FreeDVModDemod_bindcompression(void* handle, void (*callback)(double));
VIREO_API void FreeDVModDemod_setcompression(void* handle, double value);


/* ---- J16 ----
 * Filter-board band entry: frequencies up to maxfrequency (Hz, inclusive)
 * select rx while receiving and tx while transmitting. */
VIREO_API void* J16_create(void);
VIREO_API void J16_release(void* handle);
VIREO_API void J16_bindmaxfrequency(void* handle, void (*callback)(int));
VIREO_API void J16_setmaxfrequency(void* handle, int value);
VIREO_API void J16_bindrx(void* handle, void (*callback)(int));
VIREO_API void J16_setrx(void* handle, int value);
VIREO_API void J16_bindtx(void* handle, void (*callback)(int));
VIREO_API void J16_settx(void* handle, int value);

/* ---- J16FilterBands ----
 * Transmit band of a J16Filter: up to maxfrequency (Hz, inclusive) selects tx. */
VIREO_API void* J16FilterBands_create(void);
VIREO_API void J16FilterBands_release(void* handle);
VIREO_API void J16FilterBands_bindmaxfrequency(void* handle, void (*callback)(int));
VIREO_API void J16FilterBands_setmaxfrequency(void* handle, int value);
VIREO_API void J16FilterBands_bindtx(void* handle, void (*callback)(int));
VIREO_API void J16FilterBands_settx(void* handle, int value);

/* ---- J16FilterRx ----
 * Row of a J16Filter's receive table; the row at position m serves band mask m
 * (bands is kept for the host only). */
VIREO_API void* J16FilterRx_create(void);
VIREO_API void J16FilterRx_release(void* handle);
VIREO_API void J16FilterRx_bindbands(void* handle, void (*callback)(int));
VIREO_API void J16FilterRx_setbands(void* handle, int value);
VIREO_API void J16FilterRx_bindrx(void* handle, void (*callback)(int));
VIREO_API void J16FilterRx_setrx(void* handle, int value);

/* ---- J16Filter ----
 * A filter set: transmit bands (ascending) and the receive table. */
VIREO_API void* J16Filter_create(void);
VIREO_API void J16Filter_release(void* handle);
VIREO_API void J16Filter_bindFilterBands(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void J16Filter_setFilterBands(void* handle, int op, int index, void* item);
VIREO_API void J16Filter_resetFilterBands(void* handle);
VIREO_API void J16Filter_bindFilterRx(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void J16Filter_setFilterRx(void* handle, int op, int index, void* item);
VIREO_API void J16Filter_resetFilterRx(void* handle);

/* ---- HpsdrRadio ----
 * HPSDR protocol 1 radio (Hermes-Lite and kin). Started, stopped and given
 * transceivers through the Radio functions with the same handle. The
 * collection callbacks receive op 3 (add), index 0 and a new item handle to
 * free with the item's release function. FilterSet delivers and takes a
 * J16Filter handle. */
VIREO_API void* HpsdrRadio_create(void);
VIREO_API void HpsdrRadio_release(void* handle);
VIREO_API void HpsdrRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void HpsdrRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void HpsdrRadio_resetSampleRates(void* handle);
VIREO_API void HpsdrRadio_bindMac(void* handle, void (*callback)(const char*));
VIREO_API void HpsdrRadio_setMac(void* handle, const char* value);
VIREO_API void HpsdrRadio_bindipAddress(void* handle, void (*callback)(const char*));
VIREO_API void HpsdrRadio_setipAddress(void* handle, const char* value);
VIREO_API void HpsdrRadio_bindtxGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_settxGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setrxGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindmaxTxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setmaxTxRFGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindminTxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setminTxRFGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setminRxRFGain(void* handle, int value);
VIREO_API void HpsdrRadio_bindadcOvl(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setadcOvl(void* handle, bool value);
VIREO_API void HpsdrRadio_bindep6SeqErrors(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setep6SeqErrors(void* handle, int value);
VIREO_API void HpsdrRadio_bindep4SeqErrors(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setep4SeqErrors(void* handle, int value);
VIREO_API void HpsdrRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void HpsdrRadio_setadcPeak(void* handle, double value);
VIREO_API void HpsdrRadio_bindadcPeakDBFS(void* handle, void (*callback)(double));
VIREO_API void HpsdrRadio_setadcPeakDBFS(void* handle, double value);
VIREO_API void HpsdrRadio_bindmaxAdcValue(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setmaxAdcValue(void* handle, int value);
VIREO_API void HpsdrRadio_bindclockFrequency(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setclockFrequency(void* handle, int value);
VIREO_API void HpsdrRadio_bindJ16Set(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void HpsdrRadio_setJ16Set(void* handle, int op, int index, void* item);
VIREO_API void HpsdrRadio_resetJ16Set(void* handle);
VIREO_API void HpsdrRadio_bindUseJ16(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setUseJ16(void* handle, bool value);
VIREO_API void HpsdrRadio_bindFilterSet(void* handle, void (*callback)(void* filterHandle));
VIREO_API void HpsdrRadio_setFilterSet(void* handle, void* filterHandle);
VIREO_API void HpsdrRadio_bindrfAgcModes(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void HpsdrRadio_setrfAgcModes(void* handle, int op, int index, void* item);
VIREO_API void HpsdrRadio_resetrfAgcModes(void* handle);
VIREO_API void HpsdrRadio_bindrfAgcMode(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setrfAgcMode(void* handle, int value);
VIREO_API void HpsdrRadio_bindautoFreqCalib(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setautoFreqCalib(void* handle, bool value);
VIREO_API void HpsdrRadio_bindDither(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setDither(void* handle, bool value);
VIREO_API void HpsdrRadio_bindhasHL2PA(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_sethasHL2PA(void* handle, bool value);
VIREO_API void HpsdrRadio_bindenablePA(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setenablePA(void* handle, bool value);
VIREO_API void HpsdrRadio_binddisableTR(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setdisableTR(void* handle, bool value);
VIREO_API void HpsdrRadio_bindbiasEnabled(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setbiasEnabled(void* handle, bool value);
VIREO_API void HpsdrRadio_bindpaBias0(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setpaBias0(void* handle, int value);
VIREO_API void HpsdrRadio_bindpaBias1(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setpaBias1(void* handle, int value);
VIREO_API void HpsdrRadio_bindpaExtBias0(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setpaExtBias0(void* handle, int value);
VIREO_API void HpsdrRadio_bindHLiteGain(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setHLiteGain(void* handle, bool value);
VIREO_API void HpsdrRadio_bindHLite2Gain(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setHLite2Gain(void* handle, bool value);
VIREO_API void HpsdrRadio_bindHLiteRxTxGain(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setHLiteRxTxGain(void* handle, bool value);
VIREO_API void HpsdrRadio_bindFwVersion(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setFwVersion(void* handle, int value);
VIREO_API void HpsdrRadio_bindTypeID(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setTypeID(void* handle, int value);
VIREO_API void HpsdrRadio_bindTemp(void* handle, void (*callback)(double));
VIREO_API void HpsdrRadio_setTemp(void* handle, double value);
VIREO_API void HpsdrRadio_bindCurrent(void* handle, void (*callback)(double));
VIREO_API void HpsdrRadio_setCurrent(void* handle, double value);
VIREO_API void HpsdrRadio_bindFwdPwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrRadio_setFwdPwr(void* handle, float value);
VIREO_API void HpsdrRadio_bindRevPwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrRadio_setRevPwr(void* handle, float value);
VIREO_API void HpsdrRadio_bindSwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrRadio_setSwr(void* handle, float value);
VIREO_API void HpsdrRadio_bindMinTxBufferLevel(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setMinTxBufferLevel(void* handle, int value);
VIREO_API void HpsdrRadio_bindTxBufferOverflow(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setTxBufferOverflow(void* handle, int value);
VIREO_API void HpsdrRadio_bindTxBufferUnderflow(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setTxBufferUnderflow(void* handle, int value);
VIREO_API void HpsdrRadio_bindFwdPwrCalibration(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void HpsdrRadio_setFwdPwrCalibration(void* handle, int op, int index, void* item);
VIREO_API void HpsdrRadio_resetFwdPwrCalibration(void* handle);
VIREO_API void HpsdrRadio_bindstopToAddReceiver(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setstopToAddReceiver(void* handle, bool value);
VIREO_API void HpsdrRadio_bindMercurySerial(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setMercurySerial(void* handle, int value);
VIREO_API void HpsdrRadio_bindPenelopeSerial(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setPenelopeSerial(void* handle, int value);
VIREO_API void HpsdrRadio_bindRXAntenna(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setRXAntenna(void* handle, bool value);
VIREO_API void HpsdrRadio_bindDisableWatchdog(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setDisableWatchdog(void* handle, bool value);
VIREO_API void HpsdrRadio_bindTXBufferLatency(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setTXBufferLatency(void* handle, int value);
VIREO_API void HpsdrRadio_bindPTTHangTime(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setPTTHangTime(void* handle, int value);
VIREO_API void HpsdrRadio_bindATUTune(void* handle, void (*callback)(bool));
VIREO_API void HpsdrRadio_setATUTune(void* handle, bool value);
VIREO_API void HpsdrRadio_bindIOBoardRxMode(void* handle, void (*callback)(int));
VIREO_API void HpsdrRadio_setIOBoardRxMode(void* handle, int value);
VIREO_API void HpsdrRadio_writeBias(void* handle);
VIREO_API void HpsdrRadio_writeExtBias(void* handle);
VIREO_API void HpsdrRadio_writeMac(void* handle, int value);
VIREO_API void HpsdrRadio_writeIP(void* handle, int value);
VIREO_API void HpsdrRadio_writeStatus(void* handle, int value);

/* ---- HpsdrNpRadio ----
 * HPSDR protocol 2 radio, receive only. Set ipAddress to the board's IPv4
 * address before the first Radio_start; started, stopped and given
 * transceivers through the Radio functions with the same handle. The
 * SampleRates callback receives op 3 (add), index 0 and a new item handle to
 * free with ValueLabelItem_release. */
VIREO_API void* HpsdrNpRadio_create(void);
VIREO_API void HpsdrNpRadio_release(void* handle);
VIREO_API void HpsdrNpRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void HpsdrNpRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void HpsdrNpRadio_resetSampleRates(void* handle);
VIREO_API void HpsdrNpRadio_bindMac(void* handle, void (*callback)(const char*));
VIREO_API void HpsdrNpRadio_setMac(void* handle, const char* value);
VIREO_API void HpsdrNpRadio_bindipAddress(void* handle, void (*callback)(const char*));
VIREO_API void HpsdrNpRadio_setipAddress(void* handle, const char* value);
VIREO_API void HpsdrNpRadio_bindtxGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_settxGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setrxGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindmaxTxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setmaxTxRFGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindminTxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setminTxRFGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setminRxRFGain(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindclockFrequency(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setclockFrequency(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindautoFreqCalib(void* handle, void (*callback)(bool));
VIREO_API void HpsdrNpRadio_setautoFreqCalib(void* handle, bool value);
VIREO_API void HpsdrNpRadio_bindFwVersion(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setFwVersion(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindTemp(void* handle, void (*callback)(double));
VIREO_API void HpsdrNpRadio_setTemp(void* handle, double value);
VIREO_API void HpsdrNpRadio_bindCurrent(void* handle, void (*callback)(double));
VIREO_API void HpsdrNpRadio_setCurrent(void* handle, double value);
VIREO_API void HpsdrNpRadio_bindFwdPwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrNpRadio_setFwdPwr(void* handle, float value);
VIREO_API void HpsdrNpRadio_bindRevPwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrNpRadio_setRevPwr(void* handle, float value);
VIREO_API void HpsdrNpRadio_bindSwr(void* handle, void (*callback)(float));
VIREO_API void HpsdrNpRadio_setSwr(void* handle, float value);
VIREO_API void HpsdrNpRadio_bindadcOvl(void* handle, void (*callback)(bool));
VIREO_API void HpsdrNpRadio_setadcOvl(void* handle, bool value);
VIREO_API void HpsdrNpRadio_bindep6SeqErrors(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setep6SeqErrors(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindep4SeqErrors(void* handle, void (*callback)(int));
VIREO_API void HpsdrNpRadio_setep4SeqErrors(void* handle, int value);
VIREO_API void HpsdrNpRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void HpsdrNpRadio_setadcPeak(void* handle, double value);
VIREO_API void HpsdrNpRadio_bindadcPeakDBFS(void* handle, void (*callback)(double));
VIREO_API void HpsdrNpRadio_setadcPeakDBFS(void* handle, double value);

/* ---- AirspyController ----
 * Discover lists the connected Airspy receivers and sends "Airspy~<serial>"
 * on newRadio for each. */
VIREO_API void* AirspyController_create(void);
VIREO_API void AirspyController_release(void* handle);
VIREO_API void AirspyController_bindEnable(void* handle, void (*callback)(bool));
VIREO_API void AirspyController_setEnable(void* handle, bool value);
VIREO_API void AirspyController_Discover(void* handle);
VIREO_API void AirspyController_bindnewRadio(void* handle, void (*callback)(const char* deviceId));

/* ---- AirspyRadio ----
 * An Airspy receiver, also driven through the Radio functions. Setting
 * Serial lists the device's rates into SampleRates and makes the first one
 * the SampleRate; while the radio runs it moves the stream to the new
 * device. rxGain is the linearity gain (0 to 21); adcPeak is the largest raw
 * |I| of each stretch of just over 0.2 s of samples. */
VIREO_API void* AirspyRadio_create(void);
VIREO_API void AirspyRadio_release(void* handle);
VIREO_API void AirspyRadio_bindSerial(void* handle, void (*callback)(unsigned long long));
VIREO_API void AirspyRadio_setSerial(void* handle, unsigned long long value);
/* callback: op 3 (added), index 0, a ValueLabelItem handle (Value: rate, Label: "10M") */
VIREO_API void AirspyRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void AirspyRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void AirspyRadio_resetSampleRates(void* handle);
VIREO_API void AirspyRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void AirspyRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void AirspyRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void AirspyRadio_setminRxRFGain(void* handle, int value);
VIREO_API void AirspyRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void AirspyRadio_setrxGain(void* handle, int value);
VIREO_API void AirspyRadio_bindBiasT(void* handle, void (*callback)(bool));
VIREO_API void AirspyRadio_setBiasT(void* handle, bool value);
VIREO_API void AirspyRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void AirspyRadio_setadcPeak(void* handle, double value);

/* ---- AirspyHFController ----
 * As AirspyController, sending "AirspyHF~<serial>". */
VIREO_API void* AirspyHFController_create(void);
VIREO_API void AirspyHFController_release(void* handle);
VIREO_API void AirspyHFController_bindEnable(void* handle, void (*callback)(bool));
VIREO_API void AirspyHFController_setEnable(void* handle, bool value);
VIREO_API void AirspyHFController_Discover(void* handle);
VIREO_API void AirspyHFController_bindnewRadio(void* handle, void (*callback)(const char* deviceId));

/* ---- AirspyHFRadio ----
 * An Airspy HF+ receiver, as AirspyRadio without the bias tee. rxGain
 * (-48 to 6 dB) sets the LNA and the attenuator at or below 30 MHz; above,
 * the device's own AGC runs. */
VIREO_API void* AirspyHFRadio_create(void);
VIREO_API void AirspyHFRadio_release(void* handle);
VIREO_API void AirspyHFRadio_bindSerial(void* handle, void (*callback)(unsigned long long));
VIREO_API void AirspyHFRadio_setSerial(void* handle, unsigned long long value);
/* callback: op 3 (added), index 0, a ValueLabelItem handle (Value: rate, Label: "10M") */
VIREO_API void AirspyHFRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void AirspyHFRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void AirspyHFRadio_resetSampleRates(void* handle);
VIREO_API void AirspyHFRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void AirspyHFRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void AirspyHFRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void AirspyHFRadio_setminRxRFGain(void* handle, int value);
VIREO_API void AirspyHFRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void AirspyHFRadio_setrxGain(void* handle, int value);
VIREO_API void AirspyHFRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void AirspyHFRadio_setadcPeak(void* handle, double value);

/* ---- RTLController ----
 * Discovery of RTL-SDR receivers: Discover sends one device id per receiver
 * found, "RTL~" and its USB serial, on newRadio. Enable is stored only. */
VIREO_API void* RTLController_create(void);
VIREO_API void RTLController_release(void* handle);
VIREO_API void RTLController_bindEnable(void* handle, void (*callback)(bool));
VIREO_API void RTLController_setEnable(void* handle, bool value);
VIREO_API void RTLController_Discover(void* handle);
VIREO_API void RTLController_bindnewRadio(void* handle, void (*callback)(const char* deviceId));

/* ---- RTLRadio ----
 * An RTL-SDR receiver, opened by its USB serial (the part of the device id
 * after "RTL~"). Setting Serial reads the device's gain range into
 * minRxRFGain and maxRxRFGain; rxGain is in whole dB; adcPeak (0 to 1) is
 * published about every 0.2 s of samples. Driven through the Radio
 * functions; stop a started radio before releasing it. */
VIREO_API void* RTLRadio_create(void);
VIREO_API void RTLRadio_release(void* handle);
VIREO_API void RTLRadio_bindSerial(void* handle, void (*callback)(const char*));
VIREO_API void RTLRadio_setSerial(void* handle, const char* value);
VIREO_API void RTLRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void RTLRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void RTLRadio_resetSampleRates(void* handle);
VIREO_API void RTLRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void RTLRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void RTLRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void RTLRadio_setminRxRFGain(void* handle, int value);
VIREO_API void RTLRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void RTLRadio_setrxGain(void* handle, int value);
VIREO_API void RTLRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void RTLRadio_setadcPeak(void* handle, double value);
VIREO_API void RTLRadio_bindDirectSampleModes(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void RTLRadio_setDirectSampleModes(void* handle, int op, int index, void* item);
VIREO_API void RTLRadio_resetDirectSampleModes(void* handle);
VIREO_API void RTLRadio_bindDirectSample(void* handle, void (*callback)(int));
VIREO_API void RTLRadio_setDirectSample(void* handle, int value);
VIREO_API void RTLRadio_bindBiasT(void* handle, void (*callback)(bool));
VIREO_API void RTLRadio_setBiasT(void* handle, bool value);
VIREO_API void RTLRadio_bindBalanceIQ(void* handle, void (*callback)(bool));
VIREO_API void RTLRadio_setBalanceIQ(void* handle, bool value);

/* ---- RTLTCPRadio ----
 * A placeholder radio: it stores its settings, receives nothing, and starts
 * and stops like any radio (Radio_start adds a transceiver at 51000000). Its
 * SampleRate is its receiver's 2400000, the only one it takes. */
VIREO_API void* RTLTCPRadio_create(void);
VIREO_API void RTLTCPRadio_release(void* handle);
VIREO_API void RTLTCPRadio_bindHost(void* handle, void (*callback)(const char*));
VIREO_API void RTLTCPRadio_setHost(void* handle, const char* value);
VIREO_API void RTLTCPRadio_bindPort(void* handle, void (*callback)(int));
VIREO_API void RTLTCPRadio_setPort(void* handle, int value);
VIREO_API void RTLTCPRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void RTLTCPRadio_setadcPeak(void* handle, double value);
VIREO_API void RTLTCPRadio_bindDriverExe(void* handle, void (*callback)(const char*));
VIREO_API void RTLTCPRadio_setDriverExe(void* handle, const char* value);
VIREO_API void RTLTCPRadio_bindDriverKey(void* handle, void (*callback)(const char*));
VIREO_API void RTLTCPRadio_setDriverKey(void* handle, const char* value);
VIREO_API void RTLTCPRadio_bindShowGui(void* handle, void (*callback)(bool));
VIREO_API void RTLTCPRadio_setShowGui(void* handle, bool value);
VIREO_API void RTLTCPRadio_bindPause(void* handle, void (*callback)(bool));
VIREO_API void RTLTCPRadio_setPause(void* handle, bool value);
VIREO_API void RTLTCPRadio_bindDeviceSettings(void* handle, void (*callback)(const char*));
VIREO_API void RTLTCPRadio_setDeviceSettings(void* handle, const char* value);

/* ---- WsProxyRadio ----
 * A receive-only radio fed over a websocket by a remote proxy server. URI
 * (ws://host:port/path) and RemoteID (the server's radio; 0 until set) are
 * read at each Radio_start, which opens a new connection; Radio_stop closes
 * it. Driven through the Radio functions; Radio_start adds a transceiver at
 * 14095600 when it has none. SampleRate: 48000, the rate of its frames. */
VIREO_API void* WsProxyRadio_create(void);
VIREO_API void WsProxyRadio_release(void* handle);
VIREO_API void WsProxyRadio_bindRemoteID(void* handle, void (*callback)(int));
VIREO_API void WsProxyRadio_setRemoteID(void* handle, int value);
VIREO_API void WsProxyRadio_bindURI(void* handle, void (*callback)(const char*));
VIREO_API void WsProxyRadio_setURI(void* handle, const char* value);

/* ---- SDRPlayController ----
 * Discovery of SDRplay RSP receivers through the vendor's sdrplay_api
 * library (loaded at run time): Discover sends one device id per receiver
 * on newRadio, the serial, "-" and the model ("1234-RSPduo"; a model it does
 * not know adds nothing). Enable is stored only. */
VIREO_API void* SDRPlayController_create(void);
VIREO_API void SDRPlayController_release(void* handle);
VIREO_API void SDRPlayController_bindEnable(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayController_setEnable(void* handle, bool value);
VIREO_API void SDRPlayController_bindnewRadio(void* handle, void (*callback)(const char* deviceId));
VIREO_API void SDRPlayController_Discover(void* handle);

/* ---- SDRPlayRadio ----
 * An SDRplay RSP receiver. Give SerialNo and Model the two parts of a
 * discovered id; Model sets the gain range, Antennas and HasClockOut.
 * rxGain counts up from minRxRFGain to maxRxRFGain (rxGain2: tuner B of an
 * RSPduo); a master RSPduo at SampleRate 2000000 runs both tuners, into
 * hardware receivers 0 and 1. adcPeak and adcPeak2 (1.0: half of full
 * scale) are published about every 0.2 s of samples, adcOverload and
 * adcOverload2 as the device reports. Every instance after the first needs
 * the folder given to Wireless_Init (it copies the library there). Driven
 * through the Radio functions; stop a started radio before releasing it. */
VIREO_API void* SDRPlayRadio_create(void);
VIREO_API void SDRPlayRadio_release(void* handle);
/* callback: op 3 (added), index 0, a ValueLabelItem handle (Value: rate, Label: "10M") */
VIREO_API void SDRPlayRadio_bindSampleRates(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void SDRPlayRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void SDRPlayRadio_resetSampleRates(void* handle);
VIREO_API void SDRPlayRadio_bindAntennas(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void SDRPlayRadio_setAntennas(void* handle, int op, int index, void* item);
VIREO_API void SDRPlayRadio_resetAntennas(void* handle);
VIREO_API void SDRPlayRadio_bindSerialNo(void* handle, void (*callback)(const char*));
VIREO_API void SDRPlayRadio_setSerialNo(void* handle, const char* value);
VIREO_API void SDRPlayRadio_bindModel(void* handle, void (*callback)(const char*));
VIREO_API void SDRPlayRadio_setModel(void* handle, const char* value);
VIREO_API void SDRPlayRadio_bindAntenna(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setAntenna(void* handle, int value);
VIREO_API void SDRPlayRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setminRxRFGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setrxGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindmaxRxRFGain2(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setmaxRxRFGain2(void* handle, int value);
VIREO_API void SDRPlayRadio_bindminRxRFGain2(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setminRxRFGain2(void* handle, int value);
VIREO_API void SDRPlayRadio_bindrxGain2(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setrxGain2(void* handle, int value);
VIREO_API void SDRPlayRadio_bindBiasT(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setBiasT(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindRFNotch(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setRFNotch(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindDABNotch(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setDABNotch(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindClockOut(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setClockOut(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindHasClockOut(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setHasClockOut(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindmaxRxIFGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setmaxRxIFGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindminRxIFGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setminRxIFGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindrxIFGain(void* handle, void (*callback)(int));
VIREO_API void SDRPlayRadio_setrxIFGain(void* handle, int value);
VIREO_API void SDRPlayRadio_bindadcOverload(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setadcOverload(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void SDRPlayRadio_setadcPeak(void* handle, double value);
VIREO_API void SDRPlayRadio_bindadcOverload2(void* handle, void (*callback)(bool));
VIREO_API void SDRPlayRadio_setadcOverload2(void* handle, bool value);
VIREO_API void SDRPlayRadio_bindadcPeak2(void* handle, void (*callback)(double));
VIREO_API void SDRPlayRadio_setadcPeak2(void* handle, double value);

/* ---- SoapyController ----
 * Discover announces every SoapySDR device found on newRadio as
 * "driver~label~serial"; the Use... flags let the named drivers through. */
VIREO_API void* SoapyController_create(void);
VIREO_API void SoapyController_release(void* handle);
VIREO_API void SoapyController_bindEnable(void* handle, void (*callback)(bool));
VIREO_API void SoapyController_setEnable(void* handle, bool value);
VIREO_API void SoapyController_bindSoapyArgs(void* handle, void (*callback)(const char*));
VIREO_API void SoapyController_setSoapyArgs(void* handle, const char* value);
VIREO_API void SoapyController_bindUseAirspyHF(void* handle, void (*callback)(bool));
VIREO_API void SoapyController_setUseAirspyHF(void* handle, bool value);
VIREO_API void SoapyController_bindUseAirspy(void* handle, void (*callback)(bool));
VIREO_API void SoapyController_setUseAirspy(void* handle, bool value);
VIREO_API void SoapyController_bindUseRTL(void* handle, void (*callback)(bool));
VIREO_API void SoapyController_setUseRTL(void* handle, bool value);
VIREO_API void SoapyController_bindnewRadio(void* handle, void (*callback)(const char*));
VIREO_API void SoapyController_Discover(void* handle);

/* ---- SoapyRadio ----
 * Setting driver and label (the first two fields of a discovered id) reads
 * the device once: SampleRates, antennaAdded, gains and settingAdded texts
 * ("index~description~key~name~type~units~default~max~min~step~count~"
 * then "option~name~" per option). Driven through the Radio functions.
 * A SampleRate set before the read stays only when the device offers it (a
 * range's rates on its steps); a device that offers no rate is read but
 * never started. */
VIREO_API void* SoapyRadio_create(void);
VIREO_API void SoapyRadio_release(void* handle);
VIREO_API void SoapyRadio_bindSampleRates(void* handle,
                                          void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void SoapyRadio_setSampleRates(void* handle, int op, int index, void* item);
VIREO_API void SoapyRadio_resetSampleRates(void* handle);
VIREO_API void SoapyRadio_bindlabel(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_setlabel(void* handle, const char* value);
VIREO_API void SoapyRadio_binddriver(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_setdriver(void* handle, const char* value);
VIREO_API void SoapyRadio_bindantenna(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_setantenna(void* handle, const char* value);
VIREO_API void SoapyRadio_bindmaxRxRFGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setmaxRxRFGain(void* handle, int value);
VIREO_API void SoapyRadio_bindminRxRFGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setminRxRFGain(void* handle, int value);
VIREO_API void SoapyRadio_bindrxGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setrxGain(void* handle, int value);
VIREO_API void SoapyRadio_bindmaxRxIFGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setmaxRxIFGain(void* handle, int value);
VIREO_API void SoapyRadio_bindminRxIFGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setminRxIFGain(void* handle, int value);
VIREO_API void SoapyRadio_bindrxIFGain(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_setrxIFGain(void* handle, int value);
VIREO_API void SoapyRadio_bindagc(void* handle, void (*callback)(bool));
VIREO_API void SoapyRadio_setagc(void* handle, bool value);
VIREO_API void SoapyRadio_bindswapIQ(void* handle, void (*callback)(bool));
VIREO_API void SoapyRadio_setswapIQ(void* handle, bool value);
VIREO_API void SoapyRadio_bindadcPeak(void* handle, void (*callback)(double));
VIREO_API void SoapyRadio_setadcPeak(void* handle, double value);
VIREO_API void SoapyRadio_bindSoapyArgs(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_setSoapyArgs(void* handle, const char* value);
VIREO_API void SoapyRadio_bindantennaAdded(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_bindsamplerateAdded(void* handle, void (*callback)(int));
VIREO_API void SoapyRadio_bindsettingAdded(void* handle, void (*callback)(const char*));
VIREO_API void SoapyRadio_Distroy(void* handle);
/* value: copied before the call returns */
VIREO_API void SoapyRadio_ChangeSetting(void* handle, int index, const char* value);

/* ---- PskDetector ----
 * One PSK receive channel; a PskModDemod's 66 channels reach the host
 * through its dets collection. */
VIREO_API void* PskDetector_create(void);
VIREO_API void PskDetector_release(void* handle);
VIREO_API void PskDetector_bindfreq(void* handle, void (*callback)(int));
VIREO_API void PskDetector_setfreq(void* handle, int value);
VIREO_API void PskDetector_bindsignalStrength(void* handle, void (*callback)(int));
VIREO_API void PskDetector_setsignalStrength(void* handle, int value);
VIREO_API void PskDetector_bindactivity(void* handle, void (*callback)(int));
VIREO_API void PskDetector_setactivity(void* handle, int value);
VIREO_API void PskDetector_bindMode(void* handle, void (*callback)(const char*));
VIREO_API void PskDetector_setMode(void* handle, const char* value);
VIREO_API void PskDetector_bindnewChars(void* handle, void (*callback)(const char*));
VIREO_API void PskDetector_bindreset(void* handle, void (*callback)(int));

/* ---- PskModDemod ----
 * PSK31/63/125 and QPSK. mode: 0 PSK31, 8 PSK63, 16 PSK125, 1 QPSK31,
 * 9 QPSK63, 17 QPSK125 (2, 10, 18: QPSK turning the other way; 3, 4 tune;
 * 5 Morse; 8 or 16 added: 62.5 or 125 baud); any other mode is refused and
 * the old one told back. primaryDetector: 0-65, others are refused. A
 * collection callback gets an op code (3 add), an index and a new item
 * handle. QueueText replaces the unsent text with text from position
 * (characters sent - start) on; "~" ends the transmission. */
VIREO_API void* PskModDemod_create(void);
VIREO_API void PskModDemod_release(void* handle);
VIREO_API void PskModDemod_bindsigLevel(void* handle, void (*callback)(int));
VIREO_API void PskModDemod_setsigLevel(void* handle, int value);
VIREO_API void PskModDemod_bindprimaryDetector(void* handle, void (*callback)(int));
VIREO_API void PskModDemod_setprimaryDetector(void* handle, int value);
VIREO_API void PskModDemod_bindModes(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void PskModDemod_setModes(void* handle, int op, int index, void* item);
VIREO_API void PskModDemod_resetModes(void* handle);
VIREO_API void PskModDemod_bindmode(void* handle, void (*callback)(int));
VIREO_API void PskModDemod_setmode(void* handle, int value);
VIREO_API void PskModDemod_binddets(void* handle, void (*callback)(unsigned long op, unsigned long index, void* item));
VIREO_API void PskModDemod_setdets(void* handle, int op, int index, void* item);
VIREO_API void PskModDemod_resetdets(void* handle);
VIREO_API void PskModDemod_bindnewChars(void* handle, void (*callback)(const char*));
VIREO_API void PskModDemod_bindsentChars(void* handle, void (*callback)(const char*));
VIREO_API void PskModDemod_QueueText(void* handle, const char* text, int start);

/* ---- JTModDemod ----
 * FT8, FT4 and JS8: records periods aligned to UTC (period in ms) as WAV
 * files (16-bit mono at 12000/s) or, with SaveMode 1, C2 files, and sends
 * newFile with each file's path followed by its decode mode number (8 FT8,
 * 10 JS8, other FT4): "<saveDirectory>240101_120015.wav8". queueMsg takes a
 * floatArray of tone numbers (copied during the call), the mode number and
 * the start time in ms since the start of the UTC hour; the transmission
 * starts in the recorded period that holds that time, before its half.
 * Refused with a log line, keeping the old value: period below 500,
 * Decimation, samplesPerSymbol or samplesPerBlock of 0 or less (or
 * samplesPerBlock above 2^26), negative endPadding, a toneSpacing that is not
 * finite, a StartDelaySamples below 0, an empty tone buffer or one holding
 * values that are not finite; what a period cannot hold: a StartDelaySamples
 * and samplesPerSymbol that together exceed it, a recording (samplesPerBlock
 * less endPadding, from receive blocks of 512) that would end after it,
 * whichever of period, samplesPerBlock, endPadding, Decimation and SaveMode
 * is set last (a refused value is told back), a message whose symbols after
 * the start delay exceed it (also dropped, logged, when it is due and the
 * settings have changed since). A message starts only in the first half of
 * its period and keeps the samplesPerSymbol it started with. */
VIREO_API void* JTModDemod_create(void);
VIREO_API void JTModDemod_release(void* handle);
VIREO_API void JTModDemod_bindsaveDirectory(void* handle, void (*callback)(const char*));
VIREO_API void JTModDemod_setsaveDirectory(void* handle, const char* value);
VIREO_API void JTModDemod_bindsamplesPerSymbol(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setsamplesPerSymbol(void* handle, int value);
VIREO_API void JTModDemod_bindtoneSpacing(void* handle, void (*callback)(double));
VIREO_API void JTModDemod_settoneSpacing(void* handle, double value);
VIREO_API void JTModDemod_bindsamplesPerBlock(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setsamplesPerBlock(void* handle, int value);
VIREO_API void JTModDemod_bindendPadding(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setendPadding(void* handle, int value);
VIREO_API void JTModDemod_bindperiod(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setperiod(void* handle, int value);
VIREO_API void JTModDemod_bindDecimation(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setDecimation(void* handle, int value);
VIREO_API void JTModDemod_bindSaveMode(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setSaveMode(void* handle, int value);
VIREO_API void JTModDemod_bindFreqDevTable(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setFreqDevTable(void* handle, int value);
VIREO_API void JTModDemod_bindTaperSamples(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setTaperSamples(void* handle, int value);
VIREO_API void JTModDemod_bindStartDelaySamples(void* handle, void (*callback)(int));
VIREO_API void JTModDemod_setStartDelaySamples(void* handle, int value);
VIREO_API void JTModDemod_bindEnabled(void* handle, void (*callback)(bool));
VIREO_API void JTModDemod_setEnabled(void* handle, bool value);
VIREO_API void JTModDemod_bindnewFile(void* handle, void (*callback)(const char*));
VIREO_API void JTModDemod_queueMsg(void* handle, void* tones, int mode, int start);

/* ---- ft8decode and the CRC ----
 * ft8decode decodes a recording (path as sent by newFile, without the mode
 * number): mode 8 FT8, 10 JS8, any other FT4. result needs room for 50
 * records of 32 bytes: float frequency of tone 0 (Hz), float time (s: the
 * frame's start in the recording less half a symbol, for FT4 less another
 * 0.4 s), float SNR (dB), 10 payload bytes (message bits MSB first), 10
 * bytes left as they were.
 * Returns the number of records, or -1 for a file that is not mono 16-bit
 * PCM, holds more than 180000 samples (FT4: 90000), or a null argument.
 * unused is not read. crc12 is JS8's 12-bit CRC of the bytes; crc12_check
 * returns 1 when it is 0. */
VIREO_API int ft8decode(const char* path, unsigned char* result, int unused, int mode);
VIREO_API unsigned int crc12(const unsigned char* bytes, int length);
VIREO_API int crc12_check(const unsigned char* bytes, int length);

/* ---- MultiPskModDemod ----
 * Lets MultiPSK use the transceiver the mode is attached to as its radio,
 * over a TCP port on 127.0.0.1. port: where the search for a free port
 * starts (1-65535, others are refused); on attaching, the mode serves the
 * first free one of up to 20 and sets port to it. connected: a client is
 * connected. sending: receive IQ and frequency changes go to the client
 * (set when MultiPSK initialises the link). */
VIREO_API void* MultiPskModDemod_create(void);
VIREO_API void MultiPskModDemod_release(void* handle);
VIREO_API void MultiPskModDemod_bindconnected(void* handle, void (*callback)(bool));
VIREO_API void MultiPskModDemod_setconnected(void* handle, bool value);
VIREO_API void MultiPskModDemod_bindsending(void* handle, void (*callback)(bool));
VIREO_API void MultiPskModDemod_setsending(void* handle, bool value);
VIREO_API void MultiPskModDemod_bindport(void* handle, void (*callback)(int));
VIREO_API void MultiPskModDemod_setport(void* handle, int value);

/* ---- cwModDemod ----
 * Morse telegraphy at 48000 samples per second. freq: beat note and
 * sidetone, Hz, finite and within +-24000. wpm: sending speed, above 0 (a
 * dot is 57600/wpm samples). swHangTime: ms of silence before the
 * transmitter is released. rxwpm: the speed the decoder measures. Values
 * out of range are refused (logged) and the old value is told back.
 * QueueText replaces the unsent text with text from position
 * (characters sent - offset) on and keys the transmitter; a line feed,
 * carriage return or backquote ends the transmission. At most 1023
 * characters wait; more are cut (logged). KeyDown/KeyUp: the hand key.
 * newChars: one decoded character (a-z, 0-9) or " " per call. newDebug is
 * never called. */
VIREO_API void* cwModDemod_create(void);
VIREO_API void cwModDemod_release(void* handle);
VIREO_API void cwModDemod_bindfreq(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setfreq(void* handle, double value);
VIREO_API void cwModDemod_bindwpm(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setwpm(void* handle, double value);
VIREO_API void cwModDemod_bindswHangTime(void* handle, void (*callback)(int));
VIREO_API void cwModDemod_setswHangTime(void* handle, int value);
VIREO_API void cwModDemod_bindsidetoneVolume(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setsidetoneVolume(void* handle, double value);
VIREO_API void cwModDemod_bindrxwpm(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setrxwpm(void* handle, double value);
VIREO_API void cwModDemod_binddbg1(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setdbg1(void* handle, double value);
VIREO_API void cwModDemod_binddbg2(void* handle, void (*callback)(double));
VIREO_API void cwModDemod_setdbg2(void* handle, double value);
VIREO_API void cwModDemod_bindsentChars(void* handle, void (*callback)(const char*));
VIREO_API void cwModDemod_bindnewChars(void* handle, void (*callback)(const char*));
VIREO_API void cwModDemod_bindnewDebug(void* handle, void (*callback)(void* floatArray, int, double, double));
/* text: copied before the call returns */
VIREO_API void cwModDemod_QueueText(void* handle, const char* text, int offset);
VIREO_API void cwModDemod_KeyDown(void* handle, long long time);
VIREO_API void cwModDemod_KeyUp(void* handle, long long time);

/* ---- fskModDemod ----
 * Placeholder of a two-tone FSK mode: stores its settings, receives and
 * sends silence. */
VIREO_API void* fskModDemod_create(void);
VIREO_API void fskModDemod_release(void* handle);
VIREO_API void fskModDemod_bindf0(void* handle, void (*callback)(int));
VIREO_API void fskModDemod_setf0(void* handle, int value);
VIREO_API void fskModDemod_bindf1(void* handle, void (*callback)(int));
VIREO_API void fskModDemod_setf1(void* handle, int value);
VIREO_API void fskModDemod_bindbaud(void* handle, void (*callback)(int));
VIREO_API void fskModDemod_setbaud(void* handle, int value);

/* ---- RTTYModDemod ----
 * Radio teletype, ITA2 at 45.45 baud, 170 Hz shift. Sends mark at +2170 Hz
 * and space at +2000 Hz; receives with space at the mode's rxFreq and mark
 * 170 Hz above (its own signal, and any standard one, at rxFreq 2000).
 * Decoded text goes to standard output with the receiver's phase-jump marks
 * and scores, and its characters alone to newChars. newDebug: every 1024
 * detector values, a float array handle (the host frees it), 0, 0.0, 0.0.
 * QueueText replaces the unsent text with text from position (characters
 * sent - base) on; "~" ends the transmission. Each transmission begins with
 * idle letters-shift frames, one whole frame past the transceiver's lead
 * silence and rise. At most 1023 characters wait; more are cut (logged). A
 * base above the characters sent is refused (logged) and changes nothing. */
VIREO_API void* RTTYModDemod_create(void);
VIREO_API void RTTYModDemod_release(void* handle);
VIREO_API void RTTYModDemod_bindsentChars(void* handle, void (*callback)(const char*));
VIREO_API void RTTYModDemod_bindnewChars(void* handle, void (*callback)(const char*));
VIREO_API void RTTYModDemod_binddbg1(void* handle, void (*callback)(float));
VIREO_API void RTTYModDemod_setdbg1(void* handle, float value);
VIREO_API void RTTYModDemod_binddbg2(void* handle, void (*callback)(float));
VIREO_API void RTTYModDemod_setdbg2(void* handle, float value);
VIREO_API void RTTYModDemod_bindnewDebug(void* handle, void (*callback)(void* floatArray, int, double, double));
/* text: copied before the call returns */
VIREO_API void RTTYModDemod_QueueText(void* handle, const char* text, int base);

/* ---- hellschreiberModDemod ----
 * Sends text as Hellschreiber pictures: eight row tones from 1300 Hz down
 * in steps of frequencyStep Hz (above 0, at most 48000; others are refused
 * and the old value told back), a pixel of 48000/frequencyStep + 1 samples.
 * Receives nothing: plays the received signal. QueueText as RTTYModDemod's;
 * "~" ends the transmission. */
VIREO_API void* hellschreiberModDemod_create(void);
VIREO_API void hellschreiberModDemod_release(void* handle);
VIREO_API void hellschreiberModDemod_bindfrequencyStep(void* handle, void (*callback)(double));
VIREO_API void hellschreiberModDemod_setfrequencyStep(void* handle, double value);
VIREO_API void hellschreiberModDemod_bindsentChars(void* handle, void (*callback)(const char*));
/* text: copied before the call returns */
VIREO_API void hellschreiberModDemod_QueueText(void* handle, const char* text, int base);

/* ---- chirpyModDemod ----
 * Chirp link test: transmits chirps of 4096 samples alternately (85.3 ms,
 * 0-3000 Hz); receives by correlation and writes a capture of the
 * correlator magnitudes, 7680 lines "a, b, a-b" once per mode, to the file
 * "c:\scratch\chirpud3_9.csv" in the working directory, starting 160 chirps
 * after its first transmit block. No properties, events or methods. */
VIREO_API void* chirpyModDemod_create(void);
VIREO_API void chirpyModDemod_release(void* handle);

/* ---- DABModDemod ----
 * DAB synchronisation experiment at 2048000 samples per second: a matched
 * filter for the phase reference symbol of transmission mode I, run on a
 * built-in demonstration frame; peak reports go to standard output. Transmits
 * nothing. No properties, events or methods. */
VIREO_API void* DABModDemod_create(void);
VIREO_API void DABModDemod_release(void* handle);

#ifdef __cplusplus
}
#endif

#endif
