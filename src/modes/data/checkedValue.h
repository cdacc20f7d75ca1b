#pragma once
// checkedValue: the last host value of a property that passed its check, for
// the transmit and receive paths to read from any thread.
//
// The host's set request stores its value in the property before the change
// hook runs, so a reader on another task group could meet a bad value there
// for a moment; readers take the checked copy instead. A value that fails
// the check is logged ("cwModDemod wpm 0 refused, keeping 20") and the
// property is set back to the kept value, which the host hears on its bound
// callback.
#include "framework/asyncProperty.h"

#include <spdlog/spdlog.h>

#include <atomic>
#include <utility>

template <class T>
class checkedValue {
public:
    /// Installs the check as `property`'s change hook; the property's
    /// current value is the first one kept. Owner's task group, before the
    /// host can reach the property.
    template <class Check>
    void guard(asyncProperty<T>& property, const char* name, Check check) {
        kept_.store(property.get());
        property.changeHook = [this, &property, name, check = std::move(check)] {
            if (restoring_) return;
            const T v = property.get();
            if (check(v)) {
                kept_.store(v);
                return;
            }
            spdlog::error("{} {} refused, keeping {}", name, v, kept_.load());
            restoring_ = true;
            property.set(kept_.load(), true);
            restoring_ = false;
        };
    }

    /// The value in use. Any thread.
    T get() const { return kept_.load(); }

private:
    std::atomic<T> kept_{};
    bool restoring_ = false; // owner's task group only
};
