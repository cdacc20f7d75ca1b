#pragma once
// The FM discriminator of both receive paths: the phase step between
// consecutive IQ samples, arg(z[i] × conj(z[i - 1])), times a gain.
//
// It runs four samples at a time with a single-precision four-quadrant
// arctangent (the Cephes atanf polynomial on [0, tan(pi/8)], folded from
// [0, 1] by atan r = pi/4 + atan((r - 1) / (r + 1)) and to all quadrants by
// symmetry; about 1e-7 radians). A product that is zero or not finite gives
// 0: whatever arrives, the filters behind the discriminator only ever see
// finite values no larger than gain × pi.
#include <complex>
#include <cstddef>

namespace fmDiscriminator {

using cplx = std::complex<float>;

/// atan2(y, x) in single precision; 0 where x and y are both 0 or either
/// is not finite.
float phaseOf(float y, float x);

/// out[i] = (gain × arg(in[i] × conj(p)), 0), p = in[i - 1], or `last` for
/// i = 0; then last = in[n - 1]. n = 0 changes nothing. gain must be
/// finite. in and out may not overlap.
void run(const cplx* in, size_t n, cplx& last, float gain, cplx* out);

} // namespace fmDiscriminator
