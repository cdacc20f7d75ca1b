#include "radios/rtl/RTLTCPRadio.h"

#include "framework/exitGate.h"

#include <spdlog/spdlog.h>

RTLTCPRadio::RTLTCPRadio(std::shared_ptr<syncTask> group) : Radio(std::move(group)) {
    hwReceiver r;
    r.frequency = startFrequency;
    r.sampleRate = sampleRate;
    appendReceiver(r);
    // Its transceivers are set up for the receiver's rate; the host hears
    // that one, and no other is taken.
    SampleRate.set(sampleRate, true);
    acceptSampleRates("RTLTCPRadio", [](int rate) { return rate == sampleRate; }, [] {});
}

RTLTCPRadio::~RTLTCPRadio() {
    running = false;
    if (!driver_.joinable()) return;
    // The thread holds no reference to the radio, so this never runs on it;
    // the check keeps a join on oneself impossible all the same.
    if (driver_.get_id() == std::this_thread::get_id())
        driver_.detach();
    else
        driver_.join();
}

void RTLTCPRadio::commsLoop() {
    exitGate::pass pass;
    if (pass) spdlog::info("extio exit driver thread");
}

void RTLTCPRadio::startRadio() {
    if (running) return;
    bool none;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        none = vtrxList.empty();
    }
    if (none) addVtrx(startFrequency, 0, 0);
    running = true;
    if (driver_.joinable()) driver_.join(); // an ended thread not yet joined
    driver_ = std::thread(commsLoop);
}

void RTLTCPRadio::stopRadio() {
    spdlog::info("extio stopping");
    try {
        running = false;
        if (driver_.joinable()) driver_.join();
    } catch (const std::exception& e) {
        spdlog::error("## stop {}", e.what());
    } catch (...) {
        spdlog::error("## stop ??");
    }
    spdlog::info("extio stopped");
}
