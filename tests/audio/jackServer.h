#pragma once
#include "support/externalTool.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/// Whether the JACK server the environment names (JACK_DEFAULT_SERVER)
/// answers within `limit`, without starting one. A stopped or starved server
/// never answers a client's open: the probe then gives up and leaves its
/// thread behind, waiting, rather than hang the test.
inline bool jackServes(std::chrono::seconds limit = std::chrono::seconds(10)) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> heard = answer->get_future();
    std::thread([answer] {
        jack_status_t status;
        jack_client_t* c = jack_client_open("vireo-probe", JackNoStartServer, &status);
        if (c) jack_client_close(c);
        answer->set_value(c != nullptr);
    }).detach();
    return heard.wait_for(limit) == std::future_status::ready && heard.get();
}

/// A JACK server of a test's own, started with tests/audio/jackd.sh, for a
/// test that stops or kills it: the shared server plays for tests that may
/// run at the same time. Stopped by its pid when the object goes.
class PrivateJackServer {
public:
    PrivateJackServer(std::string script, std::string name, std::string dir)
        : name(std::move(name)), script_(std::move(script)), dir_(std::move(dir)) {
        const tool::Result started = run({"start", this->name, dir_});
        why_ = started.out + started.err;
        if (started.status != 0) return;
        // The server runs under `timeout`, whose pid the script notes.
        int launcher = 0;
        std::ifstream(dir_ + "/jackd.pid") >> launcher;
        const std::string children =
            "/proc/" + std::to_string(launcher) + "/task/" + std::to_string(launcher) + "/children";
        std::ifstream(children) >> pid_;
    }
    ~PrivateJackServer() { run({"stop", dir_}); }
    PrivateJackServer(const PrivateJackServer&) = delete;
    PrivateJackServer& operator=(const PrivateJackServer&) = delete;

    /// The pid of jackd itself; 0 when it did not start.
    int pid() const { return pid_; }
    /// What the start said: why it failed, when it did (another program's
    /// servers filling JACK's registry, a server of that name going on).
    const std::string& why() const { return why_; }
    /// Makes it the server this process's JACK clients meet; whether it
    /// serves, within a few seconds.
    bool serveThisProcess() const {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        // JACK keeps one registry of servers and their shared memory for the
        // whole machine: while another program's server dies or starts (the
        // rows of another build's suite kill theirs), a client's open of a
        // server that runs may fail at once, for a moment.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!jackServes()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

    const std::string name;

private:
    tool::Result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"bash", script_});
        return tool::run(args, ::testing::TempDir());
    }

    std::string script_, dir_;
    int pid_ = 0;
    std::string why_;
};
