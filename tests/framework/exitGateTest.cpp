// The process's exit against the library's threads. Each case runs in a
// child process that starts the library and ends with exit(), as a host
// does; statics built before init (the `witness` below) are destroyed after
// the library's exit handler, so their destructors see what the exit
// waited for. Status 0 is a pass.
#include "audio/AudioProvider.h"
#include "core/TestRadio.h"
#include "core/vtrx.h"
#include "dsp/fft/fft.h"
#include "dsp/fft/hostFft.h"
#include "framework/asyncObject.h"
#include "framework/criticalErrorDump.h"
#include "framework/exitGate.h"
#include "framework/handOff.h"
#include "framework/library.h"
#include "framework/sothreadPool.h"
#include "framework/syncTask.h"
#include "modes/voice/micEqualiser.h"
#include "radios/soapy/SoapyLib.h"
#include "radios/soapy/SoapyRadio.h"
#include "radios/soapy/soapyOwned.h"

#include "standins/soapy/soapyStandin.h"
#include "standins/standinControl.h"
#include "support/externalTool.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

/// Runs body in a child process, which must end the process itself; returns
/// its exit status.
int inChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        body();
        std::_Exit(99); // body returned
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

std::string logPath(const char* name) {
    std::string p = ::testing::TempDir() + name + "_" + std::to_string(getpid()) + ".log";
    std::remove(p.c_str());
    return p;
}

/// A static of the kind the exit destroys (a driver's state, a transform
/// plan): built before init, so destroyed after the exit handler. Its check
/// runs then, and a failed check ends the process with its status.
struct witness {
    std::function<int()> check;
    ~witness() {
        if (int status = check ? check() : 0) std::_Exit(status);
    }
};
witness& theWitness() {
    static witness w;
    return w;
}
// Built before every other static of the program, so destroyed after all of them.
__attribute__((init_priority(101))) witness lastWitness;

/// An impulse through each transform plan of the library's own.
std::vector<std::complex<float>> transformed() {
    std::vector<std::complex<float>> in(4096), out(5 * 4096);
    in[1] = 1.0f;
    auto* to = out.data();
    for (auto* plan : {&fft::forward1024, &fft::reverse1024, &fft::forward2048, &fft::reverse2048, &fft::forward4096})
        plan->transform(in.data(), std::exchange(to, to + 4096));
    return out;
}

/// What a voice transmit chain reads of the microphone equaliser: the
/// version, and the curve (the last one it could carry, as the source's is
/// refused).
std::pair<uint32_t, std::vector<float>> equalised() {
    const buff<float> c = micEqualiser::curve();
    return {micEqualiser::version(), std::vector<float>(c.begin(), c.end())};
}

/// The window every transceiver's spectrum turn reads.
std::vector<float> spectrumWindow() { return {vtrx::bsSpecWindow.begin(), vtrx::bsSpecWindow.end()}; }

seqTask task(const char* name, std::function<void()> body) {
    seqTask t;
    auto shared = std::make_shared<std::function<void()>>(std::move(body));
    t.fn = [shared] { (*shared)(); };
    t.name = name;
    return t;
}

using namespace std::chrono_literals;

} // namespace

TEST(ExitGate, ExitWaitsForATurnInProgressAndForAHandedOffJob) {
    EXPECT_EQ(inChild([] {
                  static std::atomic<bool> turnDone{false}, jobDone{false};
                  theWitness().check = [] { return turnDone.load() ? (jobDone.load() ? 0 : 6) : 5; };
                  vireo::init(logPath("vireo_exitgate_wait").c_str(), 0);
                  auto obj = std::make_shared<asyncObject>(globalTaskGroup);
                  std::atomic<bool> started{false};
                  obj->asyncProcess(task("test.slowTurn", [&started] {
                      started = true;
                      std::this_thread::sleep_for(300ms);
                      turnDone = true;
                  }));
                  if (!waitFor([&] { return started.load(); })) std::_Exit(3);
                  handOff("test", [] {
                      std::this_thread::sleep_for(300ms);
                      jobDone = true;
                  });
                  std::exit(0);
              }),
              0);
}

