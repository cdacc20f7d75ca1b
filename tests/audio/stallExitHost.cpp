// vireo_stall_exit_host: a host that plays, listens and keys its
// transmitter on a JACK server, sees that server stop (SIGSTOP, as a hung
// sound server) and ends as hosts do, returning from main with everything
// open. Its steps, in milliseconds into the stall (-1: not taken):
//
//   vireo_stall_exit_host <log> <jackd pid> stall|control <switch> <devices> <close> <return>
//                         none|cont|kill <goes on> <other> <dies> <midi> <stops>
//
//   stall|control  the server is stopped (the steps count from when all its
//                  threads have), or (the control) left running
//   switch         devices switched to another program on the server, named
//                  <other>, with a port each way; "<at>+<every>x<count>":
//                  <count> switches, <every> ms apart, to the other program
//                  and back to the first device in turn
//   devices        which, in that order: "in,out", "out,in" or "in" (the
//                  microphone, the speaker)
//   close          closeAudio; "<at>:root": the root's Wireless_Close instead
//   return         main returns; taken after a switch or close due by then
//   none|cont|kill what becomes of the server while the process ends, after
//                  the library's exit handler: nothing, it goes on, or it dies
//   goes on        milliseconds after main returned, while the library's exit
//                  handler may still run: the server goes on (-1: not then)
//   dies           the host kills the server (SIGKILL), as a sound server
//                  that crashes
//   midi           the host switches MIDI on
//   stops          the host stops the server (SIGSTOP), as a sound server
//                  that hangs; "<at>+<for>": and lets it go on <for> ms later
//
// The host acts on the server (dies, stops) from a thread of its own, at its
// moment whatever the host's thread is doing then: a close holds that. Their
// moments may also be counted from the start of PortAudio's termination,
// which the sound worker's trace "pa term" marks: "term+<at>".
//
// Prints "returned <ns>" (the steady clock) as main returns, "threads <n>
// <m>" for its threads once its streams called back and as main returns, and
// "fate <ns>" for the time its own ending took over the server's fate. Exit
// status 0 when the process ended cleanly; a sanitizer or an abort says
// otherwise.
//
// Built from the library's objects: through them the host waits until its
// streams call back before the server is stopped, and finds the other
// program's place in the device lists.
#include "vireocore.h"

#include "audio/AudioProvider.h"
#include "audio/AudioStreams.h"
#include "audio/Wireless.h"
#include "core/vtrx.h"
#include "framework/exportPattern.h"
#include "support/hostHarness.h"

#include <execinfo.h>
#include <signal.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// The host holds its handles to the very end: in storage that is never
// destroyed, so that the leak checker sees them held, not lost.
std::vector<void*>& handles = *new std::vector<void*>;
std::atomic<void*> transceiver{nullptr};
pid_t server = 0;
int fate = 0; // the signal the server gets as the process ends; 0: none

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void pollBoth() {
    getUpdates();
    getRenderUpdates();
}
/// Polls the library until done() holds; false after a minute.
bool pollUntil(const std::function<bool()>& done) { return host::pollUntil(pollBoth, done, std::chrono::minutes(1)); }

/// Registered before init, so it runs after the library's exit handler: the
/// server goes on or dies while the process ends, and the host lingers a
/// moment, as one with more to tear down would, so that a sound worker that
/// the server held finds the process ending.
void serverFate() {
    if (fate == 0) return;
    const int64_t from = steadyNs();
    kill(server, fate);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::printf("fate %lld\n", (long long)(steadyNs() - from));
    std::fflush(stdout);
}

void onAudio(void* a) { floatArray_delete(a); }

/// A signal that ends the process says so, and where it came, on standard
/// error: a crash of a plain build is otherwise silent, and its log, flushed
/// every two seconds, empty.
void reportFatal(int sig) {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "stall host: signal %d\n", sig);
    if (n > 0 && write(STDERR_FILENO, line, size_t(n)) < 0) {
    }
    void* frames[64];
    backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
    signal(sig, SIG_DFL);
    raise(sig);
}

void reportFatalSignals() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return; // the sanitizer reports them, and better
#endif
    // backtrace loads its unwinder on first use: not inside the handler.
    void* first[1];
    backtrace(first, 1);
    // Every signal whose default ends the process, but the one no handler
    // sees (SIGKILL: the table then shows how long the host ran).
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGPIPE, SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGALRM,
                    SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGSYS, SIGVTALRM, SIGPROF})
        signal(sig, reportFatal);
}

/// The moment the sound worker traced "pa term", the start of PortAudio's
/// termination (the ask of the server right before it included), on the
/// steady clock; 0 until then. The host's standard output passes through
/// watchTermination's stream on its way out.
std::atomic<int64_t> terminationBegan{0};

