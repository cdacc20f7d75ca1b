#pragma once
#include <chrono>

/// Logs "<name> <ms>" at error level when the scope lasted longer than the
/// threshold: a cheap watch on code that must stay fast.
class LogDuration {
public:
    LogDuration(const char* name, int thresholdMs) noexcept
        : name_(name), thresholdMs_(thresholdMs), start_(std::chrono::steady_clock::now()) {}
    ~LogDuration();
    LogDuration(const LogDuration&) = delete;
    LogDuration& operator=(const LogDuration&) = delete;

private:
    const char* name_;
    int thresholdMs_;
    std::chrono::steady_clock::time_point start_;
};
