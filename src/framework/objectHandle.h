#pragma once
// What the host holds for an object: a heap-allocated shared reference. Every
// class uses the one handle type, so a handle of a derived class (a test
// radio) works with the functions of its base (the radio functions), and a
// handle of the wrong class is caught by a checked cast instead of being
// misread.
#include <memory>

class asyncObject;

using objectHandle = std::shared_ptr<asyncObject>;

/// A new handle the host frees exactly once with a release function.
inline void* newHandle(std::shared_ptr<asyncObject> object) { return new objectHandle(std::move(object)); }
