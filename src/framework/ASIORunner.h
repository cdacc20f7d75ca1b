#pragma once
// The process-wide asio I/O context and the one thread that runs it: every
// socket completion handler of the library runs there, one at a time.
// Handlers must not block; they hand results to objects as data tasks.
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <optional>
#include <thread>

class ASIORunner {
public:
    /// Built on the first call and never destroyed; its thread is stopped
    /// and joined at process exit.
    static ASIORunner& getInstance();

    boost::asio::io_context& context() { return ctx_; }

    ~ASIORunner();

private:
    ASIORunner();
    /// Stops the context and joins the thread (unless called on it).
    void stop();
    void worker();

    boost::asio::io_context ctx_;
    std::thread thread_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
};
