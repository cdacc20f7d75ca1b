#pragma once
#include <jack/jack.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

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
