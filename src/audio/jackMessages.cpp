#include "audio/jackMessages.h"

#include <jack/jack.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace jackMessages {
namespace {

// Trivially destructible, so still readable from whatever libjack runs late
// in the exit.
std::atomic<bool> exiting{false};

/// Whether a libjack error line only says that no server answers.
bool saysNoServer(const char* line) {
    const std::string_view text = line ? line : "";
    // What a client open prints when no server runs (the socket error varies
    // with the state of the server's directory), and the clean-up of the
    // shared memory it never attached.
    for (std::string_view mark : {"Cannot connect to server", "jack server is not running", "Init not done for -1"})
        if (text.find(mark) != std::string_view::npos) return true;
    return false;
}

void onError(const char* line) {
    if (!line || exiting.load(std::memory_order_acquire)) return;
    try {
        if (saysNoServer(line))
            spdlog::debug("jack: {}", line);
        else
            spdlog::error("jack: {}", line);
    } catch (...) {
    }
}

void onInfo(const char* line) {
    if (!line || exiting.load(std::memory_order_acquire)) return;
    try {
        spdlog::info("jack: {}", line);
    } catch (...) {
    }
}

} // namespace

void toLog() noexcept {
    // The logger registry exists before the exit hook is registered, so the
    // hook runs before the registry is destroyed.
    spdlog::default_logger_raw();
    static const bool hooked = std::atexit([] { exiting.store(true, std::memory_order_release); }) == 0;
    (void)hooked;
    jack_set_error_function(&onError);
    jack_set_info_function(&onInfo);
}

} // namespace jackMessages
