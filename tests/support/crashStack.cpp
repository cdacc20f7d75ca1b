// A test that dies of a fault prints the stack of the thread that faulted, so
// that a crash seen once in a CI log can be found without a core: the
// executable's frames as offsets (addr2line -e <test> <offset>), a shared
// library's as its symbol. Not in a sanitizer build, whose own report says
// more and whose handler this would replace.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <initializer_list>

namespace {

void onFault(int sig) {
    // Only async-signal-safe calls: write, and backtrace, whose libgcc is
    // loaded below before any fault.
    char line[] = "\n*** fatal signal 00; the stack:\n";
    constexpr size_t digits = sizeof "\n*** fatal signal " - 1;
    line[digits] = char('0' + sig / 10 % 10);
    line[digits + 1] = char('0' + sig % 10);
    (void)!write(2, line, sizeof line - 1);
    void* frames[64];
    backtrace_symbols_fd(frames, backtrace(frames, 64), 2);
    // Dies of the same signal, as ctest and any waiting parent expect.
    signal(sig, SIG_DFL);
    raise(sig);
}

struct installed {
    installed() {
        void* warm[1];
        backtrace(warm, 1); // loads libgcc now, not in the handler
        // Its own stack: a fault may be a stack overflow.
        static char altStack[64 * 1024];
        stack_t ss{};
        ss.ss_sp = altStack;
        ss.ss_size = sizeof altStack;
        sigaltstack(&ss, nullptr);
        struct sigaction sa{};
        sa.sa_handler = onFault;
        sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
        sigemptyset(&sa.sa_mask);
        for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &sa, nullptr);
    }
} atStart;

} // namespace
#endif
