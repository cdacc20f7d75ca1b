#pragma once
// handOff: a job that cannot run on the thread that has it, run on a
// detached thread of its own, with the process's exit waiting for it.
//
// The case is a driver's thread that drops the last reference to its radio
// inside a transfer: the radio's destructor must stop and close the device,
// and the driver's stop waits for that very thread. The job goes to a new
// thread; nobody joins it, so it carries an exitGate hold until it is done,
// and what it captured (a driver's handle, the link the driver calls back
// through) is released before the hold.
#include "framework/exitGate.h"

#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace handOffDetail {
void notStarted(const char* what, const std::exception* e) noexcept;
void failed(const char* what, const std::exception* e) noexcept;
} // namespace handOffDetail

/// Runs job() on a new detached thread. False when the process is exiting,
/// or (logged, prefixed with `what`, a static text) when no thread could be
/// started; the job then never runs. Anything the job throws is logged.
/// Any thread.
template <class Job>
bool handOff(const char* what, Job job) noexcept {
    exitGate::hold h = exitGate::hold::take();
    // Refused only to a caller outside library work once the exit began,
    // where even the logger may be gone: the process ending releases what
    // the job would have.
    if (!h) return false;
    try {
        std::thread([what, job = std::optional<Job>(std::move(job)), h = std::move(h)]() mutable {
            try {
                (*job)();
            } catch (const std::exception& e) {
                handOffDetail::failed(what, &e);
            } catch (...) {
                handOffDetail::failed(what, nullptr);
            }
            job.reset();
            h.release();
        }).detach();
        return true;
    } catch (const std::exception& e) {
        handOffDetail::notStarted(what, &e);
    } catch (...) {
        handOffDetail::notStarted(what, nullptr);
    }
    return false;
}
