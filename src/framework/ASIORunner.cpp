#include "framework/ASIORunner.h"

#include "framework/threadPriority.h"

#include <spdlog/spdlog.h>

#include <cstdlib>

ASIORunner& ASIORunner::getInstance() {
    // Never destroyed: pool workers reach the context (a socket's send) until
    // the process's exit stops them, after the destructor of a static built
    // this late would have run. Only the thread is stopped at exit.
    static auto& instance = *new ASIORunner;
    return instance;
}

ASIORunner::ASIORunner() {
    // Handlers log until the thread is stopped at exit. Building the logger
    // registry first makes it outlive the thread.
    (void)spdlog::default_logger_raw();
    work_.emplace(boost::asio::make_work_guard(ctx_));
    thread_ = std::thread([this] { worker(); });
    // Whether before or after the library's other threads stop (see
    // exitGate.h): a send queued on the stopped context is never run.
    std::atexit([] { getInstance().stop(); });
}

ASIORunner::~ASIORunner() { stop(); }

void ASIORunner::stop() {
    // Handlers run to their end first; the context itself stays, so a late
    // send from anywhere only queues.
    ctx_.stop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
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
