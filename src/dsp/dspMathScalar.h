#pragma once
// dspMathScalar: the plain one-element-at-a-time versions of the vectorised
// dspMath kernels. Same contracts as dspMath; the tests hold the fast kernels
// against these and the benchmarks measure the gain over them.
#include "dsp/buff.h"

#include <complex>

class dspMathScalar {
public:
    using cf = std::complex<float>;

    static buff<cf> mul(buff<cf> a, buff<cf> b, buff<cf> out);
    static buff<cf> mac(buff<cf> a, buff<cf> b, buff<cf> acc);
    static buff<cf> mul(buff<cf> a, float k, buff<cf> out);
    static buff<cf> mul(buff<cf> a, buff<float> w, buff<cf> out);
    static buff<cf> scalarMul(buff<cf> a, buff<cf> b, buff<cf> out);
    static buff<float> mul(buff<float> a, buff<float> b, buff<float> out);
    static buff<float> mul(buff<float> a, float k, buff<float> out);
    static buff<float> add(buff<float> a, buff<float> b, buff<float> out);
    static buff<float> Log10MagnitudeSquared(buff<cf> a, buff<float> out);
    static buff<float> Log10(buff<float> a, buff<float> out);
    static buff<float> spectrum(buff<cf> a, float k, buff<float> out);
};
