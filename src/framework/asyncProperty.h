#pragma once
// asyncProperty<T>: one typed, host-visible value of an object.
//
// The owner changes it with set() on its task group; the host changes it
// with a request whose body is hostSet(), also on the task group; the host
// learns of owner changes through the callback it binds. Rules:
//  - a value the host set itself is stored and acted on (change hook) but
//    never echoed back, and does not by itself publish the property;
//  - the host's last word is the object's value (hostWord.h): a value told
//    before the host's latest set had run is never delivered;
//  - once the owner has given the property a value it is published, and a
//    later bind delivers the current value at the host's next poll.
// bind() runs on the host thread while the task group may write: scalar
// values, callbacks and the flag are atomics, text and object values sit
// behind a small lock. An owner-side set publishes before it reads the
// callback and bind stores the callback before it reads the flag, both
// sequentially consistent, so a set racing a bind is delivered by at least
// one of them (possibly by both: the host then sees the value twice).
#include "framework/asyncObject.h"
#include "framework/hostWord.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

namespace vireo::detail {

/// Owner, callback and published flag shared by every property form.
template <class Callback>
class propertyBinding {
public:
    using callback = Callback;

    bool published() const { return published_.load(); }

    /// The host's sets of this property, counted as the host makes them
    /// and as their requests run (see hostWord.h).
    hostWord hostSets;

protected:
    void store(Callback cb, asyncObject* owner) {
        owner_.store(owner);
        cb_.store(cb); // seq_cst: pairs with publish() and the load in set
    }
    Callback cb() const { return cb_.load(); }
    asyncObject* owner() const { return owner_.load(); }
    void publish() { published_.store(true); } // seq_cst: pairs with store()

private:
    std::atomic<Callback> cb_{nullptr};
    std::atomic<asyncObject*> owner_{nullptr};
    std::atomic<bool> published_{false};
};

} // namespace vireo::detail

/// Scalar form: bool, int, float, double, long long, unsigned long long.
template <class T>
class asyncProperty : public vireo::detail::propertyBinding<void (*)(T)> {
    static_assert(std::is_arithmetic_v<T>, "scalar properties only; text and objects have their own forms");
    using base = vireo::detail::propertyBinding<void (*)(T)>;

public:
    using value_type = T;
    using callback = void (*)(T);

    explicit asyncProperty(T initial = T{}) : value_(initial) {}
    asyncProperty(const asyncProperty&) = delete;
    asyncProperty& operator=(const asyncProperty&) = delete;

    T get() const { return value_.load(std::memory_order_acquire); }
    operator T() const { return get(); }

    /// Owner-side change (task group). Stores a different value, runs the
    /// change hook and, with notify, posts callback(value). Publishes always.
    void set(T v, bool notify = true) {
        // Equality operator on purpose: NaN is never equal, 0.0 equals -0.0.
        const bool changed = !(get() == v);
        if (changed) {
            value_.store(v, std::memory_order_release);
            if (changeHook) changeHook();
        }
        // Published before the callback is read: a bind racing this set
        // either sees the flag or has stored its callback for post to see.
        this->publish();
        if (changed && notify) post(v);
    }

    /// Re-initialises the value as a constructor would: no hook, no event,
    /// not published.
    void reinit(T v) { value_.store(v, std::memory_order_release); }

    /// Body of the host's set request: store and react, never echo.
    void hostSet(T v) {
        if (get() == v) return;
        value_.store(v, std::memory_order_release);
        if (changeHook) changeHook();
    }

    /// Host thread. Delivers the current value when published.
    void bind(callback cb, asyncObject* owner) {
        this->store(cb, owner);
        if (this->published()) post(get());
    }

    /// Owner side: tells the host the value held, changed or not, for a
    /// host value the owner refused and the host would otherwise take as
    /// stored. Publishes.
    void tellHost() {
        this->publish();
        post(get());
    }

    /// Limits the values a host may set to [lo, hi] (NaN never fits). Set by
    /// the owning class's constructor; the exported setter refuses any other
    /// value with a log line and keeps the old one.
    void hostRange(T lo, T hi) {
        lo_ = lo;
        hi_ = hi;
        limited_ = true;
    }
    /// A host value within the range (every value when none is set).
    bool acceptsHost(T v) const { return !limited_ || (v >= lo_ && v <= hi_); }

