#include "radios/rtl/RTLStream.h"

#include "framework/exitGate.h"
#include "framework/threadPriority.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <exception>

namespace {

void logComms(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        spdlog::error("rtl comms  {}", x.what());
    } catch (...) {
        spdlog::error("rtl comms ??");
    }
}

} // namespace

RTLStream::~RTLStream() { stop(); }

void RTLStream::start(RTLSDRLib* lib, rtlsdr_dev_t* device, deliverFunction deliver) {
    stop();
    state_ = std::make_shared<state>();
    state_->lib = lib;
    state_->device = device;
    state_->deliver = std::move(deliver);
    // Held until the thread is stored: a delivery that stops the stream at
    // once must find it there.
    std::lock_guard<std::mutex> lock(state_->m);
    thread_ = std::thread(run, state_);
    exitStop_.set([this, s = state_] {
        s->stopping = true;
        if (!cancelUntilEnded(*s, std::chrono::steady_clock::now() + exitGate::drainLimit)) {
            spdlog::error("rtl read still running at exit");
            return;
        }
        // A reader handed the device over detached itself before it ended;
        // any other is joined here.
        if (!s->handedOver && thread_.joinable()) thread_.join();
    });
    exitGate::rearmAfterFirst("librtlsdr stream"); // after what the driver built for the device's set-up
}

void RTLStream::run(std::shared_ptr<state> s) {
    threadPriority priority(threadPriority::realtime);
    { std::lock_guard<std::mutex> lock(s->m); } // start() has stored the thread
    try {
        if (!s->stopping) {
            int rc = s->lib->rtlsdr_read_async(s->device, callback, s.get(), bufferCount, bufferLength);
            if (rc != 0) spdlog::error("rtl comms  {}", rc);
        }
    } catch (...) {
        logComms(std::current_exception());
    }
    {
        // A device handed over is closed under the lock that every cancel
        // from another thread is sent under (cancelUntilEnded): the exit may
        // still be cancelling, and none reaches the device once it is closed.
        std::lock_guard<std::mutex> lock(s->m);
        if (s->handedOver) {
            s->lib->rtlsdr_close(s->device);
            s->closing.release();
        }
        s->ended = true;
    }
    s->cv.notify_all();
}

void RTLStream::callback(unsigned char* buffer, uint32_t length, void* context) {
    auto* s = static_cast<state*>(context);
    // Buffers already in flight still arrive after a cancel; they are dropped.
    if (s->stopping) return;
    exitGate::pass pass;
    if (!pass) return; // the process is exiting
    bool more = false;
    try {
        more = s->deliver(buffer, length);
    } catch (...) {
        // Nothing may unwind through the library's frames.
        logComms(std::current_exception());
    }
    if (!more) {
        s->stopping = true;
        s->lib->rtlsdr_cancel_async(s->device);
    }
}

bool RTLStream::cancelUntilEnded(state& s, std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> lock(s.m);
    while (!s.ended && std::chrono::steady_clock::now() < until) {
        // Under the lock, so never after the reader closed a device handed
        // over to it. The reader takes the lock only outside the driver's
        // read, and a cancel does not wait for the read.
        s.lib->rtlsdr_cancel_async(s.device);
        // A cancel sent before the read began is lost: send it again.
        s.cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return s.ended; });
    }
    return s.ended;
}

bool RTLStream::stop() {
    // A read the exit cancelled has ended too; the reader itself must not
    // wait for the exit, which waits for it.
    const bool onReader = thread_.get_id() == std::this_thread::get_id();
    const bool stoppedByExit = !exitStop_.clear(!onReader);
    if (!thread_.joinable()) return true;
    state& s = *state_;
    s.stopping = true;
    if (stoppedByExit && !onReader) {
        std::lock_guard<std::mutex> lock(s.m);
        if (!s.ended) {
            // The exit gave up on a read that would not end: nobody waits
            // for it any longer, and the reader closes the device if its
            // read ever returns.
            s.handedOver = true;
            thread_.detach();
            state_.reset();
            return false;
        }
    }
    if (onReader) {
        // Inside deliver: the read returns once this buffer is done. Nobody
        // joins the thread then, so the exit waits for its close.
        s.handedOver = true;
        s.closing = exitGate::hold::take();
        s.lib->rtlsdr_cancel_async(s.device);
        thread_.detach();
        state_.reset();
        return false;
    }
    cancelUntilEnded(s, std::chrono::steady_clock::time_point::max());
    thread_.join();
    state_.reset();
    return true;
}
