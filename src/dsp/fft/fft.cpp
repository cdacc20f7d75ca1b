#include "dsp/fft/fft.h"

#include "framework/immortal.h"

#include <algorithm>

// Built in this order when the library loads; read-only afterwards.
const kissfft8<float>& fft::forward1024 = immortal<kissfft8<float>>(1024, false);
const kissfft8<float>& fft::reverse1024 = immortal<kissfft8<float>>(1024, true);
const kissfft8<float>& fft::forward2048 = immortal<kissfft8<float>>(2048, false);
const kissfft8<float>& fft::reverse2048 = immortal<kissfft8<float>>(2048, true);
const kissfft8<float>& fft::forward4096 = immortal<kissfft8<float>>(4096, false);

thread_local std::vector<fft::cachedPlan> fft::kissfplans;
thread_local unsigned long fft::planUses = 0;

buff<fft::cf> fft::fwd(buff<cf> in, buff<cf> out) {
    const size_t n = in.count;
    if (n == 4096)
        forward4096.transform(in.data, out.data);
    else if (n == 2048)
        forward2048.transform(in.data, out.data);
    else if (n == 1024)
        forward1024.transform(in.data, out.data);
    else if (n > 0)
        getFPlan(int(n), true)->transform(in.data, out.data);
    return out;
}

buff<fft::cf> fft::fwd(buff<cf> in) { return fwd(in, buff<cf>(in.count)); }

buff<fft::cf> fft::rev(buff<cf> in, buff<cf> out) {
    const size_t n = in.count;
    if (n == 2048)
        reverse2048.transform(in.data, out.data);
    else if (n == 1024)
        reverse1024.transform(in.data, out.data);
    else if (n > 0)
        getFPlan(int(n), false)->transform(in.data, out.data);
    return out;
}

buff<fft::cf> fft::rev(buff<cf> in) { return rev(in, buff<cf>(in.count)); }

buff<fft::cf> fft::fwd(buff<float> in) {
    buff<cf> out(in.count);
    fwd(in, out);
    // Only the first half carries the transform; the rest is defined as zero
    // rather than left with whatever the pool block held.
    if (out.count > 0) std::fill(out.data + in.count / 2, out.data + out.count, cf(0, 0));
    return out;
}

buff<fft::cf> fft::fwd(buff<float> in, buff<cf> out) {
    const size_t n = in.count;
    if (n == 2048)
        forward1024.transform_real(in.data, out.data);
    else if (n / 2 > 0)
        getFPlan(int(n / 2), true)->transform_real(in.data, out.data);
    return out;
}

kissfft<float>* fft::getFPlan(int n, bool forward) {
    const int key = forward ? n : -n;
    ++planUses;
    for (cachedPlan& c : kissfplans)
        if (c.key == key) {
            c.lastUse = planUses;
            return c.plan.get();
        }
    auto plan = std::make_unique<kissfft<float>>(size_t(n), !forward);
    if (kissfplans.size() < maxCachedPlans) {
        kissfplans.push_back({key, planUses, std::move(plan)});
        return kissfplans.back().plan.get();
    }
    // Full: the plan used least recently makes room.
    auto oldest = std::min_element(kissfplans.begin(), kissfplans.end(),
                                   [](const cachedPlan& a, const cachedPlan& b) { return a.lastUse < b.lastUse; });
    *oldest = {key, planUses, std::move(plan)};
    return oldest->plan.get();
}

size_t fft::cachedPlans() { return kissfplans.size(); }
