// The exported C interface, grouped by class. Every function is a thin
// wrapper: nothing thrown inside ever crosses the boundary.
#include "vireocore.h"

#include "core/Controller.h"
#include "core/Radio.h"
#include "core/TestRadio.h"
#include "core/agc.h"
#include "core/modDemod.h"
#include "core/proxyModDemod.h"
#include "core/vtrx.h"
#include "dsp/fft/hostFft.h"
#include "framework/ValueLabelItem.h"
#include "framework/calibLine.h"
#include "framework/exportPattern.h"
#include "framework/hostArrays.h"
#include "framework/library.h"

#include <complex>
#include <cstdlib>
#include <cstring>

extern "C" {

// ---- Library start-up, polling and shut-down ----
VIREO_API void init(const char* logPath, int verbose) { vireo::init(logPath, verbose); }
VIREO_API void getUpdates(void) { vireo::getUpdates(); }
VIREO_API void getRenderUpdates(void) { vireo::getRenderUpdates(); }
VIREO_API void closeAudio(void) { vireo::closeAudio(); }

// ---- asyncObject ----
VC_CLASS(asyncObject)
VC_METHOD(asyncObject, Ping, (int n), (n))
// Deleted and Echo are stored at once, on the host thread.
VIREO_API void asyncObject_bindDeleted(void* h, void (*cb)(int)) {
    vireo::api::guarded("asyncObject_bindDeleted", [&] {
        if (auto x = vireo::api::target<asyncObject>(h, "asyncObject_bindDeleted")) x->Deleted.store(cb);
    });
}
VIREO_API void asyncObject_bindEcho(void* h, void (*cb)(int)) {
    vireo::api::guarded("asyncObject_bindEcho", [&] {
        if (auto x = vireo::api::target<asyncObject>(h, "asyncObject_bindEcho")) x->Echo.store(cb);
    });
}

// ---- ValueLabelItem ----
VC_CLASS(ValueLabelItem)
VC_PROPERTY(ValueLabelItem, Value)
VC_PROPERTY(ValueLabelItem, Label)

// ---- calibLine ----
VC_CLASS(calibLine)
VC_PROPERTY(calibLine, inp)
VC_PROPERTY(calibLine, outp)

// ---- agc ----
VC_CLASS(agc)
VC_PROPERTY(agc, Attack)
VC_PROPERTY(agc, Decay)
VC_PROPERTY(agc, Hang)
VC_PROPERTY(agc, MaxGain)
VC_PROPERTY(agc, Volume)
VC_PROPERTY(agc, Squelch)
VC_PROPERTY(agc, ManualGain)
VC_PROPERTY(agc, Enabled)

// ---- modDemod ----
// These serve every mode: each one is a modDemod.
VC_CLASS(modDemod)
VC_PROPERTY(modDemod, rxFreq)
VC_PROPERTY(modDemod, txFreq)
VC_PROPERTY(modDemod, rnnoise)
VC_PROPERTY(modDemod, rnnoiseSquelch)
VC_PROPERTY(modDemod, db1)
VC_PROPERTY(modDemod, OpLevel)

// ---- proxyModDemod ----
// The two callbacks are called directly on the transceiver's worker, not in
// getUpdates; their binds store them at once like any event bind.
VC_CLASS(proxyModDemod)
VC_EVENT(proxyModDemod, rxChunk)
VC_EVENT(proxyModDemod, getTxChunk)

// ---- Controller ----
VC_CLASS(Controller)

// ---- Arrays and memory ----
VIREO_API void* floatArray_create(int n) { return vireo::api::arrayCreate<float>(n, "floatArray_create"); }
VIREO_API float* floatArray_data(void* a) { return vireo::api::arrayData<float>(a); }
VIREO_API int floatArray_size(void* a) { return vireo::api::arraySize<float>(a); }
VIREO_API void floatArray_delete(void* a) { vireo::api::arrayDelete<float>(a); }
VIREO_API void* doubleArray_create(int n) { return vireo::api::arrayCreate<double>(n, "doubleArray_create"); }
VIREO_API double* doubleArray_data(void* a) { return vireo::api::arrayData<double>(a); }
VIREO_API int doubleArray_size(void* a) { return vireo::api::arraySize<double>(a); }
VIREO_API void doubleArray_delete(void* a) { vireo::api::arrayDelete<double>(a); }
VIREO_API void* complexArray_create(int n) {
    return vireo::api::arrayCreate<std::complex<float>>(n, "complexArray_create");
}
VIREO_API float* complexArray_data(void* a) {
    return reinterpret_cast<float*>(vireo::api::arrayData<std::complex<float>>(a));
}
VIREO_API int complexArray_size(void* a) { return vireo::api::arraySize<std::complex<float>>(a); }
VIREO_API void complexArray_delete(void* a) { vireo::api::arrayDelete<std::complex<float>>(a); }

VIREO_API void* mem_malloc(int size) {
    if (size < 0) {
        spdlog::error("mem_malloc size {} refused", size);
        return nullptr;
    }
    // aligned_alloc wants a multiple of the alignment.
    size_t bytes = (size_t(size) + 31) & ~size_t(31);
    return std::aligned_alloc(32, bytes == 0 ? 32 : bytes);
}
VIREO_API void mem_free(void* block) { std::free(block); }
VIREO_API void* mem_memcpy(void* dst, void* src, int n) {
    if (n <= 0) return dst;
    if (!dst || !src) {
        spdlog::error("mem_memcpy null pointer refused");
        return dst;
    }
    return std::memcpy(dst, src, size_t(n));
}

// ---- Transforms ----
VIREO_API void fft_Fwd(void* complexIn, void* complexOut) { hostFft::fwd(complexIn, complexOut); }
VIREO_API void fft_Rev(void* complexIn, void* complexOut) { hostFft::rev(complexIn, complexOut); }
VIREO_API void fft_FwdR(void* floatIn, void* complexOut) { hostFft::fwdR(floatIn, complexOut); }


// ---- Radio ----
VC_CLASS(Radio)
VC_PROPERTY(Radio, ptt)
VC_PROPERTY(Radio, maxHwReceivers)
VC_PROPERTY(Radio, maxADCs)
VC_PROPERTY(Radio, canTransmit)
VC_PROPERTY(Radio, rxLevelCalibration)
VC_PROPERTY(Radio, sentPackets)
VC_PROPERTY(Radio, receivedPackets)
VC_PROPERTY(Radio, SampleRate)
VC_PROPERTY(Radio, disableVirtualReceivers)
VC_PROPERTY(Radio, TransceiverOffset)
VC_PROPERTY(Radio, drive)
VC_PROPERTY(Radio, TuneDrive)
VC_PROPERTY(Radio, RadioPtt)
VC_PROPERTY(Radio, cwHangTime)
VC_PROPERTY(Radio, cwInternal)
VC_PROPERTY(Radio, ValidBandwidthRatio)
VC_PROPERTY(Radio, frequencyCalibration)
VC_METHOD(Radio, start, (), ())
VC_METHOD(Radio, stop, (), ())
VC_METHOD(Radio, addVtrx, (long long frequency, int hwRx, int ownerId), (frequency, hwRx, ownerId))
VIREO_API void Radio_removeVtrx(void* h, void* v) {
    // The host names the transceiver by address; it is compared, never read.
    vireo::api::request<Radio>(h, "Radio.removeVtrx()", [v](Radio& r) { r.removeVtrx(v); });
}
VIREO_API void Radio_bindvtrxAdded(void* h, Radio::vtrxAddedCallback cb) {
    vireo::api::guarded("Radio_bindvtrxAdded", [&] {
        if (auto r = vireo::api::target<Radio>(h, "Radio_bindvtrxAdded")) r->bindvtrxAdded(cb);
    });
}

// ---- TestRadio ----
VC_CLASS(TestRadio)

// ---- vtrx ----
VC_CLASS(vtrx)
VC_PROPERTY(vtrx, ptt)
VC_PROPERTY(vtrx, tune)
VC_PROPERTY(vtrx, specFreq)
VC_PROPERTY(vtrx, specOffset)
VC_PROPERTY(vtrx, specZoom)
VC_PROPERTY(vtrx, audioInput)
VC_PROPERTY(vtrx, audioOutput)
VC_PROPERTY(vtrx, muted)
VC_PROPERTY(vtrx, rxagc)
VC_PROPERTY(vtrx, txagc)
VC_PROPERTY(vtrx, signalStrength)
VC_PROPERTY(vtrx, foregroundDisplay)
VC_PROPERTY(vtrx, oversample)
VC_PROPERTY(vtrx, waterfallSpeed)
VC_PROPERTY(vtrx, vfo)
VC_PROPERTY(vtrx, TxOffset)
VC_PROPERTY(vtrx, useResampler)
VC_PROPERTY(vtrx, micLevel)
VC_PROPERTY(vtrx, bandwidthSufficient)
VC_PROPERTY(vtrx, useVox)
VC_PROPERTY(vtrx, VoxThreshold)
VC_PROPERTY(vtrx, VoxHold)
VC_PROPERTY(vtrx, drive)
VC_PROPERTY(vtrx, ADCs)
VC_PROPERTY(vtrx, ADC1Gain)
VC_PROPERTY(vtrx, ADC1Phase)
VC_PROPERTY(vtrx, Balance)
VC_PROPERTY(vtrx, DelayAudio)
VC_PROPERTY(vtrx, SendAudio)
VC_PROPERTY(vtrx, SendIQ)
VC_PROPERTY(vtrx, TuningValid)
VC_PROPERTY(vtrx, OwnerID)
VC_PROPERTY(vtrx, ModClosing)
VIREO_API void vtrx_bindnewSpectrum(void* h, vtrx::spectrumCallback cb) {
    vireo::api::guarded("vtrx_bindnewSpectrum", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewSpectrum")) v->bindnewSpectrum(cb);
    });
}
VIREO_API void vtrx_bindnewAudio(void* h, vtrx::audioCallback cb) {
    vireo::api::guarded("vtrx_bindnewAudio", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewAudio")) v->bindnewAudio(cb);
    });
}
VIREO_API void vtrx_bindnewIQ(void* h, vtrx::iqCallback cb) {
    vireo::api::guarded("vtrx_bindnewIQ", [&] {
        if (auto v = vireo::api::target<vtrx>(h, "vtrx_bindnewIQ")) v->bindnewIQ(cb);
    });
}
VC_METHOD(vtrx, setRxFrequency, (long long frequency), (frequency))
VIREO_API void vtrx_setModulation(void* h, void* modeHandle) {
    vireo::api::guarded("vtrx.setModulation()", [&] {
        std::shared_ptr<modDemod> m;
        if (modeHandle && !(m = vireo::api::target<modDemod>(modeHandle, "vtrx.setModulation()"))) return;
        vireo::api::request<vtrx>(h, "vtrx.setModulation()", [m](vtrx& v) { v.setModulation(m); });
    });
}
VC_METHOD(vtrx, setRxFilter, (int low, int high), (low, high))
VC_METHOD(vtrx, setTxFilter, (int low, int high), (low, high))
VC_METHOD(vtrx, remove, (), ())
VC_METHOD(vtrx, start, (), ())

} // extern "C"
