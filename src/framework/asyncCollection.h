#pragma once
// asyncCollection<T>: a host-visible list of child objects.
//
// The host edits it with op codes (0 replace at an index, 3 add, 4 clear)
// and a reset; the owner appends with add(). The host hears only of
// additions made by the owner, as (3, 0, new handle), and of the whole list
// as a series of such additions when it binds. The host's own edits are never
// echoed. A small lock separates the bind's walk on the host thread from the
// task group's edits.
#include "framework/asyncObject.h"

#include <spdlog/spdlog.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vireo {
/// Collections are short host-facing lists; an op 0 index at or past this
/// is refused rather than growing the list without bound.
constexpr long maxCollectionIndex = 1 << 16;
} // namespace vireo

template <class T>
class asyncCollection {
public:
    using callback = void (*)(unsigned long, unsigned long, void*);
    enum op : int { replace = 0, add_ = 3, clear = 4 };

    asyncCollection() = default;
    virtual ~asyncCollection() = default;
    asyncCollection(const asyncCollection&) = delete;
    asyncCollection& operator=(const asyncCollection&) = delete;

    /// Host thread: stores callback and owner, replays the list as additions.
    void bind(callback cb, asyncObject* owner) {
        // Under the lock, so that an add on the task group is either in the
        // replay or announced by itself, never both.
        std::lock_guard<std::mutex> lock(m_);
        owner_.store(owner);
        cb_.store(cb);
        if (!cb || !owner || !owner->taskGroup()) return;
        auto self = owner->weak_from_this().lock();
        if (!self) return;
        for (auto& item : items_) owner->taskGroup()->template SendTEvent<T>(cb, 3, 0, item, self);
    }

    /// Owner-side append; announced when a callback is bound. No change hook.
    void add(std::shared_ptr<T> item) {
        std::lock_guard<std::mutex> lock(m_);
        items_.push_back(item);
        auto cb = cb_.load();
        auto* owner = owner_.load();
        if (!cb || !owner || !owner->taskGroup()) return;
        if (auto self = owner->weak_from_this().lock())
            owner->taskGroup()->template SendTEvent<T>(cb, 3, 0, std::move(item), std::move(self));
    }

    /// Body of the host's collection request. Sends nothing.
    void set(int opCode, int index, std::shared_ptr<T> item) {
        switch (opCode) {
        case clear:
            reset();
            return;
        case add_: {
            std::lock_guard<std::mutex> lock(m_);
            items_.push_back(std::move(item));
            return;
        }
        case replace:
            break;
        default:
            return;
        }
        if (index < 0 || index >= vireo::maxCollectionIndex) {
            spdlog::error("collection index {} refused", index);
            return;
        }
        std::shared_ptr<T> old; // released outside the lock
        {
            std::lock_guard<std::mutex> lock(m_);
            size_t i = size_t(index);
            if (i >= items_.size()) items_.resize(i == 0 ? 1 : 2 * i);
            if (items_[i] == item) return;
            old = std::exchange(items_[i], std::move(item));
        }
        if (changeHook) changeHook();
    }

    /// Removes every item; no hook, no event.
    void reset() {
        std::vector<std::shared_ptr<T>> old;
        std::lock_guard<std::mutex> lock(m_);
        old.swap(items_);
    }

    /// A copy of the list (entries may be empty after op 0 growth).
    std::vector<std::shared_ptr<T>> items() const {
        std::lock_guard<std::mutex> lock(m_);
        return items_;
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(m_);
        return items_.size();
    }

    std::function<void()> changeHook;

private:
    mutable std::mutex m_;
    std::vector<std::shared_ptr<T>> items_;
    std::atomic<callback> cb_{nullptr};
    std::atomic<asyncObject*> owner_{nullptr};
};

/// A collection the class declares as persistent; it behaves exactly alike.
template <class T>
class asyncPersistantCollection : public asyncCollection<T> {};
