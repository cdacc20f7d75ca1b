#pragma once
// StdoutCapture: reads what the process writes to standard output (file
// descriptor 1) while it lives, from any thread, through C stdio or
// std::cout, for modes whose only output is a trace there.
//
//   StdoutCapture out;          // from here on, descriptor 1 is a pipe
//   ... run the code under test ...
//   std::string text = out.stop(); // restores descriptor 1; all text written
//
// A reader thread drains the pipe as it fills, so a writer never blocks on a
// full pipe however much it writes. stop() flushes C stdio and std::cout
// first, so text buffered by the process is included; text written after
// stop() goes to the real standard output again. The destructor stops a
// capture still running. Only one capture at a time per process: descriptor
// 1 is process-wide (gtest's own output printed meanwhile is captured too).
// StderrCapture (below) does the same for standard error, descriptor 2.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

class StdoutCapture {
public:
    /// fd: the descriptor to capture.
    explicit StdoutCapture(int fd = STDOUT_FILENO) : fd_(fd) {
        flushAll();
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("StdoutCapture: pipe failed");
        saved_ = dup(fd_);
        if (saved_ < 0 || dup2(fds[1], fd_) < 0) {
            close(fds[0]);
            close(fds[1]);
            if (saved_ >= 0) close(saved_);
            throw std::runtime_error("StdoutCapture: dup2 failed");
        }
        close(fds[1]); // the descriptor is now the only write end
        reader_ = std::thread([this, fd = fds[0]] {
            char chunk[4096];
            for (;;) {
                const ssize_t n = read(fd, chunk, sizeof chunk);
                if (n <= 0) break; // end of file once the descriptor is restored
                text_.append(chunk, size_t(n));
            }
            close(fd);
        });
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { stop(); }

    /// Ends the capture and returns everything written since it began.
    std::string stop() {
        if (saved_ < 0) return text_;
        flushAll();
        dup2(saved_, fd_); // closes the pipe's write end: the reader sees its end
        close(saved_);
        saved_ = -1;
        reader_.join(); // the join makes text_ visible here
        return text_;
    }

private:
    static void flushAll() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(stdout);
        std::fflush(stderr);
    }

    int fd_;
    int saved_ = -1;
    std::thread reader_;
    std::string text_;
};

/// Standard error: what a library must not print to a host's terminal.
class StderrCapture : public StdoutCapture {
public:
    StderrCapture() : StdoutCapture(STDERR_FILENO) {}
};
