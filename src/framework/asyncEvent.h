#pragma once
// asyncEvent: a host callback without a stored value (a decoded character, a
// found device). Nothing is sent at bind time; an event sent while nothing is
// bound is lost. The callback bound when the host task runs is the one
// called, so a host may rebind at any time.
#include "framework/asyncObject.h"

#include <atomic>
#include <string>
#include <tuple>

template <class... Args>
class asyncEvent {
public:
    using callback = void (*)(Args...);

    void bind(callback cb, asyncObject* owner) {
        owner_.store(owner);
        cb_.store(cb);
    }

    /// Owner side, any thread of the owner's work.
    void send(Args... args) {
        auto* owner = owner_.load();
        if (!cb_.load() || !owner) return;
        owner->SendEvent([this, args...] {
            if (auto cb = cb_.load()) cb(args...);
        });
    }

    bool bound() const { return cb_.load() != nullptr; }

private:
    std::atomic<callback> cb_{nullptr};
    std::atomic<asyncObject*> owner_{nullptr};
};

/// Text event: the host task holds a copy of the text, valid during the call.
template <>
class asyncEvent<std::string> {
public:
    using callback = void (*)(const char*);

    void bind(callback cb, asyncObject* owner) {
        owner_.store(owner);
        cb_.store(cb);
    }

    void send(std::string text) {
        auto* owner = owner_.load();
        if (!cb_.load() || !owner) return;
        owner->SendEvent([this, text = std::move(text)] {
            if (auto cb = cb_.load()) cb(text.c_str());
        });
    }

    bool bound() const { return cb_.load() != nullptr; }

private:
    std::atomic<callback> cb_{nullptr};
    std::atomic<asyncObject*> owner_{nullptr};
};
