#include "framework/library.h"

#include "audio/AudioProvider.h"
#include "dsp/lowLatFir.h"
#include "framework/criticalErrorDump.h"
#include "framework/exitGate.h"
#include "framework/immortal.h"
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

sothreadPool* globalPool = nullptr;
std::shared_ptr<syncTask>& globalTaskGroup = immortal<std::shared_ptr<syncTask>>();

namespace vireo {
namespace {

std::atomic<bool> initCalled{false};
// Held for the whole of init: a second host thread calling at the same time
// waits for the first to finish (and finds it done) instead of logging
// through a logger that is being replaced under it.
std::mutex initMutex;

void reportInitFailure(const char* what, const char* detail) noexcept {
    std::fprintf(stderr, "vireocore init: %s: %s\n", what, detail);
    try {
        spdlog::error("init: {}: {}", what, detail);
    } catch (...) {
    }
}

void startLogger(const std::string& path) {
    std::shared_ptr<spdlog::logger> logger;
    try {
        logger = spdlog::basic_logger_mt("vc", path, false); // append, never truncate
    } catch (const std::exception& e) {
        // Keep the library usable: log to standard error instead.
        std::fprintf(stderr, "vireocore init: cannot open log file %s: %s\n", path.c_str(), e.what());
        spdlog::drop("vc");
        logger = spdlog::stderr_logger_mt("vc");
    }
    logger->flush_on(spdlog::level::err);
    spdlog::flush_every(std::chrono::seconds(2));
    spdlog::set_default_logger(logger);
    // Never let go: a thread the exit's drain gave up on may still log while
    // spdlog's own statics go.
    static auto& kept = immortal<std::shared_ptr<spdlog::logger>>();
    kept = logger;
}

template <class Queue>
void drain(Queue& queue, const char* where) noexcept {
    asTask task;
    while (queue.pop(task)) {
        try {
            if (!task.told.stale()) task.fn();
        } catch (const std::exception& e) {
            try {
                spdlog::error("{} {}", where, e.what());
            } catch (...) {
            }
        } catch (...) {
            try {
                spdlog::error("{}", where);
            } catch (...) {
            }
        }
    }
    // The last task's callable and keep-alive go when `task` does.
}

} // namespace

void init(const char* logPath, int verbose) noexcept {
    exitGate::watchThisThread();
    std::lock_guard<std::mutex> lock(initMutex);
    if (initCalled.exchange(true)) {
        reportInitFailure("called more than once", "ignored");
        return;
    }
    std::string path = logPath ? logPath : "";
    try {
        criticalErrorDump::init(path + ".dump.txt");
        startLogger(path);
        spdlog::set_level(verbose == 1 ? spdlog::level::info : spdlog::level::err);
    } catch (const std::exception& e) {
        reportInitFailure("logger", e.what());
    } catch (...) {
        reportInitFailure("logger", "unknown error");
    }
    try {
        auto* pool = new sothreadPool();
        globalTaskGroup = std::make_shared<syncTask>(*pool);
        globalPool = pool;
    } catch (const std::exception& e) {
        reportInitFailure("scheduler", e.what());
        return;
    } catch (...) {
        reportInitFailure("scheduler", "unknown error");
        return;
    }
    try {
        lowLatFir::BuildFilterCache();
    } catch (const std::exception& e) {
        reportInitFailure("filter cache", e.what());
    } catch (...) {
        reportInitFailure("filter cache", "unknown error");
    }
    // Last: the exit handler then runs before the logger, the filter cache
    // and everything else built so far is destroyed.
    exitGate::arm();
}

// A host thread polling while another thread ends the process finishes its
// round before the statics go, and finds nothing afterwards.
void getUpdates() noexcept {
    exitGate::watchThisThread();
    exitGate::pass pass;
    if (pass && globalPool) drain(globalPool->updateQueue, "getUpdates");
}

void getRenderUpdates() noexcept {
    exitGate::watchThisThread();
    exitGate::pass pass;
    if (pass && globalPool) drain(globalPool->renderQueue, "getRenderUpdates");
}

void closeAudio() noexcept {
    if (!initCalled.load()) return; // nothing was started
    try {
        AudioProvider::getInstance()->Close();
    } catch (const std::exception& e) {
        try {
            spdlog::error("closeAudio {}", e.what());
        } catch (...) {
        }
    } catch (...) {
    }
}

} // namespace vireo
