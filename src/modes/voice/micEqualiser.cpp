#include "modes/voice/micEqualiser.h"

#include "audio/Wireless.h"
#include "framework/immortal.h"
#include "modes/voice/voiceTxChain.h"

#include <spdlog/spdlog.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

namespace micEqualiser {
namespace {

/// What the equaliser keeps between reads. Never destroyed: a transmit
/// chain the exit's drain gave up on may still read it (framework/immortal.h).
struct kept {
    std::mutex sourceLock;
    std::shared_ptr<const source> replaced; // guarded by sourceLock
    std::mutex carriedLock;
    buff<float> carried; // the last curve the chain could carry; guarded by carriedLock
};
kept& state() {
    static auto& k = immortal<kept>();
    return k;
}

std::shared_ptr<const source> currentSource() {
    kept& k = state();
    std::lock_guard<std::mutex> l(k.sourceLock);
    return k.replaced;
}

buff<float> flat() { return buff<float>(size_t(curveLength), 1.0f); }

/// c, or when one of its gains is past what the chain carries (it would
/// silence the transmitter or fill it with NaN) the last curve that was not,
/// with a line naming the largest such gain.
buff<float> carriable(buff<float> c) {
    size_t worst = c.size();
    for (size_t i = 0; i < c.size(); ++i)
        if (!voiceTx::carriesLevel(c[i]) && (worst == c.size() || std::fabs(c[i]) > std::fabs(c[worst]))) worst = i;
    kept& k = state();
    std::lock_guard<std::mutex> l(k.carriedLock);
    if (worst == c.size()) {
        k.carried = c;
        return c;
    }
    spdlog::error("microphone equaliser gain {} at {} Hz refused, keeping the curve before it", c[worst],
                  double(worst) * 24000.0 / curveLength);
    return k.carried.empty() ? flat() : k.carried;
}

void noRoot() {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) spdlog::error("microphone equaliser: no root object, the curve is flat");
}

// The root object's counter and curve are read through whatever form it
// gives them: a counter atomic or plain, a curve sampler Calc(n). Until it
// carries a curve the chain equalises flat at version 0.
template <class W>
uint32_t rootVersion(W& w) {
    if constexpr (requires { w.micEqVersion.load(std::memory_order_acquire); })
        return uint32_t(w.micEqVersion.load(std::memory_order_acquire));
    else if constexpr (requires { uint32_t(w.micEqVersion); })
        return uint32_t(w.micEqVersion);
    else
        return 0;
}

template <class W>
buff<float> rootCurve(W& w) {
    if constexpr (requires { buff<float>(w.Calc(curveLength)); }) {
        buff<float> c = w.Calc(curveLength);
        return c.size() == size_t(curveLength) ? c : flat();
    } else {
        return flat();
    }
}

} // namespace

uint32_t version() {
    if (auto s = currentSource()) return s->version ? s->version() : 0;
    Wireless* w = Wireless::getInstance();
    return w ? rootVersion(*w) : 0;
}

buff<float> curve() {
    buff<float> c;
    if (auto s = currentSource()) {
        c = s->curve ? s->curve() : flat();
        if (c.size() != size_t(curveLength)) c = flat();
    } else if (Wireless* w = Wireless::getInstance()) {
        c = rootCurve(*w);
    } else {
        noRoot();
        return flat();
    }
    // A gain that is not a number would spread through the whole design and
    // silence the transmitter; such an entry counts as unchanged. The curve
    // may be the root's own published copy: mend a private one.
    for (size_t i = 0; i < c.size(); ++i) {
        if (std::isfinite(c[i])) continue;
        buff<float> mended(c.size());
        for (size_t j = 0; j < c.size(); ++j) mended[j] = std::isfinite(c[j]) ? c[j] : 1.0f;
        return carriable(mended);
    }
    return carriable(c);
}

void replaceSource(source s) {
    kept& k = state();
    std::lock_guard<std::mutex> l(k.sourceLock);
    if (!s.version && !s.curve)
        k.replaced.reset();
    else
        k.replaced = std::make_shared<const source>(std::move(s));
}

bool changedSince(int64_t& eqVersion) {
    const int64_t v = version();
    if (v == eqVersion) return false;
    eqVersion = v;
    return true;
}

} // namespace micEqualiser
