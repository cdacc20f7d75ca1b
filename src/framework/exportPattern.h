#pragma once
// The one pattern behind every exported object function.
//
// A class's functions are declared in src/vireocore.cpp with the macros at
// the end of this file, one line per family:
//
//   VC_CLASS(agc)                         agc_create, agc_release
//   VC_PROPERTY(agc, Attack)              agc_bindAttack, agc_setAttack
//   VC_PROPERTY_BIND(agc, Gain)           agc_bindGain (read-only)
//   VC_COLLECTION(Radio, SampleRates)     Radio_bindSampleRates, _set, _reset
//   VC_EVENT(vtrx, newAudio)              vtrx_bindnewAudio
//   VC_METHOD(Radio, start, (), ())       Radio_start
//   VC_METHOD(asyncObject, Ping, (int n), (n))
//
// The argument and callback types follow from the member's own type, and the
// request names ("agc.Attack.set", "Radio.SampleRates.reset",
// "Radio.start()") from its spelling. The public header writes each
// prototype out; a definition that disagrees with it does not compile.
//
// Every function catches everything: nothing thrown crosses the boundary. A
// null handle, a handle on an empty reference or a handle of another class
// is logged with the function's name and the call does nothing. So does a
// call made once the process has begun to exit (see exitGate.h).
#include "framework/asyncCollection.h"
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"
#include "framework/exitGate.h"
#include "framework/library.h"
#include "framework/objectHandle.h"

#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace vireo::api {

template <class F>
void guarded(const char* fn, F&& body) noexcept {
    exitGate::watchThisThread();
    exitGate::pass pass;
    if (!pass) return;
    try {
        body();
    } catch (const std::exception& e) {
        try {
            spdlog::error("{} {}", fn, e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            spdlog::error("{}", fn);
        } catch (...) {
        }
    }
}

/// The object behind a host handle, as X; empty (and logged) when the
/// handle is null, empty or of another class.
template <class X>
std::shared_ptr<X> target(void* handle, const char* fn) {
    if (!handle) {
        spdlog::error("{} null handle", fn);
        return {};
    }
    auto& ref = *static_cast<objectHandle*>(handle);
    if (!ref) {
        spdlog::error("{} empty handle", fn);
        return {};
    }
    auto x = std::dynamic_pointer_cast<X>(ref);
    if (!x) spdlog::error("{} handle of another class", fn);
    return x;
}

template <class X>
void* create(const char* fn) noexcept {
    void* h = nullptr;
    // Before init the global task group is empty: the object then takes no
    // work, and its requests are logged and dropped.
    guarded(fn, [&] { h = newHandle(std::make_shared<X>(globalTaskGroup)); });
    return h;
}

/// Every release function, the generic asyncObject_release included: the
/// object hears that the host let go (hostLetGo), whatever class the
/// function was named for, then the handle goes.
inline void release(void* handle, const char* fn) noexcept {
    guarded(fn, [&] {
        std::unique_ptr<objectHandle> ref(static_cast<objectHandle*>(handle)); // goes whatever happens
        if (ref && *ref) (*ref)->hostLetGo();
    });
}

/// Queues body(X&) on the object's task group under the request name; whether
/// it was queued. The request holds its own reference, so the host may
/// release at once.
template <class X, class Body>
bool request(void* handle, const char* name, Body body) noexcept {
    bool queued = false;
    guarded(name, [&] {
        auto x = target<X>(handle, name);
        if (!x) return;
        seqTask t;
        t.fn = [x, body = std::move(body)]() mutable { body(*x); };
        t.name = name;
        queued = x->queueSetItem(t);
    });
    return queued;
}

// ---- member types ----

template <class M>
struct member;
template <class C, class P>
struct member<P C::*> {
    using owner = C;
    using type = P;
};

template <class P>
struct propertyArg; // what the host passes to a setter
template <class T>
struct propertyArg<asyncProperty<T>> {
    using type = T;
};
template <>
struct propertyArg<asyncProperty<std::string>> {
    using type = const char*;
};
template <class X>
struct propertyArg<asyncProperty<std::shared_ptr<X>>> {
    using type = void*;
};
template <class T>
struct propertyArg<asyncPersistantProperty<T>> : propertyArg<asyncProperty<T>> {};

template <auto M>
using ownerOf = typename member<decltype(M)>::owner;
template <auto M>
using typeOf = typename member<decltype(M)>::type;
template <auto M>
using callbackOf = typename typeOf<M>::callback;
template <auto M>
using argOf = typename propertyArg<typeOf<M>>::type;

// ---- families ----

template <auto M>
void bind(void* handle, callbackOf<M> cb, const char* fn) noexcept {
    guarded(fn, [&] {
        if (auto x = target<ownerOf<M>>(handle, fn)) ((*x).*M).bind(cb, x.get());
    });
}

/// Queues body(X&) as the host's set of the property M: the set is counted
/// as the host makes it and as it runs, so that a value told before it never
/// reaches the host after it (hostWord.h). Whether it was queued.
template <auto M, class Body>
bool setRequest(void* handle, const char* name, Body body) noexcept {
    using X = ownerOf<M>;
    bool queued = false;
    guarded(name, [&] {
        auto x = target<X>(handle, name);
        if (!x) return;
        hostWord& sets = ((*x).*M).hostSets;
        const uint64_t set = sets.made();
        seqTask t;
        t.fn = [x, set, body = std::move(body)]() mutable {
            ((*x).*M).hostSets.runs(set);
            body(*x);
        };
        t.name = name;
        queued = x->queueSetItem(t);
        if (!queued) sets.dropped();
    });
    return queued;
}

template <auto M>
void setProperty(void* handle, argOf<M> value, const char* name) noexcept {
    using P = typeOf<M>;
    using X = ownerOf<M>;
    using V = typename P::value_type;
    if constexpr (std::is_same_v<V, std::string>) {
        if (!value) {
            spdlog::error("{} null text refused", name);
            return;
        }
        setRequest<M>(handle, name, [text = std::string(value)](X& x) mutable { (x.*M).hostSet(std::move(text)); });
    } else if constexpr (std::is_arithmetic_v<V>) {
        setRequest<M>(handle, name, [value, name](X& x) {
            // Values outside what the class allows (NaN, infinities, absurd
            // frequencies) never reach the object; the host hears the value
            // kept.
            if (!(x.*M).acceptsHost(value)) {
                spdlog::error("{} {} refused", name, value);
                (x.*M).tellHost();
                return;
            }
            (x.*M).hostSet(value);
        });
    } else {
        // Object property: the host names the object by its handle, which
        // the request copies now; a null or foreign handle stores nothing.
        guarded(name, [&] {
            auto object = target<typename V::element_type>(value, name);
            if (!object) return;
            setRequest<M>(handle, name, [object](X& x) { (x.*M).hostSet(object); });
        });
    }
}

template <auto M>
void setCollection(void* handle, int op, int index, void* item, const char* name) noexcept {
    using X = ownerOf<M>;
    using T = typename std::remove_cvref_t<decltype(std::declval<typeOf<M>&>().items())>::value_type::element_type;
    guarded(name, [&] {
        std::shared_ptr<T> object;
        if (item) {
            object = target<T>(item, name);
            if (!object && *static_cast<objectHandle*>(item)) return; // foreign class: logged
        }
        request<X>(handle, name, [op, index, object](X& x) { (x.*M).set(op, index, object); });
    });
}

template <auto M>
void resetCollection(void* handle, const char* name) noexcept {
    request<ownerOf<M>>(handle, name, [](ownerOf<M>& x) { (x.*M).reset(); });
}

/// A method's arguments as the request keeps them until it runs: values as
/// they are, texts copied (the host's pointer is only valid during the call;
/// a null text stays null).
struct keptText {
    bool null = true;
    std::string text;
    const char* get() const { return null ? nullptr : text.c_str(); }
};
template <class T>
auto keep(T v) {
    if constexpr (std::is_convertible_v<T, const char*> && std::is_pointer_v<std::decay_t<T>>)
        return v ? keptText{false, std::string(v)} : keptText{};
    else
        return v;
}
template <class T>
decltype(auto) pass(const T& v) {
    if constexpr (std::is_same_v<T, keptText>)
        return v.get();
    else
        return v;
}

/// Queues call(x, args...) under the request name, with the arguments kept.
template <class X, class Call, class... A>
void callMethod(void* handle, const char* name, Call call, A... args) noexcept {
    guarded(name, [&] {
        request<X>(handle, name, [call, kept = std::make_tuple(keep(args)...)](X& x) {
            std::apply([&](const auto&... a) { call(x, pass(a)...); }, kept);
        });
    });
}

} // namespace vireo::api

