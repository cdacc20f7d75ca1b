#pragma once
// A callable stored inside the object: Capacity bytes of storage aligned to
// Alignment, never on the heap. A callable that does not fit is a compile
// error, so a request can never allocate behind the caller's back.
//
// Each stored type gets one static operations table (invoke, copy into other
// storage, relocate into other storage, destroy); the empty table throws
// std::bad_function_call on invoke and does nothing for the other three.
#include <cstddef>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

namespace stdext {

template <class Signature, size_t Capacity = 32, size_t Alignment = alignof(std::max_align_t)>
class inplace_function;

template <class R, class... Args, size_t Capacity, size_t Alignment>
class inplace_function<R(Args...), Capacity, Alignment> {
    struct vtable {
        R (*invoke)(void* storage, Args&&... args);
        void (*copy)(const void* from, void* to);
        void (*relocate)(void* from, void* to);
        void (*destroy)(void* storage);
    };

    static R emptyInvoke(void*, Args&&...) { throw std::bad_function_call(); }
    static void emptyCopy(const void*, void*) {}
    static void emptyRelocate(void*, void*) {}
    static void emptyDestroy(void*) {}
    static constexpr vtable emptyTable{&emptyInvoke, &emptyCopy, &emptyRelocate, &emptyDestroy};

    template <class F>
    static constexpr vtable tableFor{
        [](void* s, Args&&... args) -> R {
            return (*static_cast<F*>(s))(std::forward<Args>(args)...);
        },
        [](const void* from, void* to) { ::new (to) F(*static_cast<const F*>(from)); },
        [](void* from, void* to) {
            ::new (to) F(std::move(*static_cast<F*>(from)));
            static_cast<F*>(from)->~F();
        },
        [](void* s) { static_cast<F*>(s)->~F(); },
    };

public:
    static constexpr size_t capacity = Capacity;

    inplace_function() noexcept : vt_(&emptyTable) {}
    inplace_function(std::nullptr_t) noexcept : vt_(&emptyTable) {}

    template <class F, class D = std::decay_t<F>,
              class = std::enable_if_t<!std::is_same_v<D, inplace_function> &&
                                       std::is_invocable_r_v<R, D&, Args...>>>
    inplace_function(F&& f) {
        static_assert(sizeof(D) <= Capacity, "callable too large for inplace_function");
        static_assert(Alignment % alignof(D) == 0, "callable alignment too strict");
        static_assert(std::is_copy_constructible_v<D>, "callable must be copyable");
        ::new (static_cast<void*>(&storage_)) D(std::forward<F>(f));
        vt_ = &tableFor<D>;
    }

    inplace_function(const inplace_function& o) : vt_(o.vt_) { vt_->copy(&o.storage_, &storage_); }

    inplace_function(inplace_function&& o) noexcept : vt_(o.vt_) {
        vt_->relocate(&o.storage_, &storage_);
        o.vt_ = &emptyTable;
    }

    inplace_function& operator=(const inplace_function& o) {
        if (this != &o) {
            inplace_function tmp(o);
            *this = std::move(tmp);
        }
        return *this;
    }

    inplace_function& operator=(inplace_function&& o) noexcept {
        if (this != &o) {
            vt_->destroy(&storage_);
            vt_ = o.vt_;
            vt_->relocate(&o.storage_, &storage_);
            o.vt_ = &emptyTable;
        }
        return *this;
    }

    inplace_function& operator=(std::nullptr_t) noexcept {
        vt_->destroy(&storage_);
        vt_ = &emptyTable;
        return *this;
    }

    ~inplace_function() { vt_->destroy(&storage_); }

    R operator()(Args... args) const {
        return vt_->invoke(const_cast<void*>(static_cast<const void*>(&storage_)),
                           std::forward<Args>(args)...);
    }

    explicit operator bool() const noexcept { return vt_ != &emptyTable; }

private:
    const vtable* vt_;
    alignas(Alignment) unsigned char storage_[Capacity];
};

} // namespace stdext
