#pragma once
#include "framework/buildSlowdown.h"

#include <chrono>
#include <thread>

/// Polls cond until it holds or the time-out passes; returns its last value.
template <class Cond>
bool waitFor(Cond cond, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/// How many times slower than the plain build this build runs: a sanitizer
/// build takes hundreds of milliseconds for what takes a few here. A bound
/// that a requirement sets ("within half a second") is checked as it is in
/// the plain build and stretched by this in a sanitizer build, which checks
/// what happens, not how fast. The library stretches its own time limits by
/// the same factor.
inline constexpr double buildSlowdown = vireo::buildSlowdown;
