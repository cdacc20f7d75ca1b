#pragma once
// Stand-in transforms on the kissfft dependency, used until the library's own
// transform functions are available on this branch; callers switch to them
// and this file goes away.
#include "dsp/buff.h"

#include <kissfft/kissfft.hh>

#include <complex>
#include <map>
#include <memory>

namespace kissTransform {

inline const kissfft<float>& plan(size_t n, bool inverse) {
    thread_local std::map<std::pair<size_t, bool>, std::unique_ptr<kissfft<float>>> plans;
    auto& p = plans[{n, inverse}];
    if (!p) p = std::make_unique<kissfft<float>>(n, inverse);
    return *p;
}

inline buff<std::complex<float>> fwd(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    plan(in.count, false).transform(in.data, out.data);
    return out;
}
inline buff<std::complex<float>> fwd(buff<std::complex<float>> in) {
    return fwd(in, buff<std::complex<float>>(in.count));
}
inline buff<std::complex<float>> rev(buff<std::complex<float>> in, buff<std::complex<float>> out) {
    plan(in.count, true).transform(in.data, out.data);
    return out;
}
inline buff<std::complex<float>> rev(buff<std::complex<float>> in) {
    return rev(in, buff<std::complex<float>>(in.count));
}

}  // namespace kissTransform