ssize_t passOn(void*, const char* text, size_t size) {
    if (terminationBegan.load() == 0 && std::string_view(text, size).find("pa term\r\n") != std::string_view::npos)
        terminationBegan.store(steadyNs());
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(STDOUT_FILENO, text + done, size - done);
        if (n <= 0) return ssize_t(done);
        done += size_t(n);
    }
    return ssize_t(size);
}

/// Standard output through passOn, as the library's traces come: without a
/// buffer, which the threads that print would share.
void watchTermination() {
    cookie_io_functions_t io{};
    io.write = passOn;
    if (FILE* through = fopencookie(nullptr, "w", io)) {
        setvbuf(through, nullptr, _IONBF, 0);
        stdout = through;
    }
}

/// What the host does to the server, and when: "<ms>" into its timeline, or
/// "term+<ms>" after the termination began. The signals go in the order of
/// their moments, those after the termination last, from a thread of their
/// own, and none is sent once main is returning.
class serverActs {
public:
    /// The moment of `at`, from its start; negative: none.
    static long ms(const char* at) { return std::atol(std::strncmp(at, "term+", 5) == 0 ? at + 5 : at); }
    void add(const char* at, long ms, int signal) {
        if (ms >= 0) acts_.push_back({std::strncmp(at, "term+", 5) == 0, ms, signal});
    }
    void start(std::chrono::steady_clock::time_point from) {
        std::sort(acts_.begin(), acts_.end(), [](const act& a, const act& b) {
            return std::tie(a.afterTermination, a.ms) < std::tie(b.afterTermination, b.ms);
        });
        thread_ = std::jthread([this, from](std::stop_token stop) {
            for (const act& a : acts_) {
                while (a.afterTermination && terminationBegan.load() == 0 && !stop.stop_requested())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const std::chrono::nanoseconds began(terminationBegan.load());
                const auto base = a.afterTermination ? std::chrono::steady_clock::time_point(began) : from;
                std::mutex m;
                std::condition_variable_any wake;
                std::unique_lock<std::mutex> l(m);
                wake.wait_until(l, stop, base + std::chrono::milliseconds(a.ms), [] { return false; });
                if (stop.stop_requested()) return;
                kill(server, a.signal);
            }
        });
    }
    /// Main is returning: nothing more is sent.
    void stop() {
        thread_.request_stop();
        if (thread_.joinable()) thread_.join();
    }

private:
    struct act {
        bool afterTermination;
        long ms;
        int signal;
    };
    std::vector<act> acts_;
    std::jthread thread_;
};

size_t threads() {
    size_t n = 0;
    std::error_code failed;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", failed);
         !failed && it != std::filesystem::directory_iterator(); it.increment(failed))
        ++n;
    return n;
}

