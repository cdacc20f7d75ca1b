#pragma once
// What the library logs, as tests read it.
//
// The library's threads log through spdlog's default logger, and spdlog
// guards neither that logger's place (set_default_logger) nor its list of
// sinks against a thread logging through it at the same moment. A test
// therefore never replaces the logger, nor changes its sinks, once anything
// may log. Instead one tap, a sink that hands every line on to the captures
// open at that moment, goes into the logger once, while nothing logs yet:
//  - before main, into a logger of the tests' own (standard error, so that
//    tests reading standard output never find log lines there), which stays
//    the default for tests that never call the library's init;
//  - after the library's init, which makes the library's logger the default,
//    into that logger: the fixture that calls init calls
//    LogCapture::tapLibrary() right after it, before it makes any object.
// A LogCapture is added to the tap and removed from it under the tap's own
// lock, which every line passing through the tap holds too: a capture may
// open and close while workers log.
#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
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
    /// Captures what the library logs from now on, whichever thread logs it.
    LogCapture() : sink_(std::make_shared<sink>()) {
        if (!tapped()) {
            ADD_FAILURE() << "the default logger has no tap: the library's init was called without "
                             "LogCapture::tapLibrary() right after it";
            tapLibrary();
        }
        // A level set once and read atomically: lines at info and above are
        // what tests read, whatever verbosity the library was started with.
        auto* logger = spdlog::default_logger_raw();
        if (logger->level() > spdlog::level::info) logger->set_level(spdlog::level::info);
        tap()->add_sink(sink_);
    }
    ~LogCapture() { tap()->remove_sink(sink_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// Puts the tap into the default logger, once. Only while nothing logs
    /// through that logger: right after the library's init, before any
    /// object. Under the registry's lock, so that spdlog's periodic flush
    /// never walks the sinks as the tap joins them.
    static void tapLibrary() {
        if (tapped()) return;
        spdlog::logger* logger = spdlog::default_logger_raw();
        spdlog::apply_all([&](const std::shared_ptr<spdlog::logger>& l) {
            if (l.get() == logger) l->sinks().push_back(tap());
        });
        // A default logger dropped from the registry has no periodic flush
        // to meet.
        if (!tapped()) logger->sinks().push_back(tap());
    }

    /// Every line captured so far, as "level|message", e.g.
    /// "error|Can't queue property set".
    std::vector<std::string> lines() { return sink_->snapshot(); }

    size_t count(const std::string& line) {
        auto all = lines();
        return size_t(std::count(all.begin(), all.end(), line));
    }
    bool contains(const std::string& line) { return count(line) > 0; }

private:
    static const std::shared_ptr<spdlog::sinks::dist_sink_mt>& tap() {
        // Never destroyed: a thread may log while the process's statics go.
        static auto* t = new std::shared_ptr<spdlog::sinks::dist_sink_mt>(
            std::make_shared<spdlog::sinks::dist_sink_mt>());
        return *t;
    }
    static bool tapped() {
        auto& sinks = spdlog::default_logger_raw()->sinks();
        return std::find(sinks.begin(), sinks.end(), tap()) != sinks.end();
    }
    /// The tests' own default logger, made before main while no thread
    /// exists that could log.
    static bool tapBeforeMain() {
        static auto* logger = new std::shared_ptr<spdlog::logger>(std::make_shared<spdlog::logger>(
            "tests", spdlog::sinks_init_list{std::make_shared<spdlog::sinks::stderr_sink_mt>(), tap()}));
        (*logger)->set_level(spdlog::level::info);
        spdlog::set_default_logger(*logger);
        return true;
    }
    static inline const bool tappedBeforeMain_ = tapBeforeMain();

    std::shared_ptr<sink> sink_;
};