    std::function<void()> changeHook;

private:
    void post(T v) {
        auto cb = this->cb();
        if (auto* o = this->owner(); cb && o) o->template SendTEvent<T>(cb, v, this->hostSets.stamp());
    }

    std::atomic<T> value_;
    T lo_{}, hi_{};
    bool limited_ = false;
};

/// Text form: events carry no copy; the host task reads the text bound and
/// stored when it runs, so two changes before a poll deliver the newer text
/// twice.
template <>
class asyncProperty<std::string> : public vireo::detail::propertyBinding<void (*)(const char*)> {
public:
    using value_type = std::string;
    using callback = void (*)(const char*);

    explicit asyncProperty(std::string initial = {}) : value_(std::move(initial)) {}
    asyncProperty(const asyncProperty&) = delete;
    asyncProperty& operator=(const asyncProperty&) = delete;

    std::string get() const {
        std::lock_guard<std::mutex> lock(m_);
        return value_;
    }

    /// Owner-side change. Publishes only when notify is true.
    void set(std::string v, bool notify = true) {
        const bool changed = assign(std::move(v));
        if (changed && changeHook) changeHook();
        if (notify) {
            publish(); // before the callback is read, as in the scalar form
            if (changed) post();
        }
    }

    void hostSet(std::string v) {
        if (assign(std::move(v)) && changeHook) changeHook();
    }

    void bind(callback cb, asyncObject* owner) {
        store(cb, owner);
        if (published()) post();
    }

    std::function<void()> changeHook;

private:
    bool assign(std::string v) {
        std::lock_guard<std::mutex> lock(m_);
        if (value_ == v) return false;
        value_ = std::move(v);
        return true;
    }

    void post() {
        auto* o = owner();
        if (!cb() || !o) return;
        // The owner's keep-alive in the host task keeps this property alive.
        o->SendEvent(
            [this] {
                if (auto c = cb()) {
                    std::string text = get();
                    c(text.c_str());
                }
            },
            hostSets.stamp());
    }

    mutable std::mutex m_;
    std::string value_;
};

/// Object form: the value is a shared reference; the host receives a new
/// handle per event, made when the event is delivered.
template <class X>
class asyncProperty<std::shared_ptr<X>> : public vireo::detail::propertyBinding<void (*)(void*)> {
public:
    using value_type = std::shared_ptr<X>;
    using callback = void (*)(void*);

    explicit asyncProperty(std::shared_ptr<X> initial = {}) : value_(std::move(initial)) {}
    asyncProperty(const asyncProperty&) = delete;
    asyncProperty& operator=(const asyncProperty&) = delete;

    std::shared_ptr<X> get() const {
        std::lock_guard<std::mutex> lock(m_);
        return value_;
    }

    void set(std::shared_ptr<X> v, bool notify = true) {
        const bool changed = assign(v);
        if (changed && changeHook) changeHook();
        publish(); // before the callback is read, as in the scalar form
        if (changed && notify) post(std::move(v));
    }

    /// The host named an object: publishes even when it is the stored one.
    void hostSet(std::shared_ptr<X> v) {
        if (assign(std::move(v)) && changeHook) changeHook();
        publish();
    }

    void bind(callback cb, asyncObject* owner) {
        store(cb, owner);
        if (published()) post(get());
    }

    std::function<void()> changeHook;

private:
    bool assign(std::shared_ptr<X> v) {
        std::lock_guard<std::mutex> lock(m_);
        if (value_ == v) return false;
        value_.swap(v); // the old reference goes when v does, outside nothing else
        return true;
    }

    void post(std::shared_ptr<X> v) {
        auto* o = owner();
        auto c = cb();
        if (!c || !o || !o->taskGroup()) return;
        if (auto self = o->weak_from_this().lock())
            o->taskGroup()->SendTOEvent(c, std::move(v), std::move(self), hostSets.stamp());
    }

    mutable std::mutex m_;
    std::shared_ptr<X> value_;
};

/// A property the class declares as persistent; it behaves exactly alike.
template <class T>
class asyncPersistantProperty : public asyncProperty<T> {
public:
    using asyncProperty<T>::asyncProperty;
};