TEST(ExitGate, NoWorkStartsOnceTheExitBegan) {
    EXPECT_EQ(inChild([] {
                  static std::atomic<bool> ran{false};
                  static std::shared_ptr<asyncObject> obj;
                  theWitness().check = [] {
                      if (!exitGate::closed()) return 5;
                      if (exitGate::pass()) return 6; // refused outside library work
                      obj->asyncProcess(task("test.late", [] { ran = true; }));
                      // A host thread's transform, like every export, does nothing.
                      buff<std::complex<float>> in(64, {1.0f, 0.0f}), out(64, {0.0f, 0.0f});
                      hostFft::fwd(&in, &out);
                      if (out[0] != std::complex<float>(0.0f, 0.0f)) return 8;
                      std::this_thread::sleep_for(200ms);
                      return ran.load() ? 7 : 0;
                  };
                  vireo::init(logPath("vireo_exitgate_late").c_str(), 0);
                  obj = std::make_shared<asyncObject>(globalTaskGroup);
                  std::exit(0);
              }),
              0);
}

TEST(ExitGate, ExitFromInsideATurnDoesNotWaitForItself) {
    const std::string log = logPath("vireo_exitgate_inside");
    EXPECT_EQ(inChild([&log] {
                  vireo::init(log.c_str(), 0);
                  auto obj = std::make_shared<asyncObject>(globalTaskGroup);
                  obj->asyncProcess(task("test.exit", [] { std::exit(0); }));
                  std::this_thread::sleep_for(60s);
                  std::_Exit(3);
              }),
              0);
    EXPECT_EQ(tool::readFile(log).find("still running"), std::string::npos) << tool::readFile(log);
}

TEST(ExitGate, AStreamLoopRefusedAtTheGateStillEndsWhenItsRadioIsStopped) {
    // A turn already running when the exit begins stops a loop-back radio,
    // which joins the radio's worker: refused at the gate, the worker must
    // still end when asked, or the exit waits for the turn until its limit.
    const std::string log = logPath("vireo_exitgate_stop");
    EXPECT_EQ(inChild([&log] {
                  vireo::init(log.c_str(), 0);
                  auto radio = std::make_shared<TestRadio>(globalTaskGroup);
                  std::atomic<bool> turning{false};
                  radio->asyncProcess(task("test.start", [radio] { radio->startRadio(); }));
                  radio->asyncProcess(task("test.stopAtExit", [radio, &turning] {
                      turning = true;
                      while (!exitGate::closed()) std::this_thread::sleep_for(1ms);
                      std::this_thread::sleep_for(30ms); // the worker meets the closed gate
                      radio->stopRadio();
                  }));
                  if (!waitFor([&] { return turning.load(); })) std::_Exit(3);
                  std::exit(0);
              }),
              0);
    EXPECT_EQ(tool::readFile(log).find("still running"), std::string::npos) << tool::readFile(log);
}

TEST(ExitGate, SoundJobsPostedWhileTheSoundWorkerClosesKeepNoExitWaiting) {
    // Hosts' threads keep opening and closing the "None" device while the
    // sound side closes: every job either runs or is refused, so none keeps
    // its hold, and the exit does not wait for one.
    const std::string log = logPath("vireo_exitgate_sound");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(inChild([&log] {
                  setenv("JACK_DEFAULT_SERVER", "vireo-exitgate-none", 1); // no sound server
                  vireo::init(log.c_str(), 0);
                  AudioProvider* ap = AudioProvider::getInstance();
                  AudioProducer producer;
                  std::atomic<bool> go{true};
                  std::vector<std::thread> posters;
                  for (int k = 0; k < 4; ++k)
                      posters.emplace_back([&] {
                          while (go) {
                              ap->OpenOutput(0, &producer);
                              ap->CloseOutput(0);
                          }
                      });
                  std::this_thread::sleep_for(20ms);
                  ap->Close();
                  go = false;
                  for (auto& t : posters) t.join();
                  std::exit(0);
              }),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, exitGate::drainLimit);
    EXPECT_EQ(tool::readFile(log).find("still running"), std::string::npos) << tool::readFile(log);
}

