#pragma once
// RTLStream: the reader thread of an open RTL-SDR device. It runs
// rtlsdr_read_async at real-time priority and hands each filled buffer to
// `deliver` on that thread, until it is stopped, the device reports an error
// ("rtl comms  {}"), or deliver answers false (its radio is gone).
//
// Ending it is the delicate part:
//  - rtlsdr_cancel_async only ends a read that is already running; one sent
//    before the thread reached the read would be lost and the join would wait
//    for ever. stop() therefore repeats the cancel until the thread says it
//    has ended.
//  - The radio's last reference may go on the reader thread itself (deliver
//    holds it while it works). Its destructor then cannot join; stop() hands
//    the device over instead: the thread closes it once the read returns, and
//    is detached; the process's exit waits for that close.
// The state the thread uses lives in a shared block of its own, so it
// outlives the radio in that case.
//
// At process exit a stream still running is cancelled the same way, and the
// exit waits until the read has returned (exitGate::driverStop): librtlsdr's
// own state may go right after. The exit may be cancelling while the reader
// closes a device handed over to it: both happen under the stream's lock. A
// read the exit gave up on (it waits drainLimit) is handed over when its
// owner stops it later, rather than waited for.

#include "framework/exitGate.h"
#include "radios/rtl/RTLSDRLib.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class RTLStream {
public:
    /// One buffer of `length` bytes; false ends the stream.
    using deliverFunction = std::function<bool(unsigned char* buffer, uint32_t length)>;

    static constexpr int bufferCount = 32;
    static constexpr int bufferLength = 32768;

    RTLStream() = default;
    /// Same as stop(); a device handed over is closed by the thread.
    ~RTLStream();
    RTLStream(const RTLStream&) = delete;
    RTLStream& operator=(const RTLStream&) = delete;

    /// Starts the reader on an open device. A previous stream must have been
    /// stopped. The library must provide read_async, cancel_async and close.
    void start(RTLSDRLib* lib, rtlsdr_dev_t* device, deliverFunction deliver);

    /// Ends the stream. Returns true when the thread has ended (or never
    /// ran) and the caller closes the device; false when called on the
    /// reader thread itself, or when the exit gave up on a read that had not
    /// ended: the reader then closes the device on its way out.
    bool stop();

    /// Whether a reader thread exists (running, or ended and not yet joined).
    bool active() const { return thread_.joinable(); }

private:
    struct state {
        RTLSDRLib* lib = nullptr;
        rtlsdr_dev_t* device = nullptr;
        deliverFunction deliver;
        std::atomic<bool> stopping{false};
        bool handedOver = false; // the reader's, or under m once the exit gave up on it (read under m once ended)
        exitGate::hold closing;   // while a handed-over device waits for its close; reader thread only
        std::mutex m;
        std::condition_variable cv;
        bool ended = false; // under m
    };
    static void run(std::shared_ptr<state> s);
    static void callback(unsigned char* buffer, uint32_t length, void* context);
    /// Cancels until the read has returned; false when it had not by
    /// `until`. Any thread but the reader.
    static bool cancelUntilEnded(state& s, std::chrono::steady_clock::time_point until);

    std::shared_ptr<state> state_;
    std::thread thread_;
    exitGate::driverStop exitStop_; // last: cleared before the rest goes
};