#define VC_CLASS(cls)                                                                                        \
    VIREO_API void* cls##_create(void) { return vireo::api::create<cls>(#cls "_create"); }                   \
    VIREO_API void cls##_release(void* h) { vireo::api::release(h, #cls "_release"); }

#define VC_PROPERTY_BIND(cls, prop)                                                                          \
    VIREO_API void cls##_bind##prop(void* h, vireo::api::callbackOf<&cls::prop> cb) {                        \
        vireo::api::bind<&cls::prop>(h, cb, #cls "_bind" #prop);                                             \
    }

#define VC_PROPERTY(cls, prop)                                                                               \
    VC_PROPERTY_BIND(cls, prop)                                                                              \
    VIREO_API void cls##_set##prop(void* h, vireo::api::argOf<&cls::prop> v) {                               \
        vireo::api::setProperty<&cls::prop>(h, v, #cls "." #prop ".set");                                    \
    }

#define VC_COLLECTION(cls, coll)                                                                             \
    VC_PROPERTY_BIND(cls, coll)                                                                              \
    VIREO_API void cls##_set##coll(void* h, int op, int index, void* item) {                                 \
        vireo::api::setCollection<&cls::coll>(h, op, index, item, #cls "." #coll ".set");                    \
    }                                                                                                        \
    VIREO_API void cls##_reset##coll(void* h) { vireo::api::resetCollection<&cls::coll>(h, #cls "." #coll ".reset"); }

#define VC_EVENT(cls, ev) VC_PROPERTY_BIND(cls, ev)

#define VC_UNPAREN(...) __VA_ARGS__
#define VC_METHOD(cls, method, params, args)                                                                 \
    VIREO_API void cls##_##method(void* h VC_COMMA_PARAMS params) {                                          \
        vireo::api::callMethod<cls>(h, #cls "." #method "()", [](cls & x, auto... a) { x.method(a...); }     \
                                    VC_COMMA_PARAMS args);                                                   \
    }
#define VC_COMMA_PARAMS(...) __VA_OPT__(, ) __VA_ARGS__
