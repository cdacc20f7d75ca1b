#include "dsp/fft/hostFft.h"

#include "dsp/fft/fft.h"
#include "framework/criticalErrorDump.h"
#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

#include <complex>
#include <cstdint>
#include <exception>

namespace {

using cf = std::complex<float>;

template <class A, class B>
bool shareSamples(const buff<A>& a, const buff<B>& b) {
    auto lo1 = reinterpret_cast<uintptr_t>(a.data), hi1 = lo1 + a.count * sizeof(A);
    auto lo2 = reinterpret_cast<uintptr_t>(b.data), hi2 = lo2 + b.count * sizeof(B);
    return lo1 < hi2 && lo2 < hi1;
}

// Shared checks of all three functions; `needed` is the number of complex
// values the transform writes. Returns false after logging why.
template <class In>
bool acceptable(const char* name, const buff<In>* in, const buff<cf>* out, size_t needed) {
    if (in == nullptr || out == nullptr) {
        spdlog::error("{}: null array handle", name);
        return false;
    }
    if (needed == 0) {
        spdlog::error("{}: input holds {} values, nothing to transform", name, in->count);
        return false;
    }
    if (out->count < needed) {
        spdlog::error("{}: output holds {} values, the transform writes {}", name, out->count, needed);
        return false;
    }
    if (static_cast<const void*>(in) == static_cast<const void*>(out) || shareSamples(*in, *out)) {
        spdlog::error("{}: input and output share their samples", name);
        return false;
    }
    return true;
}

// Like every export: a host thread transforming while another ends the
// process finishes before the statics go, and one that comes later does
// nothing.
template <class Body>
void guarded(const char* name, Body body) noexcept {
    exitGate::watchThisThread();
    exitGate::pass pass;
    if (!pass) return;
    try {
        body();
    } catch (const std::exception& e) {
        try {
            spdlog::error("{}: {}", name, e.what());
        } catch (...) {
        }
    } catch (...) {
        criticalErrorDump::logException(name, "??");
    }
}

} // namespace

void hostFft::fwd(void* in, void* out) noexcept {
    guarded("fft_Fwd", [&] {
        auto* x = static_cast<buff<cf>*>(in);
        auto* y = static_cast<buff<cf>*>(out);
        if (acceptable("fft_Fwd", x, y, x ? x->count : 0)) fft::fwd(*x, *y);
    });
}

void hostFft::rev(void* in, void* out) noexcept {
    guarded("fft_Rev", [&] {
        auto* x = static_cast<buff<cf>*>(in);
        auto* y = static_cast<buff<cf>*>(out);
        if (acceptable("fft_Rev", x, y, x ? x->count : 0)) fft::rev(*x, *y);
    });
}

void hostFft::fwdR(void* in, void* out) noexcept {
    guarded("fft_FwdR", [&] {
        auto* x = static_cast<buff<float>*>(in);
        auto* y = static_cast<buff<cf>*>(out);
        if (acceptable("fft_FwdR", x, y, x ? x->count / 2 : 0)) fft::fwd(*x, *y);
    });
}
