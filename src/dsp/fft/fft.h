#pragma once
// fft: discrete Fourier transforms of sample buffers.
//
// 1024, 2048 and 4096 points forward, and 1024 and 2048 points inverse, run on
// the own radix-4 plans, built once at load and shared read-only by every
// thread. Every other size, and the inverse 4096-point transform, runs on a
// kissfft<float> plan made on first use and cached per thread, so the cache
// needs no lock; a thread keeps at most maxCachedPlans of them and drops the
// one used least recently to make room. No transform scales: forward then
// inverse returns N times the input.
//
// Callers pass an output of at least n values (n/2 for the real-input forms)
// that does not overlap the input; sizes are not compared here. The exported
// transform functions check the host's handles before they call in.
#include "dsp/buff.h"
#include "dsp/fft/kissfft8.h"

#include <kissfft/kissfft.hh>

#include <complex>
#include <memory>
#include <vector>

class fft {
public:
    using cf = std::complex<float>;

    // Never destroyed (framework/immortal.h): a worker that the exit's drain
    // gave up on may still be transforming while the statics go.
    static const kissfft8<float>& forward1024;
    static const kissfft8<float>& reverse1024;
    static const kissfft8<float>& forward2048;
    static const kissfft8<float>& reverse2048;
    static const kissfft8<float>& forward4096;

    /// Forward transform of in (n = in.count) into out; returns out. An empty
    /// input does nothing.
    static buff<cf> fwd(buff<cf> in, buff<cf> out);
    /// Forward transform into a new buffer of n values.
    static buff<cf> fwd(buff<cf> in);
    /// Inverse transform of in into out; returns out.
    static buff<cf> rev(buff<cf> in, buff<cf> out);
    /// Inverse transform into a new buffer of n values.
    static buff<cf> rev(buff<cf> in);
    /// Spectrum of n real samples in a new buffer of n complex values: the
    /// first n/2 hold the transform (DC in the real and Nyquist in the
    /// imaginary part of value 0), the rest are zero.
    static buff<cf> fwd(buff<float> in);
    /// Spectrum of n real samples into the first n/2 values of out; the rest
    /// of out is left as it was. Returns out.
    static buff<cf> fwd(buff<float> in, buff<cf> out);

    /// The calling thread's kissfft<float> plan of n points (forward when
    /// forward is true), made and cached on first request. The pointer is
    /// valid until the thread's next getFPlan call.
    static kissfft<float>* getFPlan(int n, bool forward);
    /// Plans the calling thread holds.
    static size_t cachedPlans();

    /// Plans kept per thread: every size the system uses, and a bound on what
    /// a host asking for many sizes can make a thread hold.
    static constexpr size_t maxCachedPlans = 16;

private:
    struct cachedPlan {
        int key; // +n forward, -n inverse
        unsigned long lastUse;
        std::unique_ptr<kissfft<float>> plan;
    };
    /// Per-thread plans; released when the thread ends.
    static thread_local std::vector<cachedPlan> kissfplans;
    static thread_local unsigned long planUses;
};