/// Whether every thread of the server has stopped. The stop is signalled at
/// once, but each thread takes it only as it next runs, which on a loaded
/// machine takes milliseconds: the stall begins once all have.
bool serverStopped() {
    std::error_code failed;
    int threads = 0;
    for (const auto& t : std::filesystem::directory_iterator("/proc/" + std::to_string(server) + "/task", failed)) {
        std::string stat;
        std::getline(std::ifstream(t.path() / "stat"), stat);
        const size_t name = stat.rfind(')'); // the state follows the name
        if (name == std::string::npos || stat.compare(name + 2, 1, "T") != 0) return false;
        ++threads;
    }
    return !failed && threads > 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 14) {
        std::fprintf(stderr,
                     "usage: %s <log> <jackd pid> stall|control <switch> <devices> <close> <return> "
                     "none|cont|kill <goes on> <other> <dies> <midi> <stops>\n",
                     argv[0]);
        return 2;
    }
    const std::string other = argv[10];
    std::vector<std::string> devices;
    for (std::string rest = argv[5];;) {
        const size_t comma = rest.find(',');
        devices.push_back(rest.substr(0, comma));
        if (devices.back() != "in" && devices.back() != "out") return 2;
        if (comma == std::string::npos) break;
        rest.erase(0, comma + 1);
    }
    server = pid_t(std::atoi(argv[2]));
    const bool stall = std::strcmp(argv[3], "stall") == 0;
    const long switchAt = std::atol(argv[4]), closeAt = std::atol(argv[6]), returnAt = std::atol(argv[7]);
    long switchEvery = 0, switches = 1;
    if (const char* more = std::strchr(argv[4], '+')) {
        char* x = nullptr;
        switchEvery = std::strtol(more + 1, &x, 10);
        if (!x || *x != 'x' || switchEvery <= 0) return 2;
        switches = std::atol(x + 1);
    }
    const bool closesRoot = std::strstr(argv[6], ":root") != nullptr;
    const long midiAt = std::atol(argv[12]), stopsAt = serverActs::ms(argv[13]);
    serverActs acts;
    acts.add(argv[11], serverActs::ms(argv[11]), SIGKILL);
    acts.add(argv[13], stopsAt, SIGSTOP);
    if (const char* goesOn = std::strchr(argv[13] + (std::strncmp(argv[13], "term+", 5) == 0 ? 5 : 0), '+');
        goesOn && stopsAt >= 0)
        acts.add(argv[13], stopsAt + std::atol(goesOn + 1), SIGCONT);
    fate = std::strcmp(argv[8], "cont") == 0 ? SIGCONT : std::strcmp(argv[8], "kill") == 0 ? SIGKILL : 0;
    const long goesOnAt = std::atol(argv[9]);
    std::atexit(serverFate);
    reportFatalSignals();
    watchTermination();

    init(argv[1], 1);
    // Each line as it comes: a host that dies shows how far it got.
    spdlog::default_logger()->flush_on(spdlog::level::info);
    handles.push_back(Wireless_create());
    // As hosts start: it also hooks the MIDI switch.
    Wireless_Init(handles.front(), std::filesystem::path(argv[1]).parent_path().c_str());
    void* radio = TestRadio_create();
    handles.push_back(radio);
    Radio_bindvtrxAdded(radio, [](void* v, long long, int, int) { transceiver = v; });
    Radio_start(radio); // a transceiver on the default devices
    if (!pollUntil([] { return transceiver.load() != nullptr; })) return 3;
    void* v = transceiver.load();
    void* voice = ssbModDemod_create();
    handles.push_back(voice);
    vtrx_setModulation(v, voice);
    vtrx_bindnewAudio(v, onAudio);
    vtrx_start(v);
    vtrx_setptt(v, true); // its transmit chain reads the microphone
    // The other program's place in the device lists.
    auto* sound = AudioProvider::getInstance();
    int otherInput = 0, otherOutput = 0;
    for (const auto& d : sound->inputs)
        if (d->name == other) otherInput = int(d->index);
    for (const auto& d : sound->outputs)
        if (d->name == other) otherOutput = int(d->index);
    if (switchAt >= 0 && (otherInput == 0 || otherOutput == 0)) {
        std::fprintf(stderr, "stall host: %s is not listed as a sound device\n", other.c_str());
        return 3;
    }
    auto t = vireo::api::target<vtrx>(v, "stall host");
    auto input = Wireless::getInstance()->inputDevice(1);
    if (!t || !input) return 3;
    if (!pollUntil([&] { return t->outputStream.io->readerStamp() != 0 && input->ringStamp() != 0; })) {
        std::fprintf(stderr, "stall host: the streams never called back\n");
        return 3;
    }
    const size_t threadsWithSound = threads();

    if (stall && (kill(server, SIGSTOP) != 0 || !pollUntil(serverStopped))) return 4;
    const auto stoppedAt = std::chrono::steady_clock::now();
    acts.start(stoppedAt);
    auto at = [&](long ms) {
        return ms >= 0 && std::chrono::steady_clock::now() >= stoppedAt + std::chrono::milliseconds(ms);
    };
    long switched = switchAt < 0 ? switches : 0;
    bool closed = closeAt < 0, midi = midiAt < 0;
    for (;;) {
        // Each step due by now, in the order they are listed.
        while (switched < switches && at(switchAt + switched * switchEvery)) {
            const bool toOther = switched++ % 2 == 0;
            for (const std::string& d : devices) {
                if (d == "in")
                    vtrx_setaudioInput(v, toOther ? otherInput : 1);
                else
                    vtrx_setaudioOutput(v, toOther ? otherOutput : 1);
            }
        }
        if (!midi && at(midiAt)) {
            midi = true;
            Wireless_setMidiEnabled(handles.front(), true);
        }
        if (!closed && at(closeAt)) {
            closed = true;
            if (closesRoot)
                Wireless_Close(handles.front());
            else
                closeAudio();
        }
        if (at(returnAt)) break;
        getUpdates();
        getRenderUpdates();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    acts.stop();
    std::printf("threads %zu %zu\n", threadsWithSound, threads());
    std::printf("returned %lld\n", (long long)steadyNs());
    std::fflush(stdout);
    // A thread of the host's own, which the exit neither knows nor waits for.
    if (goesOnAt >= 0)
        std::thread([goesOnAt] {
            std::this_thread::sleep_for(std::chrono::milliseconds(goesOnAt));
            kill(server, SIGCONT);
        }).detach();
    return 0; // everything still open
}
