#pragma once
// Captures what the library logs, for tests that check exact log lines.
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class LogCapture {
    struct sink : spdlog::sinks::base_sink<std::mutex> {
        std::vector<std::string> lines;
        void sink_it_(const spdlog::details::log_msg& msg) override {
            lines.push_back(std::string(spdlog::level::to_string_view(msg.level).data()) + "|" +
                            std::string(msg.payload.data(), msg.payload.size()));
        }
        void flush_() override {}
        std::vector<std::string> snapshot() {
            std::lock_guard<std::mutex> lock(mutex_);
            return lines;
        }
    };

public:
    LogCapture() {
        sink_ = std::make_shared<sink>();
        previous_ = spdlog::default_logger();
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(spdlog::level::info);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }

    /// Every captured line as "level|message", e.g. "error|Can't queue property set".
    std::vector<std::string> lines() { return sink_->snapshot(); }

    size_t count(const std::string& line) {
        auto all = lines();
        return size_t(std::count(all.begin(), all.end(), line));
    }
    bool contains(const std::string& line) { return count(line) > 0; }

private:
    std::shared_ptr<sink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

/// The log from the point where the window opened, read from one capture
/// that is installed once and stays for the rest of the process. For tests
/// whose objects may still log from other threads as the test ends: spdlog
/// does not guard the default logger against being replaced while another
/// thread logs through it, so a LogCapture that goes away under a busy
/// worker is a race. Installing is such a replacement too: a fixture whose
/// objects run before its test opens a window installs it right after the
/// library's init (which sets a logger of its own), before any object.
class LogWindow {
public:
    LogWindow() : from_(shared().lines().size()) {}

    static void install() { (void)shared(); }

    std::vector<std::string> lines() {
        auto all = shared().lines();
        return std::vector<std::string>(all.begin() + std::ptrdiff_t(std::min(from_, all.size())), all.end());
    }
    size_t count(const std::string& line) {
        auto all = lines();
        return size_t(std::count(all.begin(), all.end(), line));
    }
    bool contains(const std::string& line) { return count(line) > 0; }

private:
    static LogCapture& shared() {
        static LogCapture* capture = new LogCapture; // never removed, see above
        return *capture;
    }
    size_t from_;
};