// ThreadSanitizer rightly sees the stand-in's statics go under the stop that never returns.
#ifndef __SANITIZE_THREAD__
TEST(ExitGate, WhatTheExitGaveUpOnFindsWhatItUsesAndEndsNothing) {
    // A radio whose device hung in its stop goes after the exit; the transform plans, the microphone
    // equaliser, the spectrum window, the global task group and the crash-dump file outlive every static.
    SoapyLib& lib = SoapyLib::getInstance();
    if (lib.LoadApi(); !lib.handle()) VIREO_SKIP_OR_FAIL("the SoapySDR library is missing (libsoapysdr0.8)");
    const std::string log = logPath("vireo_exitgate_gaveup");
    EXPECT_EQ(inChild([&log, &lib] {
                  namespace sdr = standin::soapy;
                  static std::shared_ptr<SoapyRadio> radio;
                  theWitness().check = [] { // the radio goes, with what the host never fetched
                      for (asTask t; globalPool->updateQueue.pop(t) || globalPool->renderQueue.pop(t);) {}
                      return std::exchange(radio, nullptr).use_count() == 1 ? 0 : 7;
                  };
                  mallopt(M_PERTURB, 165); // what a static freed held is gone at once
                  // The equaliser's last curve, then a source whose curve it refuses.
                  micEqualiser::replaceSource({[] { return 7u; }, [] { return buff<float>(1024, 2.0f); }});
                  micEqualiser::curve();
                  micEqualiser::replaceSource({[] { return 7u; }, [] { return buff<float>(1024, 1e9f); }});
                  lastWitness.check = [log, first = transformed(), eq = equalised(), window = spectrumWindow()] {
                      if (transformed() != first) return 5;
                      if (equalised() != eq || eq.second.front() != 2.0f) return 8;
                      // Storage of the window's size handed out now would be
                      // the window's own, had it been freed.
                      const buff<float> reused(vtrx::bsSpecWindow.count, -1.0f);
                      if (spectrumWindow() != window) return 11;
                      if (!globalTaskGroup || &globalTaskGroup->pool() != globalPool) return 10; // a late create's
                      // A turn's unexpected exception still finds the crash-dump file.
                      criticalErrorDump::logException("late", "turn");
                      return tool::readFile(log + ".dump.txt") == "late turn" ? 0 : 9;
                  };
                  vireo::init(log.c_str(), 0);
                  soapyOwnedText loaded(lib, lib.loadModule((VIREO_SOAPY_STANDIN_DIR "/" + std::string(sdr::module)).c_str()));
                  sdr::Device d;
                  d.find = {{"label", "L1"}, {"serial", "S1"}};
                  d.rateRanges = {{192000, 192000}};
                  standin::control<sdr::setDevicesFn>(sdr::module, "standin_soapy_setDevices")({d});
                  radio = std::make_shared<SoapyRadio>(globalTaskGroup);
                  radio->asyncProcess(task("test.start", [] {
                      radio->driver.set("vctest");
                      radio->label.set("L1");
                      radio->startRadio();
                  }));
                  long reads = 0, unused = 0;
                  auto counts = standin::control<sdr::countsFn>(sdr::module, "standin_soapy_counts");
                  if (!waitFor([&] { return counts(&reads, &unused, &unused), reads > 2; })) std::_Exit(3);
                  // No block holds the radio from now on; the device hangs when stopped.
                  standin::control<sdr::unplugFn>(sdr::module, "standin_soapy_unplug")(true);
                  standin::control<sdr::stallFn>(sdr::module, "standin_soapy_stall")("deactivateStream", 60000);
                  // A read that began after the unplug fails, and the stream
                  // thread reads one block at a time: the block before it is
                  // delivered. What that handed the radio has run once the
                  // radio's own queue has come to a task queued after it.
                  counts(&reads, &unused, &unused);
                  const long unpluggedAt = reads;
                  if (!waitFor([&] { return counts(&reads, &unused, &unused), reads > unpluggedAt; })) std::_Exit(4);
                  static std::atomic<bool> drained{false};
                  radio->asyncProcess(task("test.drained", [] { drained = true; }));
                  if (!waitFor([] { return drained.load(); })) std::_Exit(4);
                  std::exit(0);
              }),
              0);
    EXPECT_NE(tool::readFile(log).find("soapy stream thread still running at exit"), std::string::npos);
}
#endif
