#include "framework/ASIORunner.h"

#include "framework/threadPriority.h"

#include <spdlog/spdlog.h>

ASIORunner& ASIORunner::getInstance() {
    static ASIORunner instance;
    return instance;
}

ASIORunner::ASIORunner() {
    // Handlers log until the thread is joined at exit. Building the logger
    // registry before this instance is complete makes it outlive the thread.
    (void)spdlog::default_logger_raw();
    work_.emplace(boost::asio::make_work_guard(ctx_));
    thread_ = std::thread([this] { worker(); });
}

ASIORunner::~ASIORunner() {
    ctx_.stop();
    if (thread_.joinable()) thread_.join();
    work_.reset();
}

void ASIORunner::worker() {
    threadPriority prio(threadPriority::realtime);
    // A throwing handler unwinds out of run(); log it and go on serving the
    // other sockets instead of ending the only I/O thread.
    for (;;) {
        try {
            ctx_.run();
            return; // stopped
        } catch (const std::exception& e) {
            spdlog::error("asio handler {}", e.what());
        } catch (...) {
            spdlog::error("asio handler");
        }
    }
}
