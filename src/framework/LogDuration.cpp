#include "framework/LogDuration.h"

#include <spdlog/spdlog.h>

LogDuration::~LogDuration() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count();
    double ms = double(ns) / 1e6;
    if (ms > thresholdMs_) {
        try {
            spdlog::error("{} {}", name_, ms);
        } catch (...) {
        }
    }
}
