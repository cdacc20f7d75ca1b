#pragma once
// immortal: a function-local static that is never destroyed.
//
//   static auto& table = immortal<std::map<char, std::string>>(build());
//
// A static first built after init (by a pool worker, a back-end's thread)
// has its destructor run at process exit before the library's threads are
// stopped (see exitGate.h), while they may still use it. One built this way
// is reachable until the process ends and is never destroyed.
#include <utility>

/// A new T, never deleted; keep the reference in a function-local static.
template <class T, class... Args>
T& immortal(Args&&... args) {
    return *new T(std::forward<Args>(args)...);
}
