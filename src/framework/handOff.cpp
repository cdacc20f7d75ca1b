#include "framework/handOff.h"

#include <spdlog/spdlog.h>

namespace handOffDetail {

void notStarted(const char* what, const std::exception* e) noexcept {
    try {
        spdlog::error("{}: no thread for the job: {}", what, e ? e->what() : "unknown error");
    } catch (...) {
    }
}

void failed(const char* what, const std::exception* e) noexcept {
    try {
        spdlog::error("{}: job failed: {}", what, e ? e->what() : "unknown error");
    } catch (...) {
    }
}

} // namespace handOffDetail
