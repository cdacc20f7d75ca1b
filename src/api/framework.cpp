// Exported functions of the object framework: start-up and polling, the base
// object, list items, arrays and memory.
#include "vireocore.h"

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
    // Hosts pass ranges within one array (shifting a buffer): overlapping
    // ranges copy as if through a temporary.
    return std::memmove(dst, src, size_t(n));
}

} // extern "C"
