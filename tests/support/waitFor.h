#pragma once
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
